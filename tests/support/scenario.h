// Scenario tests: an emulated machine in a temporary folder, programs run on
// it as processes, and their transcripts read back.
#ifndef TESTS_SCENARIO_H
#define TESTS_SCENARIO_H

#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scenario {

// The step between the call numbers a sweep of the test suite cuts at:
// every one, but every fourth in the sanitizer build, whose runs are several
// times slower (tools/crash-sweep cuts at every call in the plain build).
constexpr int SweepStride() {
#ifdef KIT_SANITIZED
    return 4;
#else
    return 1;
#endif
}

// What one run of a program did.
struct RunResult {
    int exitCode = -1;  // the process's exit code; 128+N for a signal
    std::string standardError;
    std::vector<nlohmann::json> events;  // the transcript, one event a line

    // The events of one kind ("MessageBox", "CreateDialog", ...), in order.
    std::vector<nlohmann::json> Events(std::string_view kind) const;
    // The texts of all message boxes, in order.
    std::vector<std::string> MessageTexts() const;
};

// How to run a program: the W95_* variables besides W95_MACHINE and
// W95_TRANSCRIPT, which the machine sets itself. The run has no terminal and
// nothing on standard input, so a box that `answers` does not answer gets
// what `unanswered` says; left empty ("ask"), that is its safe answer and the
// run ends with exit code 3.
struct RunOptions {
    std::string answers;                             // W95_ANSWERS
    std::string unanswered;                          // W95_UNANSWERED
    std::string fail;                                // W95_FAIL
    std::string cwd;                                 // W95_CWD
    std::map<std::string, std::string> environment;  // anything else
};

class Machine {
  public:
    Machine();  // an empty machine: no machine.ini, no registry, no drives
    ~Machine();
    Machine(const Machine &) = delete;
    Machine &operator=(const Machine &) = delete;

    const std::filesystem::path &Directory() const { return directory_; }

    // The host path of a Windows path "C:\WINDOWS\WIN.INI" (drive_c/...),
    // taken literally: no case folding.
    std::filesystem::path HostPath(std::string_view windowsPath) const;

    // Files, addressed by Windows path; parents are created as needed.
    void WriteFile(std::string_view windowsPath, std::string_view bytes);
    std::string ReadFile(std::string_view windowsPath) const;
    bool Exists(std::string_view windowsPath) const;
    void MakeDirectory(std::string_view windowsPath);
    // Windows paths of every file and folder under a folder, sorted.
    std::vector<std::string> List(std::string_view windowsFolder) const;

    // registry.reg and machine.ini, as whole texts. WriteRegistry takes the
    // lines after "REGEDIT4" with LF line ends and writes a proper file.
    void WriteRegistry(std::string_view body);
    std::string Registry() const;  // "" when there is no registry.reg
    void WriteMachineIni(std::string_view text);

    // Runs build/bin/<program> with the command-line arguments `args`
    // (split at blanks), on this machine, with a fresh transcript.
    RunResult Run(std::string_view program, std::string_view args = "",
                  const RunOptions &options = {}) const;

  private:
    std::filesystem::path directory_;
};

// REGEDIT4 helpers for registry bodies in tests.
std::string Section(std::string_view keyPath);  // "[HKEY_LOCAL_MACHINE\...]\n"

}  // namespace scenario

#endif
