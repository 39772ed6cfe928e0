// The screen of the emulated machine: message boxes and dialogs drawn as
// text boxes on standard error, so that a person running a program sees what
// it shows, and the terminal on which a box is asked. Texts here are UTF-8
// (converted from the program's ANSI).
#ifndef W95_SCREEN_H
#define W95_SCREEN_H

#include <memory>
#include <string>
#include <vector>

namespace w95 {

// The width that pictures are drawn for when no terminal tells it.
inline constexpr int kDefaultColumns = 80;

struct ScreenButton {
    std::string label;  // "OK", "Cancel", ...
    bool isDefault = false;
};

// A message box: caption in the frame, an icon mark ("(!)", "(?)", ...;
// empty for none), the text with its line breaks (long lines wrapped) and a
// row of buttons, no wider than `columns` where the buttons and a short
// caption fit.
std::string MessageBoxPicture(const std::string &caption,
                              const std::string &text, const std::string &icon,
                              const std::vector<ScreenButton> &buttons,
                              int columns = kDefaultColumns);

// One control of a dialog, placed in character cells.
struct ScreenControl {
    int column = 0;
    int row = 0;
    int width = 0;     // cells; the text may run past it
    char align = 'l';  // 'l', 'c' or 'r'
    std::string text;
};

// A dialog: the title in the frame, `columns` by `rows` character cells of
// client area, the controls at their places.
std::string DialogPicture(const std::string &title, int columns, int rows,
                          const std::vector<ScreenControl> &controls);

// A text on one line: line breaks and other control characters become
// blanks (for a changed window text, shown as "<title>: <text>").
std::string OneLine(const std::string &text);

// Writes a picture on standard error at once.
void ShowOnScreen(const std::string &picture);

// Number of characters (code points) of a UTF-8 text.
int TextWidth(const std::string &utf8);

// The columns of the terminal that standard error goes to, or
// kDefaultColumns when it goes to none.
int StandardErrorColumns();

// A terminal on which a message box is asked: the controlling terminal of
// the run, also when standard error or input are redirected.
class Terminal {
  public:
    // Opens `device` ("/dev/tty") for reading and writing; nullptr when the
    // name is empty or there is no such terminal (no controlling terminal).
    static std::unique_ptr<Terminal> Open(const std::string &device);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // Its width (kDefaultColumns when it does not say).
    int Columns() const;
    // Whether standard error already goes to this terminal.
    bool IsStandardError() const;
    void Write(const std::string &text);

    enum class Input { Line, EndOfInput, Escape, Interrupted };
    // Shows `prompt` and reads one line, without its end, echoing and
    // editing it itself (Backspace, Ctrl-U). Esc alone gives Escape (the
    // keys that send sequences starting with it are passed over); Ctrl-D on
    // an empty line EndOfInput. Ctrl-C from the moment the prompt is shown
    // gives Interrupted; from then on, for the rest of the run, a second
    // Ctrl-C ends the run at once as an injected crash does (no write-back,
    // no exit event). Ctrl-C outside of Ask before that keeps its usual
    // effect.
    Input Ask(const std::string &prompt, std::string *line);

  private:
    explicit Terminal(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace w95

#endif
