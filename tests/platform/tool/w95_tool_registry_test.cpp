// The w95 tool's registry commands as a user of other tools meets them:
// short root names, the aliases, reg query/add/delete one-liners, names
// typed on a UTF-8 terminal, and registry files of other tools (Version
// 5.00, UTF-16LE, UTF-8) imported into the machine's Windows-1252.
#include <gtest/gtest.h>

#include "tool_runner.h"

namespace fs = std::filesystem;
using namespace tool_runner;

namespace {

// UTF-16LE bytes of ASCII or Latin-1 text given as UTF-8 (enough for the
// files below).
std::string Utf16(const std::string &utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0) c = ((c & 0x1F) << 6) | (utf8[++i] & 0x3F);
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string Registry(const ToolMachine &m) {
    return ReadAll(m.Path() / "registry.reg");
}

}  // namespace

TEST(W95ToolRegistry, ShortRootNamesAndAliases) {
    ToolMachine m;
    ToolRun shortName = W95({"reg", "export", m.Dir(), "hklm\\Enum\\MF"});
    ASSERT_EQ(shortName.exitCode, 0) << shortName.err;
    ToolRun longName =
        W95({"reg", "export", m.Dir(), "HKEY_LOCAL_MACHINE\\Enum\\MF"});
    EXPECT_EQ(shortName.out, longName.out);
    EXPECT_TRUE(Contains(shortName.out, "[HKEY_LOCAL_MACHINE\\Enum\\MF]\r\n"));

    // Every alias of Windows 95 exists on the example and names its key.
    struct Alias {
        const char *shortName, *longName, *target;
    };
    for (Alias a : {Alias{"HKCR", "HKEY_CLASSES_ROOT",
                          "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"},
                    Alias{"HKCU", "HKEY_CURRENT_USER", "HKEY_USERS\\.DEFAULT"},
                    Alias{"HKCC", "HKEY_CURRENT_CONFIG",
                          "HKEY_LOCAL_MACHINE\\Config\\0001"},
                    Alias{"HKU", "HKEY_USERS", "HKEY_USERS"}}) {
        for (const char *name : {a.shortName, a.longName}) {
            ToolRun q = W95({"reg", "query", m.Dir(), name});
            EXPECT_EQ(q.exitCode, 0) << name << q.err;
            EXPECT_EQ(q.out.rfind(std::string(a.target) + "\n", 0), 0u)
                << name << q.out;
        }
    }
    // A key made through an alias lies below its target.
    ToolRun add =
        W95({"reg", "add", m.Dir(), "HKCR\\.txt", "/ve", "/d", "txtfile"});
    ASSERT_EQ(add.exitCode, 0) << add.err;
    EXPECT_TRUE(Contains(Registry(m),
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n"
                         "@=\"txtfile\"\r\n"));

    ToolRun unknown = W95({"reg", "query", m.Dir(), "HKXX\\Enum"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(Contains(unknown.err, "HKLM")) << unknown.err;
}

TEST(W95ToolRegistry, QueryAddDeleteOneLiners) {
    ToolMachine m;
    std::string key = "HKLM\\Software\\Caf\xC3\xA9";  // typed in UTF-8
    auto reg = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"reg", words[0], m.Dir()});
        words.erase(words.begin() + 3);
        return W95(words);
    };
    EXPECT_EQ(reg({"add", key}).exitCode, 0);
    EXPECT_EQ(
        reg({"add", key, "/v", "Na\xC3\xAFve", "/d", "d\xC3\xA9j\xC3\xA0"})
            .exitCode,
        0);
    EXPECT_EQ(reg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "0x10"})
                  .exitCode,
              0);
    EXPECT_EQ(
        reg({"add", key, "-v", "Bytes", "--type", "reg_binary", "-d", "00ff7A"})
            .exitCode,
        0);
    EXPECT_EQ(
        reg({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "one\\0two"})
            .exitCode,
        0);
    EXPECT_EQ(reg({"add", key, "/v", "Dash", "/d", "-x"}).exitCode, 0);
    // Stored in the machine's code page.
    std::string text = Registry(m);
    EXPECT_TRUE(Contains(text,
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
                         "\"Na\xEFve\"=\"d\xE9j\xE0\"\r\n"
                         "\"Count\"=dword:00000010\r\n"
                         "\"Bytes\"=hex:00,ff,7a\r\n"
                         "\"List\"=hex(7):6f,6e,65,00,74,77,6f,00,00\r\n"
                         "\"Dash\"=\"-x\"\r\n"))
        << text;

    ToolRun q = reg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\CAF\xC3\x89"});
    EXPECT_EQ(q.exitCode, 0) << q.err;
    EXPECT_EQ(q.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\n"
              "    Na\xC3\xAFve    REG_SZ    d\xC3\xA9j\xC3\xA0\n"
              "    Count    REG_DWORD    0x10\n"
              "    Bytes    REG_BINARY    00FF7A\n"
              "    List    REG_MULTI_SZ    one\\0two\n"
              "    Dash    REG_SZ    -x\n");
    ToolRun one = reg({"query", key, "/V", "count"});
    EXPECT_EQ(one.out,
              "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\n"
              "    Count    REG_DWORD    0x10\n");
    ToolRun parent = reg({"query", "HKLM\\Software"});
    EXPECT_TRUE(Contains(parent.out,
                         "\n\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\n"
                         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\n"))
        << parent.out;

    // Bad data is a usage error and changes nothing.
    std::string before = Registry(m);
    EXPECT_EQ(
        reg({"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"})
            .exitCode,
        2);
    EXPECT_EQ(
        reg({"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "-1"}).exitCode,
        2);
    EXPECT_EQ(
        reg({"add", key, "/v", "N", "/t", "REG_BINARY", "/d", "abc"}).exitCode,
        2);
    EXPECT_EQ(
        reg({"add", key, "/v", "N", "/t", "REG_QWORD", "/d", "1"}).exitCode, 2);
    ToolRun lacking = reg({"add", key, "/v", "\xCE\xA9", "/d", "x"});  // Omega
    EXPECT_EQ(lacking.exitCode, 3);
    EXPECT_TRUE(Contains(lacking.err, "Windows-1252")) << lacking.err;
    EXPECT_EQ(Registry(m), before);

    // Deleting: a value, the default value, a key with its subtree.
    EXPECT_EQ(reg({"delete", key, "/v", "COUNT", "/f"}).exitCode, 0);
    EXPECT_FALSE(Contains(Registry(m), "\"Count\""));
    ToolRun noValue = reg({"delete", key, "/v", "Count"});
    EXPECT_EQ(noValue.exitCode, 3);
    EXPECT_TRUE(Contains(noValue.err, "no value 'Count'")) << noValue.err;
    EXPECT_EQ(reg({"add", key + "\\Sub", "/ve", "/d", "x"}).exitCode, 0);
    EXPECT_EQ(reg({"delete", key + "\\Sub", "/ve"}).exitCode, 0);
    EXPECT_TRUE(Contains(Registry(m), "\\Sub]\r\n\r\n"));
    EXPECT_EQ(reg({"delete", key}).exitCode, 0);
    EXPECT_FALSE(Contains(Registry(m), "Caf"));
    EXPECT_EQ(reg({"delete", key}).exitCode, 3);
    EXPECT_EQ(reg({"query", key}).exitCode, 3);
    EXPECT_EQ(reg({"delete", "HKLM"}).exitCode, 3);
    EXPECT_TRUE(Contains(Registry(m), "[HKEY_LOCAL_MACHINE\\Enum]"));
}

// The default value is /ve or --ve; "-ve" would read as -v e, the value
// named "e", and is refused before anything is changed.
TEST(W95ToolRegistry, DefaultValueSwitchesAndTheRefusedDashVe) {
    ToolMachine m;
    std::string key = "HKCU\\Software\\D3";
    ASSERT_EQ(W95({"reg", "add", m.Dir(), key, "/ve", "/d", "slash"}).exitCode,
              0);
    ASSERT_EQ(
        W95({"reg", "add", m.Dir(), key, "-v", "e", "/d", "named e"}).exitCode,
        0);
    std::string before = Registry(m);
    for (const char *verb : {"query", "add", "delete"}) {
        for (const char *word : {"-ve", "-VE"}) {
            ToolRun dashVe = W95({"reg", verb, m.Dir(), key, word});
            EXPECT_EQ(dashVe.exitCode, 2) << verb << " " << word;
            EXPECT_EQ(dashVe.out, "") << verb;
            EXPECT_TRUE(Contains(dashVe.err, std::string("w95: '") + word +
                                                 "' is not an option: the "
                                                 "default value is /ve or "
                                                 "--ve"))
                << dashVe.err;
        }
    }
    EXPECT_EQ(Registry(m), before);

    ToolRun slash = W95({"reg", "query", m.Dir(), key, "/VE"});
    EXPECT_EQ(slash.exitCode, 0) << slash.err;
    EXPECT_TRUE(Contains(slash.out, "    (Default)    REG_SZ    slash\n"))
        << slash.out;
    ASSERT_EQ(
        W95({"reg", "add", m.Dir(), key, "--ve", "-d", "dashes"}).exitCode, 0);
    ToolRun dashes = W95({"reg", "query", m.Dir(), key, "--ve"});
    EXPECT_TRUE(Contains(dashes.out, "    (Default)    REG_SZ    dashes\n"))
        << dashes.out;
    // After -v, -t or -d the next word is the name, type or data as it is.
    ASSERT_EQ(
        W95({"reg", "add", m.Dir(), key, "-v", "-ve", "-d", "-ve"}).exitCode,
        0);
    EXPECT_TRUE(Contains(Registry(m), "\"-ve\"=\"-ve\"\r\n"));
    ASSERT_EQ(W95({"reg", "delete", m.Dir(), key, "--ve"}).exitCode, 0);
    std::string after = Registry(m);
    EXPECT_TRUE(Contains(after,
                         "\\Software\\D3]\r\n\"e\"=\"named e\"\r\n"
                         "\"-ve\"=\"-ve\"\r\n\r\n"))
        << after;
}

// A query of a key or value that does not exist prints nothing on standard
// output and fails (exit code 3); the message goes to standard error.
TEST(W95ToolRegistry, QueryOfWhatDoesNotExistFails) {
    ToolMachine m;
    std::string key = "HKLM\\Enum\\MF";
    struct Case {
        std::vector<std::string> words;
        std::string message;
    };
    for (const Case &c :
         {Case{{key, "/v", "missing"},
               "w95: HKLM\\Enum\\MF has no value 'missing'\n"},
          Case{{key, "/ve"}, "w95: HKLM\\Enum\\MF has no default value\n"},
          Case{{key + "\\Nothing"},
               "w95: no registry key HKLM\\Enum\\MF\\Nothing\n"}}) {
        std::vector<std::string> words = {"reg", "query", m.Dir()};
        words.insert(words.end(), c.words.begin(), c.words.end());
        ToolRun q = W95(words);
        EXPECT_EQ(q.exitCode, 3) << c.message;
        EXPECT_EQ(q.out, "") << c.message;
        EXPECT_EQ(q.err, c.message);
    }
    ToolRun del = W95({"reg", "delete", m.Dir(), key, "/ve"});
    EXPECT_EQ(del.exitCode, 3);
    EXPECT_EQ(del.err, "w95: HKLM\\Enum\\MF has no default value\n");
    ToolRun help = W95({"reg", "query", "--help"});
    EXPECT_TRUE(Contains(help.out, "exits 3")) << help.out;
}

// reg export DIR FILE writes the whole registry when FILE does not start
// with a root key's name; "-" is standard output wherever a file goes.
TEST(W95ToolRegistry, ExportOfTheWholeRegistryToAFile) {
    ToolMachine m;
    ToolRun whole = W95({"reg", "export", m.Dir()});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_TRUE(Contains(whole.out, "[HKEY_USERS\\.DEFAULT]")) << whole.out;
    fs::path file = m.Beside("all.reg");
    ToolRun toFile = W95({"reg", "export", m.Dir(), file.string()});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadAll(file), whole.out);
    ToolRun dash = W95({"reg", "export", m.Dir(), "-"});
    EXPECT_EQ(dash.exitCode, 0) << dash.err;
    EXPECT_EQ(dash.out, whole.out);

    // A root's name, short or long, any case, alone or with a path, is a
    // key.
    ToolRun users = W95({"reg", "export", m.Dir(), "hku"});
    EXPECT_EQ(users.exitCode, 0) << users.err;
    EXPECT_FALSE(Contains(users.out, "HKEY_LOCAL_MACHINE")) << users.out;
    ToolRun keyDash =
        W95({"reg", "export", m.Dir(), "HKEY_LOCAL_MACHINE\\Enum\\MF", "-"});
    EXPECT_EQ(keyDash.exitCode, 0) << keyDash.err;
    EXPECT_TRUE(Contains(keyDash.out, "[HKEY_LOCAL_MACHINE\\Enum\\MF]\r\n"));
    EXPECT_FALSE(fs::exists("-"));
    // With a FILE after it, the second word must be a key.
    ToolRun notKey = W95({"reg", "export", m.Dir(), "Enum\\MF", file.string()});
    EXPECT_EQ(notKey.exitCode, 2);
    EXPECT_TRUE(Contains(notKey.err, "does not start with a root key"))
        << notKey.err;
}

TEST(W95ToolRegistry, ExportToAFile) {
    ToolMachine m;
    fs::path file = m.Beside("mf.reg");
    WriteAll(file, "old");
    ToolRun run =
        W95({"reg", "export", m.Dir(), "HKLM\\Enum\\MF", file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    ToolRun out = W95({"reg", "export", m.Dir(), "HKLM\\Enum\\MF"});
    EXPECT_EQ(ReadAll(file), out.out);
    EXPECT_FALSE(fs::exists(file.string() + ".w95-new"));
    ToolRun none = W95({"reg", "export", m.Dir(), "HKLM\\None", file.string()});
    EXPECT_EQ(none.exitCode, 3);
    EXPECT_TRUE(Contains(none.err, "no registry key HKLM\\None")) << none.err;
    EXPECT_EQ(ReadAll(file), out.out);
}

// A file as a later regedit, reg export or Wine writes it: UTF-16LE with a
// byte-order mark, "Windows Registry Editor Version 5.00", hex(2), hex(7)
// and hex(1) data in UTF-16LE.
TEST(W95ToolRegistry, ImportsVersion5FilesInUtf16) {
    ToolMachine m;
    std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; exported elsewhere\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Caf\xC3\xA9]\r\n"
        "\"Name\"=\"cr\xC3\xA8me\"\r\n"
        "\"Path\"=hex(2):25,00,77,00,69,00,6e,00,64,00,69,00,72,00,25,00,5c,"
        "00,e9,\\\r\n"
        "  00,00,00\r\n"
        "\"List\"=hex(7):61,00,00,00,e9,00,00,00,00,00\r\n"
        "\"AsHex\"=hex(1):e0,00,00,00\r\n"
        "\"Word\"=dword:00000002\r\n"
        "\"Raw\"=hex:01,02\r\n"
        "\r\n"
        "[HKCU\\Control Panel]\r\n"
        "@=\"x\"\r\n";
    fs::path file = m.Beside("wine.reg");
    WriteAll(file, "\xFF\xFE" + Utf16(text));
    ToolRun run = W95({"reg", "import", m.Dir(), file.string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string reg = Registry(m);
    EXPECT_TRUE(Contains(reg,
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
                         "\"Name\"=\"cr\xE8me\"\r\n"
                         "\"Path\"=hex(2):25,77,69,6e,64,69,72,25,5c,e9,00\r\n"
                         "\"List\"=hex(7):61,00,e9,00,00\r\n"
                         "\"AsHex\"=\"\xE0\"\r\n"
                         "\"Word\"=dword:00000002\r\n"
                         "\"Raw\"=hex:01,02\r\n"))
        << reg;
    EXPECT_TRUE(
        Contains(reg, "[HKEY_USERS\\.DEFAULT\\Control Panel]\r\n@=\"x\""))
        << reg;

    // UTF-16 data that the code page cannot hold is refused, with its line,
    // and nothing is imported.
    std::string before = Registry(m);
    WriteAll(file, "\xFF\xFE" + Utf16("Windows Registry Editor Version 5.00\r\n"
                                      "[HKEY_LOCAL_MACHINE\\New]\r\n"
                                      "\"P\"=hex(2):a9,03,00,00\r\n"));
    ToolRun refused = W95({"reg", "import", m.Dir(), file.string()});
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(Contains(refused.err, "line 3")) << refused.err;
    EXPECT_EQ(Registry(m), before);
    // Odd UTF-16 is refused as well.
    WriteAll(file, "\xFF\xFE" + Utf16("REGEDIT4\r\n") + "x");
    EXPECT_EQ(W95({"reg", "import", m.Dir(), file.string()}).exitCode, 3);
    EXPECT_EQ(Registry(m), before);
}

TEST(W95ToolRegistry, ImportsUtf8AndWindows1252Files) {
    ToolMachine m;
    fs::path file = m.Beside("utf8.reg");
    // UTF-8 with a byte-order mark, REGEDIT4, LF lines, a short root.
    WriteAll(file,
             "\xEF\xBB\xBFREGEDIT4\n\n[HKLM\\Software\\Caf\xC3\xA9]\n"
             "\"V\"=\"\xE2\x82\xAC\"\n");  // the euro sign
    ASSERT_EQ(W95({"reg", "import", m.Dir(), file.string()}).exitCode, 0);
    EXPECT_TRUE(Contains(Registry(m),
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
                         "\"V\"=\"\x80\"\r\n"));
    // UTF-8 without a mark, Version 5.00, from standard input.
    WriteAll(file,
             "Windows Registry Editor Version 5.00\r\n\r\n"
             "[HKEY_LOCAL_MACHINE\\Software\\Na\xC3\xAFve]\r\n\"W\"=\"1\"\r\n");
    ToolRun piped = W95({"reg", "import", m.Dir(), "-"}, "", file.string());
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_TRUE(
        Contains(Registry(m), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Na\xEFve]"));
    // Windows 95's own files are Windows-1252 and stay as they are.
    WriteAll(file,
             "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Cr\xE8me]\r\n");
    ASSERT_EQ(W95({"reg", "import", m.Dir(), file.string()}).exitCode, 0);
    EXPECT_TRUE(
        Contains(Registry(m), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Cr\xE8me]"));

    std::string before = Registry(m);
    WriteAll(file, "REGEDIT5\r\n");
    ToolRun header = W95({"reg", "import", m.Dir(), file.string()});
    EXPECT_EQ(header.exitCode, 3);
    EXPECT_TRUE(Contains(header.err, "line 1")) << header.err;
    WriteAll(file, "REGEDIT4\r\n\r\n[HKLM\\A]\r\n[HKLM\\\xCE\xA9]\r\n");
    ToolRun lacking = W95({"reg", "import", m.Dir(), file.string()});
    EXPECT_EQ(lacking.exitCode, 3);
    EXPECT_TRUE(Contains(lacking.err, "line 4")) << lacking.err;
    EXPECT_EQ(Registry(m), before);
}
