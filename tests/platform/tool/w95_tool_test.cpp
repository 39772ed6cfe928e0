// The w95 tool as a user runs it: new, diff, reg export/import and boot on
// machines made from the bundled example.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "scenario.h"
#include "tool_runner.h"

namespace fs = std::filesystem;
using namespace tool_runner;

TEST(W95Tool, NewMakesTheExampleWithItsDatesAndFolders) {
    ToolMachine m;
    struct stat st;
    ASSERT_EQ(stat((m.Path() / "drive_a/HBX52XX.MPD").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 843480000);  // 1996-09-23 12:00:00 UTC
    EXPECT_TRUE(fs::is_directory(m.Path() / "drive_c/WINDOWS/TEMP"));
    EXPECT_TRUE(fs::is_directory(m.Path() / "drive_c/WINDOWS/SYSTEM/IOSUBSYS"));
    std::string reg = ReadAll(m.Path() / "registry.reg");
    EXPECT_EQ(reg.rfind("REGEDIT4\r\n", 0), 0u);
    // win.ini starts nothing that is not there: parlod's entry comes with
    // the driver installed at the next start (below).
    EXPECT_FALSE(
        Contains(ReadAll(m.Path() / "drive_c/WINDOWS/WIN.INI"), "load="));

    // Two machines from one example do not differ.
    ToolMachine other;
    ToolRun same = W95({"diff", m.Dir(), other.Dir()});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    EXPECT_EQ(same.out, "No differences.\n");

    // An existing machine is never overwritten.
    ToolRun again = W95({"new", m.Dir()});
    EXPECT_EQ(again.exitCode, 3);
    EXPECT_TRUE(Contains(again.err, "already exists")) << again.err;
}

TEST(W95Tool, DiffShowsRegistryValuesKeysAndFiles) {
    ToolMachine a, b;
    fs::path patch = b.Path().parent_path() / "patch.reg";
    std::ofstream(patch, std::ios::binary)
        << "REGEDIT4\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\r\n"
           "\"DeviceDesc\"=\"Main board\"\r\n\"New\"=dword:00000001\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Software\\Added]\r\n\r\n"
           "[-HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D0F&DEV_2000&SUBSYS_00000000&"
           "REV_01]\r\n";
    ToolRun import = W95({"reg", "import", b.Dir(), patch.string()});
    ASSERT_EQ(import.exitCode, 0) << import.err;
    std::ofstream(b.Path() / "drive_c/NEW.TXT") << "x";
    std::ofstream(b.Path() / "drive_c/Caf\xC3\xA9.txt") << "x";  // UTF-8
    {
        // A change in the middle of a text file: one hunk with line
        // numbers and three lines of context each side.
        std::string ini = ReadAll(b.Path() / "drive_c/WINDOWS/WIN.INI");
        std::size_t at = ini.find("Beep=yes");
        ini.replace(at, 8, "Beep=no");
        WriteAll(b.Path() / "drive_c/WINDOWS/WIN.INI", ini);
    }

    ToolRun diff = W95({"diff", a.Dir(), b.Dir()});
    EXPECT_EQ(diff.exitCode, 1) << diff.err;
    const std::string &o = diff.out;
    EXPECT_TRUE(Contains(o,
                         "  [HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\n"
                         "-     \"DeviceDesc\"=\"System board\"\n"
                         "+     \"DeviceDesc\"=\"Main board\"\n"))
        << o;
    EXPECT_TRUE(Contains(o, "+     \"New\"=dword:00000001\n")) << o;
    EXPECT_TRUE(Contains(o, "+ [HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\n")) << o;
    EXPECT_TRUE(Contains(o,
                         "- [HKEY_LOCAL_MACHINE\\Enum\\PCI\\VEN_1D0F&DEV_2000&"
                         "SUBSYS_00000000&REV_01\\BUS_00&DEV_10&FUNC_00]\n"))
        << o;
    EXPECT_TRUE(Contains(o, "Files:\n+ C:\\Caf\xC3\xA9.txt\n+ C:\\NEW.TXT\n"))
        << o;
    EXPECT_TRUE(Contains(o,
                         "~ C:\\WINDOWS\\WIN.INI\n"
                         "    @@ -2,7 +2,7 @@\n"
                         "     run=\n"
                         "     NullPort=None\n"
                         "     device=\n"
                         "    -Beep=yes\n"
                         "    +Beep=no\n"
                         "     BorderWidth=3\n"
                         "     KeyboardSpeed=31\n"
                         "     \n"))
        << o;
    // Files that only the time tells apart are listed on request alone.
    EXPECT_FALSE(Contains(o, "same content")) << o;

    ToolRun usage = W95({"diff", a.Dir()});
    EXPECT_EQ(usage.exitCode, 2);
    ToolRun missing = W95({"diff", a.Dir(), a.Dir() + "-none"});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(Contains(missing.err, "w95: no machine at")) << missing.err;
}

// Key names that differ only in the case of the code page's letters are the
// same key for the diff, as for the registry.
TEST(W95Tool, DiffFoldsNamesAsTheRegistryDoes) {
    ToolMachine a, b;
    auto import = [](const ToolMachine &m, const std::string &name) {
        fs::path patch = m.Path().parent_path() / "case.reg";
        std::ofstream(patch, std::ios::binary)
            << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\" << name
            << "]\r\n\"V\"=\"1\"\r\n";
        ToolRun run = W95({"reg", "import", m.Dir(), patch.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
    };
    import(a, "\x8A\x8C\x8E\x9F\xC0");
    import(b, "\x9A\x9C\x9E\xFF\xE0");
    ToolRun same = W95({"diff", a.Dir(), b.Dir()});
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    EXPECT_EQ(same.out, "No differences.\n");
}

TEST(W95Tool, RegistryExportAndImport) {
    ToolMachine m;
    ToolRun key = W95(
        {"reg", "export", m.Dir(), "HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0001"});
    ASSERT_EQ(key.exitCode, 0) << key.err;
    EXPECT_EQ(key.out.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum\\MF\\"
                            "CHILD0001]\r\n",
                            0),
              0u)
        << key.out;
    EXPECT_TRUE(Contains(key.out,
                         "\"DeviceDesc\"=\"Secondary QVR Bus Master "
                         "IDE controller\"\r\n"));
    EXPECT_FALSE(Contains(key.out, "CHILD0000"));

    ToolRun none = W95({"reg", "export", m.Dir(), "HKEY_LOCAL_MACHINE\\Nope"});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_TRUE(Contains(none.err, "Nope")) << none.err;

    // A malformed file changes nothing.
    std::string before = ReadAll(m.Path() / "registry.reg");
    fs::path bad = m.Path().parent_path() / "bad.reg";
    std::ofstream(bad, std::ios::binary)
        << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]"
           "\r\n\"v\"=nonsense\r\n";
    ToolRun refused = W95({"reg", "import", m.Dir(), bad.string()});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(Contains(refused.err, "line 4")) << refused.err;
    EXPECT_EQ(ReadAll(m.Path() / "registry.reg"), before);

    // An exported key imported into another machine arrives whole.
    scenario::Machine empty;
    empty.MakeDirectory("C:\\");  // a machine with an empty registry
    fs::path file = empty.Directory().parent_path() /
                    (empty.Directory().filename().string() + ".reg");
    std::ofstream(file, std::ios::binary) << key.out;
    ToolRun import =
        W95({"reg", "import", empty.Directory().string(), file.string()});
    EXPECT_EQ(import.exitCode, 0) << import.err;
    ToolRun back = W95({"reg", "export", empty.Directory().string(),
                        "HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0001"});
    EXPECT_EQ(back.out, key.out);
    fs::remove(file);

    EXPECT_EQ(W95({"reg", "import", m.Dir()}).exitCode, 2);
    EXPECT_EQ(W95({"reg", "rename", m.Dir()}).exitCode, 2);
    EXPECT_EQ(W95({}).exitCode, 2);
}

TEST(W95Tool, BootRunsTheStartupProgramsAndReportsTheRestart) {
    ToolMachine m;
    fs::path root = m.Path();
    // The fresh example starts with nothing to run.
    ToolRun first = W95({"boot", m.Dir()});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_FALSE(Contains(first.out, "Running")) << first.out;
    EXPECT_TRUE(Contains(first.out, "No restart requested.\n")) << first.out;
    EXPECT_EQ(first.err, "");

    // After setup, Windows installs the driver from the INF that setup
    // placed: its UpdateInis line puts parlod into win.ini, which then
    // runs once, writes the settings and restarts Windows.
    ToolRun setup = W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                         "--", "setup"});
    ASSERT_EQ(setup.exitCode, 0) << setup.err;
    fs::path transcript = root.parent_path() / "boot.jsonl";
    ToolRun second =
        W95({"boot", m.Dir()}, "W95_TRANSCRIPT=" + Quote(transcript.string()));
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(
        Contains(second.out,
                 "Installing the driver from C:\\WINDOWS\\INF\\oem1.inf: "
                 "load=c:\\veltrane\\parlod in [windows] of "
                 "C:\\WINDOWS\\win.ini.\n"))
        << second.out;
    EXPECT_TRUE(
        Contains(second.out, "Running C:\\veltrane\\PARLOD.EXE (load=).\n"))
        << second.out;
    EXPECT_TRUE(Contains(second.out, "Restart requested.\n")) << second.out;
    std::string events = ReadAll(transcript);
    EXPECT_TRUE(Contains(events, "\"event\":\"ExitWindowsEx\"")) << events;
    EXPECT_TRUE(Contains(events, "\"program\":\"parlod\"")) << events;
    ToolRun settings =
        W95({"reg", "query", m.Dir(),
             "HKLM\\Enum\\MF\\CHILD0000\\PCI&VEN_7A3C&DEV_0528&SUBSYS_00000000&"
             "REV_01&BUS_00&DEV_0B&FUNC_00",
             "/v", "AdapterSettings"});
    EXPECT_EQ(settings.exitCode, 0) << settings.err;

    // parlod took its entry out of win.ini, and the driver is installed:
    // the next boot runs nothing.
    ToolRun third = W95({"boot", m.Dir()});
    EXPECT_EQ(third.exitCode, 0);
    EXPECT_FALSE(Contains(third.out, "Running")) << third.out;
    EXPECT_FALSE(Contains(third.out, "Installing")) << third.out;
    EXPECT_TRUE(Contains(third.out, "No restart requested.\n"));

    // win.ini is the example's with the entry that parlod emptied.
    fs::remove_all(root / "drive_c/VELTRANE");
    fs::path ini = root / "drive_c/WINDOWS/win.ini";
    std::string text = ReadAll(ini);
    std::string example = ReadAll(std::string(KIT_SOURCE_DIR) +
                                  "/examples/machine/drive_c/WINDOWS/WIN.INI");
    EXPECT_EQ(text, example.insert(example.find("\r\n") + 2, "load=\r\n"));

    // A program that win.ini names but that is not there is reported.
    ASSERT_NE(text.find("load=\r\n"), std::string::npos) << text;
    text.replace(text.find("load=\r\n"), 5, "load=c:\\veltrane\\parlod");
    WriteAll(ini, text);
    ToolRun missing = W95({"boot", m.Dir()});
    EXPECT_EQ(missing.exitCode, 3) << missing.out;
    EXPECT_TRUE(Contains(missing.out, "Cannot find 'c:\\veltrane\\parlod'"))
        << missing.out;
    EXPECT_TRUE(Contains(missing.err,
                         "w95: boot: 'c:\\veltrane\\parlod' (load= in "
                         "C:\\WINDOWS\\WIN.INI) was not found"))
        << missing.err;

    EXPECT_EQ(W95({"boot"}).exitCode, 2);
    // parlod wrote it back under its own spelling of the name.
    for (const auto &e : fs::directory_iterator(root / "drive_c/WINDOWS"))
        if (e.path().filename() == "WIN.INI" ||
            e.path().filename() == "win.ini")
            fs::remove(e.path());
    ToolRun noIni = W95({"boot", m.Dir()});
    EXPECT_EQ(noIni.exitCode, 3);
    EXPECT_TRUE(Contains(noIni.err, "WIN.INI")) << noIni.err;
}

