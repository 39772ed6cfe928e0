// Faults beneath the emulation: host calls failed by W95_HOST_FAIL, and
// what the emulation then leaves on disk and reports (the registry's
// write-back, RegSaveKeyA, CopyFileA, the change log, the file calls and the
// text streams over them).
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../../setup/setup_machine.h"
#include "emulator_failure.h"
#include "host_calls.h"
#include "registry_store.h"
#include "temp_machine.h"
#include "text_stream.h"
#include "tool_runner.h"

namespace fs = std::filesystem;

using tool_runner::Contains;

namespace {

// The files of a host folder, by name.
std::vector<std::string> FilesIn(const fs::path &dir) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// ------------------------------------------------------------ the plan

TEST(HostFaultPlan, BadEntriesAreRefusedByName) {
    w95::ResetEmulatedProcess();
    EXPECT_EQ(FailureOf([] { w95::SetHostFaultPlan("writ=EIO"); }),
              "W95_HOST_FAIL: 'writ=EIO': no host call is named 'writ'");
    EXPECT_EQ(FailureOf([] { w95::SetHostFaultPlan("write@0=EIO"); }),
              "W95_HOST_FAIL: 'write@0=EIO': N must be a call number from 1");
    EXPECT_EQ(FailureOf([] { w95::SetHostFaultPlan("write=ENOPE"); }),
              "W95_HOST_FAIL: 'write=ENOPE': ERRNO must be an errno name "
              "(EIO, ENOSPC) or a number from 1 to 4095");
    EXPECT_EQ(FailureOf([] { w95::SetHostFaultPlan("write"); }),
              "W95_HOST_FAIL: 'write': expected CALL=ERRNO or CALL@N=ERRNO");
    EXPECT_EQ(FailureOf([] { w95::SetHostFaultPlan("write=EIO,"); }),
              "W95_HOST_FAIL: empty entry in 'write=EIO,'");
    // Names in any case, numbers, and counting per call from the plan on.
    w95::SetHostFaultPlan("RENAME@2=exdev, unlink=2");
    EXPECT_EQ(w95::HostRename("/nonexistent/a", "/nonexistent/b"), -1);
    EXPECT_EQ(errno, ENOENT);  // the real call, which failed by itself
    EXPECT_EQ(w95::HostRename("/nonexistent/a", "/nonexistent/b"), -1);
    EXPECT_EQ(errno, EXDEV);
    EXPECT_EQ(w95::HostUnlink("/"), -1);
    EXPECT_EQ(errno, ENOENT);
    w95::ResetFaults();
    EXPECT_EQ(w95::HostUnlink("/"), -1);
    EXPECT_NE(errno, ENOENT);
    w95::ResetEmulatedProcess();
}

// ------------------------------------------------ the registry on disk

class RegistryWriteBack : public ::testing::Test {
  protected:
    void SetUp() override {
        w95::ResetEmulatedProcess();
        machine.MakeDirectory("C:\\");
        machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n\"Old\"=\"1\"\n");
        before = machine.Registry();
        w95::LoadMachine(machine.Directory());
        HKEY key;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Enum\\New", &key),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override { w95::ResetEmulatedProcess(); }

    // Writes the registry back with `plan` in force: the old registry.reg
    // stays whole and no temporary file is left; the failure is returned.
    std::string FailedWriteBack(const std::string &plan) {
        w95::SetHostFaultPlan(plan);
        std::string failure = FailureOf([] { w95::WriteBackMachine(); });
        w95::ResetFaults();
        EXPECT_EQ(machine.Registry(), before) << plan;
        EXPECT_EQ(FilesIn(machine.Directory()),
                  (std::vector<std::string>{"drive_c", "registry.reg"}))
            << plan;
        return failure;
    }

