// Fuzz target of the REGEDIT4 reader: any text is imported into an empty
// registry or refused; a registry that was read is written out, and that
// file reads back to the same registry (the second write equals the first).
#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator_error.h"
#include "fuzz_check.h"
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
    std::string written = first.ExportText("");
    w95::Registry second;
    try {
        second.ImportText(written, "written");
    } catch (const w95::EmulatorFailure &failure) {
        std::fprintf(stderr, "the written registry is refused: %s\n",
                     failure.what());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(second.ExportText("") == written);
    return 0;
}
