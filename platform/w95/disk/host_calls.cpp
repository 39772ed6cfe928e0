// The wrappers of the host system calls: each asks the fault plan of
// W95_HOST_FAIL first, then makes the call.
#include "host_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "memory_disk.h"
#include "text_helpers.h"

namespace w95 {

namespace {

// The plan of the run and the calls so far. Kept here rather than with the
// emulated process, whose files use these calls.
struct HostFaults {
    std::vector<HostFaultRule> plan;
    std::array<unsigned long, kHostCallCount> counts{};  // by HostCall
    HostFaultReport report = nullptr;
};

HostFaults &HostPlan() {
    static HostFaults faults;
    return faults;
}

// Counts this call of `call` and tells whether it must fail; errno is then
// set.
bool Fails(HostCall call) {
    HostFaults &faults = HostPlan();
    if (faults.plan.empty()) return false;
    unsigned long n = ++faults.counts[static_cast<std::size_t>(call)];
    for (const HostFaultRule &rule : faults.plan) {
        if (rule.call != call || (rule.nth != 0 && rule.nth != n)) continue;
        if (faults.report != nullptr) faults.report(call, n, rule.error);
        errno = rule.error;
        return true;
    }
    return false;
}

}  // namespace

void SetHostFaultRules(std::vector<HostFaultRule> rules,
                       HostFaultReport report) {
    HostPlan() = HostFaults{std::move(rules), {}, report};
}

namespace {

// The memory disk that serves `path`, or null for the host.
MemoryDisk *DiskOf(const char *path) {
    MemoryDisk *disk = ActiveMemoryDisk();
    return disk && disk->Owns(path) ? disk : nullptr;
}

MemoryDisk *DiskOf(int fd) {
    MemoryDisk *disk = ActiveMemoryDisk();
    return disk && MemoryDisk::OwnsFd(fd) ? disk : nullptr;
}

MemoryDisk *DiskOf(DIR *dir) {
    MemoryDisk *disk = ActiveMemoryDisk();
    return disk && disk->OwnsDir(dir) ? disk : nullptr;
}

}  // namespace

bool OnMemoryDisk() { return ActiveMemoryDisk() != nullptr; }

int RawOpen(const char *path, int flags, mode_t mode) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Open(path, flags, mode);
    return ::open(path, flags, mode);
}

ssize_t RawRead(int fd, void *buffer, std::size_t count) {
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Read(fd, buffer, count);
    return ::read(fd, buffer, count);
}

ssize_t RawPread(int fd, void *buffer, std::size_t count, off_t offset) {
    if (MemoryDisk *disk = DiskOf(fd))
        return disk->Pread(fd, buffer, count, offset);
    return ::pread(fd, buffer, count, offset);
}

ssize_t RawWrite(int fd, const void *buffer, std::size_t count) {
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Write(fd, buffer, count);
    return ::write(fd, buffer, count);
}

ssize_t RawPwrite(int fd, const void *buffer, std::size_t count, off_t offset) {
    if (MemoryDisk *disk = DiskOf(fd))
        return disk->Pwrite(fd, buffer, count, offset);
    return ::pwrite(fd, buffer, count, offset);
}

int RawClose(int fd) {
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Close(fd);
    return ::close(fd);
}

int RawRename(const char *from, const char *to) {
    MemoryDisk *disk = DiskOf(from);
    if (disk != DiskOf(to)) return errno = EXDEV, -1;
    if (disk) return disk->Rename(from, to);
    return ::rename(from, to);
}

int RawUnlink(const char *path) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Unlink(path);
    return ::unlink(path);
}

int RawMkdir(const char *path, mode_t mode) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Mkdir(path, mode);
    return ::mkdir(path, mode);
}

int RawRmdir(const char *path) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Rmdir(path);
    return ::rmdir(path);
}

int RawStat(const char *path, struct stat *st) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Stat(path, st);
    return ::stat(path, st);
}

int RawLstat(const char *path, struct stat *st) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Stat(path, st);
    return ::lstat(path, st);
}

int RawFstat(int fd, struct stat *st) {
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Fstat(fd, st);
    return ::fstat(fd, st);
}

int RawFchmod(int fd, mode_t mode) {
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Fchmod(fd, mode);
    return ::fchmod(fd, mode);
}

int RawChmod(const char *path, mode_t mode) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Chmod(path, mode);
    return ::chmod(path, mode);
}

