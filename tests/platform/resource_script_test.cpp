// Reading dialog templates out of resource scripts as the programs' .rc
// files and the resource compilers' habits write them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "emulator_error.h"
#include "resource_script.h"

using w95::DialogTemplate;
using w95::ParseResourceScript;

namespace {

std::string FailureOf(const std::function<void()> &action) {
    try {
        action();
    } catch (const w95::EmulatorFailure &e) {
        return e.what();
    }
    return "<no failure>";
}

const char kRebootScript[] =
    "#include <windows.h>\r\n"
    "\r\n"
    "105 DIALOG 0, 0, 216, 39\r\n"
    "STYLE WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | "
    "DS_SETFONT\r\n"
    "CAPTION \"Parlod - Rebooting\"\r\n"
    "FONT 8, \"MS Sans Serif\"\r\n"
    "BEGIN\r\n"
    "    LTEXT \"The system is rebooting for the driver parameters to take "
    "effect.\", -1, 7, 14, 202, 10, WS_CHILD | WS_VISIBLE | WS_GROUP\r\n"
    "END\r\n"
    "\r\n"
    "PARLOD ICON \"parlod.ico\"\r\n"
    "\r\n"
    "1 VERSIONINFO\r\n"
    "FILEVERSION 1, 0, 0, 1\r\n"
    "FILEFLAGSMASK 0x3FL\r\n"
    "BEGIN\r\n"
    "    BLOCK \"StringFileInfo\"\r\n"
    "    BEGIN\r\n"
    "        BLOCK \"040904b0\"\r\n"
    "        BEGIN\r\n"
    "            VALUE \"FileVersion\", \"1.02\"\r\n"
    "        END\r\n"
    "    END\r\n"
    "    BLOCK \"VarFileInfo\"\r\n"
    "    BEGIN\r\n"
    "        VALUE \"Translation\", 0x409, 1200\r\n"
    "    END\r\n"
    "END\r\n";

}  // namespace

TEST(ResourceScript, ReadsTheRebootNotice) {
    auto script = ParseResourceScript(kRebootScript, "parlod.rc");
    ASSERT_EQ(script.dialogs.size(), 1u);
    const DialogTemplate &d = script.dialogs[0];
    EXPECT_TRUE(d.name.isNumber);
    EXPECT_EQ(d.name.number, 105);
    EXPECT_EQ(d.line, 3);
    EXPECT_EQ(d.caption, "Parlod - Rebooting");
    EXPECT_EQ(d.width, 216);
    EXPECT_EQ(d.height, 39);
    EXPECT_EQ(d.style,
              static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION |
                                 DS_MODALFRAME | DS_CENTER | DS_SETFONT));
    EXPECT_EQ(d.fontName, "MS Sans Serif");
    EXPECT_EQ(d.fontSize, 8);
    ASSERT_EQ(d.controls.size(), 1u);
    const auto &c = d.controls[0];
    EXPECT_EQ(c.className, "STATIC");
    EXPECT_EQ(c.id, -1);
    EXPECT_EQ(c.text,
              "The system is rebooting for the driver parameters to take "
              "effect.");
    EXPECT_EQ(c.x, 7);
    EXPECT_EQ(c.y, 14);
    EXPECT_EQ(c.width, 202);
    EXPECT_EQ(c.height, 10);
    EXPECT_EQ(c.style,
              static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT));
    ASSERT_EQ(script.icons.size(), 1u);
    EXPECT_EQ(script.icons[0].name.name, "PARLOD");
    EXPECT_EQ(script.icons[0].file, "parlod.ico");

    EXPECT_EQ(script.FindDialog(MAKEINTRESOURCE(105)), &script.dialogs[0]);
    EXPECT_EQ(script.FindDialog("#105"), &script.dialogs[0]);
    EXPECT_EQ(script.FindDialog(MAKEINTRESOURCE(106)), nullptr);
    EXPECT_EQ(script.FindDialog("105"), nullptr);  // a name, not a number
}

