// setup /U on emulated machines: what an install put in is taken out, and
// nothing else; a machine without the driver is left alone; a failure puts
// everything back; a crash or a power loss is finished or undone by the next
// run.
#include <gtest/gtest.h>

#include "setup_machine.h"
#include "setup_state.h"

namespace setup_test {
namespace {

using MachineState = std::map<std::string, std::string>;

const std::string WinIni =
    "[windows]\r\nload=c:\\mouse\\wheel.exe C:\\VELTRANE\\PARLOD "
    "c:\\fax\\fax.exe\r\nrun=\r\n[Desktop]\r\nload=c:\\veltrane\\parlod\r\n";
const std::string WinIniWithoutEntry =
    "[windows]\r\nload=c:\\mouse\\wheel.exe c:\\fax\\fax.exe\r\nrun=\r\n"
    "[Desktop]\r\nload=c:\\veltrane\\parlod\r\n";
const std::string RemovalQuestion =
    "About to remove \n" + Banner + ".  \nDo you wish to continue?";
const std::string NotInstalledText =
    "The QVR PCI0528/PCI0525 driver is not installed.  Nothing was removed.";

const std::vector<std::string> RemovalProgress = {
    "Saving the Windows 95 registry.",
    "Removing the driver from the Windows 95 registry.",
    "Editing MSHDC.INF.",
    "Deleting QVRDMA.INF.",
    "Editing WIN.INI.",
    "Deleting QVRIDE.DLL.",
    "Deleting HBX52XX.MPD.",
    "Deleting PARLOD.EXE.",
    "Deleting PARLOD.INI.",
};

const char *const KitFiles[] = {
    "C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL",
    "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\HBX52XX.MPD", "C:\\VELTRANE\\PARLOD.EXE",
    "C:\\VELTRANE\\PARLOD.INI", "C:\\WINDOWS\\INF\\oem2.inf"};

// A machine with other vendors' files beside the kit's, and the win.ini
// entry that the driver INF adds at the first start after an install.
class RemovalMachine : public SetupMachine {
  public:
    explicit RemovalMachine(bool earlier = false) {
        if (earlier) AddEarlierInstall();
        WriteFile("C:\\WINDOWS\\WIN.INI", WinIni);
        WriteFile("C:\\WINDOWS\\SYSTEM\\OTHER.DLL", "other vendor library");
        beforeInstall = State();
        scenario::RunResult run = Setup("", "yes,no");
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        installed = State();
    }
    scenario::RunResult Remove(const std::string &answers = "yes,no",
                               const std::string &fail = "") const {
        return Setup("/U", answers, fail);
    }
    MachineState beforeInstall;
    MachineState installed;
};

bool HasOwnRegistration(const std::string &registry) {
    return registry.find("\"Mfg\"=\"QVR Technology") != std::string::npos;
}

// What a complete removal leaves, taken once.
const MachineState &Removed(bool earlier) {
    static MachineState removed[2];
    MachineState &state = removed[earlier ? 1 : 0];
    if (state.empty()) {
        RemovalMachine machine(earlier);
        EXPECT_EQ(machine.Remove().exitCode, 0);
        state = machine.State();
    }
    return state;
}

TEST(SetupRemoval, TakesOutWhatTheInstallPutIn) {
    RemovalMachine machine;
    scenario::RunResult run = machine.Remove("yes,no");
    ASSERT_EQ(run.exitCode, 0) << run.standardError;

    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], RemovalQuestion);
    EXPECT_EQ(run.Events("MessageBox")[0]["type"], 0x20 | 0x4);
    EXPECT_EQ(texts[1], RestartText);
    EXPECT_EQ(ProgressTexts(run), RemovalProgress);
    EXPECT_EQ(run.Events("UpdateWindow").size(), 1u);

    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), Mshdc);
    for (const char *file : KitFiles) EXPECT_FALSE(machine.Exists(file));
    EXPECT_FALSE(machine.Exists("C:\\VELTRANE"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\TEMP\\qvrback"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\WIN.INI"), WinIniWithoutEntry);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\oem0.inf"),
              "[Version]\r\nother vendor\r\n");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\OTHER.DLL"),
              "other vendor library");
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\ESDI_506.PDR"));

    std::string registry = machine.Registry();
    EXPECT_FALSE(HasOwnRegistration(registry));
    EXPECT_FALSE(HasKey(registry, std::string(ClassKey) + "\\0003"));
    EXPECT_FALSE(HasKey(registry, std::string(ClassKey) + "\\0005"));
    // Registrations of other makers and without a maker stay.
    EXPECT_TRUE(HasKey(registry, std::string(ClassKey) + "\\0009"));
    EXPECT_TRUE(HasKey(
        registry, std::string(PciKey) + "\\VEN_7A3C&DEV_0525\\BUS_00&DEV_0D"));

    // Nothing else on the disks changed since before the install.
    MachineState after = machine.State();
    MachineState before = machine.beforeInstall;
    for (MachineState *state : {&before, &after}) {
        state->erase("registry");
        state->erase("C:\\WINDOWS\\WIN.INI");
        state->erase("C:\\WINDOWS\\TEMP\\qvrback");
    }
    EXPECT_EQ(after, before);
}

