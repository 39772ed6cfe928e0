// setup run as a process on emulated machines: installations that succeed,
// the confirmation, the platform check and the old-driver removal.
#include <gtest/gtest.h>

#include "setup_machine.h"

namespace setup_test {
namespace {

const std::vector<std::string> InstallProgress = {
    "Saving the Windows 95 registry.",
    "Removing old drivers from the Windows 95 registry.",
    "Editing MSHDC.INF.",
    "Looking for QVRDMA.INF on source disk.",
    "Looking for old instance of QVRDMA.INF.",
    "Copying QVRDMA.INF.",
    "Copying QVRIDE.DLL.",
    "Copying HBX52XX.MPD.",
    "Copying PARLOD.EXE.",
    "Copying PARLOD.INI.",
};

// The last event before Exit is the restart question.
void ExpectRestartQuestionLast(const scenario::RunResult &run) {
    ASSERT_GE(run.events.size(), 2u);
    const auto &last = run.events[run.events.size() - 2];
    EXPECT_EQ(last["event"], "MessageBox");
    EXPECT_EQ(last["text"], RestartText);
    EXPECT_EQ(last["caption"], ProgressCaption + " - Restart Windows");
    EXPECT_EQ(last["type"], 0x10000 | 0x20 | 0x4);
}

TEST(SetupInstall, FirstInstall) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup("", "yes,yes");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;

    ASSERT_FALSE(run.MessageTexts().empty());
    EXPECT_EQ(run.MessageTexts()[0],
              "About to install \n" + Banner + ".  \nDo you wish to continue?");
    EXPECT_EQ(run.Events("MessageBox")[0]["type"], 0x20 | 0x4);
    auto dialogs = run.Events("CreateDialog");
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0]["id"], 106);
    // The window is painted once it has its caption and first text.
    for (std::size_t i = 0; i + 3 < run.events.size(); ++i) {
        if (run.events[i]["event"] != "CreateDialog") continue;
        EXPECT_TRUE(run.events[i + 1]["control"].is_null());
        EXPECT_EQ(run.events[i + 2]["text"], InstallProgress[0]);
        EXPECT_EQ(run.events[i + 3]["event"], "UpdateWindow");
        EXPECT_EQ(run.events[i + 3]["dialog"], 106);
    }
    EXPECT_EQ(run.Events("UpdateWindow").size(), 1u);
    EXPECT_EQ(ProgressTexts(run), InstallProgress);
    EXPECT_EQ(run.Events("DestroyWindow").size(), 1u);
    auto restart = run.Events("ExitWindowsEx");
    ASSERT_EQ(restart.size(), 1u);
    EXPECT_EQ(restart[0]["flags"], 2);
    EXPECT_EQ(run.events.back()["event"], "Exit");
    EXPECT_EQ(run.events[run.events.size() - 3]["text"], RestartText);

    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), MshdcCommented);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              DriverInfCommented);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"),
              "new driver library");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD"),
              PortDriver);
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\PARLOD.EXE"),
              "new preload program");
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\PARLOD.INI"),
              "# 1\r\n* new parameters\r\n");
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\TEMP\\qvrback"));
    EXPECT_TRUE(machine.List("C:\\WINDOWS\\TEMP").empty());
}

