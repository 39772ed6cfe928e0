// The w95 tool: commands that work on emulated machines from outside a
// program run (making, booting, comparing, registry text in and out).
#ifndef TOOLS_W95_TOOL_H
#define TOOLS_W95_TOOL_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry_store.h"

namespace tool {

// Exit codes of the tool.
constexpr int kOk = 0;
constexpr int kDifferent = 1;  // `diff` found differences
constexpr int kUsage = 2;
constexpr int kFailed = 3;

// A command that cannot be carried out; main() prints "w95: <what>" and
// ends with kFailed.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line that does not fit; main() prints the message and the usage
// and ends with kUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Arguments = std::vector<std::string>;

int NewMachine(const Arguments &args);
int BootMachine(const Arguments &args);
int DiffMachines(const Arguments &args);
int RegistryCommand(const Arguments &args);

// The folder that holds the tool itself (build/bin): the native programs
// lie next to it.
std::filesystem::path ToolDirectory();

// A machine directory that exists, made absolute; Failure otherwise.
std::filesystem::path ExistingMachine(const std::string &dir);

std::string ReadWholeFile(const std::filesystem::path &file);

// The registry of a machine (registry_commands.cpp); a machine without
// registry.reg has an empty one. Throws EmulatorFailure for a malformed
// file.
w95::Registry LoadMachineRegistry(const std::filesystem::path &machine);

}  // namespace tool

#endif
