// Windows paths: parsing them against the current directory and finding
// the host paths they name inside the machine directory.
#ifndef W95_PATH_RESOLVE_H
#define W95_PATH_RESOLVE_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
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

// The host path that a Windows path names: "X:\..." is drive_x/..., a
// relative path resolves against the current directory, "\" and "/" both
// separate, ".." stops at the drive root, and each existing component is
// matched without regard to case (the last one may be new, kept as given).
// Nothing outside the machine directory is ever returned: a symbolic link
// that leads out, an unknown drive or an unusable name gives nullopt with a
// Win32 error code in *error (ERROR_PATH_NOT_FOUND, ERROR_INVALID_NAME,
// ERROR_INVALID_DRIVE, ...).
std::optional<std::filesystem::path> ResolvePath(const char *windowsPath,
                                                 DWORD *error);

// The full Windows form of a path ("C:\WINDOWS\INF\OEM0.INF"), resolved
// against the current directory, with "." and ".." folded.
std::string FullWindowsPath(const char *windowsPath);

// The machine directory with every link followed: the drive folders lie in
// it, and ResolvePath's host paths start with it.
const std::filesystem::path &MachineRoot();

// The drive letter ('A'..'Z') of a host path that ResolvePath gave; 0 for a
// path outside the drive folders.
char DriveOfHostPath(const std::filesystem::path &host);

// True when `path` (already existing or not) lies within one of the
// machine's drive folders once every symbolic link in it is followed.
bool InsideDriveFolders(const std::filesystem::path &path);

}  // namespace w95

#endif
