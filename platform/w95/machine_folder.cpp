// What makes a folder a machine, and whether a run can write it back.
#include "machine_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "emulator_error.h"

namespace w95 {

namespace fs = std::filesystem;

bool IsMachineFolder(const fs::path &directory) {
    std::error_code ec;
    for (const char *file : {"machine.ini", "registry.reg"})
        if (fs::exists(directory / file, ec)) return true;
    for (char letter = 'a'; letter <= 'z'; ++letter)
        if (fs::is_directory(directory / (std::string("drive_") + letter), ec))
            return true;
    return false;
}

void RequireMachineFolder(const fs::path &directory, const std::string &shown) {
    std::error_code ec;
    if (!fs::is_directory(directory, ec))
        throw EmulatorFailure("no machine at '" + shown +
                              "' (not a directory)");
    if (!IsMachineFolder(directory))
        throw EmulatorFailure("'" + shown +
                              "' is not a machine: it holds no machine.ini, "
                              "registry.reg or drive_?/ folder");
}

void RequireWritableRegistry(const fs::path &directory,
                             const std::string &shown) {
    fs::path registry = directory / "registry.reg";
    fs::path temporary = registry;
    temporary += ".w95-new";  // the name the write-back uses
    auto refuse = [&](const fs::path &file, int error) {
        throw EmulatorFailure("the registry of machine '" + shown +
                              "' could not be written back (cannot write " +
                              file.string() + ": " + std::strerror(error) +
                              "); the program was not started");
    };
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) refuse(temporary, errno);
    ::close(fd);
    if (::unlink(temporary.c_str()) != 0) refuse(temporary, errno);
    if (::access(registry.c_str(), F_OK) == 0 &&
        ::access(registry.c_str(), W_OK) != 0)
        refuse(registry, errno);
}

}  // namespace w95
