// The start-up entry taken out of win.ini, on quiet and fatal paths, and
// win.ini kept whole whenever the copy cannot be finished or put in place.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "startup_entry.h"
#include "parlod_machine.h"
#include "answers.h"
#include "machine.h"
#include "transcript.h"

using namespace parlod_test;

namespace {

const std::string ENTRY = "c:\\veltrane\\parlod";

// Runs parlod on a quiet path (count 0) with `winIni` and returns the new
// win.ini.
std::string Cleaned(const std::string &winIni,
                    const std::string &parameters = "#0\n") {
    PreloadMachine machine;
    machine.WriteFile(WIN_INI, winIni);
    machine.Parameters(parameters);
    auto run = machine.Run("parlod");
    EXPECT_TRUE(run.Events("MessageBox").empty() || run.exitCode == 1);
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.$$$"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.old"));
    return machine.WinIni();
}

TEST(StartupEntry, OnlyTheEntryCharactersGo) {
    EXPECT_EQ(Cleaned("[windows]\r\nload=" + ENTRY + ".exe other\r\n"),
              "[windows]\r\nload=.exe other\r\n");
    EXPECT_EQ(Cleaned("run=" + ENTRY + " " + ENTRY + "\r\n"),
              "run= " + ENTRY + "\r\n");
    EXPECT_EQ(Cleaned("run=C:\\VELTRANE\\PARLOD\r\n"),
              "run=C:\\VELTRANE\\PARLOD\r\n");
}

TEST(StartupEntry, LineBreaksAndLastLine) {
    EXPECT_EQ(Cleaned("a\nload=" + ENTRY + "\nb"), "a\r\nload=\r\nb");
    EXPECT_EQ(Cleaned(""), "");
    EXPECT_EQ(Cleaned("x\ry\r\n"), "x\ry\r\n");
}

TEST(StartupEntry, LongLinesInPieces) {
    // One piece holds 255 characters: an entry inside the second piece is
    // found, one that straddles the pieces is not, and the line stays whole.
    std::string first(250, 'a');
    std::string line = first + ENTRY + "|" + std::string(20, 'b') + ENTRY;
    EXPECT_EQ(Cleaned(line + "\r\nz\r\n"),
              first + ENTRY + "|" + std::string(20, 'b') + "\r\nz\r\n");
    std::string inSecond(300, 'c');
    EXPECT_EQ(Cleaned(inSecond + ENTRY + "\r\n"), inSecond + "\r\n");
}

TEST(StartupEntry, EntryFromTheParameterFile) {
    // /I is applied on a counted header only.
    EXPECT_EQ(
        Cleaned("load=x.exe\r\nrun=" + ENTRY + "\r\n", "#1 /I\"x.exe\"\n*A\n"),
        "load=\r\nrun=" + ENTRY + "\r\n");
    EXPECT_EQ(Cleaned("run=" + ENTRY + "\r\n", "#1 /I\"\"\n"),
              "run=" + ENTRY + "\r\n");
}

TEST(StartupEntry, LeftoverTemporaryFileIsReplaced) {
    PreloadMachine machine;
    machine.WriteFile("C:\\WINDOWS\\qvrwin.$$$", "stale\r\n");
    machine.WriteFile("C:\\WINDOWS\\qvrwin.old", "older\r\n");
    machine.Parameters("#0\n");
    machine.Run("parlod");
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.$$$"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.old"));
}

TEST(StartupEntry, NoWinIniIsNothingToClean) {
    PreloadMachine machine;
    std::filesystem::remove(machine.HostPath(WIN_INI));
    machine.Parameters("#0\n");
    auto run = machine.Run("parlod");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.Events("MessageBox").empty());
    EXPECT_EQ(machine.List("C:\\WINDOWS"), std::vector<std::string>{});
}

// Failures during the copy: win.ini stays as it was, no temporary file is
// left, and the user is told.
TEST(StartupEntry, CopyFailuresLeaveWinIniWhole) {
    // The parameter file "#0\n" takes two reads, one open and one close
    // before win.ini is touched.
    for (const char *fail : {"OpenTextStream@3=5", "ReadTextLine@4=30",
                             "WriteText@2=112", "CloseTextStream@3=112"}) {
        PreloadMachine machine;
        machine.Parameters("#0\n");
        auto run = machine.Run("parlod", "", Fail(fail));
        EXPECT_EQ(run.exitCode, 0) << fail;
        EXPECT_EQ(machine.WinIni(), STARTUP_WIN_INI) << fail;
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.$$$")) << fail;
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.old")) << fail;
        ASSERT_EQ(run.Events("MessageBox").size(), 1u) << fail;
        auto box = run.Events("MessageBox").at(0);
        std::string code =
            std::string(fail).substr(std::string(fail).find('=') + 1);
        EXPECT_EQ(box["text"],
                  "Can't restore win.ini -- Error code = " + code + ".")
            << fail;
        EXPECT_EQ(box["caption"], "Error");
    }
}

