// w95 reg export DIR [KEY] and w95 reg import DIR FILE: the machine's
// registry as REGEDIT4 text.
#include <cstdio>
#include <iostream>
#include <iterator>

#include "tool.h"

namespace tool {

namespace {

std::filesystem::path RegistryFile(const std::filesystem::path &machine) {
    return machine / "registry.reg";
}

}  // namespace

w95::Registry LoadMachineRegistry(const std::filesystem::path &machine) {
    w95::Registry registry;
    registry.Load(RegistryFile(machine));
    return registry;
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
        std::string text = LoadMachineRegistry(machine).ExportText(
            args.size() == 3 ? args[2] : "");
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
        w95::Registry registry = LoadMachineRegistry(machine);
        registry.ImportText(text, args[2] == "-" ? "standard input" : args[2]);
        registry.WriteBack(RegistryFile(machine));
        return kOk;
    }
    throw UsageError("unknown reg command '" + what + "'");
}

}  // namespace tool