TEST(ResourceScript, ControlsTakeTheirClassesAndDefaultStyles) {
    auto script = ParseResourceScript(
        "#define IDC_STATUS 1001\n"
        "#define IDD_PROGRESS 106\n"
        "IDD_PROGRESS DIALOG DISCARDABLE 0, 0, 278, 41\n"
        "STYLE WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER\n"
        "CAPTION \"Setup\"\n"
        "FONT 8, \"MS Sans Serif\"\n"
        "{\n"
        "  ICON \"PARLOD\", IDC_STATIC, 7, 7, 18, 20\n"
        "  CTEXT \"Please wait\", IDC_STATUS, 28, 14, 243, 10\n"
        "  RTEXT \"r\", 3, 0, 0, 1, 1, NOT WS_GROUP\n"
        "  ICON PARLOD, -1, 7, 7\n"
        "  CONTROL \"x\", 4, \"Static\", SS_CENTER | NOT WS_VISIBLE, 1, 2, 3, "
        "4\n"
        "  CONTROL \"\", 5, \"SysListView32\", 0x4001, 1, 2, 3, 4, "
        "WS_EX_CLIENTEDGE\n"
        "  DEFPUSHBUTTON \"OK\", IDOK, 10, 20, 50, 14\n"
        "  EDITTEXT 7, 1, 2, 3, 4, ES_AUTOHSCROLL\n"
        "}\n",
        "setup.rc");
    ASSERT_EQ(script.dialogs.size(), 1u);
    const DialogTemplate &d = script.dialogs[0];
    EXPECT_EQ(d.name.number, 106);
    // FONT adds DS_SETFONT as the resource compiler does.
    EXPECT_TRUE(d.style & DS_SETFONT);
    ASSERT_EQ(d.controls.size(), 8u);
    const DWORD base = WS_CHILD | WS_VISIBLE;

    EXPECT_EQ(d.controls[0].className, "STATIC");
    EXPECT_EQ(d.controls[0].text, "PARLOD");
    EXPECT_EQ(d.controls[0].id, -1);
    EXPECT_EQ(d.controls[0].style, base | SS_ICON);
    EXPECT_EQ(d.controls[0].width, 18);

    EXPECT_EQ(d.controls[1].id, 1001);
    EXPECT_EQ(d.controls[1].style, base | SS_CENTER | WS_GROUP);

    EXPECT_EQ(d.controls[2].style, base | SS_RIGHT);  // NOT clears WS_GROUP

    EXPECT_EQ(d.controls[3].text, "PARLOD");  // a name, upper case
    EXPECT_EQ(d.controls[3].x, 7);
    EXPECT_EQ(d.controls[3].width, 0);

    EXPECT_EQ(d.controls[4].className, "STATIC");
    EXPECT_EQ(d.controls[4].style, static_cast<DWORD>(WS_CHILD | SS_CENTER));

    EXPECT_EQ(d.controls[5].className, "SysListView32");
    EXPECT_EQ(d.controls[5].style, base | 0x4001);
    EXPECT_EQ(d.controls[5].exStyle, 0x200u);

    EXPECT_EQ(d.controls[6].className, "BUTTON");
    EXPECT_EQ(d.controls[6].id, IDOK);
    EXPECT_EQ(d.controls[6].style, base | WS_TABSTOP | 0x1);

    EXPECT_EQ(d.controls[7].className, "EDIT");
    EXPECT_EQ(d.controls[7].text, "");
    EXPECT_EQ(d.controls[7].id, 7);
    EXPECT_EQ(d.controls[7].style, base | WS_BORDER | WS_TABSTOP | 0x80);
}