TEST(SetupInstall, OldRegistrationsGoAndTheMakersOwnGetTheDate) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    ExpectRestartQuestionLast(run);
    EXPECT_TRUE(run.Events("ExitWindowsEx").empty());
    std::string reg = machine.Registry();

    // Both instances of DEV_0528 belong to others (the capitals do not
    // match), so they, their driver keys and the device key go.
    EXPECT_FALSE(HasKey(reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0528"));
    EXPECT_EQ(DriverDate(reg, 1), "<none>");
    EXPECT_FALSE(HasKey(reg, std::string(ClassKey) + "\\0004"));
    // The walk went on with the key that moved up.
    EXPECT_TRUE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0B"));
    EXPECT_EQ(DriverDate(reg, 5), "9-23-16");
    // No "Mfg": untouched.
    EXPECT_TRUE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0D"));
    EXPECT_EQ(DriverDate(reg, 6), "1-1-15");
    // Another device number is not examined.
    EXPECT_TRUE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0600\\BUS_00&DEV_0E"));
    EXPECT_EQ(DriverDate(reg, 7), "1-1-15");

    // Under MF: the old instance goes, the other maker's stays unexamined,
    // and the device key that still holds it stays.
    EXPECT_FALSE(HasKey(reg, std::string(MfKey) +
                                 "\\CHILD0000\\PCI&VEN_7A3C&DEV_0528&BUS_00&"
                                 "DEV_0A&FUNC_00"));
    EXPECT_EQ(DriverDate(reg, 2), "<none>");
    EXPECT_TRUE(HasKey(reg, std::string(MfKey) + "\\CHILD0000"));
    EXPECT_EQ(DriverDate(reg, 9), "1-1-15");
    EXPECT_EQ(DriverDate(reg, 3), "9-23-16");
    EXPECT_EQ(DriverDate(reg, 8), "1-1-15");
}

TEST(SetupInstall, OverrideRemovesEveryReadableRegistration) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup("x/o");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::string reg = machine.Registry();
    EXPECT_FALSE(HasKey(reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0528"));
    EXPECT_FALSE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0B"));
    EXPECT_EQ(DriverDate(reg, 5), "<none>");
    // The instance without "Mfg" stays, and with it its device key.
    EXPECT_TRUE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0D"));
    EXPECT_FALSE(HasKey(reg, std::string(MfKey) + "\\CHILD0001"));
    EXPECT_EQ(DriverDate(reg, 3), "<none>");
    for (int n : {6, 7, 8, 9}) EXPECT_EQ(DriverDate(reg, n), "1-1-15") << n;
}

TEST(SetupInstall, InstallOverAnEarlierOne) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    ExpectRestartQuestionLast(run);
    EXPECT_EQ(run.MessageTexts().size(), 2u);

    // Both lines were commented already: same content.
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), MshdcCommented);
    // The old instance is overwritten in place; no new oem name.
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              DriverInfCommented);
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\INF\\oem3.inf"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"),
              "new driver library");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD"),
              PortDriver);
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\PARLOD.EXE"),
              "new preload program");
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\PARLOD.INI"),
              "# 1\r\n* new parameters\r\n");
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\TEMP\\qvrback"));
}

TEST(SetupInstall, ANewOemNameNeverMeetsAnExistingFile) {
    SetupMachine machine;
    // Two oem files, numbered with a gap: the count gives oem2.inf, which
    // exists and belongs to someone else.
    std::filesystem::remove(machine.HostPath("C:\\WINDOWS\\INF\\oem1.inf"));
    machine.WriteFile("C:\\WINDOWS\\INF\\oem2.inf", "[Version]\r\nkeep me\r\n");
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              "[Version]\r\nkeep me\r\n");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem3.inf"),
              DriverInfCommented);
}

TEST(SetupInstall, TheSecondKeyAloneFindsTheDriverInf) {
    SetupMachine machine;
    std::filesystem::remove(machine.HostPath("A:\\QVRDMA.INF"));
    std::string onlyKey28 = "[QVR]\r\n" + Key28 + "x\r\nCopyFiles=y\r\n";
    machine.WriteFile("A:\\ZZ.INF", onlyKey28);
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem2.inf"),
              "[QVR]\r\n" + Key28 + "x\r\n;CopyFiles=y\r\n");
}

TEST(SetupConfirm, AnsweringNoChangesNothing) {
    SetupMachine machine;
    auto before = machine.State();
    scenario::RunResult run = machine.Setup("", "no");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.MessageTexts().size(), 1u);
    EXPECT_TRUE(run.Events("CreateDialog").empty());
    EXPECT_EQ(machine.State(), before);
}

TEST(SetupConfirm, StampProblems) {
    SetupMachine machine;
    // No stamp: the default banner; the install is still offered.
    machine.WriteFile("A:\\HBX52XX.MPD", "no stamp $qvrver$ here");
    scenario::RunResult run = machine.Setup("", "no");
    ASSERT_EQ(run.MessageTexts().size(), 1u);
    EXPECT_EQ(run.MessageTexts()[0],
              "About to install \nQVR PCI528/PCI525 Driver for Windows 95.  "
              "\nDo you wish to continue?");

    // A banner too long for the question is cut; the question stays whole.
    machine.WriteFile("A:\\HBX52XX.MPD",
                      "$qvrver$\0"s + std::string(400, 'B') + "\0"s);
    run = machine.Setup("", "no");
    ASSERT_EQ(run.MessageTexts().size(), 1u);
    EXPECT_EQ(run.MessageTexts()[0], "About to install \n" +
                                         std::string(209, 'B') +
                                         ".  \nDo you wish to continue?");
}

