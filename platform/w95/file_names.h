// Windows file names inside the emulation: comparing names as Windows does
// (without regard to case) and moving names between the programs'
// Windows-1252 and the host's UTF-8.
#ifndef W95_FILE_NAMES_H
#define W95_FILE_NAMES_H

#include <optional>
#include <string>
#include <string_view>

namespace w95 {

// Windows-1252 and UTF-8 names. HostToAnsi gives nullopt for a host name
// that has no Windows-1252 form (such a file stays invisible).
std::string AnsiToHost(std::string_view ansi);
std::optional<std::string> HostToAnsi(std::string_view host);

// Case-insensitive comparison of Windows-1252 names: <0, 0, >0.
int CompareNames(std::string_view a, std::string_view b);
inline bool SameName(std::string_view a, std::string_view b) {
    return CompareNames(a, b) == 0;
}
char FoldCase(char c);  // lower case of a Windows-1252 character

}  // namespace w95

#endif
