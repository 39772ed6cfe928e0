// REGEDIT4 text: the reader and the writer.
#include "regedit4.h"

#include <cstdio>

#include "emulator_error.h"
#include "text_helpers.h"

namespace w95::regedit4 {

namespace {

const char kHexDigits[] = "0123456789abcdef";

// Regedit ends a wrapped hex line with "\" after at most this many
// characters, and indents the continuation lines by two blanks.
constexpr std::size_t kHexLineLimit = 77;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool OnlyBlanks(std::string_view s) { return TrimBlanks(s).empty(); }

// Where the next '"' or '\\' lies in s from `from` on; s.size() for none.
std::size_t QuoteOrBackslash(std::string_view s, std::size_t from) {
    while (from < s.size() && s[from] != '"' && s[from] != '\\') ++from;
    return from;
}

// The text, line by line; LF or CR LF ends a line.
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool Next(std::string_view *line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        std::size_t next =
            end == std::string_view::npos ? text_.size() : end + 1;
        if (end == std::string_view::npos) end = text_.size();
        std::string_view l = text_.substr(pos_, end - pos_);
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        pos_ = next;
        ++number_;
        *line = l;
        return true;
    }
    int Number() const { return number_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

class Reader {
  public:
    Reader(std::string_view text, const std::string &source, Handler &handler)
        : lines_(text), source_(source), handler_(handler) {}

    void Run() {
        std::string_view line;
        if (!lines_.Next(&line) || TrimBlanks(line) != "REGEDIT4")
            ThrowMalformed(source_, 1, "the first line is not REGEDIT4");
        while (lines_.Next(&line)) {
            std::string_view l = TrimBlanks(line);
            if (l.empty() || l.front() == ';') continue;
            if (l.front() == '[')
                Section(l);
            else if (l.front() == '"' || l.front() == '@')
                ValueLine(l);
            else
                Error("not a key section or a value");
        }
    }

  private:
    [[noreturn]] void Error(const std::string &what) {
        ThrowMalformed(source_, lines_.Number(), what);
    }

    void Section(std::string_view l) {
        if (l.back() != ']') Error("a key section must end with ]");
        std::string_view inner = l.substr(1, l.size() - 2);
        bool remove = !inner.empty() && inner.front() == '-';
        if (remove) inner.remove_prefix(1);
        std::size_t slash = inner.find('\\');
        std::string_view rootName = inner.substr(0, slash);
        std::optional<RegRoot> root = RegRootByName(rootName);
        if (!root) Error("unknown root key \"" + std::string(rootName) + "\"");
        path_.clear();
        if (slash != std::string_view::npos)
            SplitKeyPathInto(inner.substr(slash + 1), &path_);
        // Programs name keys with C strings: such a key could be listed but
        // never opened.
        if (inner.find('\0') != std::string_view::npos)
            Error("a NUL byte in a key name");
        inSection_ = true;
        handler_.Key(*root, path_, remove, lines_.Number());
    }

    // A quoted text from s[*pos] (the opening quote) with \\ and \"
    // escapes; any other backslash stands for itself.
    bool Quoted(std::string_view s, std::size_t *pos, std::string *out) {
        out->clear();
        std::size_t i = *pos + 1;
        while (i < s.size()) {
            // Plain characters up to the next quote or backslash go at once.
            std::size_t stop = QuoteOrBackslash(s, i);
            if (stop == s.size()) break;
            out->append(s.data() + i, stop - i);
            i = stop;
            if (s[i] == '"') {
                *pos = i + 1;
                return true;
            }
            if (i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
                out->push_back(s[i + 1]);
                i += 2;
                continue;
            }
            out->push_back('\\');
            ++i;
        }
        return false;
    }

    void ValueLine(std::string_view l) {
        if (!inSection_) Error("a value before the first key section");
        int first = lines_.Number();
        std::size_t pos = 0;
        if (l.front() == '@') {
            name_.clear();
            pos = 1;
        } else if (!Quoted(l, &pos, &name_)) {
            Error("the value name has no closing quote");
        } else if (name_.find('\0') != std::string::npos) {
            Error("a NUL byte in a value name");
        }
        while (pos < l.size() && IsBlank(l[pos])) ++pos;
        if (pos >= l.size() || l[pos] != '=')
            Error("expected = after the value name");
        ++pos;
        while (pos < l.size() && IsBlank(l[pos])) ++pos;
        std::string_view rest = l.substr(pos);
        data_.clear();
        if (!rest.empty() && rest.front() == '"') {
            std::size_t end = 0;
            if (!Quoted(rest, &end, &text_))
                Error("the string has no closing quote");
            if (!OnlyBlanks(rest.substr(end)))
                Error("text after the closing quote of the string");
            data_.assign(text_.begin(), text_.end());
            data_.push_back(0);
            handler_.Value(name_, REG_SZ, data_, first);
        } else if (rest == "-") {
            handler_.RemoveValue(name_, first);
        } else if (StartsWithIgnoringAsciiCase(rest, "dword:")) {
            std::string_view digits = rest.substr(6);
            if (digits.empty() || digits.size() > 8)
                Error("a dword needs 1 to 8 hex digits");
            DWORD v = 0;
            for (char c : digits) {
                int h = HexValue(c);
                if (h < 0) Error("a dword needs 1 to 8 hex digits");
                v = (v << 4) | static_cast<DWORD>(h);
            }
            for (int i = 0; i < 4; ++i)
                data_.push_back(static_cast<BYTE>(v >> (8 * i)));
            handler_.Value(name_, REG_DWORD, data_, first);
        } else if (StartsWithIgnoringAsciiCase(rest, "hex")) {
            DWORD type = REG_BINARY;
            std::size_t p = 3;
            if (p < rest.size() && rest[p] == '(') {
                std::size_t close = rest.find(')', p);
                if (close == std::string_view::npos || close == p + 1 ||
                    close - p - 1 > 8)
                    Error("a hex(N) type needs 1 to 8 hex digits");
                type = 0;
                for (std::size_t i = p + 1; i < close; ++i) {
                    int h = HexValue(rest[i]);
                    if (h < 0) Error("a hex(N) type needs 1 to 8 hex digits");
                    type = (type << 4) | static_cast<DWORD>(h);
                }
                p = close + 1;
            }
            if (p >= rest.size() || rest[p] != ':')
                Error("expected : after hex");
            HexBytes(rest.substr(p + 1));
            handler_.Value(name_, type, data_, first);
        } else {
            Error("unrecognised value data");
        }
    }

    // Comma-separated bytes; a line that ends in "\" goes on in the next.
    void HexBytes(std::string_view s) {
        bool wantByte = true;  // at the start or after a comma
        for (;;) {
            std::size_t i = 0;
            while (i < s.size()) {
                char c = s[i];
                if (IsBlank(c)) {
                    ++i;
                } else if (c == '\\' && OnlyBlanks(s.substr(i + 1))) {
                    break;
                } else if (c == ',') {
                    if (wantByte) Error("an empty byte in hex data");
                    wantByte = true;
                    ++i;
                } else {
                    int h1 = HexValue(c);
                    int h2 = i + 1 < s.size() ? HexValue(s[i + 1]) : -1;
                    if (h1 < 0 || !wantByte) Error("malformed hex data");
                    if (h2 >= 0) {
                        data_.push_back(static_cast<BYTE>(h1 * 16 + h2));
                        i += 2;
                    } else {
                        data_.push_back(static_cast<BYTE>(h1));
                        i += 1;
                    }
                    wantByte = false;
                }
            }
            if (i >= s.size()) return;  // no continuation
            if (!lines_.Next(&s))
                Error("hex data goes on past the end of the file");
        }
    }

    Lines lines_;
    const std::string &source_;
    Handler &handler_;
    bool inSection_ = false;
    std::vector<std::string_view> path_;
    std::string name_;
    std::string text_;
    std::vector<BYTE> data_;
};

void AppendQuoted(std::string &out, std::string_view text) {
    out.push_back('"');
    for (std::size_t i = 0; i < text.size();) {
        std::size_t stop = QuoteOrBackslash(text, i);
        out.append(text.data() + i, stop - i);
        if (stop == text.size()) break;
        out.push_back('\\');
        out.push_back(text[stop]);
        i = stop + 1;
    }
    out.push_back('"');
}

// "dword:" and eight lower-case hex digits.
void AppendDword(std::string &out, DWORD v) {
    char buf[14] = {'d', 'w', 'o', 'r', 'd', ':'};
    for (int i = 0; i < 8; ++i)
        buf[6 + i] = kHexDigits[(v >> (28 - 4 * i)) & 15];
    out.append(buf, sizeof buf);
}

// A REG_SZ that reads back the same from "text": exactly one NUL, at the
// end, and no other control character.
bool IsPlainString(const RegValue &value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0)
        return false;
    for (std::size_t i = 0; i + 1 < value.data.size(); ++i)
        if (value.data[i] < 0x20) return false;
    return true;
}

void AppendKeySection(std::string &out, const std::string &path,
                      const RegKey &key) {
    out.push_back('[');
    out += path;
    out += "]\r\n";
    for (const RegValue &v : key.Values()) AppendValue(out, v);
    out += "\r\n";
}

}  // namespace

void ThrowMalformed(const std::string &source, int line,
                    const std::string &what) {
    throw EmulatorFailure(source + " line " + std::to_string(line) + ": " +
                          what);
}

void Parse(std::string_view text, const std::string &source, Handler &handler) {
    Reader(text, source, handler).Run();
}

void AppendHeader(std::string &out) { out += "REGEDIT4\r\n\r\n"; }

void AppendValue(std::string &out, const RegValue &value, bool wrap) {
    std::size_t lineStart = out.size();
    if (value.name.empty())
        out.push_back('@');
    else
        AppendQuoted(out, value.name);
    out.push_back('=');
    const char *lineEnd = wrap ? "\r\n" : "";
    const RegBytes &d = value.data;
    if (IsPlainString(value)) {
        AppendQuoted(out,
                     std::string_view(reinterpret_cast<const char *>(d.data()),
                                      d.size() - 1));
        out += lineEnd;
        return;
    }
    if (value.type == REG_DWORD && d.size() == 4) {
        DWORD v = static_cast<DWORD>(d[0]) | static_cast<DWORD>(d[1]) << 8 |
                  static_cast<DWORD>(d[2]) << 16 |
                  static_cast<DWORD>(d[3]) << 24;
        AppendDword(out, v);
        out += lineEnd;
        return;
    }
    if (value.type == REG_BINARY) {
        out += "hex:";
    } else {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%lx):", (unsigned long)value.type);
        out += buf;
    }
    std::size_t column = out.size() - lineStart;
    for (std::size_t i = 0; i < d.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
            ++column;
            if (wrap && column + 3 > kHexLineLimit) {
                out += "\\\r\n  ";
                column = 2;
            }
        }
        out.push_back(kHexDigits[d[i] >> 4]);
        out.push_back(kHexDigits[d[i] & 15]);
        column += 2;
    }
    out += lineEnd;
}

