// What setup leaves on disk for a power loss: every file flushed before a
// step relies on it (a failed flush fails that step), the journal read from
// whichever of its two files holds more, the old INF files kept aside until
// the commit, names probed strictly and every work file named apart.
#include <gtest/gtest.h>

#include <algorithm>

#include "setup_machine.h"

namespace setup_test {
namespace {

const std::string Journal = TempFolder + "\\JOURNAL";
const std::string JournalNew = TempFolder + "\\JOURNAL.NEW";
const std::string InfDir = "C:\\WINDOWS\\INF\\";
const std::string JournalError =
    "Error writing file C:\\WINDOWS\\TEMP\\qvrback\\JOURNAL.  Error code = "
    "29.";
const std::string OldInf = "[QVR]\r\n" + Key25 + "old\r\n";

using State = std::map<std::string, std::string>;

// The records of a journal text, each without its check sum.
std::vector<std::string> Records(const std::string &text) {
    std::vector<std::string> records;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != text.npos;
         start = end + 2) {
        std::string line = text.substr(start, end - start);
        records.push_back(line.substr(0, line.rfind('*')));
    }
    return records;
}

std::string LastTag(const std::string &text) {
    std::vector<std::string> records = Records(text);
    return records.empty() ? ""
                           : records.back().substr(0, records.back().find(' '));
}

// A record's fields, split at the bars.
std::vector<std::string> Fields(const std::string &record) {
    std::vector<std::string> fields;
    std::string rest = record.substr(record.find(' ') + 1);
    for (std::size_t bar; (bar = rest.find('|')) != rest.npos;
         rest = rest.substr(bar + 1)) {
        fields.push_back(rest.substr(0, bar));
    }
    fields.push_back(rest);
    return fields;
}

// A machine with oem0.inf and oem2.inf, but no oem1.inf.
void MakeOemGap(SetupMachine &machine) {
    std::filesystem::remove(machine.HostPath(InfDir + "oem1.inf"));
    machine.WriteFile(InfDir + "oem2.inf", "[Version]\r\nanother vendor\r\n");
}

// ------------------------------------------------- every flush, failing
//
// The FlushFileBuffers calls of a first install, in order: each journal
// record, and each file right before the step that relies on it.
struct FlushCase {
    int call;
    std::string flushed;  // what it flushes: a record's tag or a file
    std::string message;  // "" for a step whose failure is quiet
    // What the rollback leaves that was not there before: files copied new
    // while nothing was replaced, and C:\VELTRANE when made.
    std::map<std::string, std::string> left = {};
};

const std::map<std::string, std::string> DllLeft = {
    {"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "new driver library"}};
const std::map<std::string, std::string> DriversLeft = {
    {"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "new driver library"},
    {"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD", PortDriver}};
std::map<std::string, std::string> WithFolder(
    std::map<std::string, std::string> left) {
    left["C:\\VELTRANE"] = "<dir>";
    return left;
}

const std::vector<FlushCase> FirstInstallFlushes = {
    {1, "REG", JournalError},
    {2, "REGSAVE", ""},
    {3, "REG+", JournalError},
    {4, "MSHDC", JournalError},
    {5, "MSHDC.INF saved",
     "Error backing up file C:\\WINDOWS\\INF\\MSHDC.INF.  Error code = 29."},
    {6, "MSHDC+", JournalError},
    {7, "MSHDC.INF edited", "File Read/Write Error.  Error code = 29."},
    {8, "MSHDC!", JournalError},
    {9, "INF", JournalError},
    {10, "QVRDMA.INF commented", "File Read/Write Error.  Error code = 29."},
    {11, "INF!", JournalError},
    {12, "NEW", JournalError},
    {13, "QVRIDE.DLL", "Error copying QVRIDE.DLL.  Error code = 29.", DllLeft},
    {14, "NEW", JournalError, DllLeft},
    {15, "HBX52XX.MPD", "Error copying HBX52XX.MPD.  Error code = 29.",
     DriversLeft},
    {16, "DIR", JournalError, DriversLeft},
    {17, "NEW", JournalError, WithFolder(DriversLeft)},
    {18, "PARLOD.EXE", ""},
    {19, "NEW", JournalError,
     WithFolder({{"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "new driver library"},
                 {"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD", PortDriver},
                 {"C:\\VELTRANE\\PARLOD.EXE", "new preload program"}})},
    {20, "PARLOD.INI", ""},
    {21, "COMMIT", JournalError,
     WithFolder({{"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "new driver library"},
                 {"C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD", PortDriver},
                 {"C:\\VELTRANE\\PARLOD.EXE", "new preload program"},
                 {"C:\\VELTRANE\\PARLOD.INI", "# 1\r\n* new parameters\r\n"}})},
};

// A failed flush fails its step as a failed write there does: the message
// of that step, and the machine put back.
TEST(SetupFlush, EachFailedFlushFailsItsStep) {
    State clean;
    {
        SetupMachine machine;
        machine.Setup("", "yes,no");
        clean = machine.State();
    }
    for (const FlushCase &c : FirstInstallFlushes) {
        SCOPED_TRACE("FlushFileBuffers@" + std::to_string(c.call) + " " +
                     c.flushed);
        SetupMachine machine;
        State before = machine.State();
        scenario::RunResult run =
            machine.Setup("", c.message.empty() ? "yes,no" : "yes,ok",
                          "FlushFileBuffers@" + std::to_string(c.call) + "=29");
        std::vector<std::string> texts = run.MessageTexts();
        if (c.message.empty()) {
            // A snapshot or a preload file that cannot be made: the
            // install goes on without it.
            EXPECT_EQ(run.exitCode, 0) << run.standardError;
            ASSERT_EQ(texts.size(), 2u);
            EXPECT_EQ(texts[1], RestartText);
            continue;
        }
        EXPECT_EQ(run.exitCode, 1) << run.standardError;
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[1], c.message);
        State expected = before;
        for (const auto &[path, content] : c.left) expected[path] = content;
        EXPECT_EQ(machine.State(), expected);
    }
    // Without its snapshot the install is whole, and nothing is left over.
    SetupMachine machine;
    machine.Setup("", "yes,no", "FlushFileBuffers@2=29");
    State state = machine.State();
    EXPECT_EQ(state, clean);
}

// Cut short right before each flush: a file's flush comes after the record
// that announces it and before the record that vouches for it; a record's
// flush comes before JOURNAL is replaced.
TEST(SetupFlush, EachFlushComesBetweenItsRecords) {
    for (const FlushCase &c : FirstInstallFlushes) {
        SCOPED_TRACE("FlushFileBuffers@" + std::to_string(c.call) + " " +
                     c.flushed);
        SetupMachine machine;
        ASSERT_TRUE(Crashed(machine.Setup(
            "", "yes",
            "FlushFileBuffers@" + std::to_string(c.call) + "=crash")));
        std::string journal =
            machine.Exists(Journal) ? machine.ReadFile(Journal) : "";
        if (machine.Exists(JournalNew)) {
            // A record being written: JOURNAL still holds the ones before.
            std::string written = machine.ReadFile(JournalNew);
            EXPECT_EQ(LastTag(written), c.flushed);
            EXPECT_EQ(Records(written).size(), Records(journal).size() + 1);
        } else {
            // A file: its own record is the last one on disk.
            std::string expected = c.call == 2    ? "REG"
                                   : c.call == 5  ? "MSHDC"
                                   : c.call == 7  ? "MSHDC+"
                                   : c.call == 10 ? "INF"
                                                  : "NEW";
            EXPECT_EQ(LastTag(journal), expected);
        }
    }
}

// Over an earlier install every saved copy is flushed before its "+"
// record, and a replaced file right after its copy.
TEST(SetupFlush, SavedCopiesOverAnEarlierInstall) {
    struct SavedCase {
        int call;
        std::string lastRecord;  // on disk when the flush comes
        std::string message;     // when that flush fails
    };
    const std::string DllError = "Error copying QVRIDE.DLL.  Error code = 29.";
    for (const SavedCase &c : std::vector<SavedCase>{
             {10,
              "INF 0|C:\\WINDOWS\\INF\\oem2.inf|" + TempFolder +
                  "\\oem2.inf|C:\\WINDOWS\\INF\\qvrnew1.$$$|"
                  "C:\\WINDOWS\\INF\\qvrold1.$$$",
              "Error backing up file C:\\WINDOWS\\INF\\oem2.inf.  Error code "
              "= 29."},
             {15,
              "OLD 0|C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL|" + TempFolder +
                  "\\QVRIDE.DLL",
              DllError},
             {17, "OLD+ 0", DllError}}) {
        SCOPED_TRACE(c.call);
        std::string fail = "FlushFileBuffers@" + std::to_string(c.call);
        SetupMachine crashed;
        crashed.AddEarlierInstall();
        ASSERT_TRUE(Crashed(crashed.Setup("", "yes", fail + "=crash")));
        EXPECT_FALSE(crashed.Exists(JournalNew));
        EXPECT_EQ(Records(crashed.ReadFile(Journal)).back(), c.lastRecord);

        SetupMachine failed;
        failed.AddEarlierInstall();
        State before = failed.State();
        scenario::RunResult run = failed.Setup("", "yes", fail + "=29");
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.MessageTexts().size(), 2u);
        EXPECT_EQ(run.MessageTexts()[1], c.message);
        // The old instance, once saved, stays saved, as after any rollback.
        if (c.call > 10) before[TempFolder + "\\oem2.inf"] = OldInf;
        if (c.call > 10) before[TempFolder] = "<dir>";
        EXPECT_EQ(failed.State(), before);
    }
}

// The registry is written out before the commit, and after a restore
// before its snapshot goes; a failure there is reported.
TEST(SetupFlush, TheRegistry) {
    SetupMachine machine;
    State before = machine.State();
    scenario::RunResult run = machine.Setup("", "yes", "RegFlushKey@1=1016");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1],
              "Error writing the Windows 95 registry.  Error code = 1016.");
    State expected = before;
    expected["C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"] = "new driver library";
    expected["C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD"] = PortDriver;
    expected["C:\\VELTRANE"] = "<dir>";
    expected["C:\\VELTRANE\\PARLOD.EXE"] = "new preload program";
    expected["C:\\VELTRANE\\PARLOD.INI"] = "# 1\r\n* new parameters\r\n";
    EXPECT_EQ(machine.State(), expected);

    SetupMachine kept;
    run = kept.Setup("", "yes,ok,ok", "RegFlushKey=1016");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 3u);
    EXPECT_EQ(run.MessageTexts()[2],
              "Unable to restore the Windows 95 registry.  Its saved copy is "
              "kept as C:\\WINDOWS\\TEMP\\qvrback\\REGSAVE.");
    EXPECT_TRUE(kept.Exists(TempFolder + "\\REGSAVE"));
    EXPECT_TRUE(kept.Exists(Journal));
}

// With the registry written back only at RegFlushKey or a normal end, a
// cut while committing keeps the removal of the old registrations.
TEST(SetupFlush, ACommitCutShortKeepsTheRegistry) {
    SetupMachine installed;
    installed.WriteMachineIni("[machine]\nRegistryWrite=exit\n");
    installed.Setup("", "yes,no");
    SetupMachine machine;
    machine.WriteMachineIni("[machine]\nRegistryWrite=exit\n");
    // SetFileAttributesA@2: the commit's first deletion.
    ASSERT_TRUE(
        Crashed(machine.Setup("", "yes", "SetFileAttributesA@2=crash")));
    EXPECT_EQ(machine.Registry(), installed.Registry());
    machine.Setup("", "no");
    EXPECT_EQ(machine.State(), installed.State());
}

// A recovery cut short after the registry was restored and its snapshot
// deleted: the restored registry was written out first.
TEST(SetupFlush, ARestoredRegistryIsWrittenBeforeItsSnapshotGoes) {
    SetupMachine untouched;
    untouched.WriteMachineIni("[machine]\nRegistryWrite=exit\n");
    SetupMachine machine;
    machine.WriteMachineIni("[machine]\nRegistryWrite=exit\n");
    // Cut short writing COMMIT, after the registry's changes were written
    // out; the record did not reach the disk.
    ASSERT_TRUE(Crashed(machine.Setup("", "yes", "FlushFileBuffers@21=crash")));
    ASSERT_NE(machine.Registry(), untouched.Registry());
    std::filesystem::remove(machine.HostPath(JournalNew));
    // The recovery restores the registry and is cut short putting back
    // MSHDC.INF, after the snapshot is gone.
    ASSERT_TRUE(Crashed(machine.Setup("", "ok", "CopyFileA@1=crash")));
    EXPECT_FALSE(machine.Exists(TempFolder + "\\REGSAVE"));
    EXPECT_EQ(machine.State()["registry"], untouched.State()["registry"]);
    scenario::RunResult rerun = machine.Setup("", "ok,no");
    EXPECT_EQ(rerun.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(machine.State(), untouched.State());
}

// An undo whose put-back cannot be flushed keeps the saved copy and the
// journal; the next run puts the file back.
TEST(SetupFlush, AFailedFlushInTheRollbackKeepsTheCopy) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    SetupMachine earlier;
    earlier.AddEarlierInstall();
    // CopyFileA@8: the port driver's overwrite. FlushFileBuffers: 1-20 up
    // to its saved copy's record, 21 its put-back; then the rollback's: 22
    // MSHDC.INF, 23 oem2.inf, 24 QVRIDE.DLL.
    scenario::RunResult run =
        machine.Setup("", "yes,ok,ok", "CopyFileA@8=5,FlushFileBuffers@23=29");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 3u);
    EXPECT_EQ(run.MessageTexts()[2],
              "Unable to restore C:\\WINDOWS\\INF\\oem2.inf.  Its saved copy "
              "is kept as C:\\WINDOWS\\TEMP\\qvrback\\oem2.inf.");
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\oem2.inf"), OldInf);
    EXPECT_EQ(machine.ReadFile(InfDir + "qvrold1.$$$"), OldInf);
    EXPECT_TRUE(machine.Exists(Journal));