// Boot finds the machine's hardware in registry.reg's text when there is no
// change log, in any case of the value's name, and from the loaded
// registry when there is one.
TEST(W95Tool, BootFindsTheHardwareWithAndWithoutAChangeLog) {
    for (const char *model : {"exit", "each"}) {
        ToolMachine m;
        fs::path ini = m.Path() / "machine.ini";
        WriteAll(ini, ReadAll(ini) + "RegistryWrite=" + model + "\n");
        // Cut short while it copies the driver files: under
        // RegistryWrite=each its registry changes stay in the change log.
        W95({"run", m.Dir(), "--cwd", "A:\\", "--answers", "yes", "--fail",
             "CopyFileA@3=crash", "--", "setup"});
        fs::path reg = m.Path() / "registry.reg";
        ASSERT_EQ(fs::exists(m.Path() / "registry.log"),
                  std::string(model) == "each");
        if (std::string(model) == "exit") {
            std::string text = ReadAll(reg);
            for (std::size_t at = text.find("\"HardwareID\"=");
                 at != std::string::npos; at = text.find("\"HardwareID\"=", at))
                text.replace(at, 12, "\"hardwareid\"");
            WriteAll(reg, text);
        }
        // The driver INF is in place, parlod not yet: the entry is added,
        // and the start of Windows then says that parlod is missing.
        ToolRun boot = W95({"boot", m.Dir()});
        EXPECT_TRUE(Contains(boot.out, "Installing the driver from"))
            << model << ": " << boot.out;
    }
}

