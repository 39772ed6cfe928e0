// Ending a run on an error of the emulation itself, at once before the
// program starts, or with exit code 3 at its end once it runs.
#include "emulator_error.h"

#include <cstdio>
#include <unistd.h>

#include "emulated_process.h"

namespace w95 {

void EmulatorError(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "w95: %s\n", message.c_str());
    std::fflush(stderr);
    // _exit, not exit: the exit handlers would write the machine back.
    _exit(3);
}

void ReportRunError(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "w95: %s\n", message.c_str());
    std::fflush(stderr);
    Process().runErrors.push_back(message);
}

int RunExitCode(int status) { return Process().runErrors.empty() ? status : 3; }

}  // namespace w95
