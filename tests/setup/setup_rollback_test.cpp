// setup's fatal failures, run as a process: the message with its error
// code, the undo actions in their order, and the machine back as it was.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "setup_machine.h"

namespace setup_test {
namespace {

const std::string RestoreRegistry = "Restoring the Windows 95 registry.";
const std::string RestoreMshdc = "Restoring MSHDC.INF.";
const std::string DeleteInf = "Deleting QVRDMA.INF.";
const std::string RestoreInf = "Restoring QVRDMA.INF in Windows INF directory.";
const std::string RestoreFiles = "Restoring files.";

// ReadFile calls of the port driver probe: one per byte up to the banner's
// closing NUL. The next ReadFile is the one of MSHDC.INF.
int ProbeReads() {
    std::size_t marker = PortDriver.find("$qvrver$\0"s);
    return static_cast<int>(PortDriver.find('\0', marker + 9)) + 1;
}

// The progress texts after the one that `after` names.
std::vector<std::string> ProgressAfter(const scenario::RunResult &run,
                                       const std::string &after) {
    std::vector<std::string> texts = ProgressTexts(run);
    auto at = std::find(texts.begin(), texts.end(), after);
    if (at == texts.end()) return {"<" + after + " not shown>"};
    return std::vector<std::string>(at + 1, texts.end());
}

struct FatalCase {
    const char *name;
    bool earlierInstall;
    std::function<void(SetupMachine &)> prepare;
    std::string fail;
    std::string message;
    std::string lastStep;                // the progress text it failed under
    std::vector<std::string> undoSteps;  // the progress texts of the undo
    // What the rollback leaves behind that was not there before: a file
    // copied new while no older file was replaced, a saved old instance of
    // the driver INF (and with it the working directory).
    std::map<std::string, std::string> left = {};
};

// Test listings show a case by its name.
void PrintTo(const FatalCase &c, std::ostream *out) { *out << c.name; }

class SetupFatal : public ::testing::TestWithParam<FatalCase> {};

TEST_P(SetupFatal, ReportsAndPutsTheMachineBack) {
    const FatalCase &c = GetParam();
    SetupMachine machine;
    if (c.earlierInstall) machine.AddEarlierInstall();
    if (c.prepare) c.prepare(machine);
    auto before = machine.State();

    scenario::RunResult run = machine.Setup("", "yes", c.fail);
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], c.message);
    auto boxes = run.Events("MessageBox");
    EXPECT_EQ(boxes[1]["caption"], ErrorCaption);
    EXPECT_EQ(boxes[1]["type"], 0x10000 | 0x10);
    EXPECT_EQ(ProgressAfter(run, c.lastStep), c.undoSteps);
    EXPECT_EQ(run.Events("DestroyWindow").size(), 1u);
    EXPECT_TRUE(run.Events("ExitWindowsEx").empty());

    auto expected = before;
    for (const auto &[path, content] : c.left) expected[path] = content;
    EXPECT_EQ(machine.Exists(TempFolder), expected.count(TempFolder) == 1);
    EXPECT_EQ(machine.State(), expected);
}

void RemoveIosubsys(SetupMachine &m) {
    std::filesystem::remove_all(m.HostPath("C:\\WINDOWS\\SYSTEM\\IOSUBSYS"));
}
void RemoveSource(SetupMachine &m, const char *name) {
    std::filesystem::remove(m.HostPath(std::string("A:\\") + name));
}

const std::vector<std::string> AllFourOverOld = {
    RestoreRegistry, RestoreMshdc, DeleteInf, RestoreInf, RestoreFiles};

// The old instance oem2.inf is put back, and its saved copy stays.
const std::map<std::string, std::string> KeptOldInf = {
    {TempFolder, "<dir>"},
    {TempFolder + "\\oem2.inf", "[QVR]\r\n" + Key25 + "old\r\n"}};

// The commenting copy's first ReadFile: after the probe, MSHDC.INF, the
// source INF and the four reads of oem0.inf and oem1.inf.
const int FirstCopyRead = ProbeReads() + 1 + 1 + 4 + 1;

