// kernel32 file calls: open files by handle, copy, move, delete and
// attributes, on the host files of the machine's drives.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "emulated_process.h"
#include "fault_injection.h"
#include "file_names.h"
#include "host_calls.h"
#include "host_files.h"
#include "path_resolve.h"

namespace fs = std::filesystem;

#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif
#ifndef ERROR_NEGATIVE_SEEK
#define ERROR_NEGATIVE_SEEK 131L
#endif

namespace {

using w95::FailWithLastError;

using w95::OpenFile;

w95::OpenFiles &Files() { return w95::Process().files; }

// Reads and writes of fewer bytes than this go through the buffers.
constexpr std::size_t kBufferBytes = 65536;

bool SameHostFile(const OpenFile &a, const OpenFile &b) {
    return a.device == b.device && a.inode == b.inode;
}

// Before `file` is read or written or its size or time looked at: the
// other handles on the same host file write their buffers out and forget
// what they read ahead; `file` writes its own buffer out too when `self`.
// Returns the error of writing out `file`'s buffer, or 0.
DWORD SyncSameFile(OpenFile &file, bool self) {
    if (file.sharers > 0) {
        for (OpenFile *other : Files().All()) {
            if (other == &file || !SameHostFile(*other, file)) continue;
            if (DWORD e = other->WriteOut()) other->writeError = e;
            other->readAhead.clear();
        }
    }
    if (!self) return 0;
    if (DWORD e = file.writeError) {
        file.writeError = 0;
        return e;
    }
    return file.writeBehind.empty() ? 0 : file.WriteOut();
}

// Reads up to `count` bytes at `offset` with pread; the bytes read, or -1.
ssize_t ReadAt(int fd, char *out, std::size_t count, std::int64_t offset) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = w95::HostPread(fd, out + done, count - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// Writes `count` bytes at `offset` into the host file of `file`; 0 or the
// errno.
int WriteAt(const OpenFile &file, const char *in, std::size_t count,
            std::int64_t offset) {
    w95::DiskCache *disk = w95::TrackedDisk();
    const w95::FileId id{file.device, file.inode};
    if (disk) disk->BeforeChange(id, file.fd);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = w95::HostPwrite(file.fd, in + done, count - done,
                                    static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        if (disk)
            disk->Wrote(id, offset + static_cast<std::int64_t>(done), in + done,
                        static_cast<std::size_t>(n));
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

struct HostEntry {
    fs::path path;
    bool exists = false;
    struct stat st {};
};

// Resolves a Windows path and looks at what lies there (following links
// inside the machine).
std::optional<HostEntry> Lookup(LPCSTR name, DWORD *error) {
    std::optional<fs::path> path = w95::ResolvePath(name, error);
    if (!path) return std::nullopt;
    HostEntry entry;
    entry.path = *path;
    if (w95::HostStat(path->c_str(), &entry.st) == 0) {
        entry.exists = true;
    } else if (errno != ENOENT) {
        *error = w95::ErrorFromErrno(errno);
        return std::nullopt;
    }
    return entry;
}

// The Win32 error of a failed host write: a full disk stays a full disk,
// anything without a closer code is a write fault.
DWORD WriteError(int error) {
    return w95::ErrorFromErrno(error, ERROR_FILE_NOT_FOUND, ERROR_WRITE_FAULT);
}

// Removes the file at `path`; 0, or -1 with errno set. The disk cache
// keeps the durable bytes of a regular file, which a power loss may bring
// back.
int UnlinkFile(const fs::path &path) {
    w95::DiskCache *disk = w95::TrackedDisk();
    struct stat st {};
    const bool tracked =
        disk && w95::RawLstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (tracked) disk->BeforeChange(w95::IdOf(st), path);
    if (w95::HostUnlink(path.c_str()) != 0) return -1;
    if (tracked)
        disk->DeletedFile(w95::IdOf(st), path, st.st_mode,
                          w95::DriveOfHostPath(path));
    return 0;
}

// Copies the bytes of `from` into `to`: a new file, or the existing file
// `replaced` (null for none) emptied first; with the source's read-only
// attribute and last-write time. A partial target is removed.
DWORD CopyHostFile(const HostEntry &from, const fs::path &to,
                   const struct stat *replaced) {
    int in = w95::HostOpen(from.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return w95::ErrorFromErrno(errno);
    w95::DiskCache *disk = w95::TrackedDisk();
    if (disk && replaced) disk->BeforeChange(w95::IdOf(*replaced), to);
    int out = w95::HostOpen(to.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        DWORD e = w95::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
        w95::HostClose(in);
        return e;
    }
    w95::FileId outId;
    std::int64_t copied = 0;
    if (disk) {
        outId = disk->Opened(out);
        if (replaced)
            disk->Truncated(outId, 0);
        else
            disk->CreatedFile(outId, to, w95::DriveOfHostPath(to));
    }
    DWORD result = ERROR_SUCCESS;
    char buffer[65536];
    for (;;) {
        ssize_t n = w95::HostRead(in, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = ERROR_READ_FAULT;
            break;
        }
        if (n == 0) break;
        if (int error = w95::WriteAll(out, buffer, static_cast<size_t>(n))) {
            result = WriteError(error);
            break;
        }
        if (disk) disk->Wrote(outId, copied, buffer, static_cast<size_t>(n));
        copied += n;
    }
    if (result == ERROR_SUCCESS) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_NOW;
        times[1] = from.st.st_mtim;
        if (w95::HostFutimens(out, times) != 0 ||
            w95::HostFchmod(out, from.st.st_mode & 07777) != 0)
            result = w95::ErrorFromErrno(errno);
    }
    if (w95::HostClose(out) != 0 && result == ERROR_SUCCESS)
        result = WriteError(errno);
    w95::HostClose(in);
    if (result != ERROR_SUCCESS) UnlinkFile(to);
    return result;
}

// Whether opening the host file with this access and share mode clashes
// with a handle that has it open already, as Windows' sharing rules say. A
// handle opened with no access at all counts as a reader, as on Windows 95,
// whose file system opens it for reading.
bool ShareConflict(const struct stat &st, bool read, bool write, DWORD share) {
    if (!write) read = true;
    for (const OpenFile *file : Files().All()) {
        if (file->device != st.st_dev || file->inode != st.st_ino) continue;
        const bool reads = file->canRead || !file->canWrite;
        if ((read && !(file->shareMode & FILE_SHARE_READ)) ||
            (write && !(file->shareMode & FILE_SHARE_WRITE)) ||
            (reads && !(share & FILE_SHARE_READ)) ||
            (file->canWrite && !(share & FILE_SHARE_WRITE))) {
            return true;
        }
    }
    return false;
}

// Writes out what the handles on a host file hold back, so that a copy of
// it made from the host file sees every write.
void WriteOutHandlesOf(const struct stat &st) {
    for (OpenFile *file : Files().All()) {
        if (file->device != st.st_dev || file->inode != st.st_ino) continue;
        if (DWORD e = file->WriteOut()) file->writeError = e;
        file->readAhead.clear();
    }
}

bool EndsInSeparator(LPCSTR name) {
    size_t length = name != nullptr ? std::strlen(name) : 0;
    return length > 0 && (name[length - 1] == '\\' || name[length - 1] == '/');
}

// Whether a path names a device (NUL, CON, LPT1, ...), which every folder
// has. The emulation's devices are all the null device: reads find nothing,
// writes vanish.
bool NamesDevice(LPCSTR name) {
    DWORD error = 0;
    std::optional<w95::WindowsPath> path = w95::ParseWindowsPath(name, &error);
    return path && !path->parts.empty() && !path->trailingSeparator &&
           w95::DeviceNameLength(path->parts.back()) != 0;
}

// A handle on a device.
HANDLE OpenDevice(DWORD access, DWORD share) {
    int fd = w95::HostOpen("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(w95::ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_unique<OpenFile>();
    file->fd = fd;
    file->isDevice = true;
    file->canRead = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
    file->canWrite = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    file->shareMode = share;
    SetLastError(ERROR_SUCCESS);
    return Files().Add(std::move(file));
}

}  // namespace

namespace w95 {

DWORD OpenFile::WriteOut() {
    if (writeBehind.empty()) return 0;
    int error =
        WriteAt(*this, writeBehind.data(), writeBehind.size(), writeStart);
    writeBehind.clear();
    return error != 0 ? WriteError(error) : 0;
}

OpenFile::~OpenFile() {
    if (fd < 0) return;
    WriteOut();
    HostClose(fd);
}

void SyncOpenFiles() {
    for (OpenFile *file : Process().files.All()) {
        if (DWORD e = file->WriteOut()) file->writeError = e;
        file->readAhead.clear();
    }
}

bool WritesWaiting() {
    for (OpenFile *file : Process().files.All())
        if (!file->writeBehind.empty()) return true;
    return false;
}

}  // namespace w95

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess,
                          DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                          DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (DWORD e = w95::InjectedFault("CreateFileA")) {
        SetLastError(e);
        return INVALID_HANDLE_VALUE;
    }
    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    if (NamesDevice(lpFileName))
        return OpenDevice(dwDesiredAccess, dwShareMode);
    DWORD error = ERROR_SUCCESS;
    std::optional<HostEntry> entry = Lookup(lpFileName, &error);
    if (!entry) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    bool wantRead = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
    bool wantWrite = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    if (dwCreationDisposition < CREATE_NEW ||
        dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && !wantWrite)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (entry->exists && S_ISDIR(entry->st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (EndsInSeparator(lpFileName)) {  // "C:\FILE.TXT\" names no file
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    if (entry->exists &&
        ShareConflict(entry->st, wantRead, wantWrite, dwShareMode)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    bool existed = entry->exists;
    int flags = O_CLOEXEC;
    switch (dwCreationDisposition) {
        case CREATE_NEW:
            if (existed) {
                SetLastError(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
    }
    if (!existed && (dwCreationDisposition == OPEN_EXISTING ||
                     dwCreationDisposition == TRUNCATE_EXISTING)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool truncates = (flags & O_TRUNC) != 0;
    if (existed && w95::IsReadOnly(entry->st) && (wantWrite || truncates)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    w95::DiskCache *disk = w95::TrackedDisk();
    if (disk && existed && truncates)
        disk->BeforeChange(w95::IdOf(entry->st), entry->path);
    // The host file is always opened for reading too, so that a handle
    // without rights (an existence test) still is a real open file.
    flags |= wantWrite ? O_RDWR : O_RDONLY;
    mode_t mode =
        w95::ModeWithAttributes(S_IFREG | 0666, dwFlagsAndAttributes) & 07777;
    int fd = w95::HostOpen(entry->path.c_str(), flags, mode);
    if (fd < 0) {
        SetLastError(w95::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return INVALID_HANDLE_VALUE;
    }
    // Which host file it is decides what other handles see of its writes.
    struct stat opened {};
    if (w95::HostFstat(fd, &opened) != 0) {
        DWORD e = w95::ErrorFromErrno(errno);
        w95::HostClose(fd);
        if (!existed) UnlinkFile(entry->path);
        SetLastError(e);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_unique<OpenFile>();
    file->fd = fd;
    file->device = opened.st_dev;
    file->inode = opened.st_ino;
    if (disk) {
        file->drive = w95::DriveOfHostPath(entry->path);
        if (!existed)
            disk->CreatedFile(w95::IdOf(opened), entry->path, file->drive);
        else if (truncates)
            disk->Truncated(w95::IdOf(opened), 0);
    }
    for (OpenFile *other : Files().All()) {
        if (!SameHostFile(*other, *file)) continue;
        ++other->sharers;
        ++file->sharers;
    }
    file->canRead = wantRead;
    file->canWrite = wantWrite;
    file->shareMode = dwShareMode;
    HANDLE h = Files().Add(std::move(file));
    bool reportExisting = existed && (dwCreationDisposition == CREATE_ALWAYS ||
                                      dwCreationDisposition == OPEN_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    if (DWORD e = w95::InjectedFault("ReadFile")) return FailWithLastError(e);
    OpenFile *file = Files().Find(hFile);
    if (file == nullptr) return FailWithLastError(ERROR_INVALID_HANDLE);
    if (lpNumberOfBytesRead == nullptr || lpOverlapped != nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToRead > 0)) {
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    }
    if (!file->canRead) return FailWithLastError(ERROR_ACCESS_DENIED);
    // Alone on its file, with nothing to write out and the bytes read
    // ahead: a copy (the byte-by-byte scans spend their time here).
    const std::int64_t ahead = file->position - file->readStart;
    if (file->sharers == 0 && file->writeBehind.empty() &&
        file->writeError == 0 && ahead >= 0 &&
        static_cast<std::uint64_t>(ahead) + nNumberOfBytesToRead <=
            file->readAhead.size()) {
        const char *from = file->readAhead.data() + ahead;
        if (nNumberOfBytesToRead == 1)  // no library call for one byte
            *static_cast<char *>(lpBuffer) = *from;
        else if (nNumberOfBytesToRead > 0)
            std::memcpy(lpBuffer, from, nNumberOfBytesToRead);
        file->position += nNumberOfBytesToRead;
        *lpNumberOfBytesRead = nNumberOfBytesToRead;
        return TRUE;
    }
    if (DWORD e = SyncSameFile(*file, true)) return FailWithLastError(e);
    char *out = static_cast<char *>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        DWORD want = nNumberOfBytesToRead - done;
        std::int64_t from = file->position - file->readStart;
        if (from >= 0 &&
            from < static_cast<std::int64_t>(file->readAhead.size())) {
            std::size_t n =
                std::min<std::size_t>(want, file->readAhead.size() - from);
            std::memcpy(out + done, file->readAhead.data() + from, n);
            done += static_cast<DWORD>(n);
            file->position += static_cast<std::int64_t>(n);
            continue;
        }
        if (want >= kBufferBytes) {
            ssize_t n = ReadAt(file->fd, out + done, want, file->position);
            if (n < 0) {
                *lpNumberOfBytesRead = done;
                return FailWithLastError(ERROR_READ_FAULT);
            }
            done += static_cast<DWORD>(n);
            file->position += n;
            break;
        }
        file->readAhead.resize(kBufferBytes);
        file->readStart = file->position;
        ssize_t n = ReadAt(file->fd, file->readAhead.data(), kBufferBytes,
                           file->position);
        file->readAhead.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        if (n < 0) {
            *lpNumberOfBytesRead = done;
            return FailWithLastError(ERROR_READ_FAULT);
        }
        if (n == 0) break;
    }
    *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer,
                      DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    if (DWORD e = w95::InjectedFault("WriteFile")) return FailWithLastError(e);
    OpenFile *file = Files().Find(hFile);
    if (file == nullptr) return FailWithLastError(ERROR_INVALID_HANDLE);
    if (lpNumberOfBytesWritten == nullptr || lpOverlapped != nullptr ||
        (lpBuffer == nullptr && nNumberOfBytesToWrite > 0)) {
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    }
    if (!file->canWrite) return FailWithLastError(ERROR_ACCESS_DENIED);
    if (file->isDevice) {
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
        return TRUE;
    }
    if (DWORD e = SyncSameFile(*file, false)) return FailWithLastError(e);
    if (DWORD e = file->writeError) {
        file->writeError = 0;
        return FailWithLastError(e);
    }
    file->readAhead.clear();
    if (nNumberOfBytesToWrite == 0) return TRUE;
    const char *in = static_cast<const char *>(lpBuffer);
    std::size_t gathered = file->writeBehind.size();
    bool follows = gathered > 0 &&
                   file->position ==
                       file->writeStart + static_cast<std::int64_t>(gathered);
    if (!follows || gathered + nNumberOfBytesToWrite > kBufferBytes) {
        if (DWORD e = file->WriteOut()) return FailWithLastError(e);
        gathered = 0;
    }
    if (nNumberOfBytesToWrite >= kBufferBytes) {
        if (int error =
                WriteAt(*file, in, nNumberOfBytesToWrite, file->position)) {
            return FailWithLastError(WriteError(error));
        }
    } else {
        if (gathered == 0) {
            file->writeStart = file->position;
            file->writeBehind.reserve(kBufferBytes);
        }
        if (nNumberOfBytesToWrite == 1)
            file->writeBehind.push_back(*in);
        else
            file->writeBehind.insert(file->writeBehind.end(), in,
                                     in + nNumberOfBytesToWrite);
    }
    file->position += nNumberOfBytesToWrite;
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove,
                            PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
    if (DWORD e = w95::InjectedFault("SetFilePointer")) {
        SetLastError(e);
        return INVALID_SET_FILE_POINTER;
    }
    OpenFile *file = Files().Find(hFile);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t distance =
        lpDistanceToMoveHigh != nullptr
            ? static_cast<std::int64_t>(
                  (static_cast<std::uint64_t>(
                       static_cast<std::uint32_t>(*lpDistanceToMoveHigh))
                   << 32) |
                  static_cast<std::uint32_t>(lDistanceToMove))
            : static_cast<std::int64_t>(lDistanceToMove);
    std::int64_t base = 0;
    if (dwMoveMethod == FILE_CURRENT) {
        base = file->position;
    } else if (dwMoveMethod == FILE_END) {
        if (DWORD e = SyncSameFile(*file, true)) {
            SetLastError(e);
            return INVALID_SET_FILE_POINTER;
        }
        struct stat st {};
        if (w95::HostFstat(file->fd, &st) != 0) {
            SetLastError(w95::ErrorFromErrno(errno));
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
    } else if (dwMoveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    file->position = target;
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(target >> 32);
    }
    DWORD low = static_cast<DWORD>(target & 0xFFFFFFFF);
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    if (DWORD e = w95::InjectedFault("FlushFileBuffers"))
        return FailWithLastError(e);
    OpenFile *file = Files().Find(hFile);
    if (file == nullptr) return FailWithLastError(ERROR_INVALID_HANDLE);
    if (!file->canWrite) return FailWithLastError(ERROR_ACCESS_DENIED);
    if (file->isDevice) return TRUE;
    if (DWORD e = SyncSameFile(*file, true)) return FailWithLastError(e);
    if (w95::HostFsync(file->fd) != 0)
        return FailWithLastError(WriteError(errno));
    if (w95::DiskCache *disk = w95::TrackedDisk())
        disk->Flushed({file->device, file->inode}, file->drive);
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    if (DWORD e = w95::InjectedFault("GetFileSize")) {
        SetLastError(e);
        return INVALID_FILE_SIZE;
    }
    OpenFile *file = Files().Find(hFile);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (DWORD e = SyncSameFile(*file, true)) {
        SetLastError(e);
        return INVALID_FILE_SIZE;
    }
    struct stat st {};
    if (w95::HostFstat(file->fd, &st) != 0) {
        SetLastError(w95::ErrorFromErrno(errno));
        return INVALID_FILE_SIZE;
    }
    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    }
    // Callers tell a size of 0xFFFFFFFF from a failure by GetLastError;
    // any other size leaves the last error as it was.
    DWORD low = static_cast<DWORD>(size & 0xFFFFFFFF);
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime,
                        LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
    if (DWORD e = w95::InjectedFault("GetFileTime"))
        return FailWithLastError(e);
    OpenFile *file = Files().Find(hFile);
    struct stat st {};
    if (file == nullptr) return FailWithLastError(ERROR_INVALID_HANDLE);
    if (DWORD e = SyncSameFile(*file, true)) return FailWithLastError(e);
    if (w95::HostFstat(file->fd, &st) != 0)
        return FailWithLastError(w95::ErrorFromErrno(errno));
    if (lpCreationTime != nullptr) {
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", file->fd);
        *lpCreationTime = w95::CreationTime(link, st);
    }
    if (lpLastAccessTime != nullptr)
        *lpLastAccessTime = w95::LastAccessTime(st);
    if (lpLastWriteTime != nullptr) *lpLastWriteTime = w95::LastWriteTime(st);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (DWORD e = w95::InjectedFault("CloseHandle"))
        return FailWithLastError(e);
    OpenFile *file = Files().Find(hObject);
    if (file == nullptr) return FailWithLastError(ERROR_INVALID_HANDLE);
    DWORD written = SyncSameFile(*file, true);
    if (file->sharers > 0) {
        for (OpenFile *other : Files().All())
            if (other != file && SameHostFile(*other, *file)) --other->sharers;
    }
    int fd = file->fd;
    file->fd = -1;
    Files().Remove(hObject);
    if (w95::HostClose(fd) != 0 && written == 0) written = WriteError(errno);
    if (written != 0) return FailWithLastError(written);
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                      BOOL bFailIfExists) {
    if (DWORD e = w95::InjectedFault("CopyFileA")) return FailWithLastError(e);
    DWORD error = ERROR_SUCCESS;
    std::optional<HostEntry> from = Lookup(lpExistingFileName, &error);
    if (!from) return FailWithLastError(error);
    if (!from->exists) return FailWithLastError(ERROR_FILE_NOT_FOUND);
    if (S_ISDIR(from->st.st_mode))
        return FailWithLastError(ERROR_ACCESS_DENIED);
    // The source is read with others' writing allowed, so a file that
    // another handle holds open for writing can be copied.
    if (ShareConflict(from->st, true, false,
                      FILE_SHARE_READ | FILE_SHARE_WRITE)) {
        return FailWithLastError(ERROR_SHARING_VIOLATION);
    }
    // A copy to a device reads the source and keeps nothing of it.
    if (NamesDevice(lpNewFileName)) return TRUE;
    if (EndsInSeparator(lpNewFileName))
        return FailWithLastError(ERROR_INVALID_NAME);
    std::optional<HostEntry> to = Lookup(lpNewFileName, &error);
    if (!to) return FailWithLastError(error);
    if (to->exists) {
        if (bFailIfExists) return FailWithLastError(ERROR_FILE_EXISTS);
        if (S_ISDIR(to->st.st_mode) || w95::IsReadOnly(to->st)) {
            return FailWithLastError(ERROR_ACCESS_DENIED);
        }
        // The source is open for reading while the target is rewritten,
        // for writing with others' reading and writing allowed: a target
        // that other handles hold open is rewritten under them when they
        // let others write.
        if (w95::SameFile(from->st, to->st) ||
            ShareConflict(to->st, false, true,
                          FILE_SHARE_READ | FILE_SHARE_WRITE)) {
            return FailWithLastError(ERROR_SHARING_VIOLATION);
        }
        WriteOutHandlesOf(to->st);
    }
    WriteOutHandlesOf(from->st);
    DWORD result =
        CopyHostFile(*from, to->path, to->exists ? &to->st : nullptr);
    if (result != ERROR_SUCCESS) return FailWithLastError(result);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (DWORD e = w95::InjectedFault("DeleteFileA"))
        return FailWithLastError(e);
    if (NamesDevice(lpFileName))
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    DWORD error = ERROR_SUCCESS;
    std::optional<HostEntry> entry = Lookup(lpFileName, &error);
    if (!entry) return FailWithLastError(error);
    struct stat link {};
    if (w95::HostLstat(entry->path.c_str(), &link) != 0) {
        return FailWithLastError(ERROR_FILE_NOT_FOUND);
    }
    if (entry->exists) {
        if (S_ISDIR(entry->st.st_mode) || w95::IsReadOnly(entry->st)) {
            return FailWithLastError(ERROR_ACCESS_DENIED);
        }
        // "C:\FILE.TXT\" names a folder, never the file.
        if (EndsInSeparator(lpFileName))
            return FailWithLastError(ERROR_INVALID_NAME);
        if (Files().IsOpen(entry->st))
            return FailWithLastError(ERROR_SHARING_VIOLATION);
    }
    if (UnlinkFile(entry->path) != 0) {
        return FailWithLastError(w95::ErrorFromErrno(errno));
    }
    return TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    if (DWORD e = w95::InjectedFault("MoveFileA")) return FailWithLastError(e);
    DWORD error = ERROR_SUCCESS;
    std::optional<w95::WindowsPath> source =
        w95::ParseWindowsPath(lpExistingFileName, &error);
    if (!source) return FailWithLastError(error);
    // A drive's root is no entry that could move: it is in use.
    if (source->parts.empty())
        return FailWithLastError(ERROR_SHARING_VIOLATION);
    std::optional<HostEntry> from = Lookup(lpExistingFileName, &error);
    if (!from) return FailWithLastError(error);
    if (!from->exists) return FailWithLastError(ERROR_FILE_NOT_FOUND);
    // A new name ending in a separator names a folder, never a file.
    if (!S_ISDIR(from->st.st_mode) && EndsInSeparator(lpNewFileName))
        return FailWithLastError(ERROR_DIRECTORY);
    std::optional<HostEntry> to = Lookup(lpNewFileName, &error);
    if (!to) return FailWithLastError(error);
    bool sameEntry = to->exists && w95::SameFile(from->st, to->st) &&
                     from->path.parent_path() == to->path.parent_path();
    if (to->exists && !sameEntry)
        return FailWithLastError(ERROR_ALREADY_EXISTS);
    if (!S_ISDIR(from->st.st_mode) && Files().IsOpen(from->st)) {
        return FailWithLastError(ERROR_SHARING_VIOLATION);
    }
    fs::path target = to->path;
    if (sameEntry) {
        // A new spelling of the same name: take the case as given.
        std::optional<w95::WindowsPath> p =
            w95::ParseWindowsPath(lpNewFileName, &error);
        if (p && !p->parts.empty()) {
            target = to->path.parent_path() / w95::AnsiToHost(p->parts.back());
        }
        if (target == from->path) return TRUE;
    }
    if (w95::HostRename(from->path.c_str(), target.c_str()) == 0) {
        if (w95::DiskCache *disk = w95::TrackedDisk())
            disk->Renamed(from->path, w95::DriveOfHostPath(from->path), target,
                          w95::DriveOfHostPath(target));
        return TRUE;
    }
    if (errno != EXDEV) return FailWithLastError(w95::ErrorFromErrno(errno));
    // Another drive on another host file system: files are copied and the
    // original removed; directories cannot move between drives.
    if (S_ISDIR(from->st.st_mode))
        return FailWithLastError(ERROR_NOT_SAME_DEVICE);
    DWORD result = CopyHostFile(*from, target, nullptr);
    if (result != ERROR_SUCCESS) return FailWithLastError(result);
    // A file that stays where it was is no move: the copy goes again.
    if (UnlinkFile(from->path) != 0) {
        DWORD e = w95::ErrorFromErrno(errno);
        UnlinkFile(target);
        return FailWithLastError(e);
    }
    return TRUE;
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    if (DWORD e = w95::InjectedFault("SetFileAttributesA"))
        return FailWithLastError(e);
    DWORD error = ERROR_SUCCESS;
    std::optional<HostEntry> entry = Lookup(lpFileName, &error);
    if (!entry) return FailWithLastError(error);
    if (!entry->exists) return FailWithLastError(ERROR_FILE_NOT_FOUND);
    mode_t mode =
        w95::ModeWithAttributes(entry->st.st_mode, dwFileAttributes) & 07777;
    if (w95::HostChmod(entry->path.c_str(), mode) != 0) {
        return FailWithLastError(w95::ErrorFromErrno(errno));
    }
    if (w95::DiskCache *disk = w95::TrackedDisk())
        disk->ChangedMode(entry->path, entry->st.st_mode & 07777,
                          w95::DriveOfHostPath(entry->path));
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (DWORD e = w95::InjectedFault("GetFileAttributesA")) {
        SetLastError(e);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (NamesDevice(lpFileName)) return FILE_ATTRIBUTE_ARCHIVE;
    DWORD error = ERROR_SUCCESS;
    std::optional<HostEntry> entry = Lookup(lpFileName, &error);
    if (!entry) {
        SetLastError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!entry->exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    // "C:\FILE.TXT" is a folder's name: there is no such folder.
    if (!S_ISDIR(entry->st.st_mode) && EndsInSeparator(lpFileName)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return w95::AttributesOf(entry->st);
}

}  // extern "C"
