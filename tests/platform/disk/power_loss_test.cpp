// Power losses planned by W95_FAIL: what the machine folder holds after
// one, as a small program's writes, copies, deletes, renames and flushes
// meet it. A planned power loss ends the process, so each run happens in a
// child process; the test then looks at the machine it left.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "temp_machine.h"
#include "tool_runner.h"
#include "transcript.h"

namespace fs = std::filesystem;

using tool_runner::ReadAll;

namespace {

constexpr int kKilled = 128 + 9;  // how a crash or power loss ends a run

HANDLE Open(const char *name, DWORD disposition) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Write(HANDLE file, const std::string &bytes) {
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

// Makes or replaces `name` with `bytes`, flushed to disk or not.
void WriteNew(const char *name, const std::string &bytes, bool flush) {
    HANDLE file = Open(name, CREATE_ALWAYS);
    Write(file, bytes);
    if (flush) FlushFileBuffers(file);
    CloseHandle(file);
}

class PowerLoss : public TempMachineTest {
  protected:
    // Runs `steps` in a child process and then GetTickCount, which the plan
    // ends with `kind`; returns the child's exit code. Its standard error
    // and transcript are kept in `err` and `transcript`.
    int RunThenLose(const std::string &kind,
                    const std::function<void()> &steps) {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            std::freopen(err.c_str(), "w", stderr);
            w95::OpenTranscript(transcript.string());
            w95::SetFaultPlan("GetTickCount=" + kind);
            steps();
            GetTickCount();
            _exit(0);  // the planned fault did not end the run
        }
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Read(const char *name) const { return machine.ReadFile(name); }

    fs::path err = machine.Directory().parent_path() /
                   (machine.Directory().filename().string() + ".err");
    fs::path transcript = machine.Directory().parent_path() /
                          (machine.Directory().filename().string() + ".jsonl");
};

}  // namespace

// ---------------------------------------------------------- the plan

TEST(PowerLossPlan, TakesTheKindsInAnyCaseAndKeepsTheModelOnlyForThem) {
    w95::ResetEmulatedProcess();
    w95::SetFaultPlan("ReadFile@2=crash");
    EXPECT_EQ(w95::TrackedDisk(), nullptr);  // a crash needs no model
    w95::SetFaultPlan(
        "GetTickCount@1=PowerLoss, CopyFileA=powerloss-META, "
        "readfile@3=POWERLOSS-torn");
    EXPECT_NE(w95::TrackedDisk(), nullptr);
    EXPECT_EQ(w95::InjectedFault("ReadFile"), 0u);  // not its call yet
    w95::SetFaultPlan("WriteFile=5");
    EXPECT_EQ(w95::TrackedDisk(), nullptr);
    try {
        w95::SetFaultPlan("CopyFileA=powerlos");
        ADD_FAILURE() << "a misspelt kind was taken";
    } catch (const std::exception &e) {
        EXPECT_EQ(std::string(e.what()),
                  "W95_FAIL: 'CopyFileA=powerlos': ERROR must be a Win32 "
                  "error code from 1 or its name (ERROR_ACCESS_DENIED), or "
                  "crash, powerloss, powerloss-meta or powerloss-torn");
    }
    w95::ResetEmulatedProcess();
}

// ------------------------------------------------------ files' data

// A file made and written in the run but never flushed: a crash keeps what
// was written, a power loss leaves it empty, and one that loses directory
// operations too takes the file away. Each says so in the transcript and on
// standard error.
TEST_F(PowerLoss, AnUnflushedNewFileIsKeptEmptiedOrGone) {
    auto steps = [] { WriteNew("C:\\NEW.TXT", "hello", false); };
    struct Case {
        const char *kind;
        bool exists;
        std::string bytes;
    } cases[] = {{"crash", true, "hello"},
                 {"powerloss", true, ""},
                 {"powerloss-meta", false, ""},
                 {"powerloss-torn", true, ""}};  // 5 bytes: no whole half
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        fs::remove(machine.HostPath("C:\\NEW.TXT"));
        fs::remove(transcript);
        EXPECT_EQ(RunThenLose(c.kind, steps), kKilled);
        ASSERT_EQ(machine.Exists("C:\\NEW.TXT"), c.exists);
        if (c.exists) {
            EXPECT_EQ(Read("C:\\NEW.TXT"), c.bytes);
        }
        std::string said = ReadAll(err);
        EXPECT_EQ(said, std::string("w95: ") + c.kind +
                            " injected at GetTickCount call 1\n");
        EXPECT_NE(ReadAll(transcript)
                      .find(std::string("\"error\":\"") + c.kind + "\""),
                  std::string::npos);
    }
}

