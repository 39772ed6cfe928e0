// How a run ends when the emulation meets an error while the program runs:
// the program runs on to its end (its own clean-up and rollback included),
// and the run then ends with exit code 3, saying why in its Exit event.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "../../setup/setup_machine.h"
#include "scenario.h"

namespace {

using setup_test::SetupMachine;

// setup's run with WriteFile call `n` failing: the texts of its progress
// window and of its boxes show where it failed.
scenario::RunResult SetupWithWriteFault(const SetupMachine &machine, int n,
                                        const std::string &answers) {
    return machine.Setup("", answers,
                         "WriteFile@" + std::to_string(n) + "=ERROR_DISK_FULL");
}

// The first WriteFile whose failure stops setup within the rewrite of
// MSHDC.INF, after it was opened for writing, so that its rollback puts
// MSHDC.INF back. Found by counting, so that setup's own records before it
// may change.
int FirstMshdcWrite() {
    const std::vector<std::string> undo = {"Editing MSHDC.INF.",
                                           "Restoring the Windows 95 registry.",
                                           "Restoring MSHDC.INF."};
    for (int n = 1; n <= 40; ++n) {
        SetupMachine machine;
        scenario::RunResult run = SetupWithWriteFault(machine, n, "yes,ok");
        std::vector<std::string> texts = setup_test::ProgressTexts(run);
        if (texts.size() >= undo.size() &&
            std::equal(undo.begin(), undo.end(), texts.end() - undo.size()))
            return n;
    }
    return 0;
}

}  // namespace

// A wrong answer at setup's error box once ended the run before setup put
// MSHDC.INF back, leaving it empty. Now the box takes OK, setup's rollback
// runs to its end and the machine is as before; the run still says that
// its answers were wrong.
TEST(RunEnd, AnAnswerThatFitsNoButtonLetsSetupRollBack) {
    int n = FirstMshdcWrite();
    ASSERT_NE(n, 0) << "no WriteFile of setup stops it within MSHDC.INF";
    SetupMachine machine;
    auto before = machine.State();

    scenario::RunResult run = SetupWithWriteFault(machine, n, "yes,no");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(
        run.standardError.find(
            "w95: W95_ANSWERS: answer 2 'no' does not fit the message "
            "box '" +
            setup_test::ErrorCaption + "', whose buttons are ok; it takes ok"),
        std::string::npos)
        << run.standardError;
    auto boxes = run.Events("MessageBox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1]["answer"], "IDOK");
    std::vector<std::string> texts = setup_test::ProgressTexts(run);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts.back(), "Restoring MSHDC.INF.");
    EXPECT_EQ(run.Events("DestroyWindow").size(), 1u);

    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\INF\\MSHDC.INF"),
              setup_test::Mshdc);
    EXPECT_EQ(machine.State(), before);

    ASSERT_FALSE(run.events.empty());
    const nlohmann::json &exit = run.events.back();
    EXPECT_EQ(exit["event"], "Exit");
    EXPECT_EQ(exit["code"], 3);
    EXPECT_EQ(exit["programCode"], 1);  // setup's own result: it failed
    EXPECT_NE(exit.value("error", "").find("does not fit"), std::string::npos);
}

// A machine folder that cannot take the new registry: the run finds out
// before the program starts and ends with exit code 3 without starting it
// (a write-back that fails all the same, at the end, is reported as the
// host faults' tests show), and the registry on disk is the one from before.
TEST(RunEnd, ARegistryThatCannotBeWrittenBackEndsWithCode3) {
    namespace fs = std::filesystem;
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    std::string before = machine.Registry();
    // The folder is read-only; for a user whom permissions do not stop, the
    // name of the new file is taken by a folder.
    fs::create_directory(machine.Directory() / "registry.reg.w95-new");
    fs::permissions(machine.Directory(),
                    fs::perms::owner_write | fs::perms::group_write |
                        fs::perms::others_write,
                    fs::perm_options::remove);

    scenario::RunResult run =
        machine.Run("win32_sample", "", {.answers = "ok"});
    fs::permissions(machine.Directory(), fs::perms::owner_write,
                    fs::perm_options::add);

    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.standardError.find("could not be written back (cannot "
                                     "write "),
              std::string::npos)
        << run.standardError;
    EXPECT_NE(run.standardError.find("registry.reg.w95-new"), std::string::npos)
        << run.standardError;
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_TRUE(run.events.empty());  // not even started
}

// A run without errors of the emulation keeps the program's own result and
// its Exit event names no error.
TEST(RunEnd, ARunWithoutErrorsEndsWithTheProgramsCode) {
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    scenario::RunResult run = machine.Run("win32_sample", "", {.answers = "c"});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back().dump(), R"({"code":0,"event":"Exit"})");
}
