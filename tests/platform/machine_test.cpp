// Loading a machine: machine.ini, W95_FAIL and the run's start and end, as a
// user meets them.
#include <gtest/gtest.h>

#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <functional>

#include "emulator_error.h"
#include "fault_injection.h"
#include "machine.h"
#include "scenario.h"
#include "transcript.h"

using w95::EmulatorFailure;

namespace {

std::string FailureOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const EmulatorFailure &e) {
        return e.what();
    }
    return "<no failure>";
}

}  // namespace

TEST(MachineIni, EveryKeyIsOptionalAndTakesItsValue) {
    auto defaults = w95::ParseMachineIni("", "machine.ini");
    EXPECT_EQ(defaults.version, 0xC3B60004u);
    EXPECT_EQ(defaults.windowsDirectory, "C:\\WINDOWS");
    EXPECT_EQ(defaults.systemDirectory, "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(defaults.tempPath, "C:\\WINDOWS\\TEMP\\");
    EXPECT_EQ(defaults.currentDirectory, "C:\\");
    EXPECT_EQ(defaults.tickCount, 0u);
    EXPECT_FALSE(defaults.virtualClock);

    auto s = w95::ParseMachineIni(
        "; a comment\n[machine]\nVersion=0x00000A04\nwindowsdirectory = "
        "D:\\WIN95\nTickCount=4294963200\nClock=Virtual\nCurrentDirectory=A:\\"
        "\n",
        "machine.ini");
    EXPECT_EQ(s.version, 0x00000A04u);
    EXPECT_EQ(s.windowsDirectory, "D:\\WIN95");
    EXPECT_EQ(s.tickCount, 0xFFFFF000u);
    EXPECT_TRUE(s.virtualClock);
    EXPECT_EQ(s.currentDirectory, "A:\\");
}

TEST(MachineIni, MalformedLinesNameFileAndLine) {
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\nClock=fast\n", "m.ini");
              }),
              "m.ini line 2: Clock 'fast' is neither real nor virtual");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\n\nTickCount=0x100000000\n",
                                       "m.ini");
              }),
              "m.ini line 3: TickCount '0x100000000' is not a 32-bit number");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\nno equals sign\n", "m.ini");
              }),
              "m.ini line 2: not a key=value line");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[other]\nVersion=1\n", "m.ini");
              }),
              "m.ini line 2: unknown section [other]");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\nTempPath=TEMP\n", "m.ini");
              }),
              "m.ini line 2: TempPath must be a path like C:\\WINDOWS, not "
              "'TEMP'");
}

TEST(MachineIni, LongLinesCommentsAndControlCharacters) {
    // A line of any length is one line: nothing is cut or carried over.
    std::string deep = "C:\\" + std::string(200, 'D');
    auto s = w95::ParseMachineIni("[machine]\r\nWindowsDirectory=" + deep +
                                      " ; the long one\r\n# done\r\n",
                                  "m.ini");
    EXPECT_EQ(s.windowsDirectory, deep);
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\nTempPath=C:\\" +
                                           std::string(300, 'T') +
                                           "\nClock=fast\n",
                                       "m.ini");
              }),
              "m.ini line 2: TempPath is longer than a Windows path can be");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni(
                      std::string("[machine]\nClock=real\0x\n", 22), "m.ini");
              }),
              "m.ini line 2: a control character in the line");
    EXPECT_EQ(FailureOf([] { w95::ParseMachineIni("Clock=real\n", "m.ini"); }),
              "m.ini line 1: unknown section []");
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine\nClock=real\n", "m.ini");
              }),
              "m.ini line 1: a section line must end with ]");
}

// The library needs nothing at link time but the C++ runtime, so a program
// links with the one command that users are given.
TEST(Library, LinksAloneWithTheDocumentedCommand) {
    std::filesystem::path build =
        std::filesystem::path(KIT_BIN_DIR).parent_path();
    std::filesystem::path output = std::filesystem::temp_directory_path() /
                                   ("w95-link-" + std::to_string(::getpid()));
    std::string command = "c++ -std=c++20 ";
#if defined(__SANITIZE_ADDRESS__)
    command += "-fsanitize=address,undefined ";
#endif
    command += std::string(KIT_SOURCE_DIR) +
               "/tests/win32_sample/sample.cpp -I " + KIT_SOURCE_DIR +
               "/platform/include " + (build / "platform/libw95.a").string() +
               " -o " + output.string() + " 2>&1";
    int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::is_regular_file(output, ec));
    std::filesystem::remove(output, ec);
}

TEST(FaultPlan, RejectsWhatIsNotAFault) {
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFile=5"); }),
              "W95_FAIL: 'CopyFile=5': no emulated call is named 'CopyFile'");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFileA@0=5"); }),
              "W95_FAIL: 'CopyFileA@0=5': N must be a call number from 1");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFileA=boom"); }),
              "W95_FAIL: 'CopyFileA=boom': ERROR must be a Win32 error code "
              "from 1, or crash");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFileA=5,,ReadFile=5"); }),
              "W95_FAIL: empty entry in 'CopyFileA=5,,ReadFile=5'");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("GetTickCount=5"); }),
              "W95_FAIL: 'GetTickCount=5': GetTickCount cannot fail; only "
              "crash fits");
    w95::ResetFaults();
}

