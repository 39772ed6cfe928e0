// Registry text from other tools and terminals in the machine's code page:
// REGEDIT4 and "Windows Registry Editor Version 5.00" files in UTF-16LE,
// UTF-8 or Windows-1252, key and value names typed on a UTF-8 terminal, and
// the short names of the root keys.
#include <cstdint>
#include <string>

#include "code_page.h"
#include "emulator_error.h"
#include "regedit4.h"
#include "text_helpers.h"
#include "tool.h"

namespace tool {

namespace {

constexpr std::string_view kVersion5 = "Windows Registry Editor Version 5.00";

// Whether the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int more;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        for (int k = 1; k <= more; ++k) {
            if (i + k >= s.size()) return false;
            unsigned char d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += more + 1;
    }
    return true;
}

void AppendUtf8(std::string &out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// UTF-16LE to UTF-8, NUL characters included; nullopt for an odd number of
// bytes or an unpaired surrogate.
std::optional<std::string> Utf16LeToUtf8(std::string_view bytes) {
    if (bytes.size() % 2) return std::nullopt;
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(
            static_cast<unsigned char>(bytes[i]) |
            static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 2 >= bytes.size()) return std::nullopt;
            std::uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
        AppendUtf8(out, u);
    }
    return out;
}

// UTF-8 that may hold NUL characters (the ends of REG_MULTI_SZ parts) in
// Windows-1252.
std::optional<std::string> Utf8WithNulsToAnsi(std::string_view utf8) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        std::size_t nul = utf8.find('\0', start);
        std::string_view part = utf8.substr(
            start, nul == std::string_view::npos ? nul : nul - start);
        std::optional<std::string> ansi = w95::Utf8ToAnsi(part);
        if (!ansi) return std::nullopt;
        out += *ansi;
        if (nul == std::string_view::npos) return out;
        out.push_back('\0');
        start = nul + 1;
    }
}

// A section line "[HKLM\..." or "[-HKCU\..." with its root written out.
std::string WithFullRootName(const std::string &line) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '[') return line;
    std::size_t nameStart = start + 1;
    if (nameStart < line.size() && line[nameStart] == '-') ++nameStart;
    std::size_t nameEnd = line.find_first_of("\\]", nameStart);
    if (nameEnd == std::string::npos) return line;
    std::string_view name(line.data() + nameStart, nameEnd - nameStart);
    std::optional<w95::RegRoot> root = RootByAnyName(name);
    if (!root || w95::RegRootByName(name)) return line;
    return line.substr(0, nameStart) + w95::RegRootPath(*root) +
           line.substr(nameEnd);
}

void AppendQuotedName(std::string &out, std::string_view name) {
    if (name.empty()) {
        out.push_back('@');
        return;
    }
    out.push_back('"');
    for (char c : name) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// Whether the value line gives its data as hex ("name"=hex(1):...) rather
// than as a quoted string.
bool HexData(std::string_view line) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string_view::npos) return false;
    if (line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i)
            if (line[i] == '\\' && i + 1 < line.size() &&
                (line[i + 1] == '\\' || line[i + 1] == '"'))
                ++i;
    }
    std::size_t eq = line.find('=', i);
    if (eq == std::string_view::npos) return false;
    std::string_view rest = w95::TrimBlanks(line.substr(eq + 1));
    return w95::StartsWithIgnoringAsciiCase(rest, "hex");
}

// Rewrites a Version 5.00 file as REGEDIT4, entry by entry on the line where
// it started (continuation lines become blank, so line numbers stay): the
// string data of hex(1), hex(2) and hex(7) values, UTF-16LE there, becomes
// Windows-1252.
class Version5Converter : public w95::regedit4::Handler {
  public:
    Version5Converter(const std::vector<std::string> &original,
                      const std::string &source)
        : original_(original), lines_(original.size() + 1), source_(source) {}

    void Key(w95::RegRoot root, const std::vector<std::string_view> &path,
             bool remove, int line) override {
        std::string &out = lines_[line];
        out = remove ? "[-" : "[";
        out += w95::RegRootPath(root);
        for (std::string_view part : path) {
            out.push_back('\\');
            out += part;
        }
        out.push_back(']');
    }