TEST(ResourceScript, DialogExNamesConditionsCommentsAndEscapes) {
    auto script = ParseResourceScript(
        "/* generated\n   by hand */\n"
        "#include \"resource.h\"\n"
        "#pragma code_page(1252)\n"
        "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
        "#ifdef APSTUDIO_INVOKED\n"
        "this is not resource syntax at all\n"
        "#else\n"
        "#define TEXT_ID 12 + 3 // trailing comment\n"
        "#endif\n"
        "#if defined(RC_INVOKED) && !defined(NOTHING)\n"
        "StatusBox DIALOGEX 10, 20, 100, 50, 0\n"
        "STYLE DS_SETFONT | WS_POPUP\n"
        "EXSTYLE WS_EX_TOPMOST\n"
        "CAPTION \"Say \"\"hi\"\"\\n now\"\n"
        "FONT 8, \"MS Shell Dlg\", 400, 0, 0x1\n"
        "BEGIN\n"
        "    LTEXT \"A\\tB \" \"joined\", TEXT_ID, 1, 2, 3, 4, 0, 0, 77\n"
        "END\n"
        "#endif\n"
        "STRINGTABLE BEGIN 1 \"one\" END\n"
        "1 24 \"app.manifest\"\n",
        "x.rc");
    ASSERT_EQ(script.dialogs.size(), 1u);
    const DialogTemplate &d = script.dialogs[0];
    EXPECT_FALSE(d.name.isNumber);
    EXPECT_EQ(d.name.name, "STATUSBOX");
    EXPECT_TRUE(d.extended);
    EXPECT_EQ(d.caption, "Say \"hi\"\n now");
    EXPECT_EQ(d.style, static_cast<DWORD>(DS_SETFONT | WS_POPUP | WS_CAPTION));
    EXPECT_EQ(d.exStyle, 0x8u);
    EXPECT_EQ(d.fontName, "MS Shell Dlg");
    ASSERT_EQ(d.controls.size(), 1u);
    EXPECT_EQ(d.controls[0].text, "A\tB joined");
    EXPECT_EQ(d.controls[0].id, 15);
    EXPECT_EQ(script.FindDialog("statusbox"), &d);
    EXPECT_EQ(script.FindDialog(MAKEINTRESOURCE(1)), nullptr);
}

TEST(ResourceScript, MalformedScriptsNameTheLine) {
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript(
                      "1 DIALOG 0, 0, 10, 10\nBEGIN\n  LTEXT \"a\", "
                      "IDC_MISSING, 1, 2, 3, 4\nEND\n",
                      "p.rc");
              }),
              "p.rc line 3: 'IDC_MISSING' is not defined (names come from the "
              "script's own #define lines; included headers are not read)");
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript(
                      "1 DIALOG 0, 0, 10, 10\nBEGIN\n  LTEXT \"a, 1, 2\nEND\n",
                      "p.rc");
              }),
              "p.rc line 3: string without its closing quote");
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript(
                      "1 DIALOG 0, 0, 10, 10\nBEGIN\n"
                      "  BOGUS \"a\", 1, 2, 3, 4, 5\nEND\n",
                      "p.rc");
              }),
              "p.rc line 3: expected a control statement or END but found "
              "'BOGUS'");
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript("1 DIALOG 0, 0, 10, 10\nBEGIN\n", "p.rc");
              }),
              "p.rc line 1: dialog '1' without its END");
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript("#if 1\n1 ICON \"a.ico\"\n", "p.rc");
              }),
              "p.rc line 1: #if without its #endif");
    EXPECT_EQ(FailureOf([] {
                  ParseResourceScript("1 DIALOG 0, 0, 10\nCAPTION \"x\"\n",
                                      "p.rc");
              }).rfind("p.rc line 2: 'CAPTION' is not defined", 0),
              0u);
}

// The programs' own scripts, as they are in the tree, must be readable.
TEST(ResourceScript, ReadsTheProgramsScripts) {
    for (const char *name : {"parlod.rc", "setup.rc"}) {
        std::filesystem::path file =
            std::filesystem::path(KIT_SOURCE_DIR) / "resources" / name;
        if (!std::filesystem::exists(file)) continue;
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        w95::ResourceScript script;
        EXPECT_NO_THROW(script = ParseResourceScript(text.str(), name)) << name;
        EXPECT_FALSE(script.dialogs.empty()) << name;
    }
}
