// w95: works on emulated Windows 95 machines. The command line: one
// subcommand per job, each with its own --help.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "host_files.h"
#include "tool.h"

#ifndef KIT_VERSION
#define KIT_VERSION "unknown"
#endif

namespace tool {

std::filesystem::path ToolDirectory() {
    std::error_code ec;
    std::filesystem::path self =
        std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path();
    return self.parent_path();
}

std::string ReadWholeFile(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Failure("cannot read '" + file.string() + "'");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::filesystem::path &file, std::string_view bytes) {
    if (std::optional<w95::ReplaceFailure> failure =
            w95::ReplaceFileAtomically(file, bytes))
        throw Failure("cannot " + std::string(failure->step) + " '" +
                      file.string() + "': " + std::strerror(failure->error));
}

}  // namespace tool

namespace {

const char kExitCodes[] =
    "Exit codes: 0 done, 1 the machines differ (diff), 2 usage, 3 error.";

// The words --unanswered takes, in any case, as W95_UNANSWERED does.
CLI::IsMember UnansweredWords() {
    return CLI::IsMember({"ask", "default", "safe"}, CLI::ignore_case);
}

// The long form with "=" of a one-liner's option that takes a value.
const char *DashSwitchOption(const std::string &word) {
    if (word == "-v" || word == "--value") return "--value=";
    if (word == "-t" || word == "--type") return "--type=";
    if (word == "-d" || word == "--data") return "--data=";
    return nullptr;
}

// reg.exe writes its switches with a slash (/v NAME, /ve, /t, /d, /f); the
// one-liners take them so, as well as -v, --ve, -t, -d, -f. A switch's value
// is passed on as one word, so that a value starting with - or / is data.
// "-ve" would read as -v e, the value named "e": it is refused instead.
std::vector<std::string> RegSwitchesAsOptions(std::vector<std::string> args) {
    if (args.size() < 3 || args[1] != "reg" ||
        (args[2] != "query" && args[2] != "add" && args[2] != "delete"))
        return args;
    std::vector<std::string> out(args.begin(), args.begin() + 3);
    for (std::size_t i = 3; i < args.size(); ++i) {
        std::string lower = args[i];
        for (char &c : lower) c = static_cast<char>(std::tolower(c));
        if (lower == "--") {
            out.insert(out.end(), args.begin() + i, args.end());
            break;
        }
        const char *withValue = lower == "/v"   ? "--value="
                                : lower == "/t" ? "--type="
                                : lower == "/d" ? "--data="
                                                : nullptr;
        if (withValue && i + 1 < args.size()) {
            out.push_back(withValue + args[++i]);
        } else if (lower == "-ve") {
            throw tool::UsageError(
                "'" + args[i] +
                "' is not an option: the default value is /ve or --ve "
                "(-v NAME names a value)");
        } else if (const char *option = DashSwitchOption(args[i]);
                   option && i + 1 < args.size()) {
            out.push_back(option + args[++i]);
        } else if (lower == "/ve") {
            out.push_back("--ve");
        } else if (lower == "/f") {
            out.push_back("--force");
        } else {
            out.push_back(args[i]);
        }
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "w95 works on emulated Windows 95 machines: folders that hold a "
        "machine's drives (drive_c/ ...), its registry (registry.reg) and "
        "its settings (machine.ini).",
        "w95"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", "w95 " KIT_VERSION);
    app.require_subcommand(1);
    std::function<int()> action;

    std::string dir;
    CLI::App *cmd = app.add_subcommand(
        "new", "Make a machine in DIR (new or empty) from the bundled example");
    cmd->add_option("DIR", dir, "the machine folder to make")->required();
    std::string disk;
    cmd->add_option("--disk", disk,
                    "a floppy image (tools/make-disk): drive A: holds its "
                    "files instead of the example's");
    cmd->callback(
        [&] { action = [&] { return tool::NewMachine(dir, disk); }; });

    cmd = app.add_subcommand(
        "boot",
        "Start Windows on a machine: run the programs that win.ini's [windows] "
        "load= and run= lines name, report whether a restart was requested; "
        "exit 3 when a program is missing or fails");
    tool::BootOptions boot;
    cmd->add_option("DIR", boot.machine, "the machine folder")->required();
    cmd->add_option("--cwd", boot.cwd,
                    "each program's current directory at start (W95_CWD)");
    cmd->add_option("--answers", boot.answers,
                    "answers to message boxes, comma-separated, each program "
                    "from the first (W95_ANSWERS)");
    cmd->add_option("--transcript", boot.transcript,
                    "append every program's events as JSON lines to FILE, - "
                    "for standard output, the report then on standard error "
                    "(W95_TRANSCRIPT)");
    cmd->add_option("--fail", boot.fail,
                    "fault injection in each program, as for run (W95_FAIL)");
    cmd->add_option("--host-fail", boot.hostFail,
                    "host call failures in each program, as for run "
                    "(W95_HOST_FAIL)");
    cmd->add_option("--unanswered", boot.unanswered,
                    "what a message box without an answer gets: ask, default "
                    "or safe (W95_UNANSWERED)")
        ->check(UnansweredWords());
    cmd->callback([&] { action = [&] { return tool::BootMachine(boot); }; });

    tool::RunOptions run;
    cmd = app.add_subcommand(
        "run",
        "Run one program on a machine (as W95_MACHINE and the other W95_* "
        "variables do); exits with the program's exit code");
    cmd->add_option("DIR", run.machine, "the machine folder")->required();
    cmd->add_option("--cwd", run.cwd,
                    "the current directory at start, e.g. A:\\ (W95_CWD)");
    cmd->add_option("--answers", run.answers,
                    "answers to message boxes, comma-separated: "
                    "ok,cancel,yes,no,abort,retry,ignore (W95_ANSWERS)");
    cmd->add_option("--unanswered", run.unanswered,
                    "what a box gets once the answers have run out: ask (the "
                    "terminal, else a line of standard input, else its safe "
                    "answer and exit code 3), default (its default button) "
                    "or safe (Cancel, else No, else Abort, else OK) "
                    "(W95_UNANSWERED)")
        ->check(UnansweredWords());
    cmd->add_option("--transcript", run.transcript,
                    "append every event as a JSON line to FILE, - for "
                    "standard output after the run (W95_TRANSCRIPT)");
    cmd->add_option("--fail", run.fail,
                    "fault injection, CALL=ERROR or CALL@N=ERROR, "
                    "comma-separated (W95_FAIL); ERROR is a Win32 error code "
                    "or its name, or crash, powerloss, powerloss-meta or "
                    "powerloss-torn to end the run before the call");
    cmd->add_option("--host-fail", run.hostFail,
                    "host call failures beneath the emulation, CALL=ERRNO or "
                    "CALL@N=ERRNO, comma-separated (W95_HOST_FAIL)");
    cmd->add_option("PROGRAM", run.command,
                    "after --: the native program (setup, parlod, ... next to "
                    "w95, or a path) and its arguments")
        ->required();
    cmd->footer(
        std::string("Example: w95 run pc --cwd 'A:\\' --answers yes,no -- "
                    "setup\n\n") +
        kExitCodes);
    cmd->callback([&] { action = [&] { return tool::RunOnMachine(run); }; });

    tool::DiffOptions diff;
    cmd = app.add_subcommand(
        "diff",
        "Show the registry and file differences between machines A and B; "
        "exit 1 when they differ");
    cmd->add_option("A", diff.a, "the first machine")->required();
    cmd->add_option("B", diff.b, "the second machine")->required();
    cmd->add_flag("--times", diff.times,
                  "also list files whose content is the same but whose "
                  "last-write time differs");
    cmd->add_flag("--json", diff.json, "print one JSON document");
    cmd->add_option("--reg", diff.regFile,
                    "write the REGEDIT4 file that turns A's registry into "
                    "B's to FILE (- for standard output)");
    cmd->callback([&] { action = [&] { return tool::DiffMachines(diff); }; });

    cmd = app.add_subcommand(
        "calls",
        "List the emulated calls that W95_FAIL takes, one a line; calls that "
        "cannot fail, only end the process (crash, powerloss, powerloss-meta, "
        "powerloss-torn), are marked crash-only");
    bool hostCalls = false;
    bool faultKinds = false;
    cmd->add_flag("--host", hostCalls,
                  "list the host calls that W95_HOST_FAIL takes instead");
    cmd->add_flag("--kinds", faultKinds,
                  "list the faults that end the process instead: crash, "
                  "powerloss, powerloss-meta, powerloss-torn");
    cmd->callback([&] {
        action = [&] { return tool::ListCalls(hostCalls, faultKinds); };
    });

    CLI::App *reg =
        app.add_subcommand("reg", "Read and change a machine's registry");
    reg->require_subcommand(1);
    reg->footer(
        "KEY: a full key name; the roots may be written HKLM, HKU, HKCU, HKCR "
        "and HKCC.\n\n" +
        std::string(kExitCodes));
    std::string key, file;
    cmd = reg->add_subcommand(
        "export",
        "Write the registry, or KEY with its subkeys, as REGEDIT4 to FILE or "
        "standard output");
    cmd->add_option("DIR", dir, "the machine folder")->required();
    cmd->add_option("KEY", key,
                    "the key (default: the whole registry); a KEY that does "
                    "not start with a root key's name is the FILE");
    cmd->add_option("FILE", file,
                    "the file to write (default or -: standard output)");
    cmd->callback(
        [&] { action = [&] { return tool::RegExport(dir, key, file); }; });

    cmd = reg->add_subcommand(
        "import",
        "Merge a registry file (REGEDIT4 or Windows Registry Editor Version "
        "5.00; UTF-16LE with byte-order mark, UTF-8 or Windows-1252) into the "
        "machine's registry");
    cmd->add_option("DIR", dir, "the machine folder")->required();
    cmd->add_option("FILE", file, "the file, - for standard input")->required();
    cmd->callback([&] { action = [&] { return tool::RegImport(dir, file); }; });

    tool::RegOptions one;
    bool defaultValue = false, force = false;
    auto oneLiner = [&](const char *name, const char *what,
                        std::function<int(const tool::RegOptions &)> f) {
        CLI::App *c = reg->add_subcommand(name, what);
        c->add_option("DIR", one.machine, "the machine folder")->required();
        c->add_option("KEY", one.key, "the key")->required();
        c->add_option("-v,--value", one.value, "the value NAME (also /v NAME)");
        c->add_flag("--ve", defaultValue, "the key's default value (also /ve)");
        c->callback([&, f] {
            if (defaultValue && one.value)
                throw CLI::ValidationError("/v and /ve exclude each other");
            if (defaultValue) one.value = "";
            action = [&, f] { return f(one); };
        });
        return c;
    };
    oneLiner("query",
             "Show a key's values and subkeys, or one value: "
             "reg query DIR KEY [/v NAME | /ve]; a key or value that does "
             "not exist prints nothing and exits 3",
             tool::RegQuery);
    cmd = oneLiner("add",
                   "Make a key, or set one of its values: reg add DIR KEY "
                   "[/v NAME | /ve] [/t TYPE] [/d DATA]",
                   tool::RegAdd);
    cmd->add_option("-t,--type", one.type,
                    "REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ (parts "
                    "separated by \\0), REG_DWORD (decimal or 0x hex), "
                    "REG_BINARY (hex digits), REG_NONE (also /t TYPE)");
    cmd->add_option("-d,--data", one.data, "the data (also /d DATA)");
    cmd->add_flag("-f,--force", force,
                  "accepted for reg.exe's /f; values are always replaced");
    cmd = oneLiner("delete",
                   "Delete a key with its subkeys, or one value: reg delete "
                   "DIR KEY [/v NAME | /ve]",
                   tool::RegDelete);
    cmd->add_flag("-f,--force", force, "accepted for reg.exe's /f");

    std::vector<std::string> args(argv, argv + argc);
    try {
        args = RegSwitchesAsOptions(std::move(args));
    } catch (const tool::UsageError &e) {
        std::fprintf(stderr, "w95: %s\nRun with --help for more information.\n",
                     e.what());
        return tool::kUsage;
    }
    // CLI11 reports a word that names no command as a missing one; say what
    // is wrong instead.
    for (auto [level, at] :
         {std::pair<CLI::App *, std::size_t>{&app, 1}, {reg, 2}}) {
        if (at >= args.size() || (at == 2 && args[1] != "reg") ||
            args[at].empty() || args[at][0] == '-')
            continue;
        try {
            level->get_subcommand(args[at]);
        } catch (const CLI::OptionNotFound &) {
            std::fprintf(stderr,
                         "w95: unknown command '%s'\nRun with --help for more "
                         "information.\n",
                         args[at].c_str());
            return tool::kUsage;
        }
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    try {
        app.parse(std::move(reversed));
    } catch (const CLI::ParseError &e) {
        int code = app.exit(e);
        return code == 0 ? tool::kOk : tool::kUsage;
    }
    try {
        // The command, as those who wait for the machine are told.
        tool::SetCommandName(args[1] == "reg" && args.size() > 2
                                 ? "w95 reg " + args[2]
                                 : "w95 " + args[1]);
        return action();
    } catch (const tool::UsageError &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "w95: %s\nRun with --help for more information.\n",
                     e.what());
        return tool::kUsage;
    } catch (const std::exception &e) {
        std::fflush(stdout);
        std::fprintf(stderr, "w95: %s\n", e.what());
        return tool::kFailed;
    }
}
