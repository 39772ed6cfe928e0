// setup cut short by a power loss (an injected crash) and run again: the
// second run undoes the first by its journal, says so, and installs; no file
// is lost or emptied on the way. The sweep crashes an install at every call
// number of every call that writes a file or the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "setup_machine.h"

namespace setup_test {
namespace {

const std::string NotRecoveredText =
    "Setup was interrupted before it finished, and not all of the changes "
    "it had made could be undone.  Setup aborted.";

using State = std::map<std::string, std::string>;

// The journal a crashed run left, "" when none: of JOURNAL and JOURNAL.NEW
// the one with more records (a crash never tears a line).
std::string JournalLeft(const SetupMachine &machine) {
    std::string journal;
    for (const char *name : {"\\JOURNAL", "\\JOURNAL.NEW"}) {
        if (!machine.Exists(TempFolder + name)) continue;
        std::string text = machine.ReadFile(TempFolder + name) + "\n";
        auto lines = [](const std::string &t) {
            return std::count(t.begin(), t.end(), '\r');
        };
        if (journal.empty() || lines(text) > lines(journal)) journal = text;
    }
    return journal;
}

// Whether the next run has something to undo and tells the user: a journal
// with a record, of a run that had not begun its commit.
bool ExpectsRecovery(const SetupMachine &machine) {
    std::string journal = JournalLeft(machine);
    return journal.find("\r\n") != std::string::npos &&
           journal.find("COMMIT") == std::string::npos;
}

// Every file's content of `before` is still somewhere on the machine, and
// no file that held bytes is empty.
void ExpectNothingLost(const State &before, const State &after,
                       const std::string &where) {
    std::multiset<std::string> contents;
    for (const auto &[path, content] : after) contents.insert(content);
    for (const auto &[path, content] : before) {
        if (path == "registry" || content == "<dir>") continue;
        EXPECT_TRUE(contents.count(content) > 0)
            << where << ": the content of " << path << " is gone";
        auto now = after.find(path);
        if (now != after.end() && !content.empty()) {
            EXPECT_FALSE(now->second.empty())
                << where << ": " << path << " was emptied";
        }
    }
}

// A machine's state without the registry, the working directory and the
// old INF files that the exchanges moved aside until the commit.
State Installed(State state) {
    std::erase_if(state, [](const auto &entry) {
        return entry.first == "registry" ||
               entry.first.rfind(TempFolder, 0) == 0 ||
               entry.first.rfind("C:\\WINDOWS\\INF\\qvrold", 0) == 0;
    });
    return state;
}

State CleanInstall(bool earlier) {
    SetupMachine machine;
    if (earlier) machine.AddEarlierInstall();
    scenario::RunResult run = machine.Setup();
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    return machine.State();
}

struct SweepCount {
    int points = 0;      // crashes run and recovered from
    int recoveries = 0;  // of them, reruns that undid a journal
};

// Crashes a fresh machine at `call` number n, checks what lies on disk, runs
// setup again and compares with one clean install. False when the call is
// not reached n times.
bool CrashAndRerun(bool earlier, const std::string &call, int n,
                   const State &clean, SweepCount *count) {
    SetupMachine machine;
    if (earlier) machine.AddEarlierInstall();
    State before = machine.State();
    std::string point = call + "@" + std::to_string(n);
    scenario::RunResult crash = machine.Setup("", "yes,no", point + "=crash");
    if (!Crashed(crash)) {
        EXPECT_EQ(crash.exitCode, 0) << point << crash.standardError;
        return false;
    }
    ++count->points;
    State crashed = machine.State();
    bool committing = JournalLeft(machine).find("COMMIT") != std::string::npos;
    if (committing || Installed(crashed) == Installed(clean)) {
        // Cut short while committing: everything is installed, and only the
        // saved copies and the files moved aside (the old contents) are being
        // deleted. The registry was written out before the commit began.
        EXPECT_EQ(Installed(crashed), Installed(clean)) << point;
    } else {
        ExpectNothingLost(before, crashed, point);
    }

    bool recovery = ExpectsRecovery(machine);
    if (recovery) ++count->recoveries;
    scenario::RunResult rerun =
        machine.Setup("", recovery ? "ok,yes,no" : "yes,no");
    EXPECT_EQ(rerun.exitCode, 0) << point << rerun.standardError;
    std::vector<std::string> texts = rerun.MessageTexts();
    EXPECT_EQ(texts.size(), recovery ? 3u : 2u) << point;
    if (recovery && !texts.empty()) {
        EXPECT_EQ(texts.front(), RecoveredText) << point;
        EXPECT_EQ(rerun.Events("MessageBox").front()["caption"],
                  ProgressCaption);
    }
    if (!texts.empty()) {
        EXPECT_EQ(texts.back(), RestartText) << point;
    }
    State after = machine.State();
    EXPECT_EQ(after, clean) << point;
    return true;
}

// The calls that change a file, a folder or the registry.
const char *const WritingCalls[] = {
    "CreateFileA",      "WriteFile",   "CloseHandle",        "MoveFileA",
    "CopyFileA",        "DeleteFileA", "SetFileAttributesA", "CreateDirectoryA",
    "RemoveDirectoryA", "RegSaveKeyA", "RegRestoreKeyA",     "RegDeleteKeyA",
    "RegSetValueExA"};

// Every call number of every writing call, or (by default, to keep the test
// short) the first dozen, every eleventh after them and the last dozen; in
// the sanitizer build a quarter of those. KIT_FULL_SWEEP=1 runs every point.
SweepCount Sweep(bool earlier) {
    bool full = std::getenv("KIT_FULL_SWEEP") != nullptr;
    const int stride = full ? 1 : scenario::SweepStride();
    State clean = CleanInstall(earlier);
    SweepCount count;
    for (const char *call : WritingCalls) {
        int n = 1;
        while (CrashAndRerun(earlier, call, n, clean, &count)) {
            n += full ? 1 : n < 12 ? stride : 11 * stride;
        }
        if (full || n <= 12) continue;
        // n is not reached: the last ones before it that the stride passed
        // over are swept one by one.
        for (int last = std::max(13, n - 12 / stride); last < n; ++last) {
            if ((last - 12) % (11 * stride) != 0) {
                CrashAndRerun(earlier, call, last, clean, &count);
            }
        }
    }
    std::printf("crash points %s: %d run, %d recovered by the journal\n",
                earlier ? "over an earlier install" : "of a first install",
                count.points, count.recoveries);
    return count;
}

TEST(SetupCrashSweep, FirstInstall) {
    SweepCount count = Sweep(false);
    EXPECT_GT(count.points, 50 / scenario::SweepStride());
    EXPECT_GT(count.recoveries, 0);
}

TEST(SetupCrashSweep, InstallOverAnEarlierOne) {
    SweepCount count = Sweep(true);
    EXPECT_GT(count.points, 50 / scenario::SweepStride());
    EXPECT_GT(count.recoveries, 0);
}

// A crash between the two renames of MSHDC.INF leaves no MSHDC.INF; its
// content lies aside and in the saved copy, and the next run puts it back.
TEST(SetupCrashRecovery, MshdcBetweenTheRenames) {
    SetupMachine machine;
    // MoveFileA: 1-4 the journal's records up to MSHDC.INF's; 5 the record
    // that the exchange begins, 6 MSHDC.INF aside, 7 the edited copy in.
    scenario::RunResult crash = machine.Setup("", "yes", "MoveFileA@7=crash");
    ASSERT_TRUE(Crashed(crash));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\INF\\MSHDC.INF"));
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\MSHDC.INF"), Mshdc);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\qvrold0.$$$"), Mshdc);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\qvrnew0.$$$"),
              MshdcCommented);

    // The user answers No after the recovery: the machine is as before.
    SetupMachine untouched;
    scenario::RunResult rerun = machine.Setup("", "ok,no");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.standardError;
    ASSERT_EQ(rerun.MessageTexts().size(), 2u);
    EXPECT_EQ(rerun.MessageTexts()[0], RecoveredText);
    auto box = rerun.Events("MessageBox").front();
    EXPECT_EQ(box["caption"], ProgressCaption);
    EXPECT_EQ(box["type"], 0x10000 | 0x40);
    EXPECT_EQ(machine.State(), untouched.State());
}

