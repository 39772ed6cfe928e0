// Fuzz target of parlod's parameter file reader: the input is
// c:\veltrane\parlod.ini on a machine with the example's two controllers,
// read as parlod reads it; its first line is also scanned as a command line
// and as a header line on their own.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "parameter_file.h"
#include "parlod_state.h"
#include "program_flow.h"
#include "temp_machine.h"

namespace {

void ResetState() {
    ReleaseChannelEntries();
    RunOptions = 0;
    LoadStatus = 0;
    ControllerCount = 0;
    ChannelOptionsOverride = 0;
    lstrcpyA(ParameterFilePath, "c:\\veltrane\\parlod.ini");
    lstrcpyA(DeviceClass, "hdc");
    lstrcpyA(PrimaryDescription, "Primary QVR Bus Master IDE controller");
    lstrcpyA(SecondaryDescription, "Secondary QVR Bus Master IDE controller");
    lstrcpyA(StartupEntry, "c:\\veltrane\\parlod");
}

// The scanned texts stay within their buffers.
void CheckTexts() {
    for (const char *text : {ParameterFilePath, DeviceClass, PrimaryDescription,
                             SecondaryDescription, StartupEntry}) {
        FUZZ_CHECK(std::memchr(text, '\0', TEXT_SIZE) != nullptr);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    static fuzz::TempMachine machine;
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string firstLine =
        text.substr(0, text.find_first_of(std::string("\n\0", 2)));

    ResetState();
    ScanCommandLine(firstLine.c_str());
    CheckTexts();
    ResetState();
    ScanHeaderSwitches(firstLine.c_str());
    CheckTexts();

    ResetState();
    machine.Write("drive_c/VELTRANE/parlod.ini", text);
    ReadParameterFile("");
    CheckTexts();
    FUZZ_CHECK(PrimaryCount >= 0 && SecondaryCount >= 0);
    ResetState();
    return 0;
}