TEST(SetupConfirm, PortDriverMissing) {
    SetupMachine machine;
    std::filesystem::remove(machine.HostPath("A:\\HBX52XX.MPD"));
    auto before = machine.State();
    scenario::RunResult run = machine.Setup("", "ok");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.MessageTexts().size(), 1u);
    EXPECT_EQ(run.MessageTexts()[0],
              "Cannot find A:\\HBX52XX.MPD.  Exiting " + ProgressCaption + ".");
    EXPECT_EQ(run.Events("MessageBox")[0]["caption"], ErrorCaption);
    EXPECT_EQ(machine.State(), before);

    // A long source path is cut to fit; the sentence ends as always.
    std::string folder =
        "A:\\" + std::string(120, 'd') + "\\" + std::string(100, 'e');
    machine.MakeDirectory(folder);
    scenario::RunOptions options;
    options.answers = "ok";
    options.cwd = folder;
    run = machine.Run("setup", "", options);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.MessageTexts().size(), 1u);
    std::string text = run.MessageTexts()[0];
    std::string tried = folder + "\\HBX52XX.MPD";
    EXPECT_EQ(text, "Cannot find " + tried.substr(0, 191) + ".  Exiting " +
                        ProgressCaption + ".");
}

TEST(SetupPlatform, OnlyTheWindows95Family) {
    for (const char *version : {"0x00000004", "0x80000003", "0x00000A05"}) {
        SetupMachine machine;
        machine.WriteMachineIni(std::string("[machine]\nVersion=") + version +
                                "\n");
        scenario::RunResult run = machine.Setup("", "ok");
        EXPECT_EQ(run.exitCode, 1) << version;
        ASSERT_EQ(run.MessageTexts().size(), 1u) << version;
        EXPECT_EQ(run.MessageTexts()[0],
                  "This program is for Windows 95 only!");
        EXPECT_EQ(run.Events("MessageBox")[0]["caption"], ErrorCaption);
    }
    SetupMachine machine;
    machine.WriteMachineIni("[machine]\nVersion=0x80000004\n");
    EXPECT_EQ(machine.Setup("", "no").MessageTexts().size(), 1u);
}

TEST(SetupPreload, IniMissingUndoesTheProgram) {
    SetupMachine machine;
    std::filesystem::remove(machine.HostPath("A:\\PARLOD.INI"));
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    ExpectRestartQuestionLast(run);
    EXPECT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(ProgressTexts(run), InstallProgress);
    EXPECT_FALSE(machine.Exists("C:\\VELTRANE"));  // empty, removed
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\TEMP\\qvrback"));

    // Over an earlier install the older program comes back.
    SetupMachine earlier;
    earlier.AddEarlierInstall();
    std::filesystem::remove(earlier.HostPath("A:\\PARLOD.INI"));
    run = earlier.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(earlier.ReadFile("C:\\VELTRANE\\PARLOD.EXE"),
              "old preload program");
    EXPECT_EQ(earlier.ReadFile("C:\\VELTRANE\\PARLOD.INI"), "old parameters");
    EXPECT_FALSE(earlier.Exists("C:\\WINDOWS\\TEMP\\qvrback"));
}

TEST(SetupPreload, ProgramMissingCopiesNothingThere) {
    SetupMachine machine;
    std::filesystem::remove(machine.HostPath("A:\\PARLOD.EXE"));
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    ExpectRestartQuestionLast(run);
    std::vector<std::string> progress = InstallProgress;
    progress.pop_back();
    EXPECT_EQ(ProgressTexts(run), progress);
    EXPECT_TRUE(machine.Exists("C:\\VELTRANE"));
    EXPECT_TRUE(machine.List("C:\\VELTRANE").empty());
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\TEMP\\qvrback"));
}