    scenario::RunResult rerun = machine.Setup("", "ok,no");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.standardError;
    EXPECT_EQ(rerun.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(machine.State(), earlier.State());
}

// ------------------------------------------------------ the journal's two
//
// A cut that takes back the delete and the rename of the journal's exchange
// leaves JOURNAL and JOURNAL.NEW: the one with more valid records counts.
TEST(SetupJournal, TheFileWithMoreRecordsCounts) {
    SetupMachine untouched;
    SetupMachine machine;
    // Cut short writing "NEW 1", after QVRIDE.DLL was copied new.
    ASSERT_TRUE(Crashed(machine.Setup("", "yes", "FlushFileBuffers@14=crash")));
    std::string full = machine.ReadFile(Journal);
    ASSERT_EQ(LastTag(full), "NEW");
    // JOURNAL without the record of QVRIDE.DLL, JOURNAL.NEW with it.
    std::string shorter = full.substr(0, full.rfind("NEW 0|"));
    machine.WriteFile(Journal, shorter);
    machine.WriteFile(JournalNew, full);
    scenario::RunResult rerun = machine.Setup("", "ok,no");
    EXPECT_EQ(rerun.exitCode, 0) << rerun.standardError;
    EXPECT_EQ(rerun.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(machine.State(), untouched.State());

    // A torn JOURNAL.NEW beside a whole JOURNAL: JOURNAL counts.
    SetupMachine torn;
    ASSERT_TRUE(Crashed(torn.Setup("", "yes", "FlushFileBuffers@14=crash")));
    torn.WriteFile(JournalNew, full.substr(0, full.find("MSHDC") + 9));
    rerun = torn.Setup("", "ok,no");
    EXPECT_EQ(rerun.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(torn.State(), untouched.State());

    // A journal whose attribute query fails is read all the same.
    SetupMachine unprobed;
    ASSERT_TRUE(
        Crashed(unprobed.Setup("", "yes", "FlushFileBuffers@14=crash")));
    rerun = unprobed.Setup("", "ok,no", "GetFileAttributesA@1=5");
    EXPECT_EQ(rerun.MessageTexts().front(), RecoveredText);
    EXPECT_EQ(unprobed.State(), untouched.State());
}

// ------------------------------------------------------------ the commit
//
// A work file that the commit or an undo cannot delete stays named in the
// journal; the next run deletes it without a word. A handle that
// failed to close is closed again, so that nothing keeps a file open.
TEST(SetupCommit, WhatTheCommitLeftIsDeletedByTheNextRun) {
    SetupMachine installed;
    installed.Setup("", "yes,no");
    // DeleteFileA 13 is the snapshot's at the commit, 14 MSHDC.INF's aside;
    // CloseHandle 3 closes the snapshot after its flush.
    for (const char *fault :
         {"DeleteFileA@13=5", "DeleteFileA@14=5", "CloseHandle@3=5"}) {
        SetupMachine machine;
        scenario::RunResult run = machine.Setup("", "yes,no", fault);
        EXPECT_EQ(run.exitCode, 0) << fault;
        EXPECT_EQ(machine.Exists(Journal), fault[0] == 'D') << fault;
        run = machine.Setup("", "no");
        EXPECT_EQ(run.MessageTexts().size(), 1u) << fault;
        EXPECT_EQ(machine.State(), installed.State()) << fault;
    }

    // The same for what the recovery of an interrupted install could not
    // delete: DeleteFileA 1 is the snapshot's, 2 MSHDC.INF's aside.
    SetupMachine untouched;
    for (const char *fault : {"DeleteFileA@1=5", "DeleteFileA@2=5"}) {
        SetupMachine machine;
        ASSERT_TRUE(Crashed(machine.Setup("", "yes", "CopyFileA@3=crash")));
        scenario::RunResult run = machine.Setup("", "ok,no", fault);
        EXPECT_EQ(run.MessageTexts().front(), RecoveredText) << fault;
        EXPECT_TRUE(machine.Exists(Journal)) << fault;
        run = machine.Setup("", "no");
        EXPECT_EQ(run.MessageTexts().size(), 1u) << fault;
        EXPECT_EQ(machine.State(), untouched.State()) << fault;
    }
}

// ------------------------------------------------------------ the asides
//
// After an exchange the old file stays aside, and an undo puts it back from
// there, not from the saved copy, which a power loss may have torn.
TEST(SetupAside, TheOldFilesComeBackFromTheAside) {
    SetupMachine untouched;
    SetupMachine machine;
    // Cut short writing the driver INF's record, after MSHDC.INF's exchange.
    ASSERT_TRUE(Crashed(machine.Setup("", "yes", "FlushFileBuffers@9=crash")));
    EXPECT_EQ(machine.ReadFile(InfDir + "qvrold0.$$$"), Mshdc);
    machine.WriteFile(TempFolder + "\\MSHDC.INF", "torn");
    machine.Setup("", "ok,no");
    EXPECT_EQ(machine.State(), untouched.State());

    SetupMachine earlier;
    earlier.AddEarlierInstall();
    SetupMachine over;
    over.AddEarlierInstall();
    // Cut short writing "OLD 0", after the driver INF's exchange.
    ASSERT_TRUE(Crashed(over.Setup("", "yes", "FlushFileBuffers@14=crash")));
    // MSHDC.INF, edited before, took the first work names unused.
    EXPECT_EQ(over.ReadFile(InfDir + "qvrold1.$$$"), OldInf);
    over.WriteFile(TempFolder + "\\oem2.inf", "torn");
    over.Setup("", "ok,no");
    EXPECT_EQ(over.State(), earlier.State());
}

// ------------------------------------------------------------ names
//
// A name whose probe fails for another reason than "not found" is neither
// free nor taken: the step fails with that error, and no file that was
// there is touched.
TEST(SetupNames, AFailedProbeIsNoFreeName) {
    SetupMachine machine;
    MakeOemGap(machine);
    State before = machine.State();
    // GetFileAttributesA: 1 and 2 the journals, 3 the snapshot's name, 4
    // MSHDC.INF's saved copy, 5 and 6 its work names, 7 MSHDC.INF before its
    // exchange, 8 the new oem name oem2.inf, 9 the driver INF's work name, 10
    // QVRIDE.DLL, 11 HBX52XX.MPD, 12 C:\VELTRANE.
    scenario::RunResult run =
        machine.Setup("", "yes", "GetFileAttributesA@8=5");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1], "File Read/Write Error.  Error code = 5.");
    EXPECT_EQ(machine.State(), before);

    // A probe that says "not found" of a file that is there: the rename
    // onto it fails, and the rollback leaves that file alone.
    SetupMachine wrong;
    MakeOemGap(wrong);
    run = wrong.Setup("", "yes", "GetFileAttributesA@8=2");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1],
              "File Read/Write Error.  Error code = 183.");
    EXPECT_EQ(wrong.State(), before);

    // The other probes: a saved-file name fails the copy, the preload
    // folder's skips the preload files.
    SetupMachine dll;
    run = dll.Setup("", "yes", "GetFileAttributesA@10=5");
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1],
              "Error copying QVRIDE.DLL.  Error code = 5.");
    SetupMachine folder;
    run = folder.Setup("", "yes,no", "GetFileAttributesA@12=5");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(folder.Exists("C:\\VELTRANE"));
}

