// Fuzz target of parlod's win.ini clean-up: the input is win.ini, cleaned
// as parlod cleans it. Whatever the file, win.ini is still there afterwards
// and no work file is left beside it; for a plain text file (lines of LF,
// none too long, no CR, NUL or Ctrl-Z) the result is the file with the
// first start-up entry of each line taken out, in CR LF lines.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz_check.h"
#include "parlod_state.h"
#include "startup_entry.h"
#include "temp_machine.h"

namespace {

const std::string kEntry = "c:\\veltrane\\parlod";

// What the clean-up makes of a plain text file.
bool IsPlain(const std::string &text) {
    std::size_t lineLength = 0;
    for (char c : text) {
        if (c == '\r' || c == '\0' || c == '\x1a') return false;
        lineLength = c == '\n' ? 0 : lineLength + 1;
        if (lineLength >= TEXT_SIZE - 2) return false;
    }
    return true;
}

std::string Cleaned(const std::string &text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        bool lineEnd = end != std::string::npos;
        std::string line =
            text.substr(start, lineEnd ? end - start : std::string::npos);
        std::size_t found = line.find(kEntry);
        if (found != std::string::npos) line.erase(found, kEntry.size());
        out += line;
        if (lineEnd) out += "\r\n";
        start = lineEnd ? end + 1 : text.size();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    static fuzz::TempMachine machine;
    std::string text(reinterpret_cast<const char *>(data), size);
    lstrcpyA(StartupEntry, kEntry.c_str());
    // The clean-up renames its copy to "win.ini": the name's case may change.
    std::filesystem::path windows = machine.Host("drive_c/WINDOWS");
    for (const auto &entry : std::filesystem::directory_iterator(windows))
        if (!entry.is_directory()) std::filesystem::remove(entry.path());
    machine.Write("drive_c/WINDOWS/WIN.INI", text);
    RemoveStartupEntry();

    std::string name;
    for (const auto &entry : std::filesystem::directory_iterator(windows)) {
        if (entry.is_directory()) continue;
        FUZZ_CHECK(name.empty());
        name = entry.path().filename().string();
    }
    FUZZ_CHECK(lstrcmpiA(name.c_str(), "win.ini") == 0);
    if (IsPlain(text)) {
        FUZZ_CHECK(machine.Read("drive_c/WINDOWS/" + name) == Cleaned(text));
    }
    return 0;
}
