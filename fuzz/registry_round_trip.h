// The round trip both registry-file targets check: a registry that was read
// is written out as REGEDIT4, and that text reads back, as registry.reg is
// read, to the same registry (its second writing equals the first).
#ifndef FUZZ_REGISTRY_ROUND_TRIP_H
#define FUZZ_REGISTRY_ROUND_TRIP_H

#include <cstdio>
#include <string>

#include "emulator_error.h"
#include "fuzz_check.h"
#include "registry_store.h"

namespace fuzz {

// Checks the round trip of `registry` and gives back its REGEDIT4 text.
inline std::string CheckRegedit4RoundTrip(w95::Registry &registry) {
    std::string written = registry.ExportText("");
    w95::Registry second;
    try {
        second.ImportText(written, "written");
    } catch (const w95::EmulatorFailure &failure) {
        std::fprintf(stderr, "the written registry is refused: %s\n",
                     failure.what());
        FUZZ_CHECK(false);
    }
    FUZZ_CHECK(second.ExportText("") == written);
    return written;
}

}  // namespace fuzz

#endif