std::size_t TreeTextBound(std::size_t pathLength, const RegKey &key) {
    struct Frame {
        const RegKey *key;
        std::size_t pathLength;
    };
    std::size_t total = 0;
    std::vector<Frame> pending{{&key, pathLength}};
    while (!pending.empty()) {
        Frame f = pending.back();
        pending.pop_back();
        total += f.pathLength + 6;  // [path] CR LF, CR LF after the values
        for (const RegValue &v : f.key->Values()) {
            // Every character of the name and of text doubled by escapes
            // at most; a byte of hex data takes "xx," and each wrapped line
            // "\ CR LF" and two blanks (a line holds at least 20 bytes).
            std::size_t n = v.data.size();
            total += 2 * v.name.size() + 3 + 24 + 2 * n + 3 * n + n / 4 + 2;
        }
        for (const auto &c : f.key->Children())
            pending.push_back({c.get(), f.pathLength + 1 + c->name.size()});
    }
    return total;
}

void AppendTree(std::string &out, const std::string &path, const RegKey &key) {
    struct Frame {
        const RegKey *key;
        std::size_t next;
        std::size_t pathLength;
    };
    std::string p = path;
    AppendKeySection(out, p, key);
    std::vector<Frame> stack{{&key, 0, p.size()}};
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.next == f.key->Children().size()) {
            stack.pop_back();
            continue;
        }
        const RegKey *child = f.key->Children()[f.next++].get();
        p.resize(f.pathLength);
        p.push_back('\\');
        p += child->name;
        AppendKeySection(out, p, *child);
        stack.push_back({child, 0, p.size()});
    }
}

}  // namespace w95::regedit4