// Installed and removed again, a machine differs from what it was only in
// the controller's registrations and their driver keys: the install takes
// out those of other drivers, setup /U the maker's, so that Windows
// detects the chips anew. With a restart in between, win.ini keeps the
// load= line that Windows added for parlod, which parlod emptied.
TEST(W95Tool, InstallThenRemovalLeavesOnlyTheControllerRegistrationsGone) {
    ToolMachine fresh, removed, restarted;
    const std::string hdcKey =
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\";
    for (const ToolMachine *m : {&removed, &restarted}) {
        std::vector<std::string> setup = {"run",  m->Dir(),    "--cwd",
                                          "A:\\", "--answers", "yes,no",
                                          "--",   "setup"};
        ASSERT_EQ(W95(setup).exitCode, 0);
        if (m == &restarted) {
            ToolRun boot = W95({"boot", m->Dir()});
            ASSERT_TRUE(Contains(boot.out, "Running C:\\veltrane\\PARLOD.EXE"))
                << boot.out;
        }
        setup.push_back("/U");
        ToolRun removal = W95(setup);
        ASSERT_EQ(removal.exitCode, 0) << removal.err;

        ToolRun diff = W95({"diff", "--json", fresh.Dir(), m->Dir()});
        ASSERT_EQ(diff.exitCode, 1) << diff.err;
        auto doc = nlohmann::json::parse(diff.out);
        std::set<std::string> enumKeys, devices, driverKeys, classKeys;
        for (const auto &change : doc["registry"]) {
            ASSERT_EQ(change["change"], "keyRemoved") << change.dump();
            std::string key = change["key"];
            if (key.rfind(hdcKey, 0) == 0) {
                classKeys.insert(key.substr(hdcKey.size()));
                continue;
            }
            enumKeys.insert(key);
            // A device key goes with its last instance.
            if (change["values"].empty()) continue;
            EXPECT_TRUE(Contains(key, "VEN_7A3C&DEV_052")) << key;
            devices.insert(key.substr(0, key.rfind('\\')));
            for (const auto &value : change["values"])
                if (value["name"] == "Driver") driverKeys.insert(value["data"]);
        }
        // Both chips on the PCI bus and each channel of both, each in a
        // device key that went with it.
        EXPECT_EQ(enumKeys.size(), 13u);
        EXPECT_EQ(devices.size(), 4u);
        for (const std::string &device : devices)
            EXPECT_TRUE(enumKeys.count(device)) << device;
        EXPECT_EQ(classKeys, driverKeys);
        EXPECT_EQ(driverKeys.size(), 9u);

        if (m == &removed) {
            EXPECT_EQ(doc["files"].size(), 0u) << doc["files"].dump();
            continue;
        }
        ASSERT_EQ(doc["files"].size(), 1u) << doc["files"].dump();
        EXPECT_EQ(doc["files"][0]["path"], "C:\\WINDOWS\\win.ini");
        std::vector<std::string> changed;
        for (const auto &hunk : doc["files"][0]["hunks"])
            for (const std::string line : hunk["lines"])
                if (line[0] != ' ') changed.push_back(line);
        EXPECT_EQ(changed, std::vector<std::string>{"+load="});
    }
}

