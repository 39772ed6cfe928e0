// The w95 tool: commands that work on emulated machines from outside a
// program run (making, booting, running a program, comparing, registry text
// in and out, the list of emulated calls).
#ifndef TOOLS_W95_TOOL_H
#define TOOLS_W95_TOOL_H

#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "machine_lock.h"
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

// A command line that does not fit; main() prints the message and ends with
// kUsage.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// `new`: the example machine in `dir`; with `disk`, a floppy image, drive A:
// holds that disk's files instead of the example's.
int NewMachine(const std::string &dir, const std::string &disk);

// `boot`: the machine, and the settings that each program it starts gets,
// as `run` gives them to its one program.
struct BootOptions {
    std::string machine;
    std::optional<std::string> cwd, answers, transcript, fail, hostFail,
        unanswered;
};
int BootMachine(const BootOptions &options);
// The start of Windows after a driver install (device_install.cpp): the
// UpdateInis lines of the INF files in the machine's INF folder whose models
// name hardware of the machine, as entries added to their ini files where
// the section has none of that key yet, each told on `report`. Needs the
// machine loaded and its lock held alone.
void InstallPendingDrivers(const std::filesystem::path &machine,
                           std::FILE *report);

struct RunOptions {
    std::string machine;
    std::optional<std::string> cwd, answers, unanswered, transcript, fail,
        hostFail;
    std::vector<std::string> command;  // the program, then its arguments
};
int RunOnMachine(const RunOptions &options);

// Adds to `env` the W95_* settings that `run` and `boot` give a program from
// the options they share (RunOptions, BootOptions), as "NAME=value".
template <class Options>
void AddProgramSettings(std::vector<std::string> &env, const Options &options) {
    auto set = [&](const char *name, const std::optional<std::string> &v) {
        if (v) env.push_back(std::string(name) + "=" + *v);
    };
    set("W95_CWD", options.cwd);
    set("W95_ANSWERS", options.answers);
    set("W95_UNANSWERED", options.unanswered);
    set("W95_FAIL", options.fail);
    set("W95_HOST_FAIL", options.hostFail);
}

struct DiffOptions {
    std::string a, b;
    bool times = false;   // also files whose content is the same
    bool json = false;    // one JSON document instead of text
    std::string regFile;  // where to write the REGEDIT4 patch; "-": stdout
};
int DiffMachines(const DiffOptions &options);

int RegExport(const std::string &machine, const std::string &key,
              const std::string &file);
int RegImport(const std::string &machine, const std::string &file);

// The one-liners: a key, and optionally one value of it.
struct RegOptions {
    std::string machine;
    std::string key;
    std::optional<std::string> value;  // /v NAME; /ve gives ""
    std::optional<std::string> type;   // /t REG_SZ ...
    std::optional<std::string> data;   // /d DATA
};
int RegQuery(const RegOptions &options);
int RegAdd(const RegOptions &options);
int RegDelete(const RegOptions &options);

// `w95 calls`: the emulated calls that W95_FAIL takes ("NAME", or "NAME
// crash-only" for one that can only end the process), the host calls of
// W95_HOST_FAIL (`host`), or the faults that end the process (`kinds`), one
// a line.
int ListCalls(bool host, bool kinds);

// The folder that holds the tool itself (build/bin): the native programs
// lie next to it.
std::filesystem::path ToolDirectory();

// The machine a command works on (machine_access.cpp), made absolute;
// Failure for a folder that is not a machine (machine.ini, registry.reg or
// a drive_?/ folder in it). MachineFolder takes no lock: for commands whose
// programs take it themselves. ExistingMachine shares the machine's lock
// with other readers, WritableMachine holds it alone; either holds it until
// the command ends, and fails when the machine stays in use for longer
// than W95_LOCK_WAIT allows.
std::filesystem::path MachineFolder(const std::string &dir);
std::filesystem::path ExistingMachine(const std::string &dir);
std::filesystem::path WritableMachine(const std::string &dir);
// The machine's lock shared with other readers, for as long as the caller
// keeps it.
w95::MachineLock ReadingLock(const std::string &dir);
// The machine's lock alone, for as long as the caller keeps it.
w95::MachineLock WritingLock(const std::string &dir);

// What the command that runs is called ("w95 reg add"), for the machines'
// lock files.
void SetCommandName(const std::string &name);

std::string ReadWholeFile(const std::filesystem::path &file);

// Writes a file so that it is either the old or the new one whole, even
// after a power loss; Failure naming the file otherwise.
void WriteWholeFile(const std::filesystem::path &file, std::string_view bytes);

// Refuses, as Failure, a program that `w95 run` cannot start
// (windows_programs.cpp): a Windows executable (a file that starts with
// "MZ", or a *.exe file that is not a native program) or a Windows path
// (A:\PARLOD.EXE, SETUP\SETUP.EXE).
void RefuseWindowsProgram(const std::string &name);

// Runs a native program on a machine and waits for it: `env` holds
// "NAME=value" settings that replace those of the tool's environment;
// `outputToStandardError` sends what it prints to standard error, so that
// standard output holds only what the tool writes there. Returns its exit
// code (128 + signal for a program that a signal ended). Ctrl-C while it
// runs is the program's: the tool waits on for its end.
int RunNative(const std::filesystem::path &program,
              const std::vector<std::string> &args,
              const std::vector<std::string> &env,
              bool outputToStandardError = false);

// The transcript of one program run, collected in a temporary file that
// goes when this does (collected_transcript.cpp).
class CollectedTranscript {
  public:
    CollectedTranscript();  // Failure when no temporary file can be made
    ~CollectedTranscript();
    CollectedTranscript(const CollectedTranscript &) = delete;
    CollectedTranscript &operator=(const CollectedTranscript &) = delete;

    // "W95_TRANSCRIPT=FILE", for the program's environment.
    std::string Setting() const;
    // The events the program wrote, one JSON line each.
    std::string Events() const;

  private:
    std::filesystem::path file_;
};

// Appends events to the transcript a command line names: a file, or "-"
// for standard output. Failure when the file cannot be written.
void AppendTranscript(const std::string &target, std::string_view events);

// The registry of a machine (registry_commands.cpp); a machine without
// registry.reg has an empty one. Throws EmulatorFailure for a malformed
// file.
w95::Registry LoadMachineRegistry(const std::filesystem::path &machine);

// Text typed on a UTF-8 terminal in the machine's Windows-1252
// (registry_files.cpp): UTF-8 is converted, other bytes are taken as they
// are (already Windows-1252). Failure for UTF-8 that the code page cannot
// hold; `what` names the text in the message.
std::string MachineText(std::string_view typed, const std::string &what);

// The text of a registry file from any of the tools that write them
// (REGEDIT4 or "Windows Registry Editor Version 5.00"; UTF-16LE with a
// byte-order mark, UTF-8 with or without one, or Windows-1252) as REGEDIT4
// in Windows-1252 with the same line numbers, for Registry::ImportText.
// Throws EmulatorFailure "<source> line N: ..." for text that cannot be
// converted.
std::string RegistryFileAsRegedit4(std::string_view bytes,
                                   const std::string &source);

// A root name, full ("HKEY_LOCAL_MACHINE") or short ("HKLM"), any case.
std::optional<w95::RegRoot> RootByAnyName(std::string_view name);

}  // namespace tool

#endif