// A crash inside the commenting copy of the driver INF: the half-written
// copy never carries an oem name, and the rerun leaves one complete INF.
TEST(SetupCrashRecovery, HalfWrittenDriverInf) {
    SetupMachine machine;
    scenario::RunResult crash = machine.Setup("", "yes", "WriteFile@40=crash");
    ASSERT_TRUE(Crashed(crash));
    for (const std::string &path : machine.List("C:\\WINDOWS\\INF")) {
        if (path.find("\\oem") != std::string::npos) {
            EXPECT_NE(machine.ReadFile(path).find("vendor"), std::string::npos)
                << path;
        }
    }
    scenario::RunResult rerun = machine.Setup("", "ok,yes,no");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.standardError;
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              DriverInfCommented);
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\INF\\oem3.inf"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\INF\\qvrnew0.$$$"));
}

// A recovery that cannot put a saved copy back stops before anything else:
// the journal and every saved copy stay for the next try, which succeeds.
TEST(SetupCrashRecovery, AnIncompleteRecoveryStopsAndKeepsItsCopies) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    SetupMachine earlier;
    earlier.AddEarlierInstall();
    // CopyFileA: 1 MSHDC.INF, 2 oem2.inf, 3-5 QVRIDE.DLL; crash before the
    // port driver's saved copy.
    ASSERT_TRUE(Crashed(machine.Setup("", "yes", "CopyFileA@7=crash")));
    scenario::RunResult stopped =
        machine.Setup("", "ok,ok,ok,ok", "CopyFileA=5");
    EXPECT_EQ(stopped.exitCode, 1);
    ASSERT_FALSE(stopped.MessageTexts().empty());
    EXPECT_EQ(stopped.MessageTexts().back(), NotRecoveredText);
    EXPECT_TRUE(machine.Exists(TempFolder + "\\JOURNAL"));
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\QVRIDE.DLL"),
              "old driver library");
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\MSHDC.INF"), MshdcCommented);

    scenario::RunResult recovered = machine.Setup("", "ok,no");
    EXPECT_EQ(recovered.exitCode, 0) << recovered.standardError;
    EXPECT_EQ(recovered.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(machine.State(), earlier.State());
}

// A run cut short while committing had installed everything: the next run
// only finishes the clean-up, without a message of its own.
TEST(SetupCrashRecovery, ACommitCutShortIsFinished) {
    SetupMachine machine;
    SetupMachine installed;
    installed.Setup();
    // The commit deletes the snapshot first: SetFileAttributesA@2 (the
    // first clears the attributes of the snapshot just saved).
    ASSERT_TRUE(
        Crashed(machine.Setup("", "yes", "SetFileAttributesA@2=crash")));
    EXPECT_TRUE(machine.Exists(TempFolder + "\\JOURNAL"));
    scenario::RunResult rerun = machine.Setup("", "no");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.standardError;
    EXPECT_EQ(rerun.MessageTexts().size(), 1u);
    EXPECT_FALSE(machine.Exists(TempFolder));
    // The registry's changes were not written back before the crash.
    State state = machine.State();
    State expected = installed.State();
    state.erase("registry");
    expected.erase("registry");
    EXPECT_EQ(state, expected);
}

}  // namespace
}  // namespace setup_test
