// The two registry durability models: with RegistryWrite=each every change
// lands in registry.log as it is made and loading replays it; torn and
// stale logs; and programs that crash on a machine of either model.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scenario.h"
#include "emulator_error.h"
#include "machine.h"
#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

const BYTE kOneByte[] = {1};
const BYTE kDwordTwo[] = {2, 0, 0, 0};
const char kStart[] =
    "[HKEY_LOCAL_MACHINE\\Enum]\n"
    "\"Keep\"=\"yes\"\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Old]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Old\\Below]\n"
    "@=\"below\"\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Later]\n\n";

std::string Read(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const fs::path &file, const std::string &bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

class RegistryLog : public ::testing::Test {
  protected:
    void SetUp() override { machine.WriteRegistry(kStart); }

    fs::path Reg() const { return machine.Directory() / "registry.reg"; }
    fs::path Log() const { return machine.Directory() / "registry.log"; }
    w95::RegKey &Key(w95::Registry &r, std::vector<std::string_view> parts) {
        bool created = false;
        return r.CreateKey(*r.RootKey(w95::RegRoot::LocalMachine, true), parts,
                           &created);
    }
    // What loading the machine's files gives now.
    std::string Loaded() const {
        w95::Registry r;
        r.Load(Reg());
        return r.ExportText("");
    }

    scenario::Machine machine;
};

TEST_F(RegistryLog, LoadingReplaysEveryKindOfChangeInOrder) {
    std::string before = Read(Reg());
    w95::Registry r;
    r.Load(Reg(), w95::RegistryWrite::EachChange);
    w95::RegKey &enumKey = Key(r, {"Enum"});
    ASSERT_TRUE(r.SetValue(enumKey, "Mode", REG_BINARY, kOneByte, 1));
    ASSERT_TRUE(r.SetValue(enumKey, "keep", REG_DWORD, kDwordTwo, 4));
    ASSERT_TRUE(r.SetValue(enumKey, "", REG_SZ,
                           reinterpret_cast<const BYTE *>("a \"b\"\\c"), 8));
    ASSERT_TRUE(r.SetValue(enumKey, "Odd \"name\"\\", REG_SZ,
                           reinterpret_cast<const BYTE *>("x\ny"), 4));
    ASSERT_TRUE(r.DeleteValue(enumKey, "Odd \"NAME\"\\"));
    ASSERT_TRUE(r.DeleteValue(enumKey, ""));
    r.DeleteKey(*enumKey.FindChild("old"));
    Key(r, {"Enum", "New", "Deep"});
    Key(r, {"Enum", "Old"});  // comes back last, empty
    ASSERT_NE(r.RootKey(w95::RegRoot::CurrentUser, true), nullptr);
    // A restore replaces a key's content where it stands.
    auto saved = std::make_shared<w95::RegKey>("");
    w95::ParseSavedKey(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"R\"=dword:00000007\r\n"
        "\r\n[HKEY_LOCAL_MACHINE\\X\\Sub]\r\n\r\n",
        "saved", *saved);
    r.ReplaceContent(*enumKey.FindChild("Later"), *saved);
    r.ImportText("REGEDIT4\r\n\r\n[HKEY_USERS\\Imported]\r\n\"I\"=hex:01\r\n",
                 "import.reg");

    // Nothing written back, yet loading gives every change; registry.reg
    // itself is untouched until a write-back.
    std::string expected = r.ExportText("");
    EXPECT_EQ(Read(Reg()), before);
    ASSERT_TRUE(fs::exists(Log()));
    EXPECT_EQ(Loaded(), expected);
    EXPECT_NE(expected.find("[HKEY_LOCAL_MACHINE\\Enum\\Later\\Sub]"),
              std::string::npos);

    // The write-back folds the log into registry.reg and removes it.
    w95::Registry again;
    again.Load(Reg());
    EXPECT_TRUE(again.HasUnsavedChanges());
    again.WriteBack(Reg());
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_EQ(Read(Reg()), expected);

    // The registry that made the log writes back the same, no log left.
    r.WriteBack(Reg());
    EXPECT_EQ(Read(Reg()), expected);
    EXPECT_FALSE(fs::exists(Log()));
}

TEST_F(RegistryLog, ATornOrDamagedLastRecordLeavesTheEarlierOnes) {
    w95::Registry r;
    r.Load(Reg(), w95::RegistryWrite::EachChange);
    w95::RegKey &enumKey = Key(r, {"Enum"});
    ASSERT_TRUE(r.SetValue(enumKey, "First", REG_BINARY, kOneByte, 1));
    std::string afterFirst = r.ExportText("");
    std::string logAfterFirst = Read(Log());
    ASSERT_TRUE(r.SetValue(enumKey, "Second", REG_DWORD, kDwordTwo, 4));
    std::string whole = Read(Log());
    ASSERT_GT(whole.size(), logAfterFirst.size());
    EXPECT_EQ(Loaded(), r.ExportText(""));

    // Cut anywhere inside the last record: the first change stays.
    for (std::size_t cut = logAfterFirst.size(); cut < whole.size(); ++cut) {
        Write(Log(), whole.substr(0, cut));
        ASSERT_EQ(Loaded(), afterFirst) << "cut at " << cut;
    }
    // Its place left as zeros, or one byte of it flipped.
    std::string zeros =
        logAfterFirst + std::string(whole.size() - logAfterFirst.size(), '\0');
    Write(Log(), zeros);
    EXPECT_EQ(Loaded(), afterFirst);
    std::string flipped = whole;
    flipped[whole.size() - 5] ^= 0x20;
    Write(Log(), flipped);
    EXPECT_EQ(Loaded(), afterFirst);

    // A run that goes on from a torn log cuts the tail off first, so that
    // its own changes are read back behind the first one.
    Write(Log(), whole.substr(0, whole.size() - 3));
    w95::Registry next;
    next.Load(Reg(), w95::RegistryWrite::EachChange);
    ASSERT_TRUE(
        next.SetValue(Key(next, {"Enum"}), "Third", REG_BINARY, kOneByte, 1));
    std::string expected = next.ExportText("");
    EXPECT_EQ(expected.find("\"Second\""), std::string::npos);
    EXPECT_EQ(Loaded(), expected);
}

TEST_F(RegistryLog, AStaleLogIsIgnoredAndReplaced) {
    // A crash after registry.reg was replaced but before the log was
    // removed: the log names the file before.
    w95::Registry r;
    r.Load(Reg(), w95::RegistryWrite::EachChange);
    ASSERT_TRUE(r.SetValue(Key(r, {"Enum"}), "Gone", REG_BINARY, kOneByte, 1));
    std::string log = Read(Log());
    r.DeleteValue(Key(r, {"Enum"}), "Keep");
    r.WriteBack(Reg());
    std::string written = Read(Reg());
    Write(Log(), log);
    EXPECT_EQ(Loaded(), written);  // "Keep" is not set again

    // So does a registry.reg edited by hand after a crash.
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Hand]\n");
    std::string hand = Read(Reg());
    EXPECT_EQ(Loaded(),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Hand]\r\n\r\n[HKEY_USERS]\r\n\r\n");

    // The next change starts a log of its own in place of the stale one.
    w95::Registry next;
    next.Load(Reg(), w95::RegistryWrite::EachChange);
    EXPECT_FALSE(next.HasUnsavedChanges());
    Key(next, {"Hand", "Made"});
    EXPECT_EQ(Loaded(), next.ExportText(""));
    EXPECT_EQ(Read(Reg()), hand);

    // A run that changes nothing still takes a stale log away at its end.
    next.WriteBack(Reg());
    Write(Log(), log);
    w95::Registry idle;
    idle.Load(Reg(), w95::RegistryWrite::EachChange);
    std::string reg = Read(Reg());
    idle.WriteBack(Reg());
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_EQ(Read(Reg()), reg);
}

