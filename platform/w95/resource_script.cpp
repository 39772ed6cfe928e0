#include "resource_script.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

#include "emulator_error.h"
#include "machine.h"

namespace w95 {

namespace {

// The constants that a script takes from <windows.h>, with their SDK values.
const std::map<std::string, long long> &WindowsConstants() {
    static const std::map<std::string, long long> table = {
        // window styles
        {"WS_OVERLAPPED", 0x00000000},
        {"WS_TILED", 0x00000000},
        {"WS_POPUP", 0x80000000},
        {"WS_CHILD", 0x40000000},
        {"WS_CHILDWINDOW", 0x40000000},
        {"WS_MINIMIZE", 0x20000000},
        {"WS_ICONIC", 0x20000000},
        {"WS_VISIBLE", 0x10000000},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000},
        {"WS_CAPTION", 0x00C00000},
        {"WS_BORDER", 0x00800000},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", 0x00080000},
        {"WS_THICKFRAME", 0x00040000},
        {"WS_SIZEBOX", 0x00040000},
        {"WS_GROUP", 0x00020000},
        {"WS_TABSTOP", 0x00010000},
        {"WS_MINIMIZEBOX", 0x00020000},
        {"WS_MAXIMIZEBOX", 0x00010000},
        {"WS_OVERLAPPEDWINDOW", 0x00CF0000},
        {"WS_TILEDWINDOW", 0x00CF0000},
        {"WS_POPUPWINDOW", 0x80880000},
        // extended window styles
        {"WS_EX_DLGMODALFRAME", 0x1},
        {"WS_EX_NOPARENTNOTIFY", 0x4},
        {"WS_EX_TOPMOST", 0x8},
        {"WS_EX_ACCEPTFILES", 0x10},
        {"WS_EX_TRANSPARENT", 0x20},
        {"WS_EX_MDICHILD", 0x40},
        {"WS_EX_TOOLWINDOW", 0x80},
        {"WS_EX_WINDOWEDGE", 0x100},
        {"WS_EX_CLIENTEDGE", 0x200},
        {"WS_EX_CONTEXTHELP", 0x400},
        {"WS_EX_RIGHT", 0x1000},
        {"WS_EX_LEFT", 0x0},
        {"WS_EX_RTLREADING", 0x2000},
        {"WS_EX_LTRREADING", 0x0},
        {"WS_EX_LEFTSCROLLBAR", 0x4000},
        {"WS_EX_RIGHTSCROLLBAR", 0x0},
        {"WS_EX_CONTROLPARENT", 0x10000},
        {"WS_EX_STATICEDGE", 0x20000},
        {"WS_EX_APPWINDOW", 0x40000},
        {"WS_EX_OVERLAPPEDWINDOW", 0x300},
        {"WS_EX_PALETTEWINDOW", 0x188},
        // dialog styles
        {"DS_ABSALIGN", 0x01},
        {"DS_SYSMODAL", 0x02},
        {"DS_3DLOOK", 0x04},
        {"DS_FIXEDSYS", 0x08},
        {"DS_NOFAILCREATE", 0x10},
        {"DS_LOCALEDIT", 0x20},
        {"DS_SETFONT", 0x40},
        {"DS_MODALFRAME", 0x80},
        {"DS_NOIDLEMSG", 0x100},
        {"DS_SETFOREGROUND", 0x200},
        {"DS_CONTROL", 0x400},
        {"DS_CENTER", 0x800},
        {"DS_CENTERMOUSE", 0x1000},
        {"DS_CONTEXTHELP", 0x2000},
        {"DS_SHELLFONT", 0x48},
        // static controls
        {"SS_LEFT", 0x0},
        {"SS_CENTER", 0x1},
        {"SS_RIGHT", 0x2},
        {"SS_ICON", 0x3},
        {"SS_BLACKRECT", 0x4},
        {"SS_GRAYRECT", 0x5},
        {"SS_WHITERECT", 0x6},
        {"SS_BLACKFRAME", 0x7},
        {"SS_GRAYFRAME", 0x8},
        {"SS_WHITEFRAME", 0x9},
        {"SS_USERITEM", 0xA},
        {"SS_SIMPLE", 0xB},
        {"SS_LEFTNOWORDWRAP", 0xC},
        {"SS_OWNERDRAW", 0xD},
        {"SS_BITMAP", 0xE},
        {"SS_ENHMETAFILE", 0xF},
        {"SS_ETCHEDHORZ", 0x10},
        {"SS_ETCHEDVERT", 0x11},
        {"SS_ETCHEDFRAME", 0x12},
        {"SS_TYPEMASK", 0x1F},
        {"SS_NOPREFIX", 0x80},
        {"SS_NOTIFY", 0x100},
        {"SS_CENTERIMAGE", 0x200},
        {"SS_RIGHTJUST", 0x400},
        {"SS_REALSIZEIMAGE", 0x800},
        {"SS_SUNKEN", 0x1000},
        {"SS_ENDELLIPSIS", 0x4000},
        {"SS_PATHELLIPSIS", 0x8000},
        {"SS_WORDELLIPSIS", 0xC000},
        // buttons
        {"BS_PUSHBUTTON", 0x0},
        {"BS_DEFPUSHBUTTON", 0x1},
        {"BS_CHECKBOX", 0x2},
        {"BS_AUTOCHECKBOX", 0x3},
        {"BS_RADIOBUTTON", 0x4},
        {"BS_3STATE", 0x5},
        {"BS_AUTO3STATE", 0x6},
        {"BS_GROUPBOX", 0x7},
        {"BS_USERBUTTON", 0x8},
        {"BS_AUTORADIOBUTTON", 0x9},
        {"BS_PUSHBOX", 0xA},
        {"BS_OWNERDRAW", 0xB},
        {"BS_LEFTTEXT", 0x20},
        {"BS_RIGHTBUTTON", 0x20},
        {"BS_TEXT", 0x0},
        {"BS_ICON", 0x40},
        {"BS_BITMAP", 0x80},
        {"BS_LEFT", 0x100},
        {"BS_RIGHT", 0x200},
        {"BS_CENTER", 0x300},
        {"BS_TOP", 0x400},
        {"BS_BOTTOM", 0x800},
        {"BS_VCENTER", 0xC00},
        {"BS_PUSHLIKE", 0x1000},
        {"BS_MULTILINE", 0x2000},
        {"BS_NOTIFY", 0x4000},
        {"BS_FLAT", 0x8000},
        // edit, list, combo and scroll bar controls
        {"ES_LEFT", 0x0},
        {"ES_CENTER", 0x1},
        {"ES_RIGHT", 0x2},
        {"ES_MULTILINE", 0x4},
        {"ES_UPPERCASE", 0x8},
        {"ES_LOWERCASE", 0x10},
        {"ES_PASSWORD", 0x20},
        {"ES_AUTOVSCROLL", 0x40},
        {"ES_AUTOHSCROLL", 0x80},
        {"ES_NOHIDESEL", 0x100},
        {"ES_OEMCONVERT", 0x400},
        {"ES_READONLY", 0x800},
        {"ES_WANTRETURN", 0x1000},
        {"ES_NUMBER", 0x2000},
        {"LBS_NOTIFY", 0x1},
        {"LBS_SORT", 0x2},
        {"LBS_NOINTEGRALHEIGHT", 0x100},
        {"LBS_STANDARD", 0xA00003},
        {"CBS_SIMPLE", 0x1},
        {"CBS_DROPDOWN", 0x2},
        {"CBS_DROPDOWNLIST", 0x3},
        {"CBS_AUTOHSCROLL", 0x40},
        {"CBS_SORT", 0x100},
        {"SBS_HORZ", 0x0},
        {"SBS_VERT", 0x1},
        // identifiers
        {"IDC_STATIC", -1},
        {"IDOK", 1},
        {"IDCANCEL", 2},
        {"IDABORT", 3},
        {"IDRETRY", 4},
        {"IDIGNORE", 5},
        {"IDYES", 6},
        {"IDNO", 7},
        // languages, version records, fonts
        {"LANG_NEUTRAL", 0x00},
        {"LANG_ENGLISH", 0x09},
        {"SUBLANG_NEUTRAL", 0x00},
        {"SUBLANG_DEFAULT", 0x01},
        {"SUBLANG_SYS_DEFAULT", 0x02},
        {"SUBLANG_ENGLISH_US", 0x01},
        {"VS_VERSION_INFO", 1},
        {"VS_FFI_FILEFLAGSMASK", 0x3F},
        {"VS_FF_DEBUG", 0x1},
        {"VOS__WINDOWS32", 0x4},
        {"VOS_NT_WINDOWS32", 0x40004},
        {"VOS_DOS_WINDOWS32", 0x10004},
        {"VFT_APP", 0x1},
        {"VFT_DLL", 0x2},
        {"VFT2_UNKNOWN", 0x0},
        {"FW_NORMAL", 400},
        {"FW_BOLD", 700},
        {"ANSI_CHARSET", 0},
        {"DEFAULT_CHARSET", 1},
        {"RT_MANIFEST", 24},
        {"CREATEPROCESS_MANIFEST_RESOURCE_ID", 1},
    };
    return table;
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IsIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.';
}

enum class Kind { Number, String, Ident, Punct, End };

struct Token {
    Kind kind = Kind::End;
    std::string text;  // identifier, punctuation, or the string's bytes
    long long number = 0;
    int line = 0;
};

class Script {
  public:
    Script(std::string_view text, const std::string &source) : source_(source) {
        Preprocess(StripComments(text));
    }