// Flushed data lasts, through any handle of the file; what was written
// after the flush, and what closing a handle wrote out, does not.
TEST_F(PowerLoss, FlushedDataSurvivesAndLaterWritesDoNot) {
    machine.WriteFile("C:\\OLD.TXT", "old content");
    EXPECT_EQ(RunThenLose("powerloss",
                          [] {
                              HANDLE a = Open("C:\\OLD.TXT", OPEN_EXISTING);
                              Write(a, "NEW");
                              HANDLE b = CreateFileA(
                                  "C:\\OLD.TXT", GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
                              FlushFileBuffers(b);  // a's bytes too
                              Write(a, " and later");
                              CloseHandle(a);
                              CloseHandle(b);
                              WriteNew("C:\\KEPT.TXT", "kept", true);
                          }),
              kKilled);
    EXPECT_EQ(Read("C:\\OLD.TXT"), "NEW content");
    EXPECT_EQ(Read("C:\\KEPT.TXT"), "kept");
}

// A file replaced by CREATE_ALWAYS keeps its old bytes until the new ones
// are flushed; CopyFileA's target, new or replaced, likewise.
TEST_F(PowerLoss, TruncationsAndCopiesArePendingUntilFlushed) {
    machine.WriteFile("C:\\SRC.TXT", "source");
    machine.WriteFile("C:\\DST.TXT", "old target");
    machine.WriteFile("C:\\INI.TXT", "old settings");
    EXPECT_EQ(RunThenLose("powerloss",
                          [] {
                              WriteNew("C:\\INI.TXT", "new", false);
                              CopyFileA("C:\\SRC.TXT", "C:\\COPY.TXT", TRUE);
                              CopyFileA("C:\\SRC.TXT", "C:\\DST.TXT", FALSE);
                          }),
              kKilled);
    EXPECT_EQ(Read("C:\\INI.TXT"), "old settings");
    EXPECT_EQ(Read("C:\\COPY.TXT"), "");
    EXPECT_EQ(Read("C:\\DST.TXT"), "old target");

    EXPECT_EQ(RunThenLose("powerloss",
                          [] {
                              CopyFileA("C:\\SRC.TXT", "C:\\DST.TXT", FALSE);
                              HANDLE h = Open("C:\\DST.TXT", OPEN_EXISTING);
                              FlushFileBuffers(h);
                              CloseHandle(h);
                          }),
              kKilled);
    EXPECT_EQ(Read("C:\\DST.TXT"), "source");
}

// A torn write: the durable bytes, then the pending writes in order until
// half of the pending bytes, rounded down to 512, are on disk; the write
// that crosses that point is cut there, and a file with less than 1024
// pending bytes keeps its durable bytes whole.
TEST_F(PowerLoss, TornKeepsTheFirstHalfOfThePendingBytes) {
    const std::string durable(2000, 'D');
    machine.WriteFile("C:\\DATA.BIN", durable);
    machine.WriteFile("C:\\LOG.TXT", durable);
    machine.WriteFile("C:\\SMALL.TXT", durable);
    EXPECT_EQ(
        RunThenLose("powerloss-torn",
                    [] {
                        // 2800 pending bytes: 1024 reach the disk.
                        HANDLE h = Open("C:\\DATA.BIN", OPEN_EXISTING);
                        Write(h, std::string(700, 'a'));
                        SetFilePointer(h, 4000, nullptr, FILE_BEGIN);
                        Write(h, std::string(1400, 'c'));
                        SetFilePointer(h, 700, nullptr, FILE_BEGIN);
                        Write(h, std::string(700, 'b'));
                        CloseHandle(h);
                        // Emptied, then 1100 bytes: the emptying and
                        // 512 of them.
                        WriteNew("C:\\LOG.TXT", std::string(1100, 'n'), false);
                        WriteNew("C:\\SMALL.TXT", std::string(600, 's'), false);
                    }),
        kKilled);
    EXPECT_EQ(Read("C:\\DATA.BIN"),
              std::string(700, 'a') + std::string(1300, 'D') +
                  std::string(2000, '\0') + std::string(324, 'c'));
    EXPECT_EQ(Read("C:\\LOG.TXT"), std::string(512, 'n'));
    EXPECT_EQ(Read("C:\\SMALL.TXT"), durable);
}

// ---------------------------------------------- directory operations

// Without a flush on their drive, a delete and a rename are undone (the
// deleted file comes back with its durable bytes, not its later writes),
// and so are a new folder, a removed one and an attribute change. A flush
// on another drive changes nothing of it.
TEST_F(PowerLoss, MetaUndoesWhatNoFlushOnItsDriveMadeDurable) {
    machine.MakeDirectory("D:\\");
    machine.WriteFile("C:\\A.TXT", "a durable");
    machine.WriteFile("C:\\B.TXT", "b");
    machine.WriteFile("C:\\RO.TXT", "ro");
    machine.MakeDirectory("C:\\OLDDIR");
    auto steps = [](bool flushC) {
        HANDLE h = Open("C:\\A.TXT", OPEN_EXISTING);
        Write(h, "a pending");
        CloseHandle(h);
        DeleteFileA("C:\\A.TXT");
        MoveFileA("C:\\B.TXT", "C:\\SUB.TXT");
        CreateDirectoryA("C:\\NEWDIR", nullptr);
        WriteNew("C:\\NEWDIR\\IN.TXT", "in", false);
        RemoveDirectoryA("C:\\OLDDIR");
        SetFileAttributesA("C:\\RO.TXT", FILE_ATTRIBUTE_READONLY);
        WriteNew("D:\\ELSE.TXT", "else", true);
        if (flushC) WriteNew("C:\\FLUSH.TXT", "f", true);
    };
    EXPECT_EQ(RunThenLose("powerloss-meta", [&] { steps(false); }), kKilled);
    EXPECT_EQ(Read("C:\\A.TXT"), "a durable");
    EXPECT_EQ(Read("C:\\B.TXT"), "b");
    EXPECT_FALSE(machine.Exists("C:\\SUB.TXT"));
    EXPECT_FALSE(machine.Exists("C:\\NEWDIR"));
    EXPECT_TRUE(fs::is_directory(machine.HostPath("C:\\OLDDIR")));
    EXPECT_TRUE((fs::status(machine.HostPath("C:\\RO.TXT")).permissions() &
                 fs::perms::owner_write) != fs::perms::none);
    EXPECT_EQ(Read("D:\\ELSE.TXT"), "else");

    EXPECT_EQ(RunThenLose("powerloss-meta", [&] { steps(true); }), kKilled);
    EXPECT_FALSE(machine.Exists("C:\\A.TXT"));
    EXPECT_FALSE(machine.Exists("C:\\B.TXT"));
    EXPECT_EQ(Read("C:\\SUB.TXT"), "b");
    EXPECT_EQ(Read("C:\\NEWDIR\\IN.TXT"), "");  // made, never flushed
    EXPECT_FALSE(machine.Exists("C:\\OLDDIR"));
    EXPECT_TRUE((fs::status(machine.HostPath("C:\\RO.TXT")).permissions() &
                 fs::perms::owner_write) == fs::perms::none);
}

// powerloss keeps every directory operation, whatever was flushed.
TEST_F(PowerLoss, PlainPowerLossKeepsDirectoryOperations) {
    machine.WriteFile("C:\\A.TXT", "a");
    machine.WriteFile("C:\\B.TXT", "b");
    EXPECT_EQ(RunThenLose("powerloss",
                          [] {
                              DeleteFileA("C:\\A.TXT");
                              MoveFileA("C:\\B.TXT", "C:\\C.TXT");
                          }),
              kKilled);
    EXPECT_FALSE(machine.Exists("C:\\A.TXT"));
    EXPECT_EQ(Read("C:\\C.TXT"), "b");
}

// ------------------------------------------------------- the registry

// Under RegistryWrite=exit the registry on disk is the one of the last
// RegFlushKey; RegSaveKeyA's file is pending like any written file.
TEST_F(PowerLoss, TheRegistryIsAsOfTheLastRegFlushKey) {
    EXPECT_EQ(
        RunThenLose(
            "powerloss",
            [] {
                HKEY key;
                RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Kept", &key);
                RegSetValueExA(key, "first", 0, REG_SZ, (const BYTE *)"1", 2);
                RegFlushKey(key);
                RegSetValueExA(key, "second", 0, REG_SZ, (const BYTE *)"2", 2);
                RegSaveKeyA(key, "C:\\KEPT.REG", nullptr);
            }),
        kKilled);
    std::string registry = machine.Registry();
    EXPECT_NE(registry.find("\"first\"=\"1\""), std::string::npos) << registry;
    EXPECT_EQ(registry.find("\"second\""), std::string::npos) << registry;
    EXPECT_EQ(Read("C:\\KEPT.REG"), "");
}