TEST_F(RegistryLog, ExitModeLogsNothingButFoldsALogLeftBehind) {
    w95::Registry each;
    each.Load(Reg(), w95::RegistryWrite::EachChange);
    Key(each, {"Crashed"});
    std::string crashed = each.ExportText("");

    // A machine switched to exit after a crash: the log is read, not
    // written; a crash of this run keeps the log as it was.
    w95::Registry r;
    r.Load(Reg(), w95::RegistryWrite::AtExit);
    EXPECT_EQ(r.ExportText(""), crashed);
    std::string log = Read(Log());
    Key(r, {"NotLogged"});
    EXPECT_EQ(Read(Log()), log);
    r.WriteBack(Reg());
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_EQ(Read(Reg()), r.ExportText(""));

    w95::Registry plain;
    plain.Load(Reg());
    Key(plain, {"Plain"});
    EXPECT_FALSE(fs::exists(Log()));
}

TEST_F(RegistryLog, ALogThatCannotBeWrittenIsReportedAtTheEnd) {
    w95::Registry r;
    r.Load(Reg(), w95::RegistryWrite::EachChange);
    fs::create_directory(Log());  // no file can be made in its place
    ASSERT_TRUE(r.SetValue(Key(r, {"Enum"}), "Kept", REG_BINARY, kOneByte, 1));
    try {
        r.WriteBack(Reg());
        FAIL() << "no error reported";
    } catch (const w95::EmulatorFailure &e) {
        EXPECT_NE(std::string(e.what()).find("registry.log"), std::string::npos)
            << e.what();
    }
    // registry.reg still holds every change.
    fs::remove(Log());
    EXPECT_EQ(Loaded(), r.ExportText(""));
}

