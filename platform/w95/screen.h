// The screen of the emulated machine: message boxes and dialogs drawn as
// text boxes on standard error, so that a person running a program sees what
// it shows. Texts here are UTF-8 (converted from the program's ANSI).
#ifndef W95_SCREEN_H
#define W95_SCREEN_H

#include <string>
#include <vector>

namespace w95 {

struct ScreenButton {
    std::string label;  // "OK", "Cancel", ...
    bool isDefault = false;
};

// A message box: caption in the frame, an icon mark ("(!)", "(?)", ...;
// empty for none), the text with its line breaks (long lines wrapped) and a
// row of buttons.
std::string MessageBoxPicture(const std::string &caption,
                              const std::string &text, const std::string &icon,
                              const std::vector<ScreenButton> &buttons);

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

// Writes a picture on standard error at once.
void ShowOnScreen(const std::string &picture);

// Number of characters (code points) of a UTF-8 text.
int TextWidth(const std::string &utf8);

}  // namespace w95

#endif
