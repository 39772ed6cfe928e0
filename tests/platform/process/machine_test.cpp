// Loading a machine: machine.ini, W95_FAIL and the run's start and end, as a
// user meets them.
#include <gtest/gtest.h>

#include <unistd.h>
#include <windows.h>

#include <cstdlib>
#include <functional>

#include "emulator_failure.h"
#include "fault_injection.h"
#include "machine.h"
#include "scenario.h"
#include "transcript.h"

using w95::EmulatorFailure;

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

TEST(MachineIni, VersionTakesTheNamesOfWindowsInAnyCase) {
    const std::pair<const char *, DWORD> names[] = {
        {"win95", 0xC3B60004},      {"Win95OSR2", 0xC4570004},
        {"WIN98", 0xC7CE0A04},      {"winme", 0xCBB85A04},
        {"NT40", 0x05650004},       {"Win2000", 0x08930005},
        {"3283484676", 0xC3B60004}, {"0x80000A03", 0x80000A03},
    };
    for (const auto &[name, version] : names) {
        auto s = w95::ParseMachineIni(
            std::string("[machine]\nVersion=") + name + "\n", "m.ini");
        EXPECT_EQ(s.version, version) << name;
    }
    EXPECT_EQ(FailureOf([] {
                  w95::ParseMachineIni("[machine]\nVersion=win31\n", "m.ini");
              }),
              "m.ini line 2: Version 'win31' is neither a 32-bit number nor "
              "one of win95, win95osr2, win98, winme, nt40, win2000");
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
              "from 1 or its name (ERROR_ACCESS_DENIED), or crash, powerloss, "
              "powerloss-meta or powerloss-torn");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("copyfilea=ERROR_NOPE"); }),
              "W95_FAIL: 'copyfilea=ERROR_NOPE': no Win32 error is named "
              "'ERROR_NOPE'");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFileA=0"); }),
              "W95_FAIL: 'CopyFileA=0': ERROR must be a Win32 error code "
              "from 1 or its name (ERROR_ACCESS_DENIED), or crash, powerloss, "
              "powerloss-meta or powerloss-torn");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("CopyFileA=5,,ReadFile=5"); }),
              "W95_FAIL: empty entry in 'CopyFileA=5,,ReadFile=5'");
    EXPECT_EQ(FailureOf([] { w95::SetFaultPlan("gettickcount=5"); }),
              "W95_FAIL: 'gettickcount=5': GetTickCount cannot fail; only "
              "crash, powerloss, powerloss-meta or powerloss-torn fit");
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

TEST(FaultPlan, CallNamesInAnyCaseAndErrorNames) {
    w95::SetFaultPlan(
        "copyfilea@1=ERROR_ACCESS_DENIED, REGSAVEKEYA=error_registry_io_failed,"
        "WriteFile@1=ERROR_DISK_FULL, readfile@1=30, DeleteFileA@2=Crash");
    EXPECT_EQ(w95::InjectedFault("CopyFileA"), 5u);
    EXPECT_EQ(w95::InjectedFault("RegSaveKeyA"), 1016u);
    EXPECT_EQ(w95::InjectedFault("WriteFile"), 112u);
    EXPECT_EQ(w95::InjectedFault("ReadFile"), 30u);
    EXPECT_EQ(w95::InjectedFault("DeleteFileA"), 0u);
    w95::ResetFaults();
}

