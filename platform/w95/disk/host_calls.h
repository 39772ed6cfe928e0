// The host system calls that the emulation makes on the machine's files,
// listed once, each behind a wrapper that W95_HOST_FAIL can make fail: the
// emulation's own error paths (a full disk under WriteFile, a failed rename
// at the registry's write-back) are then tested like the programs' ones.
#ifndef W95_HOST_CALLS_H
#define W95_HOST_CALLS_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

// X(name): the host call's own name, which W95_HOST_FAIL takes.
#define W95_HOST_CALLS(X) \
    X(open)               \
    X(read)               \
    X(pread)              \
    X(write)              \
    X(pwrite)             \
    X(fsync)              \
    X(fdatasync)          \
    X(close)              \
    X(rename)             \
    X(unlink)             \
    X(mkdir)              \
    X(rmdir)              \
    X(stat)               \
    X(lstat)              \
    X(fstat)              \
    X(ftruncate)          \
    X(futimens)           \
    X(fchmod)             \
    X(chmod)              \
    X(opendir)            \
    X(readdir)            \
    /* end */

namespace w95 {

enum class HostCall {
#define W95_HOST_CALL_ENUM(name) name,
    W95_HOST_CALLS(W95_HOST_CALL_ENUM)
#undef W95_HOST_CALL_ENUM
};

// Indexed by HostCall.
inline constexpr std::string_view kHostCallNames[] = {
#define W95_HOST_CALL_NAME(name) #name,
    W95_HOST_CALLS(W95_HOST_CALL_NAME)
#undef W95_HOST_CALL_NAME
};

inline constexpr std::size_t kHostCallCount = std::size(kHostCallNames);

constexpr std::string_view NameOf(HostCall call) {
    return kHostCallNames[static_cast<std::size_t>(call)];
}

// One entry of W95_HOST_FAIL.
struct HostFaultRule {
    HostCall call;
    unsigned long nth;  // 0: every call
    int error;          // the errno the call fails with
};

// What is told of each failure the plan makes: the call, its number in the
// run and the errno (the transcript's HostFault event).
using HostFaultReport = void (*)(HostCall call, unsigned long n, int error);

// Replaces the plan and starts the counts afresh; an empty plan fails
// nothing. The emulation's reset forgets it too.
void SetHostFaultRules(std::vector<HostFaultRule> rules,
                       HostFaultReport report);

// The wrappers: each counts its call and, when the plan says so, fails as
// the host call fails (-1, or NULL for opendir and readdir, with errno set)
// without doing anything. A failing close still releases the descriptor,
// as the host's close does whatever it reports.
int HostOpen(const char *path, int flags, mode_t mode = 0);
ssize_t HostRead(int fd, void *buffer, std::size_t count);
ssize_t HostPread(int fd, void *buffer, std::size_t count, off_t offset);
ssize_t HostWrite(int fd, const void *buffer, std::size_t count);
ssize_t HostPwrite(int fd, const void *buffer, std::size_t count, off_t offset);
int HostFsync(int fd);
int HostFdatasync(int fd);
int HostClose(int fd);
int HostRename(const char *from, const char *to);
int HostUnlink(const char *path);
int HostMkdir(const char *path, mode_t mode);
int HostRmdir(const char *path);
int HostStat(const char *path, struct stat *st);
int HostLstat(const char *path, struct stat *st);
int HostFstat(int fd, struct stat *st);
int HostFtruncate(int fd, off_t length);
int HostFutimens(int fd, const struct timespec times[2]);
int HostFchmod(int fd, mode_t mode);
int HostChmod(const char *path, mode_t mode);
DIR *HostOpendir(const char *path);
// The next entry, or NULL at the end (errno untouched) or on a failure
// (errno set): callers clear errno before the call to tell them apart.
struct dirent *HostReaddir(DIR *dir);

// Closes a listing of HostOpendir.
int HostClosedir(DIR *dir);

// The same calls without the fault plan, for the emulation's bookkeeping
// (the disk model, name lookups, checks of the machine folder): on a path
// below the root of the run's memory disk (memory_disk.h), or one of its
// descriptors or listings, they are served from memory, else by the host.
int RawOpen(const char *path, int flags, mode_t mode = 0);
ssize_t RawRead(int fd, void *buffer, std::size_t count);
ssize_t RawPread(int fd, void *buffer, std::size_t count, off_t offset);
ssize_t RawWrite(int fd, const void *buffer, std::size_t count);
ssize_t RawPwrite(int fd, const void *buffer, std::size_t count, off_t offset);
int RawClose(int fd);
int RawRename(const char *from, const char *to);
int RawUnlink(const char *path);
int RawMkdir(const char *path, mode_t mode);
int RawRmdir(const char *path);
int RawStat(const char *path, struct stat *st);
int RawLstat(const char *path, struct stat *st);
int RawFstat(int fd, struct stat *st);
int RawFchmod(int fd, mode_t mode);
int RawChmod(const char *path, mode_t mode);
int RawAccess(const char *path, int mode);
DIR *RawOpendir(const char *path);
struct dirent *RawReaddir(DIR *dir);
int RawClosedir(DIR *dir);
// Whether the run's machine is a memory disk: there are no links in it,
// and its root is no host folder.
bool OnMemoryDisk();

// The host call with this name, in any case; nullopt for none.
std::optional<HostCall> HostCallNamedIgnoringCase(std::string_view name);

}  // namespace w95

#endif