TEST(SetupRegistry, OddDriverValuesDeleteNoClass) {
    SetupMachine machine;
    std::string reg = StandardRegistry();
    // The old instances name no driver key, or a whole class.
    auto replace = [&reg](const std::string &from, const std::string &to) {
        std::size_t at = reg.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        reg.replace(at, from.size(), to);
    };
    replace("\"Driver\"=\"hdc\\\\0001\"", "\"Driver\"=\"\"");
    replace("\"Driver\"=\"hdc\\\\0002\"", "\"Driver\"=\"hdc\"");
    machine.WriteRegistry(reg);
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::string after = machine.Registry();
    EXPECT_TRUE(HasKey(after, ClassKey));
    EXPECT_FALSE(HasKey(after, std::string(PciKey) + "\\VEN_7A3C&DEV_0528"));
    for (int n : {1, 2}) EXPECT_EQ(DriverDate(after, n), "1-1-15") << n;
    EXPECT_EQ(DriverDate(after, 4), "<none>");
}

TEST(SetupRegistry, AKeptRegistrationDatesTheKeyItsDriverValueNames) {
    SetupMachine machine;
    std::string reg = StandardRegistry();
    auto replace = [&reg](const std::string &from, const std::string &to) {
        std::size_t at = reg.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        reg.replace(at, from.size(), to);
    };
    // The maker's own instance under Enum\PCI names the class key itself,
    // which carries a date; the one under Enum\MF a key below a driver key.
    replace("\"Driver\"=\"hdc\\\\0005\"", "\"Driver\"=\"hdc\"");
    replace("[" + std::string(ClassKey) + "]\n\n",
            "[" + std::string(ClassKey) + "]\n\"DriverDate\"=\"1-1-15\"\n\n");
    replace("\"Driver\"=\"hdc\\\\0003\"", "\"Driver\"=\"hdc\\\\0003\\\\Sub\"");
    reg += "[" + std::string(ClassKey) +
           "\\0003\\Sub]\n\"DriverDate\"=\"2-2-16\"\n";
    machine.WriteRegistry(reg);
    scenario::RunResult run = machine.Setup();
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::string after = machine.Registry();
    EXPECT_NE(KeySection(after, ClassKey).find("\"DriverDate\"=\"9-23-16\""),
              std::string::npos);
    EXPECT_NE(KeySection(after, std::string(ClassKey) + "\\0003\\Sub")
                  .find("\"DriverDate\"=\"9-23-16\""),
              std::string::npos);
    for (int n : {3, 5}) EXPECT_EQ(DriverDate(after, n), "1-1-15") << n;
}

TEST(SetupRegistry, TheWalkEndsWhenKeysCannotBeDeleted) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup("", "yes,no", "RegDeleteKeyA=5");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    ExpectRestartQuestionLast(run);
    std::string reg = machine.Registry();
    EXPECT_TRUE(HasKey(
        reg, std::string(PciKey) + "\\VEN_7A3C&DEV_0528\\BUS_00&DEV_0A"));
    EXPECT_EQ(DriverDate(reg, 5), "9-23-16");
    EXPECT_EQ(DriverDate(reg, 3), "9-23-16");
}

TEST(SetupRegistry, WithoutEnumPciNothingIsRemoved) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup("", "yes,no", "RegOpenKeyExA@1=2");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::string reg = machine.Registry();
    EXPECT_TRUE(HasKey(reg, std::string(MfKey) +
                                "\\CHILD0000\\PCI&VEN_7A3C&DEV_0528&BUS_00&"
                                "DEV_0A&FUNC_00"));
    EXPECT_EQ(DriverDate(reg, 1), "1-1-15");
}

}  // namespace
}  // namespace setup_test

namespace setup_test {
namespace {

TEST(SetupRegistry, WithoutADateTheKeptRegistrationsStayUnchanged) {
    SetupMachine machine;
    scenario::RunResult run = machine.Setup("", "yes,no", "GetFileTime=5");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::string reg = machine.Registry();
    EXPECT_EQ(DriverDate(reg, 5), "1-1-15");
    EXPECT_EQ(DriverDate(reg, 3), "1-1-15");
    EXPECT_EQ(DriverDate(reg, 1), "<none>");  // the removal still happens
}

TEST(SetupWorkingDirectory, ATempPathWithoutBackslash) {
    SetupMachine machine;
    machine.WriteMachineIni("[machine]\nTempPath=C:\\TMP\n");
    machine.MakeDirectory("C:\\TMP");
    std::filesystem::remove_all(
        machine.HostPath("C:\\WINDOWS\\SYSTEM\\IOSUBSYS"));
    scenario::RunResult run = machine.Setup("", "yes", "RegRestoreKeyA=5");
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2],
              "Unable to restore the Windows 95 registry.  Its saved copy is "
              "kept as C:\\TMP\\qvrback\\REGSAVE.");
    EXPECT_TRUE(machine.Exists("C:\\TMP\\qvrback\\REGSAVE"));
}