// The names stand for the codes that <windows.h> gives them, and every code
// the emulation gives or the programs look for has its name.
TEST(FaultPlan, ErrorNamesAreTheSdkCodes) {
    const std::pair<const char *, DWORD> known[] = {
        {"ERROR_FILE_NOT_FOUND", ERROR_FILE_NOT_FOUND},
        {"ERROR_PATH_NOT_FOUND", ERROR_PATH_NOT_FOUND},
        {"ERROR_TOO_MANY_OPEN_FILES", ERROR_TOO_MANY_OPEN_FILES},
        {"ERROR_ACCESS_DENIED", ERROR_ACCESS_DENIED},
        {"ERROR_INVALID_HANDLE", ERROR_INVALID_HANDLE},
        {"ERROR_NOT_ENOUGH_MEMORY", ERROR_NOT_ENOUGH_MEMORY},
        {"ERROR_OUTOFMEMORY", ERROR_OUTOFMEMORY},
        {"ERROR_INVALID_DRIVE", ERROR_INVALID_DRIVE},
        {"ERROR_NOT_SAME_DEVICE", 17},
        {"ERROR_NO_MORE_FILES", ERROR_NO_MORE_FILES},
        {"ERROR_WRITE_PROTECT", ERROR_WRITE_PROTECT},
        {"ERROR_NOT_READY", ERROR_NOT_READY},
        {"ERROR_WRITE_FAULT", ERROR_WRITE_FAULT},
        {"ERROR_READ_FAULT", ERROR_READ_FAULT},
        {"ERROR_GEN_FAILURE", ERROR_GEN_FAILURE},
        {"ERROR_SHARING_VIOLATION", ERROR_SHARING_VIOLATION},
        {"ERROR_HANDLE_EOF", ERROR_HANDLE_EOF},
        {"ERROR_HANDLE_DISK_FULL", ERROR_HANDLE_DISK_FULL},
        {"ERROR_NOT_SUPPORTED", ERROR_NOT_SUPPORTED},
        {"ERROR_FILE_EXISTS", ERROR_FILE_EXISTS},
        {"ERROR_CANNOT_MAKE", ERROR_CANNOT_MAKE},
        {"ERROR_INVALID_PARAMETER", ERROR_INVALID_PARAMETER},
        {"ERROR_DISK_FULL", ERROR_DISK_FULL},
        {"ERROR_CALL_NOT_IMPLEMENTED", ERROR_CALL_NOT_IMPLEMENTED},
        {"ERROR_INSUFFICIENT_BUFFER", ERROR_INSUFFICIENT_BUFFER},
        {"ERROR_INVALID_NAME", ERROR_INVALID_NAME},
        {"ERROR_NEGATIVE_SEEK", 131},
        {"ERROR_DIR_NOT_EMPTY", ERROR_DIR_NOT_EMPTY},
        {"ERROR_NOT_LOCKED", 158},
        {"ERROR_BAD_PATHNAME", ERROR_BAD_PATHNAME},
        {"ERROR_ALREADY_EXISTS", ERROR_ALREADY_EXISTS},
        {"ERROR_FILENAME_EXCED_RANGE", ERROR_FILENAME_EXCED_RANGE},
        {"ERROR_MORE_DATA", ERROR_MORE_DATA},
        {"ERROR_NO_MORE_ITEMS", ERROR_NO_MORE_ITEMS},
        {"ERROR_DIRECTORY", ERROR_DIRECTORY},
        {"ERROR_BADDB", ERROR_BADDB},
        {"ERROR_BADKEY", ERROR_BADKEY},
        {"ERROR_CANTOPEN", ERROR_CANTOPEN},
        {"ERROR_CANTREAD", ERROR_CANTREAD},
        {"ERROR_CANTWRITE", ERROR_CANTWRITE},
        {"ERROR_REGISTRY_CORRUPT", ERROR_REGISTRY_CORRUPT},
        {"ERROR_REGISTRY_IO_FAILED", ERROR_REGISTRY_IO_FAILED},
        {"ERROR_KEY_DELETED", ERROR_KEY_DELETED},
        {"ERROR_INVALID_WINDOW_HANDLE", ERROR_INVALID_WINDOW_HANDLE},
        {"ERROR_RESOURCE_NAME_NOT_FOUND", ERROR_RESOURCE_NAME_NOT_FOUND},
        {"ERROR_CONTROL_ID_NOT_FOUND", 1421},
        {"ERROR_INVALID_MSGBOX_STYLE", 1438},
        {"ERROR_RESOURCE_DATA_NOT_FOUND", 1812},
    };
    for (const auto &[name, code] : known) {
        EXPECT_EQ(w95::ErrorCodeNamed(name), code) << name;
        EXPECT_EQ(w95::ErrorNameOf(code), name);
    }
    EXPECT_EQ(w95::ErrorCodeNamed("error_disk_full"), 112u);
    EXPECT_EQ(w95::ErrorCodeNamed("ERROR_SUCCESS"), std::nullopt);
    EXPECT_EQ(w95::ErrorNameOf(4242), "");
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