int RawAccess(const char *path, int mode) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Access(path, mode);
    return ::access(path, mode);
}

DIR *RawOpendir(const char *path) {
    if (MemoryDisk *disk = DiskOf(path)) return disk->Opendir(path);
    return ::opendir(path);
}

struct dirent *RawReaddir(DIR *dir) {
    if (MemoryDisk *disk = DiskOf(dir)) return disk->Readdir(dir);
    return ::readdir(dir);
}

int RawClosedir(DIR *dir) {
    if (MemoryDisk *disk = DiskOf(dir)) return disk->Closedir(dir);
    return ::closedir(dir);
}

int HostOpen(const char *path, int flags, mode_t mode) {
    if (Fails(HostCall::open)) return -1;
    return RawOpen(path, flags, mode);
}

ssize_t HostRead(int fd, void *buffer, std::size_t count) {
    if (Fails(HostCall::read)) return -1;
    return RawRead(fd, buffer, count);
}

ssize_t HostPread(int fd, void *buffer, std::size_t count, off_t offset) {
    if (Fails(HostCall::pread)) return -1;
    return RawPread(fd, buffer, count, offset);
}

ssize_t HostWrite(int fd, const void *buffer, std::size_t count) {
    if (Fails(HostCall::write)) return -1;
    return RawWrite(fd, buffer, count);
}

ssize_t HostPwrite(int fd, const void *buffer, std::size_t count,
                   off_t offset) {
    if (Fails(HostCall::pwrite)) return -1;
    return RawPwrite(fd, buffer, count, offset);
}

int HostFsync(int fd) {
    if (Fails(HostCall::fsync)) return -1;
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Sync(fd);
    return ::fsync(fd);
}

int HostFdatasync(int fd) {
    if (Fails(HostCall::fdatasync)) return -1;
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Sync(fd);
    return ::fdatasync(fd);
}

int HostClose(int fd) {
    if (Fails(HostCall::close)) {
        int error = errno;
        RawClose(fd);
        errno = error;
        return -1;
    }
    return RawClose(fd);
}

int HostRename(const char *from, const char *to) {
    if (Fails(HostCall::rename)) return -1;
    return RawRename(from, to);
}

int HostUnlink(const char *path) {
    if (Fails(HostCall::unlink)) return -1;
    return RawUnlink(path);
}

int HostMkdir(const char *path, mode_t mode) {
    if (Fails(HostCall::mkdir)) return -1;
    return RawMkdir(path, mode);
}

int HostRmdir(const char *path) {
    if (Fails(HostCall::rmdir)) return -1;
    return RawRmdir(path);
}

int HostStat(const char *path, struct stat *st) {
    if (Fails(HostCall::stat)) return -1;
    return RawStat(path, st);
}

int HostLstat(const char *path, struct stat *st) {
    if (Fails(HostCall::lstat)) return -1;
    return RawLstat(path, st);
}

int HostFstat(int fd, struct stat *st) {
    if (Fails(HostCall::fstat)) return -1;
    return RawFstat(fd, st);
}

int HostFtruncate(int fd, off_t length) {
    if (Fails(HostCall::ftruncate)) return -1;
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Ftruncate(fd, length);
    return ::ftruncate(fd, length);
}

int HostFutimens(int fd, const struct timespec times[2]) {
    if (Fails(HostCall::futimens)) return -1;
    if (MemoryDisk *disk = DiskOf(fd)) return disk->Futimens(fd, times);
    return ::futimens(fd, times);
}

int HostFchmod(int fd, mode_t mode) {
    if (Fails(HostCall::fchmod)) return -1;
    return RawFchmod(fd, mode);
}

int HostChmod(const char *path, mode_t mode) {
    if (Fails(HostCall::chmod)) return -1;
    return RawChmod(path, mode);
}

DIR *HostOpendir(const char *path) {
    if (Fails(HostCall::opendir)) return nullptr;
    return RawOpendir(path);
}

struct dirent *HostReaddir(DIR *dir) {
    if (Fails(HostCall::readdir)) return nullptr;
    return RawReaddir(dir);
}

int HostClosedir(DIR *dir) { return RawClosedir(dir); }

std::optional<HostCall> HostCallNamedIgnoringCase(std::string_view name) {
    for (std::size_t i = 0; i < kHostCallCount; ++i)
        if (EqualsIgnoringAsciiCase(kHostCallNames[i], name))
            return static_cast<HostCall>(i);
    return std::nullopt;
}

}  // namespace w95
