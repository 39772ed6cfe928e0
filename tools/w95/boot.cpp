// w95 boot DIR: starts Windows on a machine. Windows runs the programs that
// the [windows] section of win.ini names in its load= and run= lines; each
// is run here as the native program of the same name next to the tool. The
// programs' transcripts tell whether one of them asked for a restart.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "code_page.h"
#include "machine.h"
#include "path_resolve.h"
#include "text_helpers.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

struct StartupEntry {
    std::string key;    // "load" or "run"
    std::string entry;  // as written
};

// The entries of load= and run= in [windows], load first, as Windows reads
// them: blanks or commas separate the programs of one line.
std::vector<StartupEntry> StartupEntries(const std::string &winIni) {
    std::map<std::string, std::string> values;  // first of each key wins
    std::istringstream lines(winIni);
    std::string line, section;
    while (std::getline(lines, line)) {
        line = std::string(w95::TrimSpace(line));
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            section = w95::UpperCase(std::string(w95::TrimSpace(
                line.substr(1, close == std::string::npos ? std::string::npos
                                                          : close - 1))));
            continue;
        }
        std::size_t eq = line.find('=');
        if (section != "WINDOWS" || eq == std::string::npos) continue;
        std::string key =
            w95::UpperCase(std::string(w95::TrimSpace(line.substr(0, eq))));
        if ((key == "LOAD" || key == "RUN") && !values.count(key))
            values[key] = line.substr(eq + 1);
    }
    std::vector<StartupEntry> entries;
    for (const char *key : {"LOAD", "RUN"}) {
        std::string list = values[key];
        for (char &c : list)
            if (c == ',' || c == '\t') c = ' ';
        std::istringstream words(list);
        std::string word;
        while (words >> word)
            entries.push_back(
                {key == std::string("LOAD") ? "load" : "run", word});
    }
    return entries;
}

bool HasExtension(const std::string &entry) {
    std::size_t slash = entry.find_last_of("\\/:");
    std::size_t dot =
        entry.find('.', slash == std::string::npos ? 0 : slash + 1);
    return dot != std::string::npos;
}

// The program file an entry names: a path as given, or a bare name looked
// for in the Windows and system directories; ".EXE" and ".COM" are tried
// when it has no extension.
std::optional<std::string> FindProgram(const std::string &entry,
                                       const w95::MachineSettings &settings) {
    std::vector<std::string> names;
    if (HasExtension(entry)) {
        names.push_back(entry);
    } else {
        names.push_back(entry + ".EXE");
        names.push_back(entry + ".COM");
    }
    std::vector<std::string> folders = {""};
    if (entry.find_first_of("\\/:") == std::string::npos)
        folders = {settings.windowsDirectory + "\\",
                   settings.systemDirectory + "\\"};
    for (const std::string &folder : folders) {
        for (const std::string &name : names) {
            std::string windowsPath = folder + name;
            DWORD error = 0;
            auto host = w95::ResolvePath(windowsPath.c_str(), &error);
            std::error_code ec;
            if (host && fs::is_regular_file(*host, ec)) {
                // The name as the machine spells it, not as win.ini does.
                std::string full = w95::FullWindowsPath(windowsPath.c_str());
                std::size_t slash = full.find_last_of('\\');
                return full.substr(0, slash + 1) + host->filename().string();
            }
        }
    }
    return std::nullopt;
}

std::string BaseName(const std::string &windowsPath) {
    std::size_t slash = windowsPath.find_last_of("\\/:");
    std::string name = slash == std::string::npos
                           ? windowsPath
                           : windowsPath.substr(slash + 1);
    std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    for (char &c : name) c = w95::FoldCase(c);
    return name;
}

struct ProgramRun {
    int exitCode = -1;
    bool restartRequested = false;
};