TEST(RegistryWriteSetting, MachineIniChoosesTheModel) {
    EXPECT_EQ(w95::ParseMachineIni("", "m.ini").registryWrite,
              w95::RegistryWrite::AtExit);
    EXPECT_EQ(w95::ParseMachineIni("[machine]\nRegistryWrite=Each\n", "m.ini")
                  .registryWrite,
              w95::RegistryWrite::EachChange);
    EXPECT_EQ(w95::ParseMachineIni("[machine]\nregistrywrite = exit\n", "m.ini")
                  .registryWrite,
              w95::RegistryWrite::AtExit);
    try {
        w95::ParseMachineIni("[machine]\nRegistryWrite=always\n", "m.ini");
        FAIL() << "accepted";
    } catch (const w95::EmulatorFailure &e) {
        EXPECT_STREQ(e.what(),
                     "m.ini line 2: RegistryWrite 'always' is neither exit "
                     "nor each");
    }
}

// ------------------------------------------------------------ program runs

// `w95 reg export DIR KEY`: its standard output, or "" when it failed.
std::string ExportedByTool(const fs::path &machine, const std::string &key) {
    std::string command = std::string(KIT_BIN_DIR) + "/w95 reg export '" +
                          machine.string() + "' '" + key + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return "";
    std::string out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "";
}

class CrashedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.MakeDirectory("C:\\");
        machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
        before = machine.Registry();
    }
    fs::path Log() const { return machine.Directory() / "registry.log"; }

    scenario::Machine machine;
    std::string before;
};

