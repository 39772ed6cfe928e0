// w95: works on emulated Windows 95 machines.
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "tool.h"

namespace tool {

std::filesystem::path ToolDirectory() {
    std::error_code ec;
    std::filesystem::path self =
        std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return self.parent_path();
}

std::filesystem::path ExistingMachine(const std::string &dir) {
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec))
        throw Failure("no machine at '" + dir + "' (not a directory)");
    return std::filesystem::absolute(dir);
}

std::string ReadWholeFile(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Failure("cannot read '" + file.string() + "'");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace tool

namespace {

const char kUsageText[] =
    "usage: w95 new DIR             make a machine from the bundled example\n"
    "       w95 boot DIR            start Windows: run the programs that\n"
    "                               win.ini's load= and run= lines name\n"
    "       w95 diff A B            show registry and file differences\n"
    "       w95 reg export DIR [KEY]  print the registry (or KEY) as REGEDIT4\n"
    "       w95 reg import DIR FILE   merge a REGEDIT4 file (- for standard\n"
    "                                 input) into the machine's registry\n"
    "exit codes: 0 done, 1 the machines differ (diff), 2 usage, 3 error\n";

}  // namespace

int main(int argc, char **argv) {
    tool::Arguments args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help" ||
        args[0] == "help") {
        std::fputs(kUsageText, args.empty() ? stderr : stdout);
        return args.empty() ? tool::kUsage : tool::kOk;
    }
    std::string command = args[0];
    tool::Arguments rest(args.begin() + 1, args.end());
    try {
        if (command == "new") return tool::NewMachine(rest);
        if (command == "boot") return tool::BootMachine(rest);
        if (command == "diff") return tool::DiffMachines(rest);
        if (command == "reg") return tool::RegistryCommand(rest);
        throw tool::UsageError("unknown command '" + command + "'");
    } catch (const tool::UsageError &e) {
        std::fprintf(stderr, "w95: %s\n%s", e.what(), kUsageText);
        return tool::kUsage;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "w95: %s\n", e.what());
        return tool::kFailed;
    }
}
