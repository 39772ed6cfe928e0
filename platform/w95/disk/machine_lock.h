// The machine's lock: machine.lock in the machine folder, a POSIX record
// lock on it. A run and every w95 command that writes the machine hold it
// alone; commands that only read share it. Whoever holds it writes "PID
// NAME" into the file, so that one who waits can say for whom.
//
// The lock belongs to the process that took it and ends with it, however it
// ends (a crash or an injected power loss included); child processes do not
// inherit it.
#ifndef W95_MACHINE_LOCK_H
#define W95_MACHINE_LOCK_H

#include <filesystem>
#include <string>

namespace w95 {

enum class MachineUse {
    Read,   // shared with other readers
    Write,  // alone
};

// How long one waits for a held machine: W95_LOCK_WAIT seconds (a
// non-negative number, fractions allowed), 30 without it. Throws
// EmulatorFailure for a value that is not such a number.
double LockWaitSeconds();

// The name of the lock file in a machine folder.
inline constexpr const char *kMachineLockFile = "machine.lock";

class MachineLock {
  public:
    MachineLock() = default;
    // Takes the lock of the machine in `directory` for `use`. When another
    // process holds it, says once on standard error who does ("w95: machine
    // SHOWN is in use by NAME (pid N); waiting...") and waits for up to
    // `waitSeconds`. `holder` is what others are told holds it. Throws
    // EmulatorFailure when the wait runs out or the lock file cannot be
    // made; a reader on a machine whose folder cannot take the lock file
    // goes on without it, since nothing can write that machine either.
    MachineLock(const std::filesystem::path &directory, MachineUse use,
                const std::string &holder, const std::string &shown,
                double waitSeconds);
    ~MachineLock();
    MachineLock(MachineLock &&other) noexcept;
    MachineLock &operator=(MachineLock &&other) noexcept;
    MachineLock(const MachineLock &) = delete;
    MachineLock &operator=(const MachineLock &) = delete;

    // Lets go of the lock now.
    void Release();

  private:
    int fd_ = -1;
};

}  // namespace w95

#endif