    ResourceScript Parse();

  private:
    // ------------------------------------------------------------ errors
    [[noreturn]] void Fail(int line, const std::string &what) const {
        throw EmulatorFailure(source_ + " line " + std::to_string(line) + ": " +
                              what);
    }
    [[noreturn]] void Fail(const std::string &what) const {
        Fail(Peek().line, what);
    }
    static std::string Describe(const Token &t) {
        switch (t.kind) {
            case Kind::End:
                return "the end of the script";
            case Kind::String:
                return "\"" + t.text + "\"";
            default:
                return "'" + t.text + "'";
        }
    }

    // ------------------------------------------------- comments, lines
    // Comments become blanks; line breaks stay, so line numbers hold.
    static std::string StripComments(std::string_view in) {
        std::string out;
        out.reserve(in.size());
        for (std::size_t i = 0; i < in.size(); ++i) {
            char c = in[i];
            if (c == '"') {
                out += c;
                for (++i; i < in.size() && in[i] != '\n'; ++i) {
                    out += in[i];
                    if (in[i] == '\\' && i + 1 < in.size() &&
                        in[i + 1] != '\n') {
                        out += in[++i];
                    } else if (in[i] == '"') {
                        if (i + 1 < in.size() && in[i + 1] == '"')
                            out += in[++i];
                        else
                            break;
                    }
                }
                if (i < in.size() && in[i] == '\n') out += '\n';
            } else if (c == '/' && i + 1 < in.size() && in[i + 1] == '/') {
                while (i < in.size() && in[i] != '\n') ++i;
                if (i < in.size()) out += '\n';
            } else if (c == '/' && i + 1 < in.size() && in[i + 1] == '*') {
                i += 2;
                out += "  ";
                while (i < in.size() && !(in[i] == '*' && i + 1 < in.size() &&
                                          in[i + 1] == '/')) {
                    out += in[i] == '\n' ? '\n' : ' ';
                    ++i;
                }
                ++i;
                out += ' ';
            } else {
                out += c;
            }
        }
        return out;
    }