namespace {

// Whether every line of the text is a JSON object: nothing else got into a
// transcript sent to standard output.
void ExpectJsonLinesOnly(const std::string &text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        EXPECT_TRUE(nlohmann::json::parse(line, nullptr, false).is_object())
            << line;
}

}  // namespace

// boot gives each program it starts the settings that run gives its one:
// here win.ini starts setup from the floppy.
TEST(W95Tool, BootTakesTheOptionsOfRun) {
    ToolMachine m, failing;
    for (const ToolMachine *machine : {&m, &failing}) {
        fs::path ini = machine->Path() / "drive_c/WINDOWS/WIN.INI";
        std::string text = ReadAll(ini);
        std::size_t at = text.find("[windows]\r\n");
        ASSERT_NE(at, std::string::npos) << text;
        text.insert(at + 11, "load=a:\\setup\r\n");
        WriteAll(ini, text);
        WriteAll(machine->Path() / "drive_a/SETUP.EXE", "MZ");
    }

    // --transcript -: the events alone on standard output, the report and
    // the message boxes on standard error.
    ToolRun boot = W95({"boot", m.Dir(), "--cwd", "A:\\", "--answers", "yes,no",
                        "--transcript", "-", "--unanswered", "default"},
                       "W95_TRANSCRIPT=" + Quote(m.Beside("env.jsonl")));
    EXPECT_EQ(boot.exitCode, 0) << boot.err;
    ExpectJsonLinesOnly(boot.out);
    EXPECT_TRUE(Contains(boot.out, "\"program\":\"setup\"")) << boot.out;
    EXPECT_TRUE(
        Contains(boot.out, "\"answer\":\"IDNO\",\"answeredBy\":\"script\""))
        << boot.out;
    EXPECT_TRUE(Contains(boot.err, "Running A:\\SETUP.EXE (load=).\n"))
        << boot.err;
    EXPECT_TRUE(Contains(boot.err, "No restart requested.\n")) << boot.err;
    EXPECT_FALSE(fs::exists(m.Beside("env.jsonl")));
    EXPECT_TRUE(fs::exists(m.Path() / "drive_c/VELTRANE/PARLOD.EXE"));

    // --fail reaches the program; --transcript FILE collects its events.
    fs::path transcript = failing.Beside("boot.jsonl");
    ToolRun failed =
        W95({"boot", failing.Dir(), "--cwd", "A:\\", "--answers", "yes,ok,no",
             "--fail", "CopyFileA=5", "--transcript", transcript.string()});
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_TRUE(Contains(failed.err,
                         "w95: boot: A:\\SETUP.EXE (load=) failed with exit "
                         "code 1"))
        << failed.err;
    EXPECT_TRUE(Contains(failed.out, "No restart requested.\n")) << failed.out;
    EXPECT_TRUE(Contains(ReadAll(transcript), "\"call\":\"CopyFileA\""));
    EXPECT_FALSE(fs::exists(failing.Path() / "drive_c/VELTRANE/PARLOD.EXE"));
}

