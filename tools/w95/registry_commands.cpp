// w95 reg export DIR [KEY] and w95 reg import DIR FILE: the machine's
// registry as REGEDIT4 text.
#include <cstdio>
#include <iostream>
#include <iterator>

#include "registry_store.h"
#include "tool.h"

namespace tool {

// The registry of a machine, loaded into the emulation's store; a machine
// without registry.reg has an empty one.
void LoadMachineRegistry(const std::filesystem::path &machine) {
    w95::ResetRegistry();
    w95::LoadRegistry(machine / "registry.reg");
}

int RegistryCommand(const Arguments &args) {
    if (args.empty()) throw UsageError("reg needs export or import");
    const std::string &what = args[0];
    if (what == "export") {
        if (args.size() < 2 || args.size() > 3)
            throw UsageError(
                "reg export takes a machine directory and "
                "optionally a key");
        std::filesystem::path machine = ExistingMachine(args[1]);
        LoadMachineRegistry(machine);
        std::string text =
            w95::ExportRegistryText(args.size() == 3 ? args[2] : "");
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kOk;
    }
    if (what == "import") {
        if (args.size() != 3)
            throw UsageError("reg import takes a machine directory and a file");
        std::filesystem::path machine = ExistingMachine(args[1]);
        std::string text;
        if (args[2] == "-")
            text.assign(std::istreambuf_iterator<char>(std::cin),
                        std::istreambuf_iterator<char>());
        else
            text = ReadWholeFile(args[2]);
        LoadMachineRegistry(machine);
        w95::ImportRegistryText(text,
                                args[2] == "-" ? "standard input" : args[2]);
        w95::WriteBackRegistry(machine / "registry.reg");
        return kOk;
    }
    throw UsageError("unknown reg command '" + what + "'");
}

}  // namespace tool
