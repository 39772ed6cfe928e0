// Windows paths to host paths inside the machine directory.
#ifndef W95_PATH_RESOLVE_H
#define W95_PATH_RESOLVE_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

namespace w95 {

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

}  // namespace w95

#endif