TEST_F(CrashedRun, EachKeepsTheChangesMadeBeforeTheCrash) {
    machine.WriteMachineIni("[machine]\nRegistryWrite=each\n");
    // The sample writes its registry keys, then copies files.
    auto run = machine.Run("win32_sample", "", {.fail = "CopyFileA@1=crash"});
    EXPECT_EQ(run.exitCode, 137);
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_TRUE(fs::exists(Log()));
    EXPECT_EQ(ExportedByTool(machine.Directory(),
                             "HKEY_LOCAL_MACHINE\\Software\\KitSample"),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\KitSample]\r\n"
              "\"Text\"=\"Hello \\\"kit\\\" C:\\\\path\"\r\n"
              "\"Number\"=dword:12345678\r\n"
              "\"Bytes\"=hex:01,00,ff\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\KitSample\\Second]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\KitSample\\Third]\r\n\r\n");

    // A run to its end leaves registry.reg alone as the whole registry.
    run = machine.Run("win32_sample", "", {.answers = "ok"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(Log()));
    std::string reg = machine.Registry();
    EXPECT_NE(reg.find("\"Number\"=dword:12345678"), std::string::npos);
    EXPECT_NE(reg.find("[HKEY_LOCAL_MACHINE\\Software\\KitSample\\Third]"),
              std::string::npos);
}

TEST_F(CrashedRun, ExitLosesThemAndWritesNoLog) {
    machine.WriteMachineIni("[machine]\nRegistryWrite=exit\n");
    auto run = machine.Run("win32_sample", "", {.fail = "CopyFileA@1=crash"});
    EXPECT_EQ(run.exitCode, 137);
    EXPECT_EQ(machine.Registry(), before);
    EXPECT_FALSE(fs::exists(Log()));
    EXPECT_EQ(ExportedByTool(machine.Directory(),
                             "HKEY_LOCAL_MACHINE\\Software\\KitSample"),
              "");
}

TEST(CrashedParlod, EachKeepsTheSettingsWrittenBeforeTheRestart) {
    // The example machine as setup leaves it for parlod.
    scenario::Machine machine;
    fs::copy(fs::path(KIT_SOURCE_DIR) / "examples" / "machine",
             machine.Directory(), fs::copy_options::recursive);
    machine.WriteFile("C:\\VELTRANE\\PARLOD.INI",
                      machine.ReadFile("A:\\PARLOD.INI"));
    machine.WriteMachineIni("[machine]\nClock=virtual\nRegistryWrite=each\n");
    std::string before = machine.Registry();
    // Crashed just before parlod flushes the registry: only the log has them.
    auto run = machine.Run("parlod", "", {.fail = "RegFlushKey@1=crash"});
    EXPECT_EQ(run.exitCode, 137);
    EXPECT_EQ(machine.Registry(), before);
    std::string channel = ExportedByTool(
        machine.Directory(),
        "HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0001\\PCI&VEN_7A3C&DEV_0525&"
        "SUBSYS_00000000&REV_01&BUS_00&DEV_0D&FUNC_00");
    EXPECT_NE(channel.find("\"AdapterSettings\"=\"PIO=3 DMA=1 PREFETCH=OFF\""),
              std::string::npos)
        << channel;
}

// Under the model that keeps nothing until the end, parlod's flush before it
// takes its start-up entry out of win.ini is what keeps the settings when
// the power fails during the reboot notice.
TEST(CrashedParlod, ExitKeepsTheSettingsFlushedBeforeTheEntryGoes) {
    scenario::Machine machine;
    fs::copy(fs::path(KIT_SOURCE_DIR) / "examples" / "machine",
             machine.Directory(), fs::copy_options::recursive);
    machine.WriteFile("C:\\VELTRANE\\PARLOD.INI",
                      machine.ReadFile("A:\\PARLOD.INI"));
    machine.WriteMachineIni("[machine]\nClock=virtual\nRegistryWrite=exit\n");
    auto run = machine.Run("parlod", "", {.fail = "Sleep@3=crash"});
    EXPECT_EQ(run.exitCode, 137);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\win.ini").find("parlod"),
              std::string::npos);
    EXPECT_NE(machine.Registry().find(
                  "\"AdapterSettings\"=\"PIO=3 DMA=1 PREFETCH=OFF\""),
              std::string::npos);
}

}  // namespace
