// REGEDIT4 text in and out of the registry store.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "emulated_process.h"
#include "emulator_error.h"
#include "registry_store.h"

namespace {

std::string Crlf(std::string_view lf) {
    std::string out;
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const w95::RegKey *Key(std::string_view path) {
    const w95::RegKey *k =
        w95::MachineRegistry().RootKey(w95::RegRoot::LocalMachine, false);
    for (std::string_view part : w95::SplitKeyPath(path))
        if (!(k = k->FindChild(part))) return nullptr;
    return k;
}

std::string ValueBytes(const w95::RegValue *v) {
    return v ? std::string(v->data.begin(), v->data.end()) : "<missing>";
}

class Regedit4Test : public ::testing::Test {
  protected:
    void SetUp() override { w95::ResetEmulatedProcess(); }
    void TearDown() override { w95::ResetEmulatedProcess(); }
};

// The whole form: every value type, escapes, the default value, empty keys,
// strings that only hex(1) can carry.
const char kEveryType[] = R"(REGEDIT4

[HKEY_LOCAL_MACHINE]

[HKEY_LOCAL_MACHINE\Enum]
@="default"
"Str"="a \"quoted\" C:\\path\\"
"Empty"=""
"Dw"=dword:0000002a
"Bin"=hex:00,ff,10
"NoBytes"=hex:
"Multi"=hex(7):61,00,62,00,00
"Expand"=hex(2):25,41,25,00
"None"=hex(0):
"ShortDword"=hex(4):01,02
"Type1b"=hex(1b):01
"NoNul"=hex(1):61,62
"TwoNuls"=hex(1):61,00,00
"Tab"=hex(1):61,09,00
"Bare"=hex(1):
"High"="caf)"
                          "\xE9"
                          R"("
"Name \"with\" \\"="x"

[HKEY_LOCAL_MACHINE\Enum\Empty]

[HKEY_LOCAL_MACHINE\Enum\Empty\Deeper]

[HKEY_LOCAL_MACHINE\Second]

[HKEY_USERS]

[HKEY_USERS\.DEFAULT]
"x"=dword:ffffffff

)";

TEST_F(Regedit4Test, EveryValueTypeRoundTripsByteForByte) {
    std::string text = Crlf(kEveryType);
    w95::ImportRegistryText(text, "every.reg");
    EXPECT_EQ(w95::ExportRegistryText(""), text);

    const w95::RegKey *e = Key("Enum");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(ValueBytes(e->FindValue("")), std::string("default\0", 8));
    EXPECT_EQ(ValueBytes(e->FindValue("str")),
              std::string("a \"quoted\" C:\\path\\\0", 20));
    EXPECT_EQ(ValueBytes(e->FindValue("Empty")), std::string("\0", 1));
    EXPECT_EQ(ValueBytes(e->FindValue("Dw")), std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(e->FindValue("Multi")->type, (DWORD)REG_MULTI_SZ);
    EXPECT_EQ(e->FindValue("Type1b")->type, 0x1bu);
    EXPECT_EQ(e->FindValue("NoNul")->type, (DWORD)REG_SZ);
    EXPECT_EQ(ValueBytes(e->FindValue("NoNul")), "ab");
    EXPECT_EQ(ValueBytes(e->FindValue("Bare")), "");
    EXPECT_EQ(ValueBytes(e->FindValue("Name \"with\" \\")),
              std::string("x\0", 2));
}

TEST_F(Regedit4Test, LongHexWrapsLikeRegeditAndReadsBack) {
    w95::RegKey *lm =
        w95::MachineRegistry().RootKey(w95::RegRoot::LocalMachine, false);
    std::string data;
    for (int i = 0; i < 200; ++i) data += static_cast<char>(i);
    lm->AddChild("K").SetValue("Blob", REG_BINARY,
                               reinterpret_cast<const BYTE *>(data.data()),
                               data.size());
    std::string text = w95::ExportRegistryText("HKEY_LOCAL_MACHINE\\K");
    std::size_t start = text.find("\"Blob\"=hex:00,01,");
    ASSERT_NE(start, std::string::npos);
    std::string_view rest = std::string_view(text).substr(start);
    int lines = 0;
    while (!rest.empty() && rest.substr(0, 2) != "\r\n") {
        std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        EXPECT_LE(line.size(), 80u) << line;
        if (lines > 0) {
            EXPECT_EQ(line.substr(0, 2), "  ");
        }
        if (rest.substr(end + 2, 2) == "  ") {
            EXPECT_EQ(line.back(), '\\');
        }
        rest.remove_prefix(end + 2);
        ++lines;
    }
    EXPECT_GT(lines, 7);
    EXPECT_NE(text.find(",15,\\\r\n  16,17,"), std::string::npos);
    EXPECT_NE(text.find(",2e,\\\r\n  2f,30,"), std::string::npos);  // 25 a line

    w95::ResetRegistry();
    w95::ImportRegistryText(text, "wrapped.reg");
    EXPECT_EQ(ValueBytes(Key("K")->FindValue("blob")), data);
}

TEST_F(Regedit4Test, AcceptsLfLinesLooseContinuationsAndComments) {
    w95::ImportRegistryText(
        "REGEDIT4\n; a comment\n[HKEY_LOCAL_MACHINE\\A]\n"
        "\"b\" = hex:01, 2,\\\n    03 ,\\\n  04\n"
        "  \"c\"=dword:1\n[HKEY_LOCAL_MACHINE\\A\\]\n\"d\"=\"e\"  \n",
        "lf.reg");
    const w95::RegKey *a = Key("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(ValueBytes(a->FindValue("b")), "\x01\x02\x03\x04");
    EXPECT_EQ(ValueBytes(a->FindValue("c")), std::string("\1\0\0\0", 4));
    EXPECT_EQ(ValueBytes(a->FindValue("d")), std::string("e\0", 2));
    EXPECT_TRUE(a->Children().empty());
}

TEST_F(Regedit4Test, MalformedTextNamesTheLineAndChangesNothing) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "t.reg line 1: "},
        {"REGEDIT5\r\n", "t.reg line 1: "},
        {"REGEDIT4\n\n\"x\"=\"y\"\n", "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_NOWHERE\\a]\n", "t.reg line 2: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\n", "t.reg line 2: "},
        {"REGEDIT4\n[-HKEY_LOCAL_MACHINE]\n", "t.reg line 2: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=\"y\n", "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x=\"y\"\n", "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"\"y\"\n", "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=\"y\" z\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=dword:123456789\n",
         "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=dword:\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:0g\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:001\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:00,,01\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex(z):00\n", "line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:00,\\\n",
         "t.reg line 3: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=hex:00,\\\n  01,zz\n",
         "t.reg line 4: "},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"x\"=string\n", "line 3: "},
        {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\r\nnonsense\r\n",
         "t.reg line 4: "},
    };
    for (const auto &[text, where] : cases) {
        try {
            w95::ImportRegistryText(text, "t.reg");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const w95::EmulatorFailure &e) {
            EXPECT_NE(std::string(e.what()).find(where), std::string::npos)
                << e.what() << " for: " << text;
        }
        EXPECT_EQ(Key("a"), nullptr) << text;
    }
    // Names that no C string could open again.
    using namespace std::string_literals;
    for (const std::string &text :
         {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\a\0b]\n"s,
          "REGEDIT4\n[HKEY_LOCAL_MACHINE\\a]\n\"n\0m\"=\"v\"\n"s}) {
        try {
            w95::ImportRegistryText(text, "t.reg");
            ADD_FAILURE() << "accepted a NUL byte in a name";
        } catch (const w95::EmulatorFailure &e) {
            EXPECT_NE(std::string(e.what()).find("NUL byte"), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(Key("a"), nullptr);
    }
}

TEST_F(Regedit4Test, ImportMergesDeletesAndKeepsOrderAndCase) {
    w95::ImportRegistryText(Crlf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum\\PCI]\n"
                                 "\"Keep\"=\"1\"\n\"Drop\"=\"2\"\n\n"
                                 "[HKEY_LOCAL_MACHINE\\Enum\\MF\\CHILD0000]\n"
                                 "[HKEY_LOCAL_MACHINE\\Enum\\Root]\n"),
                            "first.reg");
    w95::ImportRegistryText(
        "REGEDIT4\n[hkey_local_machine\\ENUM\\pci]\n"
        "\"KEEP\"=\"one\"\n\"drop\"=-\n\"New\"=dword:2\n"
        "[-HKEY_LOCAL_MACHINE\\enum\\mf]\n"
        "\"ignored\"=\"after a deletion\"\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\Added]\n"
        "[-HKEY_LOCAL_MACHINE\\Enum\\NotThere]\n",
        "second.reg");
    const w95::RegKey *e = Key("Enum");
    ASSERT_EQ(e->Children().size(), 3u);
    EXPECT_EQ(e->Children()[0]->name, "PCI");
    EXPECT_EQ(e->Children()[1]->name, "Root");
    EXPECT_EQ(e->Children()[2]->name, "Added");
    const w95::RegKey *pci = e->Children()[0].get();
    ASSERT_EQ(pci->Values().size(), 2u);
    EXPECT_EQ(pci->Values()[0].name, "Keep");
    EXPECT_EQ(ValueBytes(&pci->Values()[0]), std::string("one\0", 4));
    EXPECT_EQ(pci->Values()[1].name, "New");
}