INSTANTIATE_TEST_SUITE_P(
    Cases, SetupFatal,
    ::testing::Values(
        FatalCase{"NoDriverInf",
                  false,
                  [](SetupMachine &m) { RemoveSource(m, "QVRDMA.INF"); },
                  "",
                  "INF file missing on distribution disk.",
                  "Looking for QVRDMA.INF on source disk.",
                  {RestoreRegistry, RestoreMshdc}},
        // Nothing was replaced: the files are not restored, and the library
        // copied new stays.
        FatalCase{"PortDriverTargetMissing",
                  false,
                  RemoveIosubsys,
                  "",
                  "Error copying HBX52XX.MPD.  Error code = 3.",
                  "Copying HBX52XX.MPD.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf},
                  {{"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "new driver library"}}},
        FatalCase{"PortDriverOverwriteFails", true, nullptr, "CopyFileA@8=5",
                  "Error copying HBX52XX.MPD.  Error code = 5.",
                  "Copying HBX52XX.MPD.", AllFourOverOld, KeptOldInf},
        FatalCase{"DllMissingBesideAnOlderCopy",
                  true,
                  [](SetupMachine &m) { RemoveSource(m, "QVRIDE.DLL"); },
                  "",
                  "Error copying QVRIDE.DLL.  Error code = 2.",
                  "Copying QVRIDE.DLL.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf, RestoreInf},
                  KeptOldInf},
        FatalCase{"DllSaveFails",
                  true,
                  nullptr,
                  "CopyFileA@4=5",
                  "Error copying QVRIDE.DLL.  Error code = 5.",
                  "Copying QVRIDE.DLL.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf, RestoreInf},
                  KeptOldInf},
        FatalCase{"DllOverwriteFails",
                  true,
                  nullptr,
                  "CopyFileA@5=5",
                  "Error copying QVRIDE.DLL.  Error code = 5.",
                  "Copying QVRIDE.DLL.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf, RestoreInf},
                  KeptOldInf},
        // The older library could not be put back at once: the rollback
        // tries again, although nothing counts as replaced.
        FatalCase{"DllPutBackFails", true, nullptr,
                  "CopyFileA@5=5,CopyFileA@6=5",
                  "Error copying QVRIDE.DLL.  Error code = 5.",
                  "Copying QVRIDE.DLL.", AllFourOverOld, KeptOldInf},
        FatalCase{"NoSystemDirectory",
                  false,
                  nullptr,
                  "GetSystemDirectoryA=5",
                  "Error getting system directory name.  Error code = 5.",
                  "Copying QVRIDE.DLL.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf}},
        FatalCase{"NoWindowsDirectory",
                  false,
                  nullptr,
                  "GetWindowsDirectoryA=5",
                  "Error getting Windows directory name.  Error code = 5.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry}},
        FatalCase{"MshdcBackupFails",
                  false,
                  nullptr,
                  "CopyFileA@1=5",
                  "Error backing up file C:\\WINDOWS\\INF\\MSHDC.INF.  Error "
                  "code = 5.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry}},
        FatalCase{"MshdcSizeFails",
                  false,
                  nullptr,
                  "GetFileSize@1=6",
                  "File C:\\WINDOWS\\INF\\MSHDC.INF is too large.  Error code "
                  "= 6.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"MshdcReadFails",
                  false,
                  nullptr,
                  "ReadFile@" + std::to_string(ProbeReads() + 1) + "=30",
                  "File Read/Write Error.  Error code = 30.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"MshdcBufferFails",
                  false,
                  nullptr,
                  "LocalAlloc@2=8",
                  "File Read/Write Error.  Error code = 8.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"MshdcCannotBeOpenedForWriting",
                  false,
                  nullptr,
                  // 1 the port driver, 2 and 4 the registry's journal
                  // records around 3 the snapshot's flush, 5 the probe, 6
                  // and 8 MSHDC.INF's records around 7 its saved copy's
                  // flush, 9 the saved copy, 10 MSHDC.INF for writing.
                  "CreateFileA@10=32",
                  "File Read/Write Error.  Error code = 32.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"MshdcWriteFails",
                  false,
                  nullptr,
                  // Four journal records come first.
                  "WriteFile@5=39",
                  "File Read/Write Error.  Error code = 39.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        // A failed close leaves the copy open; it is closed again, so that
        // the rollback can delete it and no work file stays in INF.
        FatalCase{"MshdcCopyCloseFails",
                  false,
                  nullptr,
                  // The ten closes of MshdcCannotBeOpenedForWriting, then
                  // the edited copy's.
                  "CloseHandle@11=29",
                  "File Read/Write Error.  Error code = 29.",
                  "Editing MSHDC.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"OldInstanceBackupFails",
                  true,
                  nullptr,
                  "CopyFileA@2=5",
                  "Error backing up file C:\\WINDOWS\\INF\\oem2.inf.  Error "
                  "code = 5.",
                  "Looking for old instance of QVRDMA.INF.",
                  {RestoreRegistry, RestoreMshdc}},
        FatalCase{"DriverInfWriteFails",
                  false,
                  nullptr,
                  // Four journal records, MSHDC.INF, two more records.
                  "WriteFile@8=39",
                  "File Read/Write Error.  Error code = 39.",
                  "Copying QVRDMA.INF.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf}},
        FatalCase{"DriverInfCopyCloseFails",
                  false,
                  nullptr,
                  // After the copy, the source INF is closed (19).
                  "CloseHandle@20=29",
                  "File Read/Write Error.  Error code = 29.",
                  "Copying QVRDMA.INF.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf}},
        FatalCase{"OldInstanceWriteFails",
                  true,
                  nullptr,
                  // The fourth byte of the copy, after five records.
                  "WriteFile@12=39",
                  "File Read/Write Error.  Error code = 39.",
                  "Copying QVRDMA.INF.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf, RestoreInf},
                  KeptOldInf},
        FatalCase{"WholeCopyAfterReadErrorFails",
                  false,
                  nullptr,
                  "ReadFile@" + std::to_string(FirstCopyRead + 20) +
                      "=30,CopyFileA@2=5",
                  "File Read/Write Error.  Error code = 5.",
                  "Copying QVRDMA.INF.",
                  {RestoreRegistry, RestoreMshdc, DeleteInf}}),
    [](const ::testing::TestParamInfo<FatalCase> &info) {
        return std::string(info.param.name);
    });

TEST(SetupRollback, AReadErrorInTheDriverInfCopiesItWhole) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup(
        "", "yes,no", "ReadFile@" + std::to_string(FirstCopyRead + 20) + "=30");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"), DriverInf);
    EXPECT_FALSE(machine.Exists(TempFolder));
}

TEST(SetupRollback, AFailedSnapshotLeavesTheRemovalInPlace) {
    SetupMachine machine;
    RemoveIosubsys(machine);
    scenario::RunResult run = machine.Setup("", "yes", "RegSaveKeyA=5");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ProgressAfter(run, "Copying HBX52XX.MPD."),
              (std::vector<std::string>{RestoreMshdc, DeleteInf}));
    // Intended: without a snapshot the removal cannot be undone.
    EXPECT_FALSE(HasKey(machine.Registry(),
                        std::string(PciKey) + "\\VEN_7A3C&DEV_0528"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), Mshdc);
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"));
    EXPECT_FALSE(machine.Exists(TempFolder));
}

TEST(SetupRollback, ASnapshotThatCannotBeRestoredStaysAndIsNamed) {
    SetupMachine machine;
    RemoveIosubsys(machine);
    scenario::RunResult run = machine.Setup("", "yes", "RegRestoreKeyA=1016");
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2],
              "Unable to restore the Windows 95 registry.  Its saved copy is "
              "kept as C:\\WINDOWS\\TEMP\\qvrback\\REGSAVE.");
    // The journal stays with it, so that the next run tries again.
    EXPECT_EQ(machine.List(TempFolder),
              (std::vector<std::string>{TempFolder + "\\JOURNAL",
                                        TempFolder + "\\REGSAVE"}));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), Mshdc);
}

// Files an earlier run kept in the working directory are left alone: the
// saved copies go under other names, and the rollback still has them.
TEST(SetupRollback, CopiesKeptByAnEarlierRunAreLeftAlone) {
    SetupMachine machine;
    RemoveIosubsys(machine);
    machine.MakeDirectory(TempFolder);
    machine.WriteFile(TempFolder + "\\REGSAVE", "kept registry");
    machine.WriteFile(TempFolder + "\\MSHDC.INF", "kept mshdc");
    auto expected = machine.State();
    scenario::RunResult run = machine.Setup("", "yes");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.MessageTexts().back(),
              "Error copying HBX52XX.MPD.  Error code = 3.");
    expected["C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"] = "new driver library";
    EXPECT_EQ(machine.State(), expected);
}

TEST(SetupRollback, MshdcThatCannotBeRestoredKeepsItsBackup) {
    SetupMachine machine;
    RemoveIosubsys(machine);
    // CopyFileA: 1 backup, 2 QVRIDE.DLL, 3 HBX52XX.MPD, 4 the restore.
    scenario::RunResult run = machine.Setup("", "yes", "CopyFileA@4=5");
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2],
              "Unable to restore C:\\WINDOWS\\INF\\MSHDC.INF.  Its saved copy "
              "is kept as C:\\WINDOWS\\TEMP\\qvrback\\MSHDC.INF.");
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\MSHDC.INF"), Mshdc);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"),
              "new driver library");
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\INF\\oem2.inf"));
}