    // ------------------------------------------------------------ lexer
    std::vector<Token> Lex(std::string_view line, int number) const {
        std::vector<Token> tokens;
        std::size_t i = 0;
        while (i < line.size()) {
            char c = line[i];
            if (std::isspace(static_cast<unsigned char>(c)) || c == '\x1a') {
                ++i;
                continue;
            }
            Token t;
            t.line = number;
            if ((c == 'L' || c == 'l') && i + 1 < line.size() &&
                line[i + 1] == '"')
                c = line[++i];  // a wide string: same text here
            if (c == '"') {
                t.kind = Kind::String;
                i = LexString(line, i + 1, number, &t.text);
            } else if (std::isdigit(static_cast<unsigned char>(c))) {
                std::size_t start = i;
                while (i < line.size() &&
                       std::isalnum(static_cast<unsigned char>(line[i])))
                    ++i;
                t.kind = Kind::Number;
                t.text = std::string(line.substr(start, i - start));
                t.number = ParseNumber(t.text, number);
            } else if (IsIdentStart(c)) {
                std::size_t start = i;
                while (i < line.size() && IsIdentChar(line[i])) ++i;
                t.kind = Kind::Ident;
                t.text = std::string(line.substr(start, i - start));
            } else {
                static const char *const kPairs[] = {
                    "||", "&&", "==", "!=", "<=", ">=", "<<", ">>"};
                t.kind = Kind::Punct;
                t.text = std::string(1, c);
                for (const char *p : kPairs)
                    if (line.substr(i, 2) == p) t.text = p;
                if (std::string_view("{},|&^+-*/%~!()<>=").find(c) ==
                    std::string_view::npos)
                    Fail(number,
                         std::string("unexpected character '") + c + "'");
                i += t.text.size();
            }
            tokens.push_back(std::move(t));
        }
        return tokens;
    }

