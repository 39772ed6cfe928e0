// The machines that commands name: refused unless they are machines, and
// locked for the rest of the command, shared for reading or alone for
// writing.
#include <list>

#include "emulator_error.h"
#include "machine_folder.h"
#include "machine_lock.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

std::string &CommandName() {
    static std::string name = "w95";
    return name;
}

w95::MachineLock Lock(const std::string &dir, w95::MachineUse use) {
    try {
        return w95::MachineLock(MachineFolder(dir), use, CommandName(), dir,
                                w95::LockWaitSeconds());
    } catch (const w95::EmulatorFailure &e) {
        throw Failure(e.what());
    }
}

fs::path LockedMachine(const std::string &dir, w95::MachineUse use) {
    // Kept until the process ends: a command holds its machines to the end.
    static std::list<w95::MachineLock> held;
    held.push_back(Lock(dir, use));
    return fs::absolute(dir);
}

}  // namespace

void SetCommandName(const std::string &name) { CommandName() = name; }

fs::path MachineFolder(const std::string &dir) {
    try {
        w95::RequireMachineFolder(dir, dir);
    } catch (const w95::EmulatorFailure &e) {
        throw Failure(e.what());
    }
    return fs::absolute(dir);
}

fs::path ExistingMachine(const std::string &dir) {
    return LockedMachine(dir, w95::MachineUse::Read);
}

fs::path WritableMachine(const std::string &dir) {
    return LockedMachine(dir, w95::MachineUse::Write);
}

w95::MachineLock ReadingLock(const std::string &dir) {
    return Lock(dir, w95::MachineUse::Read);
}

w95::MachineLock WritingLock(const std::string &dir) {
    return Lock(dir, w95::MachineUse::Write);
}

}  // namespace tool
