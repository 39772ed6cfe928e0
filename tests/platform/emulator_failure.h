// The message of the emulator error that an action raises.
#ifndef TESTS_PLATFORM_EMULATOR_FAILURE_H
#define TESTS_PLATFORM_EMULATOR_FAILURE_H

#include <functional>
#include <string>

#include "emulator_error.h"

// The message of the EmulatorFailure that `action` throws, or "<no failure>".
inline std::string FailureOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const w95::EmulatorFailure &e) {
        return e.what();
    }
    return "<no failure>";
}

#endif