TEST(SetupRemoval, OverAnEarlierInstallAFolderWithOtherFilesStays) {
    RemovalMachine machine(true);
    machine.WriteFile("C:\\VELTRANE\\NOTES.TXT", "mine");
    ASSERT_EQ(machine.Remove().exitCode, 0);
    for (const char *file : KitFiles) EXPECT_FALSE(machine.Exists(file));
    EXPECT_EQ(machine.ReadFile("C:\\VELTRANE\\NOTES.TXT"), "mine");
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"), Mshdc);
}

TEST(SetupRemoval, NothingToRemoveChangesNothing) {
    SetupMachine machine;
    std::string registry = StandardRegistry();
    for (std::size_t at;
         (at = registry.find("QVR Technology")) != std::string::npos;) {
        registry.replace(at, 14, "Another Maker");
    }
    machine.WriteRegistry(registry);
    machine.WriteFile("C:\\WINDOWS\\WIN.INI", WinIniWithoutEntry);
    MachineState before = machine.State();
    scenario::RunResult run = machine.Setup("/u", "ok");
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    ASSERT_EQ(run.MessageTexts().size(), 1u);
    EXPECT_EQ(run.MessageTexts()[0], NotInstalledText);
    EXPECT_EQ(run.Events("MessageBox")[0]["type"], 0x10000 | 0x40);
    EXPECT_TRUE(run.Events("CreateDialog").empty());
    EXPECT_EQ(machine.State(), before);
}

TEST(SetupRemoval, AnsweringNoChangesNothing) {
    RemovalMachine machine;
    EXPECT_EQ(machine.Remove("no").exitCode, 0);
    EXPECT_EQ(machine.State(), machine.installed);
}

TEST(SetupRemoval, WinIniLoadLine) {
    struct Case {
        const char *text;
        const char *cut;
    } cases[] = {
        {"[windows]\r\nload=c:\\veltrane\\parlod\r\n",
         "[windows]\r\nload=\r\n"},
        {"[Windows]\nLOAD = a.exe,C:\\Veltrane\\Parlod.exe\n",
         "[Windows]\nLOAD = a.exe\n"},
        {"[windows]\r\nload=c:\\veltrane\\parlodx b\r\n",
         "[windows]\r\nload=c:\\veltrane\\parlodx b\r\n"},
        {"[windows]\r\nloader=c:\\veltrane\\parlod\r\n",
         "[windows]\r\nloader=c:\\veltrane\\parlod\r\n"},
        {"[other]\r\nload=c:\\veltrane\\parlod\r\n",
         "[other]\r\nload=c:\\veltrane\\parlod\r\n"},
        {"[windows]\r\nrun=x\r\n\r\n  load=  c:\\veltrane\\parlod  y",
         "[windows]\r\nrun=x\r\n\r\n  load=   y"},
    };
    for (const Case &c : cases) {
        std::string text = c.text;
        std::string output(text.size(), '\0');
        DWORD length =
            CutStartupEntry(text.data(), DWORD(text.size()), output.data());
        EXPECT_EQ(output.substr(0, length), c.cut) << c.text;
    }
}

