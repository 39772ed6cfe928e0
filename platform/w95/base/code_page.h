// The machine's code page, Windows-1252: its text as UTF-8 and back, and the
// one case folding by which file names, registry names and the w95 tool compare
// names without regard to case.
#ifndef W95_CODE_PAGE_H
#define W95_CODE_PAGE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace w95 {

// Windows-1252 text to UTF-8. The five bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the
// same number, as Windows converts them.
std::string AnsiToUtf8(std::string_view ansi);

// UTF-8 text to Windows-1252; nullopt for text that is not UTF-8, holds a
// NUL or a character the code page lacks. The C1 controls of the five
// undefined bytes come back as those bytes.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// The case pairs of the code page: the ASCII letters and its accented
// letters (A-grave .. THORN, S-caron, OE, Z-caron, Y-diaeresis), as lower
// and upper case of every byte. Defined here so that name lookups, which
// fold every byte, need no call.
struct CaseTables {
    unsigned char lower[256];
    unsigned char upper[256];
    constexpr CaseTables() : lower(), upper() {
        for (int c = 0; c < 256; ++c)
            lower[c] = upper[c] = static_cast<unsigned char>(c);
        for (int c = 'A'; c <= 'Z'; ++c) Pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDE; ++c)
            if (c != 0xD7) Pair(c, c + 32);  // 0xD7 and 0xF7: x and divide
        Pair(0x8A, 0x9A);                    // S caron
        Pair(0x8C, 0x9C);                    // OE
        Pair(0x8E, 0x9E);                    // Z caron
        Pair(0x9F, 0xFF);                    // Y diaeresis
    }

  private:
    constexpr void Pair(int up, int low) {
        lower[up] = static_cast<unsigned char>(low);
        upper[low] = static_cast<unsigned char>(up);
    }
};
inline constexpr CaseTables kCaseTables;

// Case of one Windows-1252 character; characters without a case come back
// as they are.
inline char FoldCase(char c) {  // to lower case
    return static_cast<char>(kCaseTables.lower[static_cast<unsigned char>(c)]);
}
inline char UpperCase(char c) {
    return static_cast<char>(kCaseTables.upper[static_cast<unsigned char>(c)]);
}
std::string UpperCase(std::string_view text);

// Names compared without regard to case, ordered as their lower-case forms
// are: <0, 0, >0.
int CompareNames(std::string_view a, std::string_view b);
inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

// Hash and equality of names without regard to case, for unordered
// containers keyed by names.
struct FoldedHash {
    std::size_t operator()(std::string_view name) const {
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a
        for (char c : name) {
            h ^= static_cast<unsigned char>(FoldCase(c));
            h *= 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};
struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return SameName(a, b);
    }
};

}  // namespace w95

#endif
