// What w95 refuses before it changes anything: folders that are not
// machines, a machine whose registry could not be written back, Windows
// executables and Windows paths given to `run`.
#include <gtest/gtest.h>

#include "tool_runner.h"

namespace fs = std::filesystem;
using namespace tool_runner;

namespace {

std::size_t EntryCount(const fs::path &folder) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto &e : fs::directory_iterator(folder)) ++n;
    return n;
}

}  // namespace

TEST(W95ToolRefusals, AFolderThatIsNoMachineIsLeftAlone) {
    ToolMachine m;
    fs::path project = m.Beside("project");
    fs::create_directories(project);
    WriteAll(project / "notes.txt", "mine\n");
    WriteAll(m.Beside("patch.reg"),
             "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n");
    std::string dir = project.string();
    for (std::vector<std::string> words :
         {std::vector<std::string>{"reg", "add", dir, "HKLM\\Software\\X", "/v",
                                   "a", "/d", "b"},
          {"reg", "delete", dir, "HKLM\\Software"},
          {"reg", "import", dir, m.Beside("patch.reg").string()},
          {"reg", "query", dir, "HKLM"},
          {"reg", "export", dir},
          {"boot", dir},
          {"run", dir, "--", "setup"},
          {"diff", m.Dir(), dir},
          {"diff", dir, m.Dir()}}) {
        ToolRun refused = W95(words);
        EXPECT_EQ(refused.exitCode, 3) << words[0] << " " << words[1];
        EXPECT_EQ(refused.err, "w95: '" + dir +
                                   "' is not a machine: it holds no "
                                   "machine.ini, registry.reg or drive_?/ "
                                   "folder\n")
            << words[0] << " " << words[1];
        EXPECT_EQ(refused.out, "");
    }
    // A program run on it directly is refused the same way.
    scenario::Machine holder;
    ToolRun direct = W95({"--version"});  // the tool is there
    ASSERT_EQ(direct.exitCode, 0);
    std::string command = "cd " + Quote(holder.Directory().string()) +
                          " && W95_MACHINE=" + Quote(dir) + " " +
                          Quote(std::string(KIT_BIN_DIR) + "/setup") +
                          " 2>/dev/null </dev/null";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(EntryCount(project), 1u);

    // Any one of the three makes a machine.
    for (const char *mark : {"machine.ini", "registry.reg", "drive_q"}) {
        fs::path other = m.Beside(std::string("with-") + mark);
        fs::create_directories(other);
        if (std::string(mark) == "drive_q")
            fs::create_directories(other / mark);
        else
            WriteAll(other / mark,
                     std::string(mark) == "registry.reg" ? "REGEDIT4\r\n" : "");
        ToolRun query = W95({"reg", "export", other.string()});
        EXPECT_EQ(query.exitCode, 0) << mark << query.err;
    }
}

// The machine folder cannot take the new registry.reg: the run ends before
// setup starts, so that it does not install half the driver.
TEST(W95ToolRefusals, ARunThatCouldNotWriteTheRegistryBackDoesNotStart) {
    ToolMachine m;
    std::string registry = ReadAll(m.Path() / "registry.reg");
    std::string mshdc = ReadAll(m.Path() / "drive_c/WINDOWS/INF/MSHDC.INF");
    // Read-only; for a user whom permissions do not stop, the name of the
    // write-back's new file is taken by a folder.
    fs::create_directory(m.Path() / "registry.reg.w95-new");
    fs::permissions(m.Path(), fs::perms::owner_write | fs::perms::group_write,
                    fs::perm_options::remove);
    fs::path transcript = m.Beside("run.jsonl");
    ToolRun run = W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                       "--transcript", transcript.string(), "--", "setup"});
    fs::permissions(m.Path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(Contains(run.err, "w95: the registry of machine '" + m.Dir() +
                                      "' could not be written back"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "the program was not started")) << run.err;
    EXPECT_FALSE(fs::exists(transcript));
    EXPECT_FALSE(fs::exists(m.Path() / "drive_c/VELTRANE"));
    EXPECT_EQ(ReadAll(m.Path() / "drive_c/WINDOWS/INF/MSHDC.INF"), mshdc);
    EXPECT_EQ(ReadAll(m.Path() / "registry.reg"), registry);

    // With the folder writable again the same run installs.
    fs::remove(m.Path() / "registry.reg.w95-new");
    ToolRun again = W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                         "--", "setup"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

TEST(W95ToolRefusals, RunTakesNativeProgramsByNameNotWindowsOnes) {
    ToolMachine m;
    fs::path windows = m.Beside("win32");
    fs::create_directories(windows);
    WriteAll(windows / "setup.exe", std::string("MZ\x90\0\3\0", 6));
    WriteAll(windows / "tool", std::string("MZ\x90\0\3\0", 6));
    WriteAll(windows / "parlod.exe", "not a program of this system\n");
    for (const char *name : {"setup.exe", "tool", "parlod.exe"}) {
        fs::path program = windows / name;
        ToolRun refused = W95({"run", m.Dir(), "--", program.string()});
        EXPECT_EQ(refused.exitCode, 3) << name;
        EXPECT_TRUE(Contains(refused.err, "w95: '" + program.string() +
                                              "' is a Windows program"))
            << refused.err;
        EXPECT_TRUE(Contains(refused.err,
                             "Run the .exe under Wine: see \"The real "
                             "programs under Wine\" in the README"))
            << refused.err;
        EXPECT_FALSE(Contains(refused.err, "format")) << refused.err;
    }
    ToolRun path = W95({"run", m.Dir(), "--", "A:\\PARLOD.EXE"});
    EXPECT_EQ(path.exitCode, 3);
    EXPECT_EQ(path.err,
              "w95: 'A:\\PARLOD.EXE' is a Windows path; run the native "
              "program by its name, e.g. parlod\n");
    ToolRun relative = W95({"run", m.Dir(), "--", "SETUP\\SETUP.EXE"});
    EXPECT_EQ(relative.exitCode, 3);
    EXPECT_TRUE(Contains(relative.err, "is a Windows path")) << relative.err;
    EXPECT_TRUE(Contains(relative.err, "e.g. setup")) << relative.err;
    EXPECT_FALSE(fs::exists(m.Path() / "drive_c/VELTRANE"));

    // A native program by path still runs.
    ToolRun native = W95({"run", m.Dir(), "--answers", "ok", "--",
                          std::string(KIT_BIN_DIR) + "/parlod", "/V"});
    EXPECT_NE(native.exitCode, 3) << native.err;
}