    long long ParseNumber(const std::string &text, int line) const {
        std::string digits = text;
        while (!digits.empty() &&
               (digits.back() == 'L' || digits.back() == 'l' ||
                digits.back() == 'U' || digits.back() == 'u'))
            digits.pop_back();
        int base = 10;
        std::size_t start = 0;
        if (digits.size() > 2 && digits[0] == '0' &&
            (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            start = 2;
        }
        if (start == digits.size()) Fail(line, "bad number '" + text + "'");
        long long v = 0;
        for (std::size_t i = start; i < digits.size(); ++i) {
            char c = static_cast<char>(
                std::tolower(static_cast<unsigned char>(digits[i])));
            int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                    : (base == 16 && c >= 'a' && c <= 'f')      ? c - 'a' + 10
                                                                : -1;
            if (d < 0) Fail(line, "bad number '" + text + "'");
            v = (v * base + d) & 0xFFFFFFFFll;
        }
        return v;
    }

    // The text of a string literal from just after its opening quote;
    // returns the position after the closing quote.
    std::size_t LexString(std::string_view line, std::size_t i, int number,
                          std::string *out) const {
        while (true) {
            if (i >= line.size())
                Fail(number, "string without its closing quote");
            char c = line[i++];
            if (c == '"') {
                if (i < line.size() && line[i] == '"') {
                    *out += '"';
                    ++i;
                    continue;
                }
                return i;
            }
            if (c != '\\' || i >= line.size()) {
                *out += c;
                continue;
            }
            char e = line[i++];
            switch (e) {
                case 'n':
                    *out += '\n';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 'a':
                    *out += '\a';
                    break;
                case '\\':
                    *out += '\\';
                    break;
                case '"':
                    *out += '"';
                    break;
                case 'x': {
                    int v = 0, n = 0;
                    while (n < 2 && i < line.size() &&
                           std::isxdigit(static_cast<unsigned char>(line[i]))) {
                        v = v * 16 +
                            std::stoi(std::string(1, line[i++]), nullptr, 16);
                        ++n;
                    }
                    *out += static_cast<char>(v);
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        int v = e - '0', n = 1;
                        while (n < 3 && i < line.size() && line[i] >= '0' &&
                               line[i] <= '7') {
                            v = v * 8 + (line[i++] - '0');
                            ++n;
                        }
                        *out += static_cast<char>(v);
                    } else {
                        *out += '\\';
                        *out += e;
                    }
            }
        }
    }

    // ------------------------------------------------------ preprocessor
    void Preprocess(const std::string &text) {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            start = end + 1;
        }
        // Each level: whether this branch is active, whether one branch
        // of the group was taken, and the line that opened it.
        struct Level {
            bool active, taken;
            int line;
        };
        std::vector<Level> levels;
        auto active = [&] { return levels.empty() || levels.back().active; };
        for (std::size_t n = 0; n < lines.size(); ++n) {
            int number = static_cast<int>(n) + 1;
            std::string line = lines[n];
            std::size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] != '#') {
                if (active()) Expand(Lex(line, number), &tokens_, 0);
                continue;
            }
            while (!line.empty() && line.back() == '\\' &&
                   n + 1 < lines.size()) {
                line.pop_back();
                line += ' ' + lines[++n];
            }
            std::string_view rest = std::string_view(line).substr(first + 1);
            while (!rest.empty() &&
                   (rest.front() == ' ' || rest.front() == '\t'))
                rest.remove_prefix(1);
            std::size_t wordEnd = 0;
            while (wordEnd < rest.size() &&
                   std::isalpha(static_cast<unsigned char>(rest[wordEnd])))
                ++wordEnd;
            std::string directive(rest.substr(0, wordEnd));
            std::string_view args = rest.substr(wordEnd);
            bool parentActive = active();
            if (directive == "if" || directive == "ifdef" ||
                directive == "ifndef") {
                bool value = false;
                if (parentActive) {
                    if (directive == "if") {
                        value = Condition(args, number);
                    } else {
                        std::vector<Token> t = Lex(args, number);
                        if (t.size() != 1 || t[0].kind != Kind::Ident)
                            Fail(number, "#" + directive + " needs one name");
                        value = IsDefined(t[0].text) == (directive == "ifdef");
                    }
                }
                levels.push_back({parentActive && value, value, number});
            } else if (directive == "elif" || directive == "else") {
                if (levels.empty())
                    Fail(number, "#" + directive + " without #if");
                Level &level = levels.back();
                bool outer =
                    levels.size() < 2 || levels[levels.size() - 2].active;
                bool value = !level.taken && outer &&
                             (directive == "else" || Condition(args, number));
                level.active = value;
                level.taken = level.taken || value;
            } else if (directive == "endif") {
                if (levels.empty()) Fail(number, "#endif without #if");
                levels.pop_back();
            } else if (!parentActive) {
                continue;
            } else if (directive == "define") {
                Define(args, number);
            } else if (directive == "undef") {
                std::vector<Token> t = Lex(args, number);
                if (!t.empty()) macros_.erase(t[0].text);
            } else if (directive == "error") {
                Fail(number, "#error" + std::string(args));
            } else if (directive == "include" || directive == "pragma" ||
                       directive == "line" || directive.empty()) {
                // Headers are not read: a script's own names come from its
                // #define lines, the Windows ones from the table above.
            } else {
                Fail(number, "unknown directive #" + directive);
            }
        }
        if (!levels.empty()) Fail(levels.back().line, "#if without its #endif");
        Token end;
        end.line = static_cast<int>(lines.size());
        tokens_.push_back(end);
    }

    bool IsDefined(const std::string &name) const {
        return macros_.count(name) || WindowsConstants().count(name) ||
               name == "RC_INVOKED" || name == "_WIN32" || name == "WIN32";
    }

    void Define(std::string_view args, int number) {
        std::size_t i = 0;
        while (i < args.size() && (args[i] == ' ' || args[i] == '\t')) ++i;
        std::size_t start = i;
        while (i < args.size() && IsIdentChar(args[i])) ++i;
        if (i == start) Fail(number, "#define without a name");
        std::string name(args.substr(start, i - start));
        if (i < args.size() && args[i] == '(') {
            // A macro with parameters: known to be defined, never expanded.
            macros_[name] = {};
            return;
        }
        macros_[name] = Lex(args.substr(i), number);
    }

    // Replaces macro names by their tokens (at the place of use).
    void Expand(const std::vector<Token> &in, std::vector<Token> *out,
                int depth) const {
        for (const Token &t : in) {
            auto m =
                t.kind == Kind::Ident ? macros_.find(t.text) : macros_.end();
            if (m == macros_.end() || depth > 32) {
                out->push_back(t);
                continue;
            }
            std::vector<Token> body = m->second;
            for (Token &b : body) b.line = t.line;
            Expand(body, out, depth + 1);
        }
    }

    bool Condition(std::string_view args, int number) {
        std::vector<Token> raw = Lex(args, number), resolved;
        // "defined X" and "defined(X)" before expansion.
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i].kind == Kind::Ident && raw[i].text == "defined") {
                std::size_t j = i + 1;
                bool paren = j < raw.size() && raw[j].text == "(";
                if (paren) ++j;
                if (j >= raw.size() || raw[j].kind != Kind::Ident)
                    Fail(number, "defined needs a name");
                Token v;
                v.kind = Kind::Number;
                v.number = IsDefined(raw[j].text) ? 1 : 0;
                v.text = std::to_string(v.number);
                v.line = number;
                resolved.push_back(v);
                i = j + (paren ? 1 : 0);
            } else {
                resolved.push_back(raw[i]);
            }
        }
        std::vector<Token> expanded;
        Expand(resolved, &expanded, 0);
        Token end;
        end.line = number;
        expanded.push_back(end);
        std::vector<Token> saved;
        std::swap(saved, tokens_);
        std::size_t savedPos = pos_;
        tokens_ = expanded;
        pos_ = 0;
        lenient_ = true;
        long long value = Expression();
        bool atEnd = Peek().kind == Kind::End;
        lenient_ = false;
        tokens_ = std::move(saved);
        pos_ = savedPos;
        if (!atEnd) Fail(number, "cannot read the #if condition");
        return value != 0;
    }

    // ---------------------------------------------------------- tokens
    const Token &Peek(std::size_t ahead = 0) const {
        std::size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
        return tokens_[i];
    }
    Token Next() {
        Token t = Peek();
        if (pos_ < tokens_.size() - 1) ++pos_;
        return t;
    }
    bool IsPunct(const char *p, std::size_t ahead = 0) const {
        return Peek(ahead).kind == Kind::Punct && Peek(ahead).text == p;
    }
    bool IsWord(const char *w, std::size_t ahead = 0) const {
        return Peek(ahead).kind == Kind::Ident && Upper(Peek(ahead).text) == w;
    }
    bool Accept(const char *p) {
        if (!IsPunct(p)) return false;
        Next();
        return true;
    }
    void Expect(const char *p, const char *what) {
        if (!Accept(p))
            Fail(std::string("expected ") + what + " but found " +
                 Describe(Peek()));
    }
    bool IsBegin() const { return IsWord("BEGIN") || IsPunct("{"); }
    bool IsEnd() const { return IsWord("END") || IsPunct("}"); }

    // ------------------------------------------------------ expressions
    long long Expression() { return Binary(0); }

    long long Binary(int level) {
        static const std::vector<std::vector<std::string>> kLevels = {
            {"||"},
            {"&&"},
            {"|"},
            {"^"},
            {"&"},
            {"==", "!="},
            {"<", ">", "<=", ">="},
            {"<<", ">>"},
            {"+", "-"},
            {"*", "/", "%"}};
        if (level == static_cast<int>(kLevels.size())) return Unary();
        long long left = Binary(level + 1);
        while (true) {
            const std::string *op = nullptr;
            for (const std::string &o : kLevels[level])
                if (IsPunct(o.c_str())) op = &o;
            if (!op) return left;
            int line = Next().line;
            long long right = Binary(level + 1);
            left = Apply(*op, left, right, line);
        }
    }

    long long Apply(const std::string &op, long long a, long long b, int line) {
        if (op == "||") return a || b;
        if (op == "&&") return a && b;
        if (op == "|") return a | b;
        if (op == "^") return a ^ b;
        if (op == "&") return a & b;
        if (op == "==") return a == b;
        if (op == "!=") return a != b;
        if (op == "<") return a < b;
        if (op == ">") return a > b;
        if (op == "<=") return a <= b;
        if (op == ">=") return a >= b;
        if (op == "<<") return (b >= 0 && b < 63) ? a << b : 0;
        if (op == ">>") return (b >= 0 && b < 63) ? a >> b : 0;
        if (op == "+") return a + b;
        if (op == "-") return a - b;
        if (op == "*") return a * b;
        if (b == 0) Fail(line, "division by zero");
        return op == "/" ? a / b : a % b;
    }

    long long Unary() {
        if (Accept("-")) return -Unary();
        if (Accept("+")) return Unary();
        if (Accept("~")) return ~Unary();
        if (Accept("!")) return !Unary();
        if (IsWord("NOT")) {
            Next();
            return ~Unary();
        }
        if (Accept("(")) {
            long long v = Expression();
            Expect(")", "')'");
            return v;
        }
        const Token &t = Peek();
        if (t.kind == Kind::Number) return Next().number;
        if (t.kind == Kind::Ident) {
            auto c = WindowsConstants().find(t.text);
            if (c != WindowsConstants().end()) {
                Next();
                return c->second;
            }
            if (lenient_) {
                Next();
                if (IsPunct("(")) SkipParenthesised();
                return 0;
            }
            Fail("'" + t.text +
                 "' is not defined (names come from the script's own "
                 "#define lines; included headers are not read)");
        }
        Fail("expected a number but found " + Describe(t));
    }

    void SkipParenthesised() {
        int depth = 0;
        do {
            if (Peek().kind == Kind::End) Fail("')' missing");
            if (IsPunct("(")) ++depth;
            if (IsPunct(")")) --depth;
            Next();
        } while (depth > 0);
    }

    int Int() { return static_cast<int>(Expression()); }

    // A style: terms joined by '|', each one set, or cleared with NOT, in
    // turn on top of `start`.
    DWORD Style(DWORD start) {
        DWORD style = start;
        do {
            bool clear = false;
            if (IsWord("NOT")) {
                Next();
                clear = true;
            }
            DWORD value = static_cast<DWORD>(Binary(3));
            if (clear)
                style &= ~value;
            else
                style |= value;
        } while (Accept("|"));
        return style;
    }

    // Adjacent string literals, joined.
    std::string String(const char *what) {
        if (Peek().kind != Kind::String)
            Fail(std::string("expected ") + what + " but found " +
                 Describe(Peek()));
        std::string s;
        while (Peek().kind == Kind::String) s += Next().text;
        return s;
    }

    // A control's text or an icon's name: a string, a number or a name.
    std::string TextOrName() {
        if (Peek().kind == Kind::String) return String("a text");
        if (Peek().kind == Kind::Ident) return Upper(Next().text);
        return "#" + std::to_string(Int());
    }

    ResourceName Name() {
        ResourceName n;
        const Token &t = Peek();
        if (t.kind == Kind::Number || IsPunct("(") || IsPunct("-")) {
            n.isNumber = true;
            n.number = Int();
        } else if (t.kind == Kind::String) {
            n.name = Upper(Next().text);
        } else if (t.kind == Kind::Ident) {
            n.name = Upper(Next().text);
        } else {
            Fail("expected a resource name but found " + Describe(t));
        }
        return n;
    }

    void SkipMemoryOptions() {
        static const std::set<std::string> kOptions = {
            "PRELOAD", "LOADONCALL", "FIXED",  "MOVEABLE", "DISCARDABLE",
            "PURE",    "IMPURE",     "SHARED", "NONSHARED"};
        while (Peek().kind == Kind::Ident && kOptions.count(Upper(Peek().text)))
            Next();
    }

    void SkipBlock() {
        int line = Peek().line;
        int depth = 0;
        do {
            if (Peek().kind == Kind::End) Fail(line, "BEGIN without its END");
            if (IsBegin()) ++depth;
            if (IsEnd()) --depth;
            Next();
        } while (depth > 0);
    }

    // A resource that dialogs do not need: its options, then either a file
    // name or a BEGIN ... END block.
    void SkipResource(int line) {
        while (true) {
            if (Peek().kind == Kind::End)
                Fail(line,
                     "resource without a file name or a BEGIN ... END block");
            if (Peek().kind == Kind::String) {
                String("a file name");
                return;
            }
            if (IsBegin()) {
                SkipBlock();
                return;
            }
            Next();
        }
    }

    DialogTemplate Dialog(ResourceName name, bool extended, int line);
    void Control(DialogTemplate *dialog);

    std::string source_;
    std::map<std::string, std::vector<Token>> macros_;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    bool lenient_ = false;
};

