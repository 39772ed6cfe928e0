// Host files: attributes, times, error codes, whole reads and atomic
// replacement.
#include "host_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "host_calls.h"
#include "memory_disk.h"

namespace w95 {

namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDifference = 116444736000000000LL;

}  // namespace

DWORD ErrorFromErrno(int error, DWORD missing, DWORD otherwise) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return missing;
        case ENOTDIR:
        case ELOOP:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EBUSY:
        case ETXTBSY:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_ALREADY_EXISTS;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case ENOSPC:
        case EDQUOT:
            return ERROR_DISK_FULL;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        case EFBIG:
            return ERROR_DISK_FULL;
        case EIO:
            return ERROR_WRITE_FAULT;
        default:
            return otherwise;
    }
}

int WriteAll(int fd, const void *data, std::size_t size) {
    const char *next = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = HostWrite(fd, next, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        next += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::optional<ReplaceFailure> ReplaceFileAtomically(
    const std::filesystem::path &file, std::string_view bytes) {
    std::filesystem::path temporary = file;
    temporary += ".w95-new";
    auto fail = [&](const char *step, int error) {
        HostUnlink(temporary.c_str());
        return ReplaceFailure{step, error};
    };
    int fd = HostOpen(temporary.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return fail("write", errno);
    int error = WriteAll(fd, bytes.data(), bytes.size());
    if (error == 0 && HostFsync(fd) != 0) error = errno;
    if (HostClose(fd) != 0 && error == 0) error = errno;
    if (error != 0) return fail("write", error);
    if (HostRename(temporary.c_str(), file.c_str()) != 0)
        return fail("replace", errno);
    // The rename lasts a power loss only once the folder is on disk.
    error = FlushFolderOf(file);
    if (error != 0) return ReplaceFailure{"replace", error};
    return std::nullopt;
}

int FlushFolderOf(const std::filesystem::path &file) {
    std::filesystem::path parent = file.parent_path();
    if (parent.empty()) parent = ".";
    int dir = HostOpen(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    int error = HostFsync(dir) != 0 ? errno : 0;
    HostClose(dir);
    return error;
}

DWORD AttributesOf(const struct stat &st) {
    DWORD attributes =
        S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (IsReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (S_ISREG(st.st_mode)) {
        if (st.st_mode & kHiddenBit) attributes |= FILE_ATTRIBUTE_HIDDEN;
        if (st.st_mode & kSystemBit) attributes |= FILE_ATTRIBUTE_SYSTEM;
    }
    return attributes;
}

mode_t ModeWithAttributes(mode_t mode, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    if (!S_ISDIR(mode)) {
        mode &= static_cast<mode_t>(~(kHiddenBit | kSystemBit));
        if (attributes & FILE_ATTRIBUTE_HIDDEN) mode |= kHiddenBit;
        if (attributes & FILE_ATTRIBUTE_SYSTEM) mode |= kSystemBit;
    }
    return mode;
}

FILETIME FileTimeFromTimespec(const struct timespec &ts) {
    std::int64_t ticks = static_cast<std::int64_t>(ts.tv_sec) * 10000000 +
                         ts.tv_nsec / 100 + kEpochDifference;
    if (ticks < 0) ticks = 0;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime =
        static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return ft;
}

struct timespec TimespecFromFileTime(const FILETIME &ft) {
    std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
        ft.dwLowDateTime);
    ticks -= kEpochDifference;
    struct timespec ts;
    std::int64_t seconds = ticks / 10000000;
    std::int64_t rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

FILETIME LastWriteTime(const struct stat &st) {
    return FileTimeFromTimespec(st.st_mtim);
}

FILETIME LastAccessTime(const struct stat &st) {
    return FileTimeFromTimespec(st.st_atim);
}

FILETIME CreationTime(const std::filesystem::path &path,
                      const struct stat &st) {
    if (MemoryDisk *disk = ActiveMemoryDisk();
        disk && disk->Owns(path.native()))
        if (std::optional<struct timespec> born = disk->BirthTime(path.c_str()))
            return FileTimeFromTimespec(*born);
#ifdef STATX_BTIME
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 &&
        (sx.stx_mask & STATX_BTIME) != 0) {
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(sx.stx_btime.tv_sec);
        ts.tv_nsec = static_cast<long>(sx.stx_btime.tv_nsec);
        return FileTimeFromTimespec(ts);
    }
#else
    (void)path;
#endif
    // No birth time on this host file system: the last write is the
    // closest thing that stays put.
    return LastWriteTime(st);
}

std::optional<std::string> ReadWholeHostFile(const std::filesystem::path &file,
                                             int *error) {
    int ignored = 0;
    if (error == nullptr) error = &ignored;
    int fd = HostOpen(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    struct stat st {};
    std::string text;
    *error = 0;
    if (HostFstat(fd, &st) != 0) {
        *error = errno;
    } else if (S_ISDIR(st.st_mode)) {
        *error = EISDIR;
    } else {
        // The size is a first guess: the file may grow or shrink meanwhile.
        text.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1
                                   : 4096);
        std::size_t done = 0;
        for (;;) {
            if (done == text.size()) text.resize(text.size() * 2);
            ssize_t n = HostRead(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *error = errno;
                break;
            }
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
    }
    HostClose(fd);
    if (*error != 0) return std::nullopt;
    return text;
}

}  // namespace w95