TEST(SetupRemoval, UncommentingMshdcTakesOnlySetupsSemicolons) {
    std::string text = MshdcCommented + ";" + Key25 + "second\r\n";
    std::string buffer = text + std::string(4, '\0');
    std::string output(buffer.size(), '\0');
    MshdcEdit edit =
        UncommentMshdcKeys(buffer.data(), output.data(), DWORD(text.size()));
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(output.substr(0, edit.length),
              Mshdc + ";" + Key25 + "second\r\n");
    buffer = Mshdc + std::string(4, '\0');
    edit =
        UncommentMshdcKeys(buffer.data(), output.data(), DWORD(Mshdc.size()));
    EXPECT_FALSE(edit.rewrite);
    EXPECT_EQ(output.substr(0, edit.length), Mshdc);
}

// A call failing at each of its first numbers: the removal stops, says so,
// and leaves the machine as installed.
TEST(SetupRemoval, AFailureInTheMiddlePutsEverythingBack) {
    int failures = 0;
    for (const char *call : {"CopyFileA", "DeleteFileA", "MoveFileA",
                             "FlushFileBuffers", "WriteFile"}) {
        for (int n = 1; n <= 12; ++n) {
            RemovalMachine machine;
            std::string point = std::string(call) + "@" + std::to_string(n);
            scenario::RunResult run = machine.Remove("yes", point + "=5");
            if (run.Events("Fault").empty()) break;
            if (run.exitCode == 0) continue;  // a call whose failure is borne
            ++failures;
            EXPECT_EQ(run.exitCode, 1) << point << run.standardError;
            EXPECT_EQ(run.Events("MessageBox").back()["caption"], ErrorCaption)
                << point;
            EXPECT_EQ(machine.State(), machine.installed) << point;
        }
    }
    EXPECT_GT(failures, 20);
}

// A registration of the controller that cannot be deleted ends the
// removal before any file goes: the chips would be left on a driver
// without its files.
TEST(SetupRemoval, ARegistrationThatStaysPutsEverythingBack) {
    RemovalMachine machine;
    scenario::RunResult run = machine.Remove("yes", "RegDeleteKeyA@2=5");
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_NE(texts.back().find(
                  "Error removing the driver from the Windows 95 registry."),
              std::string::npos)
        << texts.back();
    EXPECT_EQ(machine.State(), machine.installed);
}

bool CutShort(const scenario::RunResult &run) {
    for (const auto &fault : run.Events("Fault")) {
        std::string kind = fault.value("error", nlohmann::json()).dump();
        if (kind.find("crash") != std::string::npos ||
            kind.find("powerloss") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Cuts a removal short at every number of the calls that change the disk
// or the registry; the next setup /U (every box taking its first button)
// finishes the job: the machine ends as after one clean removal.
void CutShortAndRerun(bool earlier, const char *kind) {
    const MachineState &removed = Removed(earlier);
    int points = 0;
    int recoveries = 0;
    for (const char *call :
         {"CopyFileA", "DeleteFileA", "MoveFileA", "FlushFileBuffers",
          "RegDeleteKeyA", "RemoveDirectoryA", "WriteFile"}) {
        for (int n = 1;; n += scenario::SweepStride()) {
            RemovalMachine machine(earlier);
            std::string point =
                std::string(call) + "@" + std::to_string(n) + "=" + kind;
            if (!CutShort(machine.Remove("yes,no", point))) break;
            ++points;
            scenario::RunResult rerun = machine.Remove("");
            EXPECT_EQ(rerun.exitCode, 0) << point << rerun.standardError;
            std::vector<std::string> texts = rerun.MessageTexts();
            if (!texts.empty() && texts[0] == RecoveredText) ++recoveries;
            EXPECT_EQ(machine.State(), removed) << point;
        }
    }
    EXPECT_GT(points, 40 / scenario::SweepStride());
    EXPECT_GT(recoveries, 10 / scenario::SweepStride());
}

TEST(SetupRemovalCrash, AfterAFirstInstall) {
    CutShortAndRerun(false, "crash");
}
TEST(SetupRemovalCrash, AfterAnInstallOverAnEarlierOne) {
    CutShortAndRerun(true, "crash");
}
TEST(SetupRemovalPowerLoss, AfterAFirstInstall) {
    CutShortAndRerun(false, "powerloss-meta");
}

}  // namespace
}  // namespace setup_test