TEST(SetupPreload, AProgramThatCannotBePutBackKeepsItsCopy) {
    SetupMachine machine;
    machine.AddEarlierInstall();
    // CopyFileA: 1 MSHDC.INF, 2 oem2.inf, 3-5 QVRIDE.DLL, 6-8 HBX52XX.MPD,
    // 9-10 PARLOD.EXE checked and saved, 11 its overwrite, 12 and 13 the
    // two tries to put it back.
    scenario::RunResult run = machine.Setup(
        "", "yes,ok,no", "CopyFileA@11=5,CopyFileA@12=5,CopyFileA@13=5");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1],
              "Unable to restore C:\\VELTRANE\\PARLOD.EXE.  Its saved copy is "
              "kept as C:\\WINDOWS\\TEMP\\qvrback\\PARLOD.EXE.");
    ExpectRestartQuestionLast(run);
    // The commit leaves the only good copy alone.
    EXPECT_EQ(
        machine.List("C:\\WINDOWS\\TEMP\\qvrback"),
        std::vector<std::string>{"C:\\WINDOWS\\TEMP\\qvrback\\PARLOD.EXE"});
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\TEMP\\qvrback\\PARLOD.EXE"),
              "old preload program");
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\PARLOD.INI"), "old parameters");

    // Should the program differ from its kept copy (torn, say), the next
    // run saves it under another name: the kept copy stays.
    machine.WriteFile("C:\\VELTRANE\\PARLOD.EXE", "torn");
    run = machine.Setup("", "yes,no");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(
        machine.List("C:\\WINDOWS\\TEMP\\qvrback"),
        std::vector<std::string>{"C:\\WINDOWS\\TEMP\\qvrback\\PARLOD.EXE"});
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\TEMP\\qvrback\\PARLOD.EXE"),
              "old preload program");
}

// Files from a read-only disk give read-only copies: setup makes its copies
// writable, so that they can be flushed, and replaced by the next run.
TEST(SetupReadOnly, ReadOnlyFilesAreInstalledWritable) {
    namespace fs = std::filesystem;
    SetupMachine machine;
    for (const char *name : {"QVRIDE.DLL", "HBX52XX.MPD", "QVRDMA.INF",
                             "PARLOD.EXE", "PARLOD.INI"}) {
        fs::permissions(machine.HostPath(std::string("A:\\") + name),
                        fs::perms::owner_write | fs::perms::group_write |
                            fs::perms::others_write,
                        fs::perm_options::remove);
    }
    for (int run = 0; run < 2; ++run) {
        scenario::RunResult result = machine.Setup("", "yes,no");
        ASSERT_EQ(result.exitCode, 0) << run << result.standardError;
    }
    for (const char *path : {"C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL",
                             "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD",
                             "C:\\VELTRANE\\PARLOD.INI"}) {
        fs::perms perms = fs::status(machine.HostPath(path)).permissions();
        EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none) << path;
    }
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"),
              "new driver library");
}

// A read-only MSHDC.INF cannot be written, and is not replaced either.
TEST(SetupReadOnly, AReadOnlyMshdcIsAReadWriteError) {
    namespace fs = std::filesystem;
    SetupMachine machine;
    fs::permissions(machine.HostPath("C:\\WINDOWS\\INF\\MSHDC.INF"),
                    fs::perms::owner_write | fs::perms::group_write |
                        fs::perms::others_write,
                    fs::perm_options::remove);
    scenario::RunResult run = machine.Setup("", "yes");
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.MessageTexts().size(), 2u);
    EXPECT_EQ(run.MessageTexts()[1], "File Read/Write Error.  Error code = 5.");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), Mshdc);
    EXPECT_FALSE(machine.Exists(TempFolder));
}

}  // namespace
}  // namespace setup_test