ResourceScript Script::Parse() {
    ResourceScript script;
    while (Peek().kind != Kind::End) {
        int line = Peek().line;
        if (IsWord("LANGUAGE")) {
            Next();
            lenient_ = true;
            Expression();
            Accept(",");
            Expression();
            lenient_ = false;
            continue;
        }
        if (IsWord("STRINGTABLE")) {
            Next();
            SkipResource(line);
            continue;
        }
        ResourceName name = Name();
        const Token &type = Peek();
        if (type.kind == Kind::End || type.kind == Kind::Punct)
            Fail("resource '" + name.Text() + "' without a type");
        std::string typeName = Upper(Next().text);
        if (typeName == "DIALOG" || typeName == "DIALOGEX") {
            script.dialogs.push_back(
                Dialog(name, typeName == "DIALOGEX", line));
        } else if (typeName == "ICON" && type.kind == Kind::Ident) {
            SkipMemoryOptions();
            IconResource icon{name, {}};
            if (Peek().kind == Kind::String)
                icon.file = String("a file name");
            else if (Peek().kind == Kind::Ident)
                icon.file = Next().text;
            else
                Fail("icon '" + name.Text() + "' without a file name");
            script.icons.push_back(icon);
        } else {
            SkipResource(line);
        }
    }
    return script;
}

