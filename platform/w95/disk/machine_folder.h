// What makes a folder a machine, and whether a run will be able to write
// the machine back, asked before anything runs on it.
#ifndef W95_MACHINE_FOLDER_H
#define W95_MACHINE_FOLDER_H

#include <filesystem>
#include <string>

namespace w95 {

// A folder is a machine when it holds machine.ini, registry.reg or a drive
// folder (drive_a/ ... drive_z/).
bool IsMachineFolder(const std::filesystem::path &directory);

// Throws EmulatorFailure unless `directory` is a machine; `shown` is the
// folder as the user named it, for the message.
void RequireMachineFolder(const std::filesystem::path &directory,
                          const std::string &shown);

// Throws EmulatorFailure when the registry could not be written back at the
// end of a run: the new registry.reg cannot be made beside the old one (the
// write-back's own temporary file is made and removed to find out), or an
// existing registry.reg cannot be replaced. Call it holding the machine's
// lock, since the write-back of another run uses the same temporary name.
void RequireWritableRegistry(const std::filesystem::path &directory,
                             const std::string &shown);

}  // namespace w95

#endif