    scenario::Machine machine;
    std::string before;
};

TEST_F(RegistryWriteBack, AFailedStepLeavesTheOldFileWholeAndNoTemporary) {
    EXPECT_TRUE(Contains(FailedWriteBack("write@1=EIO"),
                         "registry.reg: cannot write: Input/output error"));
    EXPECT_TRUE(Contains(FailedWriteBack("fsync@1=EIO"),
                         "registry.reg: cannot write: Input/output error"));
    EXPECT_TRUE(Contains(FailedWriteBack("close@1=ENOSPC"),
                         "registry.reg: cannot write: No space left"));
    EXPECT_TRUE(Contains(FailedWriteBack("rename@1=ENOSPC"),
                         "registry.reg: cannot replace: No space left"));
    // The changes are still there to be written once the host lets them.
    w95::WriteBackMachine();
    EXPECT_TRUE(
        Contains(machine.Registry(), "[HKEY_LOCAL_MACHINE\\Enum\\New]"));
}

TEST_F(RegistryWriteBack, RegFlushKeyReportsTheFailure) {
    w95::SetHostFaultPlan("rename=ENOSPC");
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_DISK_FULL);
    w95::SetHostFaultPlan("rename=EIO");
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_WRITE_FAULT);
    w95::ResetFaults();
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_FALSE(fs::exists(machine.Directory() / "registry.reg.w95-new"));
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_NE(machine.Registry(), before);
}

// A change log that failed earlier is put right by the flush, which
// succeeds; the run still ends reporting the failure.
TEST(RegistryWriteBackEach, RegFlushKeyAfterAFailedLogSucceeds) {
    w95::ResetEmulatedProcess();
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    machine.WriteMachineIni("[machine]\nRegistryWrite=each\n");
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    w95::LoadMachine(machine.Directory());
    w95::SetHostFaultPlan("write@1=ENOSPC");
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Enum\\New", &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    w95::ResetFaults();
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_TRUE(
        Contains(machine.Registry(), "[HKEY_LOCAL_MACHINE\\Enum\\New]"));
    ASSERT_EQ(w95::Process().runErrors.size(), 1u);
    EXPECT_TRUE(Contains(w95::Process().runErrors[0], "registry.log"));
    w95::ResetEmulatedProcess();
}

// A run whose registry cannot be written back at its end says so and ends
// with code 3; registry.reg is as before.
TEST(RegistryWriteBackRun, AFailedRenameEndsTheRunWithCode3) {
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    std::string before = machine.Registry();
    scenario::RunOptions options;
    options.answers = "ok";
    options.environment["W95_HOST_FAIL"] = "rename=ENOSPC";
    scenario::RunResult run = machine.Run("win32_sample", "", options);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(
        Contains(run.standardError, "w95: the registry was not written back: "))
        << run.standardError;
    EXPECT_TRUE(Contains(run.standardError, "No space left on device"))
        << run.standardError;
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_FALSE(fs::exists(machine.Directory() / "registry.reg.w95-new"));
    ASSERT_FALSE(run.Events("HostFault").empty());
    EXPECT_EQ(run.Events("HostFault")[0]["call"], "rename");
    EXPECT_EQ(run.Events("HostFault")[0]["errno"], "ENOSPC");

    scenario::RunOptions bad;
    bad.environment["W95_HOST_FAIL"] = "Rename=5,";
    scenario::RunResult refused = machine.Run("win32_sample", "", bad);
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(Contains(refused.standardError,
                         "w95: W95_HOST_FAIL: empty entry in 'Rename=5,'"))
        << refused.standardError;
}

class HostFaultCalls : public TempMachineTest {
  protected:
    void TearDown() override {
        w95::ResetFaults();
        TempMachineTest::TearDown();
    }
};