TEST(FaultPlan, CountsEachCallAndFailsOnlyTheNamedOnes) {
    w95::SetFaultPlan("CopyFileA@2=5, RegSaveKeyA=1016");
    EXPECT_EQ(w95::InjectedFault("CopyFileA"), 0u);
    EXPECT_EQ(w95::InjectedFault("CopyFileA"), 5u);
    EXPECT_EQ(w95::InjectedFault("CopyFileA"), 0u);
    EXPECT_EQ(w95::InjectedFault("RegSaveKeyA"), 1016u);
    EXPECT_EQ(w95::InjectedFault("RegSaveKeyA"), 1016u);
    EXPECT_EQ(w95::InjectedFault("DeleteFileA"), 0u);
    w95::ResetFaults();
    EXPECT_EQ(w95::InjectedFault("RegSaveKeyA"), 0u);
}

// Calls that cannot fail still end the run where a crash is planned.
TEST(FaultPlanDeathTest, CrashReachesCallsWithoutAFailureResult) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const char *call : {"lstrcmpA", "lstrcmpiA"}) {
        EXPECT_EXIT(
            {
                w95::SetFaultPlan(std::string(call) + "@2=crash");
                (void)lstrcmpA("a", "b");
                (void)lstrcmpiA("a", "b");
                (void)lstrcmpA("a", "b");
                (void)lstrcmpiA("a", "b");
                std::exit(0);
            },
            testing::ExitedWithCode(137),
            std::string("crash injected at ") + call + " call 2");
    }
}

TEST(Transcript, AnsiTextsBecomeUtf8) {
    EXPECT_EQ(w95::AnsiToUtf8("plain"), "plain");
    EXPECT_EQ(w95::AnsiToUtf8("\x80 \xE9 \x93q\x94"),
              "\xE2\x82\xAC \xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D");
    EXPECT_EQ(w95::AnsiToUtf8("\x81"), "\xC2\x81");
}

TEST(LoadMachine, MissingMachineIsRefusedAndTheOldOneStays) {
    scenario::Machine machine;
    w95::LoadMachine(machine.Directory());
    EXPECT_EQ(FailureOf([] { w95::LoadMachine("/nonexistent/machine"); }),
              "no machine at '/nonexistent/machine' (not a directory)");
    EXPECT_EQ(w95::TheMachine().directory,
              std::filesystem::canonical(machine.Directory()));
}

TEST(LoadMachine, StartDirectoriesTakeTheFormWindowsGives) {
    scenario::Machine machine;
    machine.MakeDirectory("A:\\");
    machine.MakeDirectory("C:\\WINDOWS");
    machine.WriteMachineIni("[machine]\nCurrentDirectory=c:/windows/\n");
    w95::LoadMachine(machine.Directory());
    char buffer[MAX_PATH];
    ASSERT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\windows");
    w95::SetStartDirectory("a:");
    ASSERT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 3u);
    EXPECT_STREQ(buffer, "A:\\");
    EXPECT_EQ(FailureOf([] { w95::SetStartDirectory("D:"); }),
              "W95_CWD 'D:' is not a folder of the machine");
}

// The run as a whole: a program on a machine, started as a user starts it.
TEST(Run, EmulatorErrorsEndWithCode3AndTouchNothing) {
    scenario::Machine machine;
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Software]\n");
    std::string before = machine.Registry();

    auto badFail = machine.Run("win32_sample", "", {.fail = "Nothing=5"});
    EXPECT_EQ(badFail.exitCode, 3);
    EXPECT_NE(badFail.standardError.find("w95: W95_FAIL: 'Nothing=5'"),
              std::string::npos);

    machine.WriteMachineIni("[machine]\nClock=sometimes\n");
    auto badIni = machine.Run("win32_sample");
    EXPECT_EQ(badIni.exitCode, 3);
    EXPECT_NE(badIni.standardError.find("machine.ini line 2"),
              std::string::npos);
    EXPECT_TRUE(badIni.events.empty());
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_FALSE(machine.Exists("C:\\SAMPLE.LOG"));
}

TEST(Run, CrashEndsAtOnceWithoutWriteBack) {
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    std::string before = machine.Registry();
    auto run = machine.Run("win32_sample", "", {.fail = "CopyFileA@1=crash"});
    EXPECT_EQ(run.exitCode, 137);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back()["event"], "Fault");
    EXPECT_EQ(run.events.back()["error"], "crash");
    EXPECT_TRUE(run.Events("Exit").empty());
    EXPECT_EQ(machine.Registry(), before);  // the sample's keys are lost
}

TEST(Run, StartAndExitFrameTheTranscript) {
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    auto run = machine.Run("win32_sample", "/V  two", {.answers = "cancel"});
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.events.size(), 2u);
    EXPECT_EQ(run.events.front()["event"], "Start");
    EXPECT_EQ(run.events.front()["program"], "win32_sample");
    // argv is joined with single blanks.
    EXPECT_EQ(run.events.front()["commandLine"], "/V two");
    EXPECT_EQ(run.events.back()["event"], "Exit");
    EXPECT_EQ(run.events.back()["code"], 0);
    EXPECT_NE(machine.ReadFile("C:\\SAMPLE.LOG").find("MessageBoxA -> 2"),
              std::string::npos);
}
