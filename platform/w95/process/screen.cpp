// Drawing message boxes and dialogs on the terminal, and asking a box's
// question there.
#include "screen.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>

#include "emulated_process.h"

namespace w95 {

namespace {

// The narrowest text column a box wraps to, however narrow the terminal.
constexpr int kNarrowestText = 16;

// Ctrl-C presses at boxes asked on the terminal, counted by OnInterrupt.
volatile std::sig_atomic_t interrupts = 0;
// Whether the program waits in Terminal::Ask, where the run can end as a
// crash does, rather than in the signal handler.
volatile std::sig_atomic_t asking = 0;

// The terminal's modes from before Ask changed them, for the handler to put
// back when the run ends at once.
volatile std::sig_atomic_t modesChanged = 0;
int modesFd = -1;
termios savedModes{};

const char kInterruptedAgain[] =
    "\nw95: interrupted again: the run ends at once, as at a crash\n";

void RestoreModes() {
    if (modesChanged) ::tcsetattr(modesFd, TCSANOW, &savedModes);
}

// The first Ctrl-C is taken by the box being asked; the second ends the run
// at once, as an injected crash does: no exit handlers, so no write-back
// and no exit event, and the exit code of a crash. While a box is asked the
// ending is left to Ask, which also hands the files their pending writes.
void OnInterrupt(int) {
    interrupts = interrupts + 1;
    if (interrupts >= 2 && !asking) {
        RestoreModes();
        (void)!write(STDERR_FILENO, kInterruptedAgain,
                     sizeof kInterruptedAgain - 1);
        _exit(128 + SIGKILL);
    }
}

[[noreturn]] void EndRunAtOnce() {
    RestoreModes();
    SyncOpenFiles();  // what the program wrote is kept, as at a crash
    std::fflush(nullptr);
    (void)!write(STDERR_FILENO, kInterruptedAgain,
                 sizeof kInterruptedAgain - 1);
    _exit(128 + SIGKILL);
}

// The terminal without line editing and echo for one question, so that Esc
// is seen at once and shown as nothing; its modes are put back at the end.
class OwnLineEditing {
  public:
    explicit OwnLineEditing(int fd) {
        termios modes{};
        if (::tcgetattr(fd, &modes) != 0) return;
        termios raw = modes;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        savedModes = modes;
        modesFd = fd;
        if (::tcsetattr(fd, TCSANOW, &raw) != 0) return;
        modesChanged = 1;
    }
    ~OwnLineEditing() {
        RestoreModes();
        modesChanged = 0;
    }
    OwnLineEditing(const OwnLineEditing &) = delete;
    OwnLineEditing &operator=(const OwnLineEditing &) = delete;

    bool On() const { return modesChanged != 0; }
    // The key that erases a character, and the one that erases the line.
    bool IsErase(char c) const {
        return c == '\b' || c == '\x7f' ||
               c == static_cast<char>(savedModes.c_cc[VERASE]);
    }
    bool IsKill(char c) const {
        return c == static_cast<char>(savedModes.c_cc[VKILL]);
    }
    bool IsEndOfInput(char c) const {
        return c == static_cast<char>(savedModes.c_cc[VEOF]);
    }
};

// The next byte of `fd` if one comes within a moment, as the rest of a
// sequence that a key sends does.
std::optional<char> ByteSoon(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30) <= 0) return std::nullopt;
    char c;
    if (::read(fd, &c, 1) != 1) return std::nullopt;
    return c;
}

// After Esc: true for Esc alone; false when a sequence followed (an arrow
// or function key, Alt with a key), which is read and passed over.
bool EscapeAlone(int fd) {
    std::optional<char> next = ByteSoon(fd);
    if (!next) return true;
    if (*next == '[') {
        // Parameters and intermediates up to the final byte.
        for (std::optional<char> c = ByteSoon(fd); c; c = ByteSoon(fd))
            if (*c >= 0x40 && *c <= 0x7e) break;
    } else if (*next == 'O') {
        ByteSoon(fd);
    }
    return false;
}

void EraseLastCharacter(std::string *line) {
    while (!line->empty() &&
           (static_cast<unsigned char>(line->back()) & 0xC0) == 0x80)
        line->pop_back();
    if (!line->empty()) line->pop_back();
}