DialogTemplate Script::Dialog(ResourceName name, bool extended, int line) {
    DialogTemplate d;
    d.name = std::move(name);
    d.extended = extended;
    d.line = line;
    SkipMemoryOptions();
    d.x = Int();
    Accept(",");
    d.y = Int();
    Accept(",");
    d.width = Int();
    Accept(",");
    d.height = Int();
    if (extended && Accept(",")) Int();  // help identifier

    DWORD style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    bool haveCaption = false, haveFont = false;
    while (!IsBegin()) {
        const Token &t = Peek();
        if (t.kind != Kind::Ident)
            Fail("expected a dialog statement or BEGIN but found " +
                 Describe(t));
        std::string word = Upper(Next().text);
        if (word == "STYLE") {
            // A style that only clears bits works on the default.
            style = Style(IsWord("NOT") ? style : 0);
        } else if (word == "EXSTYLE") {
            d.exStyle = Style(0);
        } else if (word == "CAPTION") {
            d.caption = String("the caption text");
            haveCaption = true;
        } else if (word == "FONT") {
            d.fontSize = Int();
            Expect(",", "',' after the font size");
            d.fontName = String("the font name");
            while (Accept(",")) Int();  // weight, italic, character set
            haveFont = true;
        } else if (word == "MENU" || word == "CLASS") {
            TextOrName();
        } else if (word == "LANGUAGE") {
            lenient_ = true;
            Expression();
            Accept(",");
            Expression();
            lenient_ = false;
        } else if (word == "CHARACTERISTICS" || word == "VERSION") {
            Int();
        } else {
            Fail(t.line, "unknown dialog statement " + Describe(t));
        }
    }
    if (haveCaption) style |= WS_CAPTION;
    if (haveFont) style |= DS_SETFONT;
    d.style = style;
    Next();  // BEGIN
    while (!IsEnd()) {
        if (Peek().kind == Kind::End)
            Fail(line, "dialog '" + d.name.Text() + "' without its END");
        Control(&d);
    }
    Next();  // END
    return d;
}

