// Windows file names inside the emulation: parsing Windows paths, comparing
// names as Windows does (without regard to case) and moving names between the
// programs' Windows-1252 and the host's UTF-8.
#ifndef W95_FILE_NAMES_H
#define W95_FILE_NAMES_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95 {

// A Windows path folded to its full form: a drive letter ('A'..'Z') and the
// components below the drive's root, "." and ".." already applied.
struct WindowsPath {
    char drive = 'C';
    std::vector<std::string> parts;
    bool trailingSeparator = false;  // the text ended in "\" or "/"

    std::string Text() const;  // "C:\WINDOWS\INF"
};

// Parses a Windows path against the current directory. With
// allowWildcards, the last component may hold "*" and "?" (FindFirstFileA).
// On failure returns nullopt and sets *error (ERROR_INVALID_NAME,
// ERROR_FILENAME_EXCED_RANGE, ERROR_PATH_NOT_FOUND).
std::optional<WindowsPath> ParseWindowsPath(const char *text, DWORD *error,
                                            bool allowWildcards = false);

// The host path of a parsed Windows path; see ResolvePath.
std::optional<std::filesystem::path> ResolveWindowsPath(const WindowsPath &path,
                                                        DWORD *error);

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

// True when `path` (already existing or not) lies within the machine
// directory once every symbolic link in it is followed.
bool InsideMachine(const std::filesystem::path &path);

}  // namespace w95

#endif
