// Ending a run on an error of the emulation itself before the program
// starts.
#include "emulator_error.h"

#include <cstdio>
#include <unistd.h>

namespace w95 {

void EmulatorError(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "w95: %s\n", message.c_str());
    std::fflush(stderr);
    // _exit, not exit: the exit handlers would write the machine back.
    _exit(3);
}

}  // namespace w95
