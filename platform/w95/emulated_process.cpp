// The one emulated process and its reset.
#include "emulated_process.h"

#include "host_calls.h"
#include "host_files.h"

namespace w95 {

namespace {

// Never destroyed at exit: the exit handlers still write the machine back
// and record the end of the run after static objects are gone.
EmulatedProcess *&Current() {
    static EmulatedProcess *process = new EmulatedProcess;
    return process;
}

}  // namespace

bool OpenFiles::IsOpen(const struct stat &st) const {
    for (const auto &[handle, file] : files) {
        struct stat open {};
        if (::fstat(file->fd, &open) == 0 && SameFile(open, st)) return true;
    }
    return false;
}

EmulatedProcess &Process() { return *Current(); }

void ResetEmulatedProcess() {
    std::unique_ptr<EmulatedProcess> old(Current());
    Current() = new EmulatedProcess;
    SetHostFaultRules({}, nullptr);
}

Registry &MachineRegistry() { return Process().registry; }

void ReportRunError(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "w95: %s\n", message.c_str());
    std::fflush(stderr);
    Process().runErrors.push_back(message);
}

int RunExitCode(int status) { return Process().runErrors.empty() ? status : 3; }

}  // namespace w95