TEST(SetupRollback, AnInstalledFileThatCannotBePutBackKeepsItsCopy) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    // CopyFileA: 1 MSHDC.INF, 2 oem2.inf, 3-5 QVRIDE.DLL, 6-8 HBX52XX.MPD
    // (8 fails), 9 its put-back; undo: 10 MSHDC.INF, 11 oem2.inf, 12 the
    // saved QVRIDE.DLL.
    scenario::RunResult run =
        machine.Setup("", "yes", "CopyFileA@8=5,CopyFileA@12=5");
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "Error copying HBX52XX.MPD.  Error code = 5.");
    EXPECT_EQ(texts[2],
              "Unable to restore C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL.  Its saved "
              "copy is kept as C:\\WINDOWS\\TEMP\\qvrback\\QVRIDE.DLL.");
    EXPECT_EQ(machine.ReadFile(TempFolder + "\\QVRIDE.DLL"),
              "old driver library");
    // Beside it the saved old driver INF, which stays once put back, and
    // the journal, so that the next run tries again.
    EXPECT_EQ(machine.List(TempFolder),
              (std::vector<std::string>{TempFolder + "\\JOURNAL",
                                        TempFolder + "\\QVRIDE.DLL",
                                        TempFolder + "\\oem2.inf"}));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD"),
              "old port");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              "[QVR]\r\n" + Key25 + "old\r\n");
}

TEST(SetupWorkingDirectory, CannotBeMade) {
    SetupMachine machine;
    auto before = machine.State();
    scenario::RunResult run = machine.Setup("", "yes", "CreateDirectoryA@1=5");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1],
              "Unable to create temporary directory.  Setup aborted.");
    EXPECT_TRUE(run.Events("CreateDialog").empty());
    EXPECT_EQ(machine.State(), before);
}

TEST(SetupWorkingDirectory, AnExistingOneIsUsedAndRemoved) {
    SetupMachine machine;
    machine.MakeDirectory(TempFolder);
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_FALSE(machine.Exists(TempFolder));
}

TEST(SetupWorkingDirectory, PreloadFolderCannotBeMade) {
    SetupMachine machine;
    scenario::RunResult run =
        machine.Setup("", "yes,no", "CreateDirectoryA@2=5");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_FALSE(machine.Exists("C:\\VELTRANE"));
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD"));
    EXPECT_FALSE(machine.Exists(TempFolder));
}

}  // namespace
}  // namespace setup_test