// Every work file of a run has its own name, also when an earlier one was
// renamed away before the next was chosen.
TEST(SetupNames, EveryWorkFileHasItsOwnName) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    // Cut short writing "INF!": both records with their names are on disk.
    ASSERT_TRUE(Crashed(machine.Setup("", "yes", "FlushFileBuffers@13=crash")));
    std::vector<std::string> names;
    for (const std::string &record : Records(machine.ReadFile(Journal))) {
        std::vector<std::string> f = Fields(record);
        if (record.rfind("MSHDC ", 0) == 0)
            names.insert(names.end(), {f[2], f[3]});
        if (record.rfind("INF ", 0) == 0)
            names.insert(names.end(), {f[3], f[4]});
    }
    ASSERT_EQ(names.size(), 4u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end())
        << names[0] << " " << names[1] << " " << names[2] << " " << names[3];
    EXPECT_EQ(LastTag(machine.ReadFile(JournalNew)), "INF!");
}

}  // namespace
}  // namespace setup_test

namespace setup_test {
namespace {

// ---------------------------------------------------------- power losses
//
// The power fails before each flush and each deletion of an install, with
// every kind of loss; the next run (answering No) leaves the machine either
// as it was or fully installed: nothing lost, emptied or torn.
bool PowerFailed(const scenario::RunResult &run) {
    for (const auto &fault : run.Events("Fault")) {
        std::string kind = fault.value("error", nlohmann::json()).dump();
        if (kind.find("powerloss") != std::string::npos) return true;
    }
    return false;
}

void PowerLossSweep(bool earlier) {
    State untouched;
    State installed;
    {
        SetupMachine machine;
        if (earlier) machine.AddEarlierInstall();
        untouched = machine.State();
        machine.Setup("", "yes,no");
        installed = machine.State();
    }
    int points = 0;
    for (const char *kind : {"powerloss", "powerloss-meta", "powerloss-torn"}) {
        for (const char *call : {"FlushFileBuffers", "DeleteFileA"}) {
            for (int n = 1;; n += scenario::SweepStride()) {
                std::string point =
                    std::string(call) + "@" + std::to_string(n) + "=" + kind;
                SetupMachine machine;
                if (earlier) machine.AddEarlierInstall();
                if (!PowerFailed(machine.Setup("", "yes,no", point))) break;
                ++points;
                // A recovery says so first; a finished commit says nothing.
                scenario::RunResult rerun = machine.Setup("", "ok,no");
                if (rerun.exitCode == 3) rerun = machine.Setup("", "no");
                EXPECT_EQ(rerun.exitCode, 0) << point << rerun.standardError;
                State after = machine.State();
                if (after != installed) {
                    EXPECT_EQ(after, untouched) << point;
                }
            }
        }
    }
    EXPECT_GT(points, 100 / scenario::SweepStride());
}

TEST(SetupPowerLoss, FirstInstall) { PowerLossSweep(false); }
TEST(SetupPowerLoss, InstallOverAnEarlierOne) { PowerLossSweep(true); }

}  // namespace
}  // namespace setup_test
