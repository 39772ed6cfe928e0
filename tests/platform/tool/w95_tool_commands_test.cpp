// The w95 tool's command line: help for every command, --version, refused
// options and their exit codes, `run` with its options and `--`, and the
// list of calls that W95_FAIL takes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "emulated_calls.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using namespace tool_runner;

TEST(W95ToolCommandLine, HelpVersionAndUsageErrors) {
    scenario::Machine holder;
    fs::path cwd = holder.Directory();
    // --help on a command prints its help and makes nothing.
    for (std::vector<std::string> words :
         {std::vector<std::string>{"new", "--help"},
          {"boot", "--help"},
          {"run", "--help"},
          {"diff", "--help"},
          {"calls", "--help"},
          {"reg", "--help"},
          {"reg", "export", "--help"},
          {"reg", "import", "--help"},
          {"reg", "query", "--help"},
          {"reg", "add", "--help"},
          {"reg", "delete", "--help"},
          {"--help"}}) {
        ToolRun help = W95(words);
        EXPECT_EQ(help.exitCode, 0) << words[0] << help.err;
        EXPECT_TRUE(Contains(help.out, "Usage: w95")) << help.out;
        EXPECT_TRUE(Contains(help.out,
                             "Exit codes: 0 done, 1 the machines "
                             "differ (diff), 2 usage, 3 error."))
            << help.out;
    }
    EXPECT_FALSE(fs::exists("--help"));
    ToolRun newHelp = W95({"new", "--help"});
    EXPECT_TRUE(Contains(newHelp.out, "Usage: w95 new")) << newHelp.out;

    ToolRun version = W95({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "w95 1.02\n");

    // Usage errors: exit code 2, nothing made.
    fs::path dir = cwd / "made";
    for (std::vector<std::string> words :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"new"},
          {"new", dir.string(), "--colour"},
          {"new", dir.string(), "extra"},
          {"diff", dir.string()},
          {"boot"},
          {"run", dir.string()},
          {"boot", dir.string(), "--unanswered", "bogus"},
          {"reg"},
          {"reg", "rename", dir.string()},
          {"reg", "import", dir.string()},
          {"reg", "query", dir.string(), "HKLM", "/v", "x", "/ve"}}) {
        ToolRun bad = W95(words);
        EXPECT_EQ(bad.exitCode, 2) << (words.empty() ? "" : words[0]);
        EXPECT_FALSE(bad.err.empty());
    }
    EXPECT_FALSE(fs::exists(dir));
    EXPECT_TRUE(
        Contains(W95({"frobnicate"}).err, "unknown command 'frobnicate'"));
    EXPECT_TRUE(
        Contains(W95({"reg", "rename"}).err, "unknown command 'rename'"));

    // "--" ends the options: a folder may be named like one.
    fs::path dashed = cwd / "--odd";
    ToolRun odd = W95({"new", "--", dashed.string()});
    EXPECT_EQ(odd.exitCode, 0) << odd.err;
    EXPECT_TRUE(fs::is_directory(dashed / "drive_c"));
}

TEST(W95ToolCommandLine, CallsListsTheCallTableForTheSweep) {
    ToolRun calls = W95({"calls"});
    ASSERT_EQ(calls.exitCode, 0) << calls.err;
    std::istringstream lines(calls.out);
    std::string line;
    std::size_t count = 0;
    std::set<std::string> crashOnly;
    while (std::getline(lines, line)) {
        const w95::CallInfo &info = w95::kCalls[count++];
        std::string name(info.name);
        if (info.kind == w95::CallKind::OnlyCrash) {
            EXPECT_EQ(line, name + " crash-only");
            crashOnly.insert(name);
        } else {
            EXPECT_EQ(line, name);
        }
    }
    EXPECT_EQ(count, w95::kCallCount);
    EXPECT_TRUE(crashOnly.count("GetTickCount"));
    EXPECT_TRUE(Contains(calls.out, "\nCopyFileA\n"));
}

TEST(W95ToolCommandLine, CallsKindsListsTheFaultsThatEndARun) {
    ToolRun kinds = W95({"calls", "--kinds"});
    ASSERT_EQ(kinds.exitCode, 0) << kinds.err;
    EXPECT_EQ(kinds.out, "crash\npowerloss\npowerloss-meta\npowerloss-torn\n");
    ToolRun help = W95({"calls", "--help"});
    EXPECT_TRUE(Contains(help.out, "powerloss-torn")) << help.out;
    help = W95({"run", "--help"});
    EXPECT_TRUE(Contains(help.out, "powerloss-meta")) << help.out;
}

TEST(W95ToolRun, RunsAProgramWithTheSettingsAsOptions) {
    ToolMachine m;
    fs::path transcript = m.Beside("run.jsonl");
    // setup from A:, install answered Yes, restart No.
    ToolRun run = W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                       "--transcript", transcript.string(), "--", "setup"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(m.Path() / "drive_c/VELTRANE/PARLOD.EXE"));
    std::string events = ReadAll(transcript);
    EXPECT_TRUE(Contains(events, "\"program\":\"setup\"")) << events;
    EXPECT_TRUE(Contains(events, "\"answer\":\"IDNO\"")) << events;
    EXPECT_FALSE(Contains(events, "\"event\":\"ExitWindowsEx\"")) << events;

    // Arguments after -- go to the program, options among them included;
    // the exit code is the program's.
    fs::remove(transcript);
    ToolRun parlod =
        W95({"run", m.Dir(), "--transcript", transcript.string(), "--answers",
             "ok", "--", "parlod", "/F\"x.ini\"", "--help"});
    EXPECT_EQ(parlod.exitCode, 1) << parlod.err;
    std::istringstream lines(ReadAll(transcript));
    std::string first;
    std::getline(lines, first);
    auto start = nlohmann::json::parse(first);
    EXPECT_EQ(start["commandLine"], "/F\"x.ini\" --help");

    // --fail injects faults: the copy fails, setup rolls back.
    ToolMachine other;
    ToolRun failed =
        W95({"run", other.Dir(), "--cwd", "A:\\", "--answers", "yes,ok,no",
             "--fail", "CopyFileA=5", "--", "setup.exe"});
    EXPECT_EQ(failed.exitCode, 1) << failed.err;
    EXPECT_FALSE(fs::exists(other.Path() / "drive_c/VELTRANE/PARLOD.EXE"));

    ToolRun missing = W95({"run", m.Dir(), "--", "nosuchprogram"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(Contains(missing.err, "no native program 'nosuchprogram'"))
        << missing.err;
    ToolRun noMachine = W95({"run", m.Dir() + "-none", "--", "setup"});
    EXPECT_EQ(noMachine.exitCode, 3);
}

// --transcript -: the events on standard output once the program has ended,
// what the program prints on standard error.
TEST(W95ToolRun, TranscriptDashGoesToStandardOutputAlone) {
    ToolMachine m;
    ToolRun run = W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                       "--transcript", "-", "--", "setup"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::istringstream lines(run.out);
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);)
        events.push_back(nlohmann::json::parse(line, nullptr, false));
    ASSERT_GE(events.size(), 2u) << run.out;
    for (const nlohmann::json &e : events) EXPECT_TRUE(e.is_object()) << e;
    EXPECT_EQ(events.front()["event"], "Start");
    EXPECT_EQ(events.back(), nlohmann::json({{"event", "Exit"}, {"code", 0}}));
    EXPECT_TRUE(Contains(run.err, "Answered no (W95_ANSWERS).")) << run.err;
    EXPECT_FALSE(fs::exists("-"));
}