void Script::Control(DialogTemplate *dialog) {
    struct Statement {
        const char *word;
        const char *className;
        DWORD style;
        bool hasText;
    };
    static const Statement kStatements[] = {
        {"LTEXT", "STATIC", SS_LEFT | WS_GROUP, true},
        {"CTEXT", "STATIC", SS_CENTER | WS_GROUP, true},
        {"RTEXT", "STATIC", SS_RIGHT | WS_GROUP, true},
        {"ICON", "STATIC", SS_ICON, true},
        {"PUSHBUTTON", "BUTTON", 0x0 | WS_TABSTOP, true},
        {"DEFPUSHBUTTON", "BUTTON", 0x1 | WS_TABSTOP, true},
        {"CHECKBOX", "BUTTON", 0x2 | WS_TABSTOP, true},
        {"AUTOCHECKBOX", "BUTTON", 0x3 | WS_TABSTOP, true},
        {"RADIOBUTTON", "BUTTON", 0x4, true},
        {"STATE3", "BUTTON", 0x5 | WS_TABSTOP, true},
        {"AUTO3STATE", "BUTTON", 0x6 | WS_TABSTOP, true},
        {"GROUPBOX", "BUTTON", 0x7, true},
        {"AUTORADIOBUTTON", "BUTTON", 0x9, true},
        {"PUSHBOX", "BUTTON", 0xA | WS_TABSTOP, true},
        {"EDITTEXT", "EDIT", WS_BORDER | WS_TABSTOP, false},
        {"LISTBOX", "LISTBOX", 0x1 | WS_BORDER, false},
        {"COMBOBOX", "COMBOBOX", 0x1 | WS_TABSTOP, false},
        {"SCROLLBAR", "SCROLLBAR", 0x0, false},
        {"CONTROL", nullptr, 0, true},
    };
    const Token &t = Peek();
    const Statement *statement = nullptr;
    if (t.kind == Kind::Ident)
        for (const Statement &s : kStatements)
            if (Upper(t.text) == s.word) statement = &s;
    if (!statement)
        Fail("expected a control statement or END but found " + Describe(t));
    Next();

    DialogControl c;
    const DWORD base = WS_CHILD | WS_VISIBLE;
    if (statement->hasText) {
        c.text = TextOrName();
        Accept(",");
    }
    c.id = Int();
    Accept(",");
    bool isIcon = std::string_view(statement->word) == "ICON";
    if (!statement->className) {
        // CONTROL text, id, class, style, x, y, cx, cy [, exstyle]
        std::string cls =
            Peek().kind == Kind::String ? String("a class name") : TextOrName();
        std::string upper = Upper(cls);
        static const char *const kPredefined[] = {
            "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
        c.className = cls;
        for (const char *p : kPredefined)
            if (upper == p) c.className = p;
        Accept(",");
        c.style = Style(base);
        Accept(",");
    } else {
        c.className = statement->className;
    }
    c.x = Int();
    Accept(",");
    c.y = Int();
    if (!statement->className || !isIcon || IsPunct(",")) {
        Accept(",");
        c.width = Int();
        Accept(",");
        c.height = Int();
    }
    if (statement->className) {
        c.style = base | statement->style;
        if (Accept(",")) c.style = Style(c.style);
    }
    if (Accept(",")) c.exStyle = Style(0);
    if (dialog->extended && Accept(",")) Int();      // help identifier
    if (dialog->extended && IsBegin()) SkipBlock();  // control data
    dialog->controls.push_back(std::move(c));
}

}  // namespace

