// What the emulation shares about host files: attributes, times, error
// codes and writing whole files safely.
#ifndef W95_HOST_FILES_H
#define W95_HOST_FILES_H

#include <windows.h>
#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace w95 {

// Win32 error code for a host errno; `missing` is what ENOENT becomes
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND), `otherwise` what an errno
// with no closer Win32 code becomes.
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND,
                     DWORD otherwise = ERROR_ACCESS_DENIED);

// Writes all of `size` bytes to `fd`, retrying short and interrupted
// writes. Returns 0, or the errno of the failure (EIO when the file takes
// no more bytes and says nothing).
int WriteAll(int fd, const void *data, std::size_t size);

// The whole content of a regular host file; nullopt when it cannot be opened
// or read, or is a folder, with the errno in `*error` when given.
std::optional<std::string> ReadWholeHostFile(const std::filesystem::path &file,
                                             int *error = nullptr);

// What ReplaceFileAtomically could not do: "write" the new content or
// "replace" the old file, and the errno.
struct ReplaceFailure {
    const char *step;
    int error;
};

// Replaces `file` with `bytes` so that a power loss at any moment leaves
// either the old file or the new one, whole: writes `file`.w95-new, flushes
// it to disk, renames it over `file` and flushes the directory. On failure
// the temporary file is removed.
std::optional<ReplaceFailure> ReplaceFileAtomically(
    const std::filesystem::path &file, std::string_view bytes);

// Flushes the folder of `file`, so that a rename or removal in it lasts a
// power loss; returns the errno of a failure, or 0.
int FlushFolderOf(const std::filesystem::path &file);

// The read-only attribute lives in the owner-write bit of the host file.
// The emulation checks it itself, since a host process running as root
// would write such files anyway.
inline bool IsReadOnly(const struct stat &st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// The hidden and system attributes of a file live in the group-execute and
// other-execute bits of its host file, which nothing else of a Windows
// machine uses. A folder keeps neither: its execute bits open it.
constexpr mode_t kHiddenBit = S_IXGRP;
constexpr mode_t kSystemBit = S_IXOTH;

// Windows attributes of a host file: DIRECTORY, READONLY, and ARCHIVE,
// HIDDEN and SYSTEM for files.
DWORD AttributesOf(const struct stat &st);

// The host mode of a file given `mode` and the Windows attributes it is to
// have (READONLY, HIDDEN, SYSTEM; the others do not change it).
mode_t ModeWithAttributes(mode_t mode, DWORD attributes);

// FILETIME (100 ns since 1601, UTC) from and to host times.
FILETIME FileTimeFromTimespec(const struct timespec &ts);
struct timespec TimespecFromFileTime(const FILETIME &ft);
FILETIME LastWriteTime(const struct stat &st);
FILETIME LastAccessTime(const struct stat &st);
FILETIME CreationTime(const std::filesystem::path &path, const struct stat &st);

// Whether two host stats are of the same file.
inline bool SameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace w95

#endif
