// What makes a folder a machine, and whether a run can write it back.
#include "machine_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "emulator_error.h"
#include "host_calls.h"

namespace w95 {

namespace fs = std::filesystem;

bool IsMachineFolder(const fs::path &directory) {
    struct stat st {};
    for (const char *file : {"machine.ini", "registry.reg"})
        if (RawStat((directory / file).c_str(), &st) == 0) return true;
    for (char letter = 'a'; letter <= 'z'; ++letter)
        if (RawStat((directory / (std::string("drive_") + letter)).c_str(),
                    &st) == 0 &&
            S_ISDIR(st.st_mode))
            return true;
    return false;
}

void RequireMachineFolder(const fs::path &directory, const std::string &shown) {
    struct stat st {};
    if (RawStat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
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
    int fd = RawOpen(temporary.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) refuse(temporary, errno);
    RawClose(fd);
    if (RawUnlink(temporary.c_str()) != 0) refuse(temporary, errno);
    if (RawAccess(registry.c_str(), F_OK) == 0 &&
        RawAccess(registry.c_str(), W_OK) != 0)
        refuse(registry, errno);
}

}  // namespace w95
