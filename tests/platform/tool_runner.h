// Runs the w95 tool as a user does, on machines made from the bundled
// example in temporary folders: shared by the tool's tests.
#ifndef TESTS_PLATFORM_TOOL_RUNNER_H
#define TESTS_PLATFORM_TOOL_RUNNER_H

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.h"

namespace tool_runner {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

inline std::string ReadAll(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteAll(const fs::path &file, const std::string &bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs build/bin/w95 with the words of `args`; `env` goes before it, and
// standard input comes from `input` (a file) or /dev/null. The tool runs in
// a session of its own, without a controlling terminal, so that no box is
// asked on the terminal of the person who runs the tests.
inline ToolRun W95(const std::vector<std::string> &args,
                   const std::string &env = "",
                   const std::string &input = "/dev/null") {
    fs::path err = fs::temp_directory_path() /
                   ("w95-tool-test-" + std::to_string(getpid()) + ".err");
    std::string command =
        "env -u W95_TRANSCRIPT -u W95_ANSWERS -u W95_UNANSWERED " + env +
        " setsid -w " + Quote(std::string(KIT_BIN_DIR) + "/w95");
    for (const std::string &a : args) command += " " + Quote(a);
    command += " 2>" + Quote(err.string()) + " <" + Quote(input);
    ToolRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadAll(err);
    fs::remove(err);
    return run;
}

// A machine made by `w95 new` in a temporary folder.
class ToolMachine {
  public:
    ToolMachine() {
        path_ = holder_.Directory() / "machine";
        ToolRun run = W95({"new", path_.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
    }
    const fs::path &Path() const { return path_; }
    std::string Dir() const { return path_.string(); }
    // A file beside the machine, for patches and outputs.
    fs::path Beside(const std::string &name) const {
        return path_.parent_path() / name;
    }

  private:
    scenario::Machine holder_;
    fs::path path_;
};

inline bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace tool_runner

#endif
