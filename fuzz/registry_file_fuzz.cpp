// Fuzz target of the registry file reader of `w95 reg import`: any bytes
// (REGEDIT4 or "Windows Registry Editor Version 5.00", in UTF-16LE, UTF-8 or
// Windows-1252) are imported into an empty registry or refused; a registry
// that was read is written out as REGEDIT4, and that file gives the same
// registry again, read as registry.reg is read. Read by the import again it
// does too when it is plain ASCII: a Windows-1252 file whose bytes happen to
// be well-formed UTF-8 is taken as UTF-8 there, by design.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "emulator_error.h"
#include "fuzz_check.h"
#include "registry_round_trip.h"
#include "registry_store.h"
#include "tool.h"

namespace {

// The registry that the reader makes of `bytes`, or false for a file it
// refuses.
bool Import(const std::string &bytes, const char *source,
            w95::Registry *registry) {
    try {
        registry->ImportText(tool::RegistryFileAsRegedit4(bytes, source),
                             source);
        return true;
    } catch (const w95::EmulatorFailure &) {
        return false;
    } catch (const tool::Failure &) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    w95::Registry first;
    if (!Import(bytes, "input", &first)) return 0;
    std::string written = fuzz::CheckRegedit4RoundTrip(first);
    bool ascii = std::all_of(written.begin(), written.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    });
    if (ascii) {
        w95::Registry third;
        FUZZ_CHECK(Import(written, "written", &third));
        FUZZ_CHECK(third.ExportText("") == written);
    }
    return 0;
}
