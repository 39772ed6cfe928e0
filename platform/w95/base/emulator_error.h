// Errors of the emulation itself, as opposed to Win32 failures that the
// program sees: a machine that cannot be loaded, a malformed setting.
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

// A file of the machine that could not be written, with the host's errno.
struct WriteFailure : EmulatorFailure {
    WriteFailure(const std::string &message, int error)
        : EmulatorFailure(message), error(error) {}
    int error;
};

// Before the program starts: prints "w95: <message>" on standard error and
// ends the run with exit code 3, writing nothing to the machine.
[[noreturn]] void EmulatorError(const std::string &message);

// Errors met while the program runs do not end it: ReportRunError
// (emulated_process.h).

}  // namespace w95

#endif
