// Fuzz target of the REGEDIT4 reader: any text is imported into an empty
// registry or refused; a registry that was read is written out, and that
// file reads back to the same registry (the second write equals the first).
#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator_error.h"
#include "registry_round_trip.h"
#include "registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    w95::Registry first;
    try {
        first.ImportText(text, "input");
    } catch (const w95::EmulatorFailure &) {
        return 0;
    }
    fuzz::CheckRegedit4RoundTrip(first);
    return 0;
}
