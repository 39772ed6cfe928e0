// The machine's lock file and who holds it.
#include "machine_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "emulator_error.h"

namespace w95 {

namespace {

namespace fs = std::filesystem;

constexpr double kDefaultWait = 30;
// Readers add their line to those of the others; a file grown past this
// starts again.
constexpr std::size_t kMaxLockText = 4096;

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

// The pid of a process whose lock keeps `use` from being taken, or 0 when
// none does any more.
pid_t Blocker(int fd, MachineUse use) {
    struct flock lock = WholeFile(use == MachineUse::Write ? F_WRLCK : F_RDLCK);
    if (fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return 0;
    return lock.l_pid;
}

// What holds the lock: the name its holder wrote into the file next to
// its pid, else the name the system has for the process.
std::string HolderName(int fd, pid_t pid) {
    std::string text(kMaxLockText, '\0');
    ssize_t n = pread(fd, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    std::istringstream lines(text);
    std::string line;
    std::string prefix = std::to_string(pid) + " ";
    std::string named;  // the latest line of that pid
    while (std::getline(lines, line))
        if (line.size() > prefix.size() && line.rfind(prefix, 0) == 0)
            named = line.substr(prefix.size());
    if (!named.empty()) return named;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(comm, name) && !name.empty()) return name;
    return "another process";
}

std::string SecondsText(double seconds) {
    std::ostringstream text;
    text << seconds;
    return text.str() + (seconds == 1 ? " second" : " seconds");
}

}  // namespace

double LockWaitSeconds() {
    const char *value = std::getenv("W95_LOCK_WAIT");
    if (!value || !*value) return kDefaultWait;
    // Digits and a point only: no sign, exponent, "inf" or "nan".
    bool plain = std::strspn(value, "0123456789.") == std::strlen(value);
    char *end = nullptr;
    errno = 0;
    double seconds = std::strtod(value, &end);
    if (!plain || errno != 0 || *end != '\0' || std::isinf(seconds))
        throw EmulatorFailure("W95_LOCK_WAIT '" + std::string(value) +
                              "' is not a number of seconds");
    return seconds;
}

MachineLock::MachineLock(const fs::path &directory, MachineUse use,
                         const std::string &holder, const std::string &shown,
                         double waitSeconds) {
    fs::path file = directory / kMachineLockFile;
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    bool writable = fd >= 0;
    if (fd < 0 && use == MachineUse::Read) {
        int error = errno;
        fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        // No lock file and none can be made: no one can take the lock to
        // write this machine, so reading it needs none.
        if (fd < 0 && (error == EACCES || error == EROFS || error == EPERM))
            return;
    }
    if (fd < 0)
        throw EmulatorFailure("cannot lock machine '" + shown +
                              "': cannot open " + file.string() + ": " +
                              std::strerror(errno));
    fd_ = fd;

    auto start = std::chrono::steady_clock::now();
    auto pause = std::chrono::milliseconds(5);
    bool told = false;
    std::string lastHolder;
    for (;;) {
        struct flock lock =
            WholeFile(use == MachineUse::Write ? F_WRLCK : F_RDLCK);
        if (fcntl(fd_, F_SETLK, &lock) == 0) break;
        if (errno != EACCES && errno != EAGAIN && errno != EINTR) {
            int error = errno;
            Release();
            throw EmulatorFailure("cannot lock machine '" + shown +
                                  "': " + std::strerror(error));
        }
        if (pid_t pid = Blocker(fd_, use); pid != 0) {
            lastHolder =
                HolderName(fd_, pid) + " (pid " + std::to_string(pid) + ")";
            if (!told) {
                std::fprintf(stderr,
                             "w95: machine %s is in use by %s; waiting...\n",
                             shown.c_str(), lastHolder.c_str());
                std::fflush(stderr);
                told = true;
            }
        }
        std::chrono::duration<double> waited =
            std::chrono::steady_clock::now() - start;
        if (waited.count() >= waitSeconds) {
            Release();
            throw EmulatorFailure(
                "machine " + shown + " is still in use" +
                (lastHolder.empty() ? "" : " by " + lastHolder) + " after " +
                SecondsText(waitSeconds) +
                " (W95_LOCK_WAIT); nothing was changed");
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
    if (writable) {
        std::string text = std::to_string(getpid()) + " " + holder + "\n";
        // Only a hint for those who wait: a failure to write it is no
        // reason to give up the lock. One who holds the lock alone is the
        // only one in the file; readers add theirs (appends of one write
        // each do not mix).
        struct stat st;
        bool anew = use == MachineUse::Write ||
                    (fstat(fd_, &st) == 0 &&
                     static_cast<std::size_t>(st.st_size) > kMaxLockText);
        if (!anew || ftruncate(fd_, 0) == 0) {
            ssize_t written = write(fd_, text.data(), text.size());
            (void)written;
        }
    }
}

MachineLock::~MachineLock() { Release(); }

MachineLock::MachineLock(MachineLock &&other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

MachineLock &MachineLock::operator=(MachineLock &&other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void MachineLock::Release() {
    if (fd_ < 0) return;
    // Closing the file ends every lock this process holds on it.
    close(fd_);
    fd_ = -1;
}

}  // namespace w95