// Registry data in the JSON document as a program reads it, by type.
TEST(W95Tool, DiffJsonDecodesRegistryData) {
    ToolMachine a, b;
    fs::path change = b.Beside("types.reg");
    WriteAll(change,
             "REGEDIT4\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\r\n"
             "\"DeviceDesc\"=\"Caf\xE9 board\"\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Types]\r\n"
             "\"Expand\"=hex(2):25,50,25,5c,e9,00\r\n"
             "\"Multi\"=hex(7):61,00,00,e9,00,00\r\n"
             "\"Word\"=dword:ffffffff\r\n"
             "\"Short\"=hex(4):01,02\r\n"
             "\"Bin\"=hex:00,ff,7a\r\n"
             "\"None\"=hex(0):01\r\n"
             "\"Nine\"=hex(9):0a\r\n");
    ASSERT_EQ(W95({"reg", "import", b.Dir(), change.string()}).exitCode, 0);
    ToolRun diff = W95({"diff", "--json", a.Dir(), b.Dir()});
    ASSERT_EQ(diff.exitCode, 1) << diff.err;
    auto doc = nlohmann::json::parse(diff.out);
    ASSERT_EQ(doc["registry"].size(), 2u) << diff.out;
    auto changed = doc["registry"][0];
    EXPECT_EQ(changed["change"], "valueChanged");
    EXPECT_EQ(changed["before"],
              nlohmann::json({{"type", "REG_SZ"}, {"data", "System board"}}));
    EXPECT_EQ(
        changed["after"],
        nlohmann::json({{"type", "REG_SZ"}, {"data", "Caf\xC3\xA9 board"}}));
    auto added = doc["registry"][1];
    EXPECT_EQ(added["change"], "keyAdded");
    auto value = [&](const std::string &type, nlohmann::json data,
                     const std::string &name) {
        return nlohmann::json({{"type", type}, {"data", data}, {"name", name}});
    };
    EXPECT_EQ(added["values"],
              nlohmann::json::array(
                  {value("REG_EXPAND_SZ", "%P%\\\xC3\xA9", "Expand"),
                   value("REG_MULTI_SZ", {"a", "", "\xC3\xA9"}, "Multi"),
                   value("REG_DWORD", 4294967295u, "Word"),
                   value("REG_DWORD", "0102", "Short"),
                   value("REG_BINARY", "00ff7a", "Bin"),
                   value("REG_NONE", "01", "None"),
                   value("REG_TYPE_9", "0a", "Nine")}))
        << added["values"].dump();

    // The document and the patch cannot share standard output.
    ToolRun both = W95({"diff", "--json", "--reg", "-", a.Dir(), b.Dir()});
    EXPECT_EQ(both.exitCode, 2);
    EXPECT_EQ(both.out, "");
    EXPECT_TRUE(Contains(both.err,
                         "w95: --json and --reg - both write to standard "
                         "output"))
        << both.err;
}