    void Value(std::string_view name, DWORD type, const std::vector<BYTE> &data,
               int line) override {
        w95::RegValue value{std::string(name), type,
                            w95::RegBytes(data.begin(), data.end())};
        bool text = type == REG_EXPAND_SZ || type == REG_MULTI_SZ ||
                    (type == REG_SZ && HexData(original_[line - 1]));
        if (text) {
            std::optional<std::string> utf8 = Utf16LeToUtf8(std::string_view(
                reinterpret_cast<const char *>(data.data()), data.size()));
            std::optional<std::string> ansi =
                utf8 ? Utf8WithNulsToAnsi(*utf8) : std::nullopt;
            if (!ansi)
                w95::regedit4::ThrowMalformed(
                    source_, line,
                    "the UTF-16 data of \"" + w95::AnsiToUtf8(name) +
                        "\" cannot be converted to Windows-1252");
            value.data.assign(ansi->begin(), ansi->end());
        }
        w95::regedit4::AppendValue(lines_[line], value, false);
    }

    void RemoveValue(std::string_view name, int line) override {
        AppendQuotedName(lines_[line], name);
        lines_[line] += "=-";
    }

    std::string Text() const {
        std::string out = "REGEDIT4\r\n";
        for (std::size_t i = 2; i < lines_.size(); ++i)
            out += lines_[i] + "\r\n";
        return out;
    }

  private:
    const std::vector<std::string> &original_;  // from line 1 at index 0
    std::vector<std::string> lines_;            // indexed by line number
    const std::string &source_;
};

}  // namespace

std::optional<w95::RegRoot> RootByAnyName(std::string_view name) {
    static const std::pair<std::string_view, w95::RegRoot> kShort[] = {
        {"HKLM", w95::RegRoot::LocalMachine},
        {"HKU", w95::RegRoot::Users},
        {"HKCU", w95::RegRoot::CurrentUser},
        {"HKCR", w95::RegRoot::ClassesRoot},
        {"HKCC", w95::RegRoot::CurrentConfig},
    };
    for (const auto &[n, root] : kShort)
        if (w95::SameName(n, name)) return root;
    return w95::RegRootByName(name);
}

std::string MachineText(std::string_view typed, const std::string &what) {
    if (!IsUtf8(typed)) return std::string(typed);
    std::optional<std::string> ansi = w95::Utf8ToAnsi(typed);
    if (!ansi)
        throw Failure(what + " '" + std::string(typed) +
                      "' has a character that Windows-1252 lacks");
    return *ansi;
}

std::string RegistryFileAsRegedit4(std::string_view bytes,
                                   const std::string &source) {
    std::string text;
    bool utf8 = false;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        std::optional<std::string> decoded = Utf16LeToUtf8(bytes.substr(2));
        if (!decoded)
            throw w95::EmulatorFailure(source +
                                       ": not well-formed UTF-16LE text");
        text = std::move(*decoded);
        utf8 = true;
    } else if (bytes.substr(0, 2) == "\xFE\xFF") {
        throw w95::EmulatorFailure(
            source + ": UTF-16 big-endian; save it as UTF-16LE or UTF-8");
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = bytes.substr(3);
        utf8 = true;
    } else {
        text = bytes;
        utf8 = IsUtf8(text);  // otherwise Windows-1252 already
    }

    // Line by line into the code page, keeping the line numbers.
    std::vector<std::string> lines;
    for (std::string_view piece : w95::SplitLines(text)) {
        std::string line(piece);
        if (utf8) {
            std::optional<std::string> ansi = w95::Utf8ToAnsi(line);
            if (!ansi)
                w95::regedit4::ThrowMalformed(
                    source, static_cast<int>(lines.size() + 1),
                    "a character that Windows-1252 lacks");
            line = std::move(*ansi);
        }
        lines.push_back(WithFullRootName(line));
    }
    if (lines.empty()) lines.emplace_back();

    std::string_view first = w95::TrimBlanks(lines[0]);
    bool version5 = first == kVersion5;
    if (!version5 && first != "REGEDIT4")
        w95::regedit4::ThrowMalformed(
            source, 1,
            "the first line is neither REGEDIT4 nor " + std::string(kVersion5));
    lines[0] = "REGEDIT4";
    std::string regedit4;
    for (const std::string &l : lines) regedit4 += l + "\r\n";
    if (!version5) return regedit4;
    Version5Converter converter(lines, source);
    w95::regedit4::Parse(regedit4, source, converter);
    return converter.Text();
}

}  // namespace tool