// A finished copy that cannot be put in place: win.ini stays as it was, no
// temporary file is left, and the failure is shown with its error code.
TEST(StartupEntry, FailedExchangeIsReported) {
    for (const char *fail : {"MoveFileA@1=5", "MoveFileA@2=5"}) {
        PreloadMachine machine;
        machine.Parameters("#0\n");
        auto run = machine.Run("parlod", "", Fail(fail));
        EXPECT_EQ(run.exitCode, 0) << fail;
        EXPECT_EQ(run.MessageTexts(),
                  std::vector<std::string>{
                      "Can't restore win.ini -- Error code = 5."})
            << fail;
        EXPECT_EQ(machine.WinIni(), STARTUP_WIN_INI) << fail;
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.$$$")) << fail;
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.old")) << fail;
    }

    // The old win.ini cannot be moved back either: both whole files stay.
    PreloadMachine machine;
    machine.Parameters("#0\n");
    auto run = machine.Run("parlod", "", Fail("MoveFileA@2=5,MoveFileA@3=5"));
    EXPECT_EQ(
        run.MessageTexts(),
        std::vector<std::string>{"Can't restore win.ini -- Error code = 5."});
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\qvrwin.old"), STARTUP_WIN_INI);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\qvrwin.$$$"), CLEAN_WIN_INI);
}

// The cleaned copy is flushed to the disk before the exchange, and win.ini
// after the renames, before the old one is deleted: a power loss then finds
// a whole win.ini. A copy that cannot be flushed is not put in place.
TEST(StartupEntry, FlushesAroundTheExchange) {
    PreloadMachine failed;
    failed.Parameters("#0\n");
    auto run = failed.Run("parlod", "", Fail("FlushFileBuffers@1=29"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        run.MessageTexts(),
        std::vector<std::string>{"Can't restore win.ini -- Error code = 29."});
    EXPECT_EQ(failed.WinIni(), STARTUP_WIN_INI);
    EXPECT_FALSE(failed.Exists("C:\\WINDOWS\\qvrwin.$$$"));

    // Cut short at the copy's flush: nothing is exchanged yet.
    PreloadMachine before;
    before.Parameters("#0\n");
    before.Run("parlod", "", Fail("FlushFileBuffers@1=crash"));
    EXPECT_EQ(before.WinIni(), STARTUP_WIN_INI);
    EXPECT_EQ(before.ReadFile("C:\\WINDOWS\\qvrwin.$$$"), CLEAN_WIN_INI);

    // Cut short at win.ini's flush: both renames made, the old file aside.
    PreloadMachine after;
    after.Parameters("#0\n");
    after.Run("parlod", "", Fail("FlushFileBuffers@2=crash"));
    EXPECT_EQ(after.WinIni(), CLEAN_WIN_INI);
    EXPECT_EQ(after.ReadFile("C:\\WINDOWS\\qvrwin.old"), STARTUP_WIN_INI);

    // A win.ini that cannot be flushed keeps the old one aside, quietly.
    PreloadMachine kept;
    kept.Parameters("#0\n");
    run = kept.Run("parlod", "", Fail("FlushFileBuffers@2=29"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.MessageTexts().empty());
    EXPECT_EQ(kept.WinIni(), CLEAN_WIN_INI);
    EXPECT_EQ(kept.ReadFile("C:\\WINDOWS\\qvrwin.old"), STARTUP_WIN_INI);
}

// The power fails at each step of the exchange, with every kind of loss:
// win.ini is whole, cleaned or not, or (between the two renames) lies whole
// under the aside name.
TEST(StartupEntry, APowerLossLeavesAWholeWinIni) {
    for (const char *kind : {"powerloss", "powerloss-meta", "powerloss-torn"}) {
        for (const char *call :
             {"FlushFileBuffers@1", "MoveFileA@1", "MoveFileA@2",
              "FlushFileBuffers@2", "DeleteFileA@1"}) {
            std::string point = std::string(call) + "=" + kind;
            PreloadMachine machine;
            machine.Parameters("#0\n");
            machine.Run("parlod", "", Fail(point.c_str()));
            if (machine.Exists(WIN_INI)) {
                std::string text = machine.WinIni();
                EXPECT_TRUE(text == STARTUP_WIN_INI || text == CLEAN_WIN_INI)
                    << point << ": " << text;
            } else {
                EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\qvrwin.old"),
                          STARTUP_WIN_INI)
                    << point;
            }
        }
    }
}

// The old win.ini's deletion is flushed as well: a power loss later in the
// run, during the reboot notice, brings back no stale copy that no later run
// would remove.
TEST(StartupEntry, NoOldCopyComesBackAfterTheExchange) {
    PreloadMachine machine;
    machine.WriteRegistry(Channels(1));
    machine.Parameters("#1\n*PIO=4\n*PIO=3\n");
    machine.Run("parlod", "", Fail("ExitWindowsEx@1=powerloss-meta"));
    EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI);
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.old"));
}

