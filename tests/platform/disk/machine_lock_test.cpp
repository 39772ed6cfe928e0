// One machine, many commands: w95 commands and program runs at the same
// time on one machine keep every change they report, and one that finds the
// machine held says by whom, waits, and gives up without changing anything.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "machine_lock.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using namespace tool_runner;

namespace {

// A w95 command started in the background, its output going to files.
struct Started {
    pid_t pid = -1;
    fs::path out, err;
    std::vector<std::string> args;
};

Started Start(const fs::path &folder, int number,
              const std::vector<std::string> &args,
              const std::vector<std::string> &env = {}) {
    Started s;
    s.args = args;
    s.out = folder / ("cmd" + std::to_string(number) + ".out");
    s.err = folder / ("cmd" + std::to_string(number) + ".err");
    std::string tool = std::string(KIT_BIN_DIR) + "/w95";
    s.pid = fork();
    if (s.pid == 0) {
        int out = open(s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(err, 2);
        dup2(in, 0);
        unsetenv("W95_TRANSCRIPT");
        unsetenv("W95_ANSWERS");
        for (const std::string &e : env) putenv(strdup(e.c_str()));
        std::vector<char *> argv{tool.data()};
        for (const std::string &a : s.args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    return s;
}

int Wait(const Started &s) {
    int status = 0;
    waitpid(s.pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Query(const ToolMachine &m, const std::string &key) {
    return W95({"reg", "query", m.Dir(), key}).out;
}

}  // namespace

TEST(MachineLock, ConcurrentCommandsAndARunKeepEveryReportedChange) {
    ToolMachine m;
    fs::path folder = m.Path().parent_path();
    const std::vector<std::string> env = {"W95_LOCK_WAIT=300"};
    std::vector<Started> writers, readers;
    Started run = Start(
        folder, 0,
        {"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no", "--", "setup"},
        env);
    for (int i = 1; i <= 60; ++i) {
        if (i % 3 == 0) {
            readers.push_back(Start(
                folder, i,
                i % 2 ? std::vector<std::string>{"reg", "query", m.Dir(),
                                                 "HKLM\\Software"}
                      : std::vector<std::string>{"reg", "export", m.Dir()},
                env));
        } else {
            writers.push_back(
                Start(folder, i,
                      {"reg", "add", m.Dir(),
                       "HKLM\\Software\\Lock\\K" + std::to_string(i), "/v", "n",
                       "/d", std::to_string(i)},
                      env));
        }
    }
    EXPECT_EQ(Wait(run), 0) << ReadAll(run.err);
    for (const Started &r : readers) {
        EXPECT_EQ(Wait(r), 0) << ReadAll(r.err);
        // A reader sees whole registries only.
        if (r.args[1] == "export") {
            EXPECT_EQ(ReadAll(r.out).rfind("REGEDIT4\r\n", 0), 0u);
        }
    }
    int done = 0;
    for (const Started &w : writers) {
        if (Wait(w) != 0) continue;
        ++done;
        const std::string &key = w.args[3];
        std::string shown = Query(m, key);
        EXPECT_TRUE(Contains(shown, "n    REG_SZ    " + w.args[7]))
            << key << " was reported added but is not there:\n"
            << shown;
    }
    EXPECT_EQ(done, static_cast<int>(writers.size()));
    // setup's own changes are kept too: the old registration is gone and
    // its files are in place.
    EXPECT_TRUE(fs::exists(m.Path() / "drive_c/VELTRANE/PARLOD.EXE"));
    ToolRun old = W95({"reg", "query", m.Dir(),
                       "HKLM\\Enum\\PCI\\VEN_7A3C&DEV_0528&SUBSYS_00000000&"
                       "REV_01\\BUS_00&DEV_0C&FUNC_00"});
    EXPECT_EQ(old.exitCode, 3) << old.out;  // no such key
}

TEST(MachineLock, AHeldMachineIsWaitedForThenGivenUpUnchanged) {
    ToolMachine m;
    std::string registry = ReadAll(m.Path() / "registry.reg");
    std::string pid = std::to_string(getpid());
    {
        w95::MachineLock held(m.Path(), w95::MachineUse::Write, "setup",
                              m.Dir(), 0);
        // A writer, a reader and a program run all wait, say once for whom,
        // and give up after W95_LOCK_WAIT seconds with exit code 3.
        for (std::vector<std::string> words :
             {std::vector<std::string>{"reg", "add", m.Dir(),
                                       "HKLM\\Software\\X"},
              {"reg", "query", m.Dir(), "HKLM\\Software"},
              {"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no", "--",
               "setup"}}) {
            auto start = std::chrono::steady_clock::now();
            ToolRun waited = W95(words, "W95_LOCK_WAIT=0.5");
            std::chrono::duration<double> took =
                std::chrono::steady_clock::now() - start;
            EXPECT_EQ(waited.exitCode, 3) << words[0] << waited.err;
            EXPECT_GE(took.count(), 0.5);
            std::string message = "w95: machine " + m.Dir() +
                                  " is in use by setup (pid " + pid +
                                  "); waiting...\n";
            EXPECT_EQ(waited.err.find(message), 0u) << waited.err;
            EXPECT_EQ(waited.err.find(message, 1), std::string::npos)
                << "said more than once: " << waited.err;
            EXPECT_TRUE(
                Contains(waited.err, "is still in use by setup (pid " + pid +
                                         ") after 0.5 seconds (W95_LOCK_WAIT); "
                                         "nothing was changed"))
                << waited.err;
        }
        EXPECT_EQ(
            W95({"reg", "query", m.Dir(), "HKLM"}, "W95_LOCK_WAIT=x").exitCode,
            3);
    }
    EXPECT_EQ(ReadAll(m.Path() / "registry.reg"), registry);
    EXPECT_FALSE(fs::exists(m.Path() / "drive_c/VELTRANE"));

    // Readers share the machine; a writer waits for them, and goes on once
    // they are done.
    auto reader = std::make_unique<w95::MachineLock>(
        m.Path(), w95::MachineUse::Read, "w95 reg export", m.Dir(), 0);
    ToolRun query = W95({"reg", "query", m.Dir(), "HKLM"}, "W95_LOCK_WAIT=0");
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.err, "");
    Started writer = Start(m.Path().parent_path(), 1,
                           {"reg", "add", m.Dir(), "HKLM\\Software\\Later"},
                           {"W95_LOCK_WAIT=30"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    reader.reset();
    EXPECT_EQ(Wait(writer), 0) << ReadAll(writer.err);
    EXPECT_TRUE(Contains(ReadAll(writer.err),
                         "is in use by w95 reg export (pid " + pid + ")"))
        << ReadAll(writer.err) << ReadAll(m.Path() / "machine.lock");
    EXPECT_EQ(W95({"reg", "query", m.Dir(), "HKLM\\Software\\Later"}).exitCode,
              0);
}