// Runs one native program on the machine with the boot's settings and a
// transcript of its own, whose events are then added to the boot's
// `transcript` ("-": standard output; "": none).
ProgramRun RunProgram(const fs::path &program, const fs::path &machine,
                      const BootOptions &options,
                      const std::string &transcriptTarget) {
    CollectedTranscript transcript;
    std::vector<std::string> env = {"W95_MACHINE=" + machine.string(),
                                    transcript.Setting()};
    AddProgramSettings(env, options);

    ProgramRun run;
    run.exitCode = RunNative(program, {}, env, transcriptTarget == "-");
    std::string events = transcript.Events();
    std::istringstream lines(events);
    std::string line;
    while (std::getline(lines, line)) {
        auto event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_object() && event.value("event", "") == "ExitWindowsEx" &&
            event.value("result", false))
            run.restartRequested = true;
    }
    if (!transcriptTarget.empty()) AppendTranscript(transcriptTarget, events);
    return run;
}

}  // namespace

int BootMachine(const BootOptions &options) {
    fs::path machine = MachineFolder(options.machine);
    // Windows holds the machine's lock while it installs drivers and reads
    // win.ini; each program takes the lock alone itself, so the boot lets
    // go of it while one runs.
    w95::MachineLock held = WritingLock(options.machine);
    // Windows itself only finds the programs here; each program loads the
    // registry it uses.
    w95::LoadMachine(machine, false);
    const w95::MachineSettings &settings = w95::TheMachine().settings;

    std::string transcript = options.transcript.value_or("");
    if (!options.transcript)
        if (const char *own = std::getenv("W95_TRANSCRIPT")) transcript = own;
    // With the transcript on standard output, the report goes to standard
    // error.
    FILE *report = transcript == "-" ? stderr : stdout;
    std::fprintf(report, "Starting Windows on %s.\n", machine.string().c_str());
    InstallPendingDrivers(machine, report);

    std::string winIniPath = settings.windowsDirectory + "\\WIN.INI";
    DWORD error = 0;
    auto winIni = w95::ResolvePath(winIniPath.c_str(), &error);
    std::error_code ec;
    if (!winIni || !fs::is_regular_file(*winIni, ec))
        throw Failure("the machine has no " + winIniPath);
    std::vector<StartupEntry> entries = StartupEntries(ReadWholeFile(*winIni));
    bool restart = false;
    std::vector<std::string> problems;  // what went wrong, in order
    for (const StartupEntry &e : entries) {
        std::optional<std::string> found = FindProgram(e.entry, settings);
        if (!found) {
            // Windows reports the entry and goes on with the others.
            std::fprintf(report, "Cannot find '%s' (%s= in %s).\n",
                         e.entry.c_str(), e.key.c_str(), winIniPath.c_str());
            problems.push_back("'" + e.entry + "' (" + e.key + "= in " +
                               winIniPath + ") was not found");
            continue;
        }
        fs::path native = ToolDirectory() / BaseName(*found);
        if (!fs::is_regular_file(native, ec)) {
            std::fprintf(report, "No native program for %s (looked for %s).\n",
                         found->c_str(), native.string().c_str());
            problems.push_back("no native program for " + *found +
                               " (looked for " + native.string() + ")");
            continue;
        }
        std::fprintf(report, "Running %s (%s=).\n", found->c_str(),
                     e.key.c_str());
        held.Release();
        ProgramRun run = RunProgram(native, machine, options, transcript);
        held = ReadingLock(options.machine);
        std::fprintf(report, "%s ended with exit code %d.\n", found->c_str(),
                     run.exitCode);
        if (run.exitCode != 0)
            problems.push_back(*found + " (" + e.key +
                               "=) failed with exit code " +
                               std::to_string(run.exitCode));
        if (run.restartRequested) {
            std::fprintf(report, "%s asked Windows to restart.\n",
                         found->c_str());
            restart = true;
            break;  // Windows goes down: nothing more is started
        }
    }
    std::fprintf(report,
                 restart ? "Restart requested.\n" : "No restart requested.\n");
    std::fflush(report);
    for (const std::string &p : problems)
        std::fprintf(stderr, "w95: boot: %s\n", p.c_str());
    return problems.empty() ? kOk : kFailed;
}

}  // namespace tool