TEST_F(HostFaultCalls, RegSaveKeyALeavesNoHalfFile) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Saved", &key),
              ERROR_SUCCESS);
    struct Case {
        const char *plan;
        LONG result;
    } cases[] = {
        {"write@1=EIO", ERROR_REGISTRY_IO_FAILED},
        {"write@1=ENOSPC", ERROR_DISK_FULL},
        {"fsync@1=EIO", ERROR_REGISTRY_IO_FAILED},
        {"close@1=EIO", ERROR_REGISTRY_IO_FAILED},
    };
    for (const Case &c : cases) {
        w95::SetHostFaultPlan(c.plan);
        EXPECT_EQ(RegSaveKeyA(key, "C:\\SAVED.REG", nullptr), c.result)
            << c.plan;
        EXPECT_FALSE(machine.Exists("C:\\SAVED.REG")) << c.plan;
    }
    w95::ResetFaults();
    EXPECT_EQ(RegSaveKeyA(key, "C:\\SAVED.REG", nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(machine.Exists("C:\\SAVED.REG"));
    RegCloseKey(key);
}

TEST_F(HostFaultCalls, CopyFileALeavesNoHalfTarget) {
    machine.WriteFile("C:\\FROM.BIN", std::string(200000, 'x'));
    struct Case {
        const char *plan;
        DWORD error;
    } cases[] = {
        {"read@2=EIO", ERROR_READ_FAULT},
        {"write@2=ENOSPC", ERROR_DISK_FULL},
        {"write@1=EIO", ERROR_WRITE_FAULT},
        {"close@1=EIO", ERROR_WRITE_FAULT},
        {"fchmod=EPERM", ERROR_ACCESS_DENIED},
    };
    for (const Case &c : cases) {
        w95::SetHostFaultPlan(c.plan);
        SetLastError(0);
        EXPECT_FALSE(CopyFileA("C:\\FROM.BIN", "C:\\TO.BIN", FALSE)) << c.plan;
        EXPECT_EQ(GetLastError(), c.error) << c.plan;
        EXPECT_FALSE(machine.Exists("C:\\TO.BIN")) << c.plan;
    }
    w95::ResetFaults();
    EXPECT_TRUE(CopyFileA("C:\\FROM.BIN", "C:\\TO.BIN", FALSE));
    EXPECT_EQ(machine.ReadFile("C:\\TO.BIN"), std::string(200000, 'x'));
}

TEST_F(HostFaultCalls, FileCallsFailWithAFittingError) {
    machine.WriteFile("C:\\IN.TXT", "some bytes");
    HANDLE in = CreateFileA("C:\\IN.TXT", GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    char buffer[16];
    DWORD n = 99;
    w95::SetHostFaultPlan("pread@1=EIO");
    EXPECT_FALSE(ReadFile(in, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(ReadFile(in, buffer, sizeof buffer, &n, nullptr));
    EXPECT_EQ(n, 10u);
    EXPECT_TRUE(CloseHandle(in));

    // Small writes wait in a buffer: the failure shows when it goes out.
    auto writeAndClose = [&](const char *plan, bool flush) {
        HANDLE out = CreateFileA("C:\\OUT.TXT", GENERIC_WRITE, 0, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
        EXPECT_NE(out, INVALID_HANDLE_VALUE);
        w95::SetHostFaultPlan(plan);
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(out, "abc", 3, &written, nullptr));
        BOOL flushed = flush ? FlushFileBuffers(out) : TRUE;
        DWORD flushError = GetLastError();
        BOOL closed = CloseHandle(out);
        DWORD closeError = GetLastError();
        w95::ResetFaults();
        if (!flushed) return flushError;
        return closed ? 0 : closeError;
    };
    EXPECT_EQ(writeAndClose("pwrite@1=ENOSPC", false), ERROR_DISK_FULL);
    EXPECT_EQ(writeAndClose("pwrite@1=EDQUOT", true), ERROR_DISK_FULL);
    EXPECT_EQ(writeAndClose("pwrite@1=EIO", false), ERROR_WRITE_FAULT);
    EXPECT_EQ(writeAndClose("fsync@1=EIO", true), ERROR_WRITE_FAULT);
    EXPECT_EQ(writeAndClose("close@1=EIO", false), ERROR_WRITE_FAULT);
    EXPECT_EQ(writeAndClose("", true), 0u);

    w95::SetHostFaultPlan("open@1=EMFILE");
    EXPECT_EQ(CreateFileA("C:\\IN.TXT", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_OPEN_FILES);
    w95::SetHostFaultPlan("readdir@1=EIO");
    WIN32_FIND_DATAA found;
    EXPECT_EQ(FindFirstFileA("C:\\*", &found), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_READ_FAULT);
    w95::SetHostFaultPlan("mkdir@1=ENOSPC");
    EXPECT_FALSE(CreateDirectoryA("C:\\NEW", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST_F(HostFaultCalls, TextStreamsReportAFailureBelow) {
    machine.WriteFile("C:\\IN.TXT", "one\r\ntwo\r\n");
    w95::SetHostFaultPlan("pread@1=EIO");
    TextStream *in = OpenTextStream("C:\\IN.TXT", TEXT_READ);
    ASSERT_NE(in, nullptr);
    char line[64];
    EXPECT_EQ(ReadTextLine(line, sizeof line, in), nullptr);
    EXPECT_TRUE(StreamFailed(in));
    EXPECT_FALSE(CloseTextStream(in));

    w95::SetHostFaultPlan("pwrite@1=ENOSPC");
    TextStream *out = OpenTextStream("C:\\OUT.TXT", TEXT_WRITE);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(WriteText(out, "a line\n"));  // still in the buffers
    SetLastError(0);
    EXPECT_FALSE(CloseTextStream(out));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

// ------------------------------------------------------- the change log

class ChangeLogFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        w95::ResetEmulatedProcess();
        machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    }
    void TearDown() override { w95::ResetEmulatedProcess(); }
    fs::path Reg() const { return machine.Directory() / "registry.reg"; }
    w95::RegKey &Enum(w95::Registry &r) {
        bool created = false;
        return r.CreateKey(*r.RootKey(w95::RegRoot::LocalMachine, true),
                           {"Enum"}, &created);
    }
    // What loading the machine's files gives now, as after a power loss.
    std::string Loaded() const {
        w95::Registry r;
        r.Load(Reg());
        return r.ExportText("");
    }
    scenario::Machine machine;
};

TEST_F(ChangeLogFaults, AFailedAppendIsReportedAndTheEarlierRecordsStay) {
    const BYTE one[] = {1};
    for (const char *plan : {"write@1=ENOSPC", "fdatasync@1=EIO"}) {
        machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
        fs::remove(machine.Directory() / "registry.log");
        w95::Registry r;
        r.Load(Reg(), w95::RegistryWrite::EachChange);
        ASSERT_TRUE(r.SetValue(Enum(r), "First", REG_BINARY, one, 1));
        std::string afterFirst = r.ExportText("");
        w95::SetHostFaultPlan(plan);
        ASSERT_TRUE(r.SetValue(Enum(r), "Second", REG_BINARY, one, 1));
        ASSERT_TRUE(r.SetValue(Enum(r), "Third", REG_BINARY, one, 1));
        w95::ResetFaults();
        std::string loaded = Loaded();
        EXPECT_TRUE(Contains(loaded, "\"First\"=hex:01")) << plan;
        EXPECT_FALSE(Contains(loaded, "\"Third\"")) << plan;
        std::string failure = FailureOf([&] { r.WriteBack(Reg()); });
        EXPECT_TRUE(Contains(failure, "registry.log: cannot write")) << plan;
        EXPECT_TRUE(Contains(failure, "later registry changes were kept only"))
            << failure;
        EXPECT_EQ(Loaded(), r.ExportText("")) << plan;
        EXPECT_NE(afterFirst, r.ExportText(""));
    }
}

// ----------------------------------------------------- the programs

// A parameter file that cannot be read is one parlod does not find.
TEST(ProgramsOverHostFaults, ParlodReportsAnUnreadableParameterFile) {
    scenario::Machine machine;
    machine.MakeDirectory("C:\\");
    const std::string winIni =
        "[windows]\r\nload=c:\\veltrane\\parlod\r\nrun=\r\n";
    machine.WriteFile("C:\\WINDOWS\\win.ini", winIni);
    machine.WriteFile("C:\\veltrane\\parlod.ini", "#1\r\n*A\r\n");
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    scenario::RunOptions options;
    options.answers = "ok,ok";
    options.environment["W95_HOST_FAIL"] = "pread=EIO";
    scenario::RunResult run = machine.Run("parlod", "", options);
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    // win.ini cannot be read either: its clean-up says so, with the read
    // fault's code, and leaves it as it was.
    EXPECT_EQ(run.MessageTexts(),
              (std::vector<std::string>{
                  "File \"c:\\veltrane\\parlod.ini\" not found!",
                  "Can't restore win.ini -- Error code = 30."}));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\win.ini"), winIni);
}

// setup on a full disk: its first record cannot be written, its error box
// says so with ERROR_DISK_FULL, and the machine stays as it was.
TEST(ProgramsOverHostFaults, SetupRollsBackAFullDisk) {
    setup_test::SetupMachine machine;
    auto before = machine.State();
    scenario::RunOptions options;
    options.answers = "yes,ok";
    options.cwd = "A:\\";
    options.environment["W95_HOST_FAIL"] = "pwrite=ENOSPC";
    scenario::RunResult run = machine.Run("setup", "", options);
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    std::vector<std::string> texts = run.MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1],
              "Error writing file C:\\WINDOWS\\TEMP\\qvrback\\JOURNAL.  "
              "Error code = 112.");
    EXPECT_EQ(machine.State(), before);
}
