// Fuzz target of the machine.ini reader: any text gives settings or is
// refused with EmulatorFailure, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator_error.h"
#include "machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    try {
        w95::ParseMachineIni(text, "machine.ini");
    } catch (const w95::EmulatorFailure &) {
    }
    return 0;
}
