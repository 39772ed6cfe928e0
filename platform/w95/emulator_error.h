// Errors of the emulation itself, as opposed to Win32 failures that the
// program sees: a machine that cannot be loaded, a malformed setting, an
// answer that does not fit its message box, a registry that cannot be
// written back.
#ifndef W95_EMULATOR_ERROR_H
#define W95_EMULATOR_ERROR_H

#include <stdexcept>
#include <string>

namespace w95 {

// Thrown by parsers so that tests can look at the message; the run turns it
// into EmulatorError.
struct EmulatorFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Before the program starts: prints "w95: <message>" on standard error and
// ends the run with exit code 3, writing nothing to the machine.
[[noreturn]] void EmulatorError(const std::string &message);

// While the program runs: prints "w95: <message>" on standard error and
// remembers it. The program runs on to its end (its own clean-up included);
// the run then ends with exit code 3 (RunExitCode).
void ReportRunError(const std::string &message);

// The exit code of a run whose program ends with `status`: 3 once an error
// was reported, else `status`.
int RunExitCode(int status);

}  // namespace w95

#endif