std::string ResourceName::Text() const {
    return isNumber ? std::to_string(number) : name;
}

bool ResourceName::Matches(LPCSTR lpName) const {
    if (IS_INTRESOURCE(lpName))
        return isNumber &&
               (number & 0xFFFF) ==
                   static_cast<int>(reinterpret_cast<ULONG_PTR>(lpName));
    if (!lpName) return false;
    std::string_view wanted(lpName);
    if (!wanted.empty() && wanted[0] == '#') {
        char *end = nullptr;
        long n = std::strtol(lpName + 1, &end, 10);
        return isNumber && end && *end == '\0' && wanted.size() > 1 &&
               n == number;
    }
    return !isNumber && Upper(wanted) == name;
}

const DialogTemplate *ResourceScript::FindDialog(LPCSTR lpTemplateName) const {
    for (const DialogTemplate &d : dialogs)
        if (d.name.Matches(lpTemplateName)) return &d;
    return nullptr;
}

ResourceScript ParseResourceScript(std::string_view text,
                                   const std::string &source) {
    Script script(text, source);
    return script.Parse();
}

namespace {

std::optional<std::string> replacementScript;
std::optional<ResourceScript> programResources;
bool programResourcesRead = false;

}  // namespace

void UseResourceScript(std::optional<std::string> text) {
    replacementScript = std::move(text);
    programResources.reset();
    programResourcesRead = false;
}

const ResourceScript *ProgramResources() {
    if (!programResourcesRead) {
        const char *text =
            replacementScript ? replacementScript->c_str() : W95ResourceScript;
        if (text) {
            std::string program = TheMachine().programName;
            programResources = ParseResourceScript(
                text, (program.empty() ? "resource script" : program + ".rc"));
        }
        programResourcesRead = true;
    }
    return programResources ? &*programResources : nullptr;
}

}  // namespace w95
