// The emulated machine: its directory, its settings from machine.ini and the
// state of the running program that more than one Win32 library shares.
#ifndef W95_MACHINE_H
#define W95_MACHINE_H

#include <windows.h>

#include <filesystem>
#include <string>

namespace w95 {

struct MachineSettings {
    DWORD version = 0xC3B60004;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string systemDirectory = "C:\\WINDOWS\\SYSTEM";
    std::string tempPath = "C:\\WINDOWS\\TEMP\\";
    std::string currentDirectory = "C:\\";
    DWORD tickCount = 0;
    bool virtualClock = false;
};

struct Machine {
    std::filesystem::path directory;  // absolute, symbolic links resolved
    MachineSettings settings;
    std::string programName;       // "parlod", "setup", ...
    std::string currentDirectory;  // Windows form, "C:\" or "A:\DISK1"
    bool restartRequested = false;
};

// The machine of this process. Valid after LoadMachine.
Machine &TheMachine();

// Makes `directory` the machine of this process: reads its machine.ini
// (absent means the defaults) and its registry, and starts the clock.
// Throws EmulatorFailure for a missing or malformed machine, leaving the
// previous machine in place.
void LoadMachine(const std::filesystem::path &directory);

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
