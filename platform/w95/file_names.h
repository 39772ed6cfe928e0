// Windows file names inside the emulation: parsing Windows paths and moving
// names between the programs' Windows-1252 and the host's UTF-8 (names
// compare as code_page.h says).
#ifndef W95_FILE_NAMES_H
#define W95_FILE_NAMES_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "w95/code_page.h"

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

// The host spelling of a Windows-1252 name (host names are UTF-8), and the
// Windows name of a host name; nullopt for a host name that has no
// Windows-1252 form (such a file stays invisible).
inline std::string AnsiToHost(std::string_view ansi) {
    return AnsiToUtf8(ansi);
}
inline std::optional<std::string> HostToAnsi(std::string_view host) {
    return Utf8ToAnsi(host);
}

// True when `path` (already existing or not) lies within the machine
// directory once every symbolic link in it is followed.
bool InsideMachine(const std::filesystem::path &path);

}  // namespace w95

#endif
