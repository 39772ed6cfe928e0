// The machine's code page, Windows-1252: its text as UTF-8 and back, and the
// case folding by which file names, registry names and the w95 tool compare
// names without regard to case.
#ifndef W95_CODE_PAGE_H
#define W95_CODE_PAGE_H

#include <cstddef>
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

// Case of one Windows-1252 character: the ASCII letters and the accented
// letters of the code page (A-grave .. THORN, S-caron, OE, Z-caron,
// Y-diaeresis). Characters without a case come back as they are.
char FoldCase(char c);   // to lower case
char UpperCase(char c);  // to upper case
std::string UpperCase(std::string_view text);

// Names compared without regard to case, ordered as their lower-case forms
// are: <0, 0, >0.
int CompareNames(std::string_view a, std::string_view b);
bool SameName(std::string_view a, std::string_view b);

// Hash and equality of names without regard to case, for unordered
// containers keyed by names.
struct FoldedHash {
    std::size_t operator()(std::string_view name) const;
};
struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return SameName(a, b);
    }
};

}  // namespace w95

#endif
