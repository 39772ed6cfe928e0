// Small text helpers of the emulation: trimming, splitting into lines,
// comparing ASCII words without regard to case and reading numbers.
#ifndef W95_TEXT_HELPERS_H
#define W95_TEXT_HELPERS_H

#include <windows.h>

#include <string_view>
#include <vector>

namespace w95 {

// Without leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view text);

// Without leading and trailing white space (blanks, CR, LF, ...).
std::string_view TrimSpace(std::string_view text);

// The lines of a text: LF or CR LF ends a line; a last line without an end
// counts, an empty text has no lines.
std::vector<std::string_view> SplitLines(std::string_view text);

// Whether two words are equal, or `text` starts with `prefix`, with ASCII
// letters compared without regard to case. For keywords and settings; names
// of files and registry keys compare by the code page instead.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text,
                                 std::string_view prefix);

// A 32-bit number, decimal or "0x" hex, and nothing else.
bool ParseDword(std::string_view text, DWORD *value);

// A decimal number from 1 to 0xFFFFFFFE (a count or an error code), and
// nothing else.
bool ParsePositiveDecimal(std::string_view text, unsigned long *value);

}  // namespace w95

#endif