int ColumnsOf(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kDefaultColumns;
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset of the character at index `chars` of a UTF-8 text.
std::size_t OffsetOf(const std::string &utf8, int chars) {
    std::size_t i = 0;
    for (int n = 0; i < utf8.size(); ++i) {
        if (IsContinuationByte(utf8[i])) continue;
        if (n++ == chars) return i;
    }
    return utf8.size();
}

std::string Spaces(int n) { return std::string(std::max(n, 0), ' '); }

// Splits a text into lines at CR LF, LF or CR, tabs to blanks, other
// control characters to blanks so that the frame stays intact.
std::vector<std::string> SplitLines(const std::string &text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            lines.emplace_back();
        } else if (c == '\t') {
            lines.back() += "    ";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            lines.back() += ' ';
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

// Wraps one line at blanks (or hard, inside a long word) to `width`.
void WrapLine(const std::string &line, int width,
              std::vector<std::string> *out) {
    std::string rest = line;
    while (TextWidth(rest) > width) {
        std::size_t cut = OffsetOf(rest, width);
        std::size_t blank = rest.rfind(' ', cut);
        if (blank != std::string::npos && blank > 0) {
            out->push_back(rest.substr(0, blank));
            rest = rest.substr(blank + 1);
        } else {
            out->push_back(rest.substr(0, cut));
            rest = rest.substr(cut);
        }
    }
    out->push_back(rest);
}

std::string Padded(const std::string &text, int width) {
    return text + Spaces(width - TextWidth(text));
}

// The frame around `body` lines, `inner` characters wide, with the title
// in the top edge.
std::string Framed(const std::string &title,
                   const std::vector<std::string> &body, int inner) {
    inner = std::max(inner, TextWidth(title) + 4);
    std::string top = "+-";
    if (!title.empty()) {
        top += "[ ";
        top += title;
        top += " ]";
    }
    top += std::string(std::max(inner + 3 - TextWidth(top), 0), '-');
    top += "+\n";
    std::string picture = top;
    for (const std::string &line : body) {
        picture += "| ";
        picture += Padded(line, inner);
        picture += " |\n";
    }
    picture += '+';
    picture.append(static_cast<std::size_t>(inner) + 2, '-');
    picture += "+\n";
    return picture;
}

}  // namespace

int TextWidth(const std::string &utf8) {
    int n = 0;
    for (char c : utf8)
        if (!IsContinuationByte(c)) ++n;
    return n;
}

std::string MessageBoxPicture(const std::string &caption,
                              const std::string &text, const std::string &icon,
                              const std::vector<ScreenButton> &buttons,
                              int columns) {
    // The frame takes "| " and " |"; the icon its mark and two blanks.
    std::string indent = icon.empty() ? "" : Spaces(TextWidth(icon) + 2);
    int textWidth = std::max(columns - 4 - TextWidth(indent), kNarrowestText);
    std::vector<std::string> lines;
    for (const std::string &line : SplitLines(text))
        WrapLine(line, textWidth, &lines);

    // A caption too long for the top edge ("+-[ " and " ]-+") is cut.
    std::string title = caption;
    int titleWidth = std::max(columns - 8, kNarrowestText);
    if (TextWidth(title) > titleWidth)
        title = title.substr(0, OffsetOf(title, titleWidth - 3)) + "...";
    std::vector<std::string> body;
    body.emplace_back();
    for (std::size_t i = 0; i < lines.size(); ++i)
        body.push_back((i == 0 && !icon.empty() ? icon + "  " : indent) +
                       lines[i]);
    body.emplace_back();

    std::string row;
    for (const ScreenButton &b : buttons) {
        if (!row.empty()) row += "  ";
        row += b.isDefault ? "<" + b.label + ">" : "[" + b.label + "]";
    }
    int inner = TextWidth(row);
    for (const std::string &line : body)
        inner = std::max(inner, TextWidth(line));
    inner = std::max(inner, TextWidth(title) + 4);
    body.push_back(Spaces((inner - TextWidth(row)) / 2) + row);
    return Framed(title, body, inner);
}

std::string DialogPicture(const std::string &title, int columns, int rows,
                          const std::vector<ScreenControl> &controls) {
    int width = std::max(columns, 1);
    int height = std::max(rows, 1);
    for (const ScreenControl &c : controls) {
        width =
            std::max(width, c.column + std::max(c.width, TextWidth(c.text)));
        height = std::max(height, c.row + 1);
    }
    // Cells hold whole UTF-8 characters, so the canvas is a grid of strings.
    std::vector<std::vector<std::string>> cells(
        height, std::vector<std::string>(width, " "));
    for (const ScreenControl &c : controls) {
        int textWidth = TextWidth(c.text);
        int start = c.column;
        if (textWidth < c.width) {
            if (c.align == 'c') start += (c.width - textWidth) / 2;
            if (c.align == 'r') start += c.width - textWidth;
        }
        int col = start;
        for (std::size_t i = 0; i < c.text.size() && col < width;) {
            std::size_t len = 1;
            while (i + len < c.text.size() &&
                   IsContinuationByte(c.text[i + len]))
                ++len;
            if (c.row >= 0 && c.row < height && col >= 0)
                cells[c.row][col] = c.text.substr(i, len);
            i += len;
            ++col;
        }
    }
    std::vector<std::string> body;
    for (const auto &row : cells) {
        std::string line;
        for (const std::string &cell : row) line += cell;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        body.push_back(line);
    }
    // Blank rows below the last control say nothing; one stays as margin.
    while (body.size() > 1 && body.back().empty() &&
           body[body.size() - 2].empty())
        body.pop_back();
    return Framed(title, body, width);
}

std::string OneLine(const std::string &text) {
    std::string line;
    for (const std::string &part : SplitLines(text)) {
        if (!line.empty() && !part.empty()) line += ' ';
        line += part;
    }
    return line;
}

void ShowOnScreen(const std::string &picture) {
    std::fflush(stdout);
    std::fputs(picture.c_str(), stderr);
    std::fflush(stderr);
}

int StandardErrorColumns() {
    return isatty(STDERR_FILENO) ? ColumnsOf(STDERR_FILENO) : kDefaultColumns;
}

std::unique_ptr<Terminal> Terminal::Open(const std::string &device) {
    if (device.empty()) return nullptr;
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (!isatty(fd)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Terminal>(new Terminal(fd));
}

Terminal::~Terminal() { ::close(fd_); }

int Terminal::Columns() const { return ColumnsOf(fd_); }

bool Terminal::IsStandardError() const {
    struct stat error {};
    struct stat mine {};
    if (::fstat(STDERR_FILENO, &error) != 0 || ::fstat(fd_, &mine) != 0 ||
        !S_ISCHR(error.st_mode))
        return false;
    if (error.st_rdev == mine.st_rdev) return true;
    // The controlling terminal opened as /dev/tty has a device number of its
    // own; standard error on that terminal belongs to the same session.
    pid_t session = ::tcgetsid(fd_);
    return session != -1 && ::isatty(STDERR_FILENO) &&
           ::tcgetsid(STDERR_FILENO) == session;
}

void Terminal::Write(const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a terminal gone away: nothing more to show
        done += static_cast<std::size_t>(n);
    }
}

Terminal::Input Terminal::Ask(const std::string &prompt, std::string *line) {
    line->clear();
    const std::sig_atomic_t seen = interrupts;
    // Catch Ctrl-C for this read, without SA_RESTART so that it ends the
    // read; a run that ignores SIGINT keeps ignoring it.
    struct sigaction previous {};
    ::sigaction(SIGINT, nullptr, &previous);
    bool installed = false;
    if (previous.sa_handler != SIG_IGN && previous.sa_handler != OnInterrupt) {
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        installed = true;
    }
    Input result = Input::Line;
    {
        OwnLineEditing editing(fd_);
        const bool own = editing.On();
        asking = 1;
        Write(prompt);
        while (true) {
            if (interrupts >= 2) EndRunAtOnce();
            if (interrupts != seen) {
                result = Input::Interrupted;
                break;
            }
            char c;
            ssize_t n = ::read(fd_, &c, 1);
            if (n == 1) {
                if (c == '\n' || c == '\r') {
                    if (own) Write("\n");
                    break;
                }
                if (c == '\x1b') {
                    if (EscapeAlone(fd_)) {
                        result = Input::Escape;
                        break;
                    }
                } else if (own && editing.IsEndOfInput(c)) {
                    // On an empty line the end of input, within one the end
                    // of that line.
                    if (line->empty()) {
                        result = Input::EndOfInput;
                    } else {
                        Write("\n");
                    }
                    break;
                } else if (own && editing.IsErase(c)) {
                    if (!line->empty()) Write("\b \b");
                    EraseLastCharacter(line);
                } else if (own && editing.IsKill(c)) {
                    while (!line->empty()) {
                        Write("\b \b");
                        EraseLastCharacter(line);
                    }
                } else if (static_cast<unsigned char>(c) >= 0x20) {
                    line->push_back(c);
                    if (own) Write(std::string(1, c));
                }
            } else if (n == 0) {
                // Ctrl-D where the terminal edits the line itself.
                if (line->empty()) result = Input::EndOfInput;
                break;
            } else if (errno != EINTR) {
                result = Input::EndOfInput;  // a terminal gone away
                break;
            }
        }
        asking = 0;
    }
    // Once a Ctrl-C was taken, the handler stays for the second one.
    if (installed && interrupts == 0) ::sigaction(SIGINT, &previous, nullptr);
    return result;
}

}  // namespace w95