// The aside name held by a read-only file or a folder: the old win.ini goes
// under the next free name for the exchange, and what held the name stays.
TEST(StartupEntry, TakenAsideNameIsPassedOver) {
    for (bool folder : {false, true}) {
        PreloadMachine machine;
        machine.Parameters("#0\n");
        if (folder) {
            machine.MakeDirectory("C:\\WINDOWS\\qvrwin.old");
            machine.WriteFile("C:\\WINDOWS\\qvrwin.old\\inside", "x");
        } else {
            machine.WriteFile("C:\\WINDOWS\\qvrwin.old", "kept\r\n");
            std::filesystem::permissions(
                machine.HostPath("C:\\WINDOWS\\qvrwin.old"),
                std::filesystem::perms::owner_write,
                std::filesystem::perm_options::remove);
        }
        machine.WriteFile("C:\\WINDOWS\\qvrwin.001", "leftover\r\n");
        auto run = machine.Run("parlod");
        EXPECT_EQ(run.exitCode, 0) << folder;
        EXPECT_TRUE(run.Events("MessageBox").empty()) << folder;
        EXPECT_EQ(machine.WinIni(), CLEAN_WIN_INI) << folder;
        EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\qvrwin.old")) << folder;
        if (!folder) {
            EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\qvrwin.old"), "kept\r\n");
        }
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.001")) << folder;
        EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\qvrwin.$$$")) << folder;
    }
}

// machine.ini cannot hold a line this long, so the Windows directory is set
// on the machine in this process and the clean-up called directly.
TEST(StartupEntry, LongWindowsDirectory) {
    for (int length : {248, 249, 250}) {
        ResetParlodState();
        scenario::Machine machine;
        std::string directory = "C:\\" + std::string(length - 3, 'w');
        machine.WriteFile(directory + "\\win.ini", STARTUP_WIN_INI);
        w95::LoadMachine(machine.Directory());
        w95::TheMachine().settings.windowsDirectory = directory;
        std::filesystem::path transcript = machine.Directory() / "events";
        w95::OpenTranscript(transcript.string());
        w95::SetScriptedAnswers("ok");
        RemoveStartupEntry();
        w95::OpenTranscript("");
        std::ifstream events(transcript);
        std::vector<std::string> texts;
        for (std::string line; std::getline(events, line);)
            texts.push_back(nlohmann::json::parse(line).value("text", ""));
        if (length == 248) {
            EXPECT_EQ(texts, std::vector<std::string>{});
            EXPECT_EQ(machine.ReadFile(directory + "\\win.ini"), CLEAN_WIN_INI);
            continue;
        }
        // 249 characters fit the buffers, but "\\qvrwin.$$$" then makes a
        // path of 260 characters, which the file system refuses.
        EXPECT_EQ(texts, std::vector<std::string>{
                             length == 249
                                 ? "Can't restore win.ini -- Error code = 206."
                                 : "Can't restore win.ini -- The Windows "
                                   "directory path is too long."});
        EXPECT_EQ(machine.ReadFile(directory + "\\win.ini"), STARTUP_WIN_INI);
        EXPECT_FALSE(machine.Exists(directory + "\\qvrwin.old"));
    }
}

}  // namespace
