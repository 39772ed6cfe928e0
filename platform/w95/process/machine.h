// Loading the emulated machine: its directory, its settings from machine.ini,
// its start directory, and writing it back at the end of the run.
#ifndef W95_MACHINE_H
#define W95_MACHINE_H

#include <windows.h>

#include <filesystem>
#include <string>

#include "emulated_process.h"

namespace w95 {

// Makes `directory` the machine of this process: reads its machine.ini
// (absent means the defaults) and, unless `registry` is false (a caller
// that only looks at the machine's files), its registry, and starts the
// clock. Throws EmulatorFailure for a missing or malformed machine,
// leaving the previous machine in place.
void LoadMachine(const std::filesystem::path &directory, bool registry = true);

// Makes `windowsPath` ("A:", "C:\WINDOWS") the current directory; throws
// EmulatorFailure when it is not an absolute path of an existing folder.
void SetStartDirectory(const std::string &windowsPath);

// Parses the text of a machine.ini; `source` names it in error messages.
// Throws EmulatorFailure on a malformed line or value.
MachineSettings ParseMachineIni(const std::string &text,
                                const std::string &source);

// The registry and everything else that a normal end of the program writes
// back to the machine directory.
void WriteBackMachine();

}  // namespace w95

#endif