TEST(W95Tool, DiffListsTimesOnRequestAndSpeaksJson) {
    ToolMachine a, b;
    fs::path ini = b.Path() / "drive_c/WINDOWS/WIN.INI";
    fs::last_write_time(ini, fs::last_write_time(ini) - std::chrono::hours(1));
    ToolRun plain = W95({"diff", a.Dir(), b.Dir()});
    EXPECT_EQ(plain.exitCode, 0) << plain.out;
    EXPECT_EQ(plain.out, "No differences.\n");
    ToolRun times = W95({"diff", "--times", a.Dir(), b.Dir()});
    EXPECT_EQ(times.exitCode, 1);
    EXPECT_TRUE(Contains(times.out,
                         "~ C:\\WINDOWS\\WIN.INI (same content, "
                         "last written "))
        << times.out;

    std::ofstream(b.Path() / "drive_c/NEW.TXT") << "one\ntwo\n";
    std::ofstream(b.Path() / "drive_c/BLOB.BIN", std::ios::binary)
        << std::string("\0\1", 2);
    std::ofstream(a.Path() / "drive_c/BLOB.BIN", std::ios::binary)
        << std::string("\0\2\3", 3);
    ASSERT_EQ(W95({"reg", "add", b.Dir(), "HKLM\\Enum", "/v", "N", "/t",
                   "REG_DWORD", "/d", "7"})
                  .exitCode,
              0);
    ToolRun json = W95({"diff", "--json", a.Dir(), b.Dir()});
    EXPECT_EQ(json.exitCode, 1);
    auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc["differ"], true);
    ASSERT_EQ(doc["registry"].size(), 1u) << json.out;
    EXPECT_EQ(doc["registry"][0]["change"], "valueAdded");
    EXPECT_EQ(doc["registry"][0]["key"], "HKEY_LOCAL_MACHINE\\Enum");
    EXPECT_EQ(doc["registry"][0]["name"], "N");
    EXPECT_EQ(doc["registry"][0]["after"]["type"], "REG_DWORD");
    EXPECT_EQ(doc["registry"][0]["after"]["data"], 7);
    ASSERT_EQ(doc["files"].size(), 2u) << json.out;  // no times without --times
    EXPECT_EQ(doc["files"][0]["path"], "C:\\BLOB.BIN");
    EXPECT_EQ(doc["files"][0]["change"], "changed");
    EXPECT_EQ(doc["files"][0]["text"], false);
    EXPECT_EQ(doc["files"][0]["bytes"], nlohmann::json({3, 2}));
    EXPECT_EQ(doc["files"][1]["path"], "C:\\NEW.TXT");
    EXPECT_EQ(doc["files"][1]["change"], "added");

    std::ofstream(a.Path() / "drive_c/NEW.TXT") << "one\n";
    ToolRun hunk = W95({"diff", "--json", a.Dir(), b.Dir()});
    auto changed = nlohmann::json::parse(hunk.out)["files"][1];
    EXPECT_EQ(changed["hunks"][0]["before"], nlohmann::json({1, 1}));
    EXPECT_EQ(changed["hunks"][0]["after"], nlohmann::json({1, 2}));
    EXPECT_EQ(changed["hunks"][0]["lines"], nlohmann::json({" one", "+two"}));
}

