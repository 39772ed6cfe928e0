// Fuzz target of setup's INF key search: the input is the only oem INF of a
// temporary machine, and FindInfWithKey looks in it for each chip's
// description key. It finds the file exactly when the text before its first
// NUL holds the key.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "setup_state.h"
#include "temp_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    static fuzz::TempMachine machine;
    std::string text(reinterpret_cast<const char *>(data), size);
    machine.Write("drive_c/WINDOWS/INF/OEM0.INF", text);
    std::string plain = text.substr(0, text.find('\0'));
    for (const char *key : {"%PCI\\VEN_7A3C&DEV_0528.DeviceDesc%=",
                            "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%="}) {
        char path[PATH_SIZE] = "C:\\WINDOWS\\INF\\oem*.inf";
        int count = 0;
        bool found = FindInfWithKey(key, path, &count);
        FUZZ_CHECK(count == 1);
        FUZZ_CHECK(found == (plain.find(key) != std::string::npos));
        FUZZ_CHECK(found == InfTextHoldsKey(text.c_str(), key));
        if (found)
            FUZZ_CHECK(lstrcmpiA(path, "C:\\WINDOWS\\INF\\OEM0.INF") == 0);
    }
    return 0;
}
