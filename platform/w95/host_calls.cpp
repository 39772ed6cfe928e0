// The wrappers of the host system calls: each asks the fault plan of
// W95_HOST_FAIL first, then makes the call.
#include "host_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

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

HostFaults &Faults() {
    static HostFaults faults;
    return faults;
}

// Counts this call of `call` and tells whether it must fail; errno is then
// set.
bool Fails(HostCall call) {
    HostFaults &faults = Faults();
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
    Faults() = HostFaults{std::move(rules), {}, report};
}

int HostOpen(const char *path, int flags, mode_t mode) {
    if (Fails(HostCall::open)) return -1;
    return ::open(path, flags, mode);
}

ssize_t HostRead(int fd, void *buffer, std::size_t count) {
    if (Fails(HostCall::read)) return -1;
    return ::read(fd, buffer, count);
}

ssize_t HostPread(int fd, void *buffer, std::size_t count, off_t offset) {
    if (Fails(HostCall::pread)) return -1;
    return ::pread(fd, buffer, count, offset);
}

ssize_t HostWrite(int fd, const void *buffer, std::size_t count) {
    if (Fails(HostCall::write)) return -1;
    return ::write(fd, buffer, count);
}

ssize_t HostPwrite(int fd, const void *buffer, std::size_t count,
                   off_t offset) {
    if (Fails(HostCall::pwrite)) return -1;
    return ::pwrite(fd, buffer, count, offset);
}

int HostFsync(int fd) {
    if (Fails(HostCall::fsync)) return -1;
    return ::fsync(fd);
}

int HostFdatasync(int fd) {
    if (Fails(HostCall::fdatasync)) return -1;
    return ::fdatasync(fd);
}

int HostClose(int fd) {
    if (Fails(HostCall::close)) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return ::close(fd);
}

int HostRename(const char *from, const char *to) {
    if (Fails(HostCall::rename)) return -1;
    return ::rename(from, to);
}

int HostUnlink(const char *path) {
    if (Fails(HostCall::unlink)) return -1;
    return ::unlink(path);
}

int HostMkdir(const char *path, mode_t mode) {
    if (Fails(HostCall::mkdir)) return -1;
    return ::mkdir(path, mode);
}

int HostRmdir(const char *path) {
    if (Fails(HostCall::rmdir)) return -1;
    return ::rmdir(path);
}

int HostStat(const char *path, struct stat *st) {
    if (Fails(HostCall::stat)) return -1;
    return ::stat(path, st);
}

int HostLstat(const char *path, struct stat *st) {
    if (Fails(HostCall::lstat)) return -1;
    return ::lstat(path, st);
}

int HostFstat(int fd, struct stat *st) {
    if (Fails(HostCall::fstat)) return -1;
    return ::fstat(fd, st);
}

int HostFtruncate(int fd, off_t length) {
    if (Fails(HostCall::ftruncate)) return -1;
    return ::ftruncate(fd, length);
}

int HostFutimens(int fd, const struct timespec times[2]) {
    if (Fails(HostCall::futimens)) return -1;
    return ::futimens(fd, times);
}

int HostFchmod(int fd, mode_t mode) {
    if (Fails(HostCall::fchmod)) return -1;
    return ::fchmod(fd, mode);
}

int HostChmod(const char *path, mode_t mode) {
    if (Fails(HostCall::chmod)) return -1;
    return ::chmod(path, mode);
}

DIR *HostOpendir(const char *path) {
    if (Fails(HostCall::opendir)) return nullptr;
    return ::opendir(path);
}

struct dirent *HostReaddir(DIR *dir) {
    if (Fails(HostCall::readdir)) return nullptr;
    return ::readdir(dir);
}

std::optional<HostCall> HostCallNamedIgnoringCase(std::string_view name) {
    for (std::size_t i = 0; i < kHostCallCount; ++i)
        if (EqualsIgnoringAsciiCase(kHostCallNames[i], name))
            return static_cast<HostCall>(i);
    return std::nullopt;
}

}  // namespace w95