// The file that --reg writes turns the first registry into the second:
// imported into the first machine, the registries no longer differ.
TEST(W95Tool, DiffRegWritesThePatchFromOneRegistryToTheOther) {
    ToolMachine a, b;
    fs::path change = b.Beside("change.reg");
    WriteAll(change,
             "REGEDIT4\r\n\r\n"
             "[-HKEY_LOCAL_MACHINE\\Enum\\MF]\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C01\\0000]\r\n"
             "\"DeviceDesc\"=\"Main board\"\r\n\"HardwareID\"=-\r\n"
             "\"Extra\"=hex:01,02\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\\Deeper]\r\n\"x\"=\"y\"\r\n");
    ASSERT_EQ(W95({"reg", "import", b.Dir(), change.string()}).exitCode, 0);

    fs::path patch = b.Beside("patch.reg");
    ToolRun diff = W95({"diff", "--reg", patch.string(), a.Dir(), b.Dir()});
    EXPECT_EQ(diff.exitCode, 1) << diff.err;
    std::string text = ReadAll(patch);
    EXPECT_EQ(text.rfind("REGEDIT4\r\n\r\n", 0), 0u) << text;
    EXPECT_TRUE(Contains(text, "\r\n[-HKEY_LOCAL_MACHINE\\Enum\\MF]\r\n\r\n"))
        << text;
    // The subkeys of a deleted key go with it.
    EXPECT_FALSE(Contains(text, "[-HKEY_LOCAL_MACHINE\\Enum\\MF\\")) << text;
    EXPECT_TRUE(Contains(text, "\"HardwareID\"=-\r\n")) << text;
    EXPECT_TRUE(Contains(text,
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\\Deeper]\r\n"
                         "\"x\"=\"y\"\r\n"))
        << text;

    ASSERT_EQ(W95({"reg", "import", a.Dir(), patch.string()}).exitCode, 0);
    ToolRun after = W95({"diff", a.Dir(), b.Dir()});
    EXPECT_EQ(after.exitCode, 0) << after.out;

    // To standard output, the patch alone.
    ToolRun out = W95({"diff", "--reg", "-", a.Dir(), b.Dir()});
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.out, "REGEDIT4\r\n\r\n");
}
