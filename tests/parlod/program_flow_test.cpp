// parlod run as a process: the preload path to the restart, the status
// report with its exit codes, and the reboot sequence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parlod_machine.h"
#include "machine.h"

using namespace parlod_test;

namespace {

const std::string CAPTION = "QVR Driver Parameters Preload Utility";
const std::string REBOOT_QUESTION =
    "Do you want to reboot the system?\n(The system must be rebooted before "
    "the driver parameterscan take effect.)";
const std::string NOT_FOUND = "File \"c:\\veltrane\\parlod.ini\" not found!";
const std::string NO_VALID_INFO =
    "File \"c:\\veltrane\\parlod.ini\" does not contain any valid "
    "information!";
const std::string NO_DEVICE =
    "No device found in the registry (cannot find subkey of "
    "HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000/CHILD0001)!";
const std::string NOTHING_TO_SET = "No device parameters can be set.";
const std::string FOUR_LINES = "*A0\n*B0\n*A1\n*B1\n";

std::vector<std::string> Kinds(const scenario::RunResult &run) {
    std::vector<std::string> kinds;
    for (const auto &event : run.events) {
        std::string kind = event.value("event", "");
        if (kind != "Start" && kind != "Fault") kinds.push_back(kind);
    }
    return kinds;
}

const std::vector<std::string> REBOOT = {"CreateDialog",  "SetWindowText",
                                         "UpdateWindow",  "ExitWindowsEx",
                                         "DestroyWindow", "Exit"};

TEST(PreloadPath, TwoControllersFromParameterFileToRestart) {
    PreloadMachine machine;
    machine.WriteRegistry(
        Channels(2) + PciFunction(0) +
        PciFunction(1, "QVR Technology", "\"ChannelOptions\"=hex:01\n"));
    machine.Parameters("#2 /SBO\n" + FOUR_LINES);
    auto run = machine.Run("parlod");
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(machine.Settings(0, true), "\"A0\"");
    EXPECT_EQ(machine.Settings(0, false), "\"B0\"");
    EXPECT_EQ(machine.Settings(1, true), "\"A1\"");
    EXPECT_EQ(machine.Settings(1, false), "\"B1\"");
    EXPECT_EQ(machine.ChannelOptions(0), "hex:03");
    EXPECT_EQ(machine.ChannelOptions(1), "hex:03");
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
    EXPECT_EQ(Kinds(run), REBOOT);
    auto dialog = run.Events("CreateDialog").at(0);
    EXPECT_EQ(dialog["id"], 105);
    EXPECT_EQ(dialog["title"], "Parlod - Rebooting");
    EXPECT_EQ(dialog["controls"][0]["text"],
              "The system is rebooting for the driver parameters to take "
              "effect.");
    EXPECT_EQ(run.Events("UpdateWindow").at(0)["dialog"], 105);
    EXPECT_EQ(run.Events("SetWindowText").at(0)["text"], CAPTION);
    EXPECT_EQ(run.Events("ExitWindowsEx").at(0)["flags"], 6);
}

TEST(PreloadPath, ExistingOneByteOptionsNeedTheOverride) {
    PreloadMachine machine;
    machine.WriteRegistry(
        Channels(2) + PciFunction(0) +
        PciFunction(1, "QVR Technology", "\"ChannelOptions\"=hex:01\n"));
    machine.Parameters("#2 /SB\n" + FOUR_LINES);
    machine.Run("parlod");
    EXPECT_EQ(machine.ChannelOptions(0), "hex:03");
    EXPECT_EQ(machine.ChannelOptions(1), "hex:01");
}

TEST(RebootSequence, QuestionOnlyWithVerboseOrPrompt) {
    {
        PreloadMachine machine;
        machine.Parameters("#2 /P\n" + FOUR_LINES);
        auto run = machine.Run("parlod", "", Answers("no"));
        EXPECT_EQ(run.exitCode, 0);
        ASSERT_EQ(run.MessageTexts(), std::vector{REBOOT_QUESTION});
        auto box = run.Events("MessageBox").at(0);
        EXPECT_EQ(box["caption"], CAPTION);
        EXPECT_EQ(box["type"], MB_YESNO | MB_ICONQUESTION);
        EXPECT_EQ(Kinds(run), (std::vector<std::string>{"MessageBox", "Exit"}));
        EXPECT_EQ(machine.Settings(1, false), "\"B1\"");  // stays written
        EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
    }
    {
        PreloadMachine machine;
        machine.Parameters("#2\n" + FOUR_LINES);
        auto run = machine.Run("parlod", "/V", Answers("ok,ok,ok,ok,yes"));
        EXPECT_EQ(run.MessageTexts().size(), 5u);
        EXPECT_EQ(run.MessageTexts().back(), REBOOT_QUESTION);
        EXPECT_EQ(run.Events("ExitWindowsEx").size(), 1u);
    }
}

TEST(RebootSequence, NothingWrittenMeansNoRestart) {
    PreloadMachine machine;
    machine.Parameters("#2\n" + FOUR_LINES);
    auto run =
        machine.Run("parlod", "/v", Answers("cancel,cancel,cancel,cancel"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.MessageTexts().size(), 4u);
    EXPECT_TRUE(run.Events("CreateDialog").empty());
    EXPECT_TRUE(run.Events("ExitWindowsEx").empty());
    EXPECT_EQ(machine.Settings(0, true), "<none>");
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
}

TEST(RebootSequence, WaitOutlastsTheTickCounterWrap) {
    // The run is made in this process, on the virtual clock, so that the
    // tick count can be read once the restart has been asked for.
    for (DWORD start : {0u, 0xFFFFF000u, 0xFFFFFFFFu}) {
        ResetParlodState();
        PreloadMachine machine;
        machine.WriteMachineIni("[machine]\nClock=virtual\nTickCount=" +
                                std::to_string(start) + "\n");
        machine.Parameters("#2\n" + FOUR_LINES);
        w95::LoadMachine(machine.Directory());
        EXPECT_EQ(WinMain(NULL, NULL, const_cast<LPSTR>(""), 0), 0);
        DWORD waited = GetTickCount() - start;
        EXPECT_TRUE(w95::TheMachine().restartRequested) << start;
        EXPECT_GE(waited, 5000u) << start;
        EXPECT_LT(waited, 60000u) << start;
        ResetParlodState();
    }
}

TEST(RebootSequence, FailedDialogAndFailedShutdown) {
    PreloadMachine machine;
    machine.Parameters("#2\n" + FOUR_LINES);
    auto run =
        machine.Run("parlod", "", Fail("CreateDialogParamA=8,ExitWindowsEx=5"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.MessageTexts(),
              std::vector<std::string>{"Cannot shutdown!  Error code = 5."});
    auto box = run.Events("MessageBox").at(0);
    EXPECT_EQ(box["caption"], CAPTION);
    EXPECT_EQ(box["type"], MB_OK | MB_ICONERROR);
    EXPECT_EQ(machine.Settings(0, true), "\"A0\"");
}

struct StatusCase {
    const char *name;
    const char *parameters;  // nullptr: no parameter file
    std::string arguments;
    std::vector<std::string> texts;
    int exitCode;
    int controllers = 2;
    const char *settings = "";
};

// Test listings show a case by its name.
void PrintTo(const StatusCase &c, std::ostream *out) { *out << c.name; }

class StatusReportTest : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusReportTest, MessageExitCodeAndCleanWinIni) {
    const StatusCase &c = GetParam();
    PreloadMachine machine(c.controllers, c.settings);
    if (c.parameters != nullptr) machine.Parameters(c.parameters);
    std::string before = machine.Registry();
    // Each error box is answered OK; one more box would take no answer.
    std::string answers;
    for (std::size_t i = 0; i < c.texts.size(); ++i)
        answers += i == 0 ? "ok" : ",ok";
    auto run = machine.Run("parlod", c.arguments, Answers(answers));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.standardError;
    EXPECT_EQ(run.MessageTexts(), c.texts);
    for (const auto &box : run.Events("MessageBox")) {
        EXPECT_EQ(box["caption"], CAPTION);
        EXPECT_EQ(box["type"], MB_OK | MB_ICONERROR);
    }
    EXPECT_TRUE(run.Events("ExitWindowsEx").empty());
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
}

INSTANTIATE_TEST_SUITE_P(
    Parlod, StatusReportTest,
    ::testing::Values(
        StatusCase{"NoFile", nullptr, "", {NOT_FOUND}, 1},
        StatusCase{"OtherMissingFile",
                   "#1\n*A\n",
                   "/F\"C:\\other.ini\"",
                   {NOT_FOUND},
                   1},
        StatusCase{"EmptyPath", "#1\n*A\n", "/F\"\"", {NOT_FOUND}, 1},
        StatusCase{"PathTooLong",
                   "#1\n*A\n",
                   "/F\"C:\\veltrane\\parlod.ini\" /F\"C:\\" +
                       std::string(253, 'x') + "\"",
                   {NOT_FOUND},
                   1},
        StatusCase{"OnlyIgnoredLines", "; none\n\n", "", {NO_VALID_INFO}, 1},
        StatusCase{"ZeroDevicesQuiet", "#0\n*A\n", "", {}, 0},
        StatusCase{
            "ZeroDevicesVerbose", "#0\n#/V\n", "", {"0 device specified."}, 0},
        StatusCase{"NoDevice", "#2\n*A\n", "", {NO_DEVICE}, 1, 0},
        StatusCase{"NoHeader", "*A\n", "", {NO_DEVICE}, 1},
        StatusCase{"NothingToSetQuiet", "#2\n*A\n", "", {}, 0, 2, "old"},
        StatusCase{"NothingToSetVerbose",
                   "#2\n*A\n",
                   "/V",
                   {NOTHING_TO_SET},
                   0,
                   2,
                   "old"},
        StatusCase{"CountTooLarge", "#70000\n*A\n", "", {"Out of memory!"}, 1}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CommandLine, LowerCaseSwitchesReadAnotherFile) {
    PreloadMachine machine;
    machine.WriteFile("C:\\Other Place\\p.ini", "#2\n" + FOUR_LINES);
    auto run = machine.Run("parlod", "/v /f\"C:\\Other Place\\p.ini\"",
                           Answers("ok,ok,ok,ok,no"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.MessageTexts().size(), 5u);
    EXPECT_EQ(machine.Settings(1, false), "\"B1\"");
}

TEST(CommandLine, UnreadableParameterFileWritesNoSettings) {
    PreloadMachine machine;
    machine.Parameters("#2 /SN\n" + FOUR_LINES);
    auto run = machine.Run("parlod", "", Fail("ReadTextLine@3=30"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.MessageTexts(), std::vector{NOT_FOUND});
    EXPECT_EQ(machine.Settings(0, true), "<none>");
    EXPECT_EQ(machine.ChannelOptions(0), "hex:00");  // read before the error
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
}

// Every allocation that the reader and discovery make, one failure at a
// time: "Out of memory!", exit 1, no AdapterSettings, win.ini cleaned.
TEST(OutOfMemory, EachReaderAndDiscoveryAllocation) {
    for (int n = 1; n <= 8; ++n) {
        PreloadMachine machine;
        machine.Parameters("#2 /SN\n" + FOUR_LINES);
        auto run = machine.Run("parlod", "",
                               Fail("LocalAlloc@" + std::to_string(n) + "=8"));
        EXPECT_EQ(run.exitCode, 1) << n;
        EXPECT_EQ(run.MessageTexts(),
                  std::vector<std::string>{"Out of memory!"})
            << n;
        EXPECT_EQ(machine.Settings(0, true), "<none>") << n;
        // /S acts after the tables are made and before discovery.
        EXPECT_EQ(machine.ChannelOptions(0), n <= 4 ? "<none>" : "hex:00") << n;
        EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI) << n;
    }
}

TEST(OutOfMemory, WinIniPathBuffers) {
    for (int n : {9, 10}) {
        PreloadMachine machine;
        machine.Parameters("#2\n" + FOUR_LINES);
        auto run = machine.Run("parlod", "",
                               Fail("LocalAlloc@" + std::to_string(n) + "=8"));
        EXPECT_EQ(run.exitCode, 1) << n;
        ASSERT_EQ(
            run.MessageTexts(),
            std::vector<std::string>{"Can't restore win.ini -- Out of memory."})
            << n;
        auto box = run.Events("MessageBox").at(0);
        EXPECT_EQ(box["caption"], "Error");
        EXPECT_EQ(box["type"], MB_ICONERROR);
        EXPECT_TRUE(run.Events("CreateDialog").empty());
        EXPECT_EQ(machine.WinIni(), STARTUP_WIN_INI);
        EXPECT_EQ(machine.Settings(0, true), "\"A0\"");  // written before
    }
}

}  // namespace
