// What the file calls share about host files: attributes, times, error codes
// and the table of open file handles.
#ifndef W95_HOST_FILES_H
#define W95_HOST_FILES_H

#include <windows.h>
#include <sys/stat.h>

#include <filesystem>

namespace w95 {

// Win32 error code for a host errno; `missing` is what ENOENT becomes
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND).
DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND);

// The read-only attribute lives in the owner-write bit of the host file.
// The emulation checks it itself, since a host process running as root
// would write such files anyway.
inline bool IsReadOnly(const struct stat &st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// Windows attributes of a host file: DIRECTORY, READONLY, and ARCHIVE for
// files.
DWORD AttributesOf(const struct stat &st);

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

// Whether a handle of this process has the host file open (Windows refuses
// to delete or rename an open file).
bool IsOpenFile(const struct stat &st);

}  // namespace w95

#endif