TEST_F(Regedit4Test, AliasSectionsLandOnTheirRealKeys) {
    w95::ImportRegistryText(
        "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n"
        "[HKEY_CLASSES_ROOT\\.inf]\n@=\"inffile\"\n"
        "[HKEY_CURRENT_CONFIG\\Display]\n",
        "alias.reg");
    EXPECT_EQ(w95::ExportRegistryText(""),
              Crlf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.inf]\n"
                   "@=\"inffile\"\n\n"
                   "[HKEY_LOCAL_MACHINE\\Config]\n\n"
                   "[HKEY_LOCAL_MACHINE\\Config\\0001]\n\n"
                   "[HKEY_LOCAL_MACHINE\\Config\\0001\\Display]\n\n"
                   "[HKEY_USERS]\n\n[HKEY_USERS\\.DEFAULT]\n\n"
                   "[HKEY_USERS\\.DEFAULT\\Software]\n\n"));
    EXPECT_EQ(w95::ExportRegistryText("HKEY_CLASSES_ROOT"),
              Crlf("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\n\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.inf]\n"
                   "@=\"inffile\"\n\n"));
    EXPECT_THROW(w95::ExportRegistryText("HKEY_LOCAL_MACHINE\\Nope"),
                 w95::EmulatorFailure);
    EXPECT_THROW(w95::ExportRegistryText("HKEY_DYN_DATA"),
                 w95::EmulatorFailure);
}

TEST_F(Regedit4Test, VeryDeepTreesAreWrittenAndFreedWithoutRecursion) {
    w95::RegKey *k =
        w95::MachineRegistry().RootKey(w95::RegRoot::LocalMachine, false);
    for (int i = 0; i < 200000; ++i) k = &k->AddChild("k");
    EXPECT_EQ(k->Path().size(), 18 + 2 * 200000u);
    w95::ResetRegistry();  // must not overflow the stack
}

}  // namespace
