// A temporary emulated machine for the fuzz targets that need one: made once
// per process from the example machine's registry, loaded as this process's
// machine, and removed at exit. Targets rewrite its files per input.
#ifndef FUZZ_TEMP_MACHINE_H
#define FUZZ_TEMP_MACHINE_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "machine.h"

namespace fuzz {

class TempMachine {
  public:
    TempMachine() {
        std::string name =
            (std::filesystem::temp_directory_path() / "kit-fuzz-XXXXXX")
                .string();
        if (!::mkdtemp(name.data())) std::abort();
        directory_ = name;
        std::filesystem::copy_file(std::filesystem::path(KIT_SOURCE_DIR) /
                                       "examples/machine/registry.reg",
                                   directory_ / "registry.reg");
        std::filesystem::create_directories(directory_ / "drive_c/WINDOWS/INF");
        std::filesystem::create_directories(directory_ / "drive_c/VELTRANE");
        w95::LoadMachine(directory_);
    }
    TempMachine(const TempMachine &) = delete;
    TempMachine &operator=(const TempMachine &) = delete;
    ~TempMachine() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    // The host file under the machine's folder, e.g. "drive_c/WINDOWS".
    std::filesystem::path Host(std::string_view relative) const {
        return directory_ / relative;
    }

    void Write(std::string_view relative, std::string_view bytes) const {
        std::ofstream out(Host(relative), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) std::abort();
    }

    std::string Read(std::string_view relative) const {
        std::ifstream in(Host(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::filesystem::path directory_;
};

}  // namespace fuzz

#endif
