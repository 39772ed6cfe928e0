// The one emulated process and its reset.
#include "emulated_process.h"

#include "host_calls.h"

namespace w95 {

bool OpenFiles::IsOpen(const struct stat &st) const {
    for (const OpenFile *file : open_)
        if (file->device == st.st_dev && file->inode == st.st_ino) return true;
    return false;
}

void ResetEmulatedProcess() {
    std::unique_ptr<EmulatedProcess> old(CurrentProcess());
    CurrentProcess() = new EmulatedProcess;
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
