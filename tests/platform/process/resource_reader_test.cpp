// The programs' compiled resources decoded (dialogs, icon group, version
// records), Windows' lookup by number and name, and malformed .res bytes
// refused without reading past them.
#include <gtest/gtest.h>

#include <functional>

#include "compiled_resources.h"
#include "emulator_failure.h"
#include "resource_reader.h"

using w95::DialogTemplate;
using w95::ReadResourceFile;
using w95::ResourceFile;
using w95::WindowTemplate;

namespace {

const char kRebootText[] =
    "The system is rebooting for the driver parameters to take effect.";
const DWORD kDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT;

ResourceFile Program(const char *name) {
    Bytes bytes = CompiledResources(name);
    EXPECT_FALSE(bytes.empty()) << name;
    return ReadResourceFile(bytes);
}

void ExpectControl(const WindowTemplate &c, const char *className, int id,
                   const std::string &text, int x, int y, int width, int height,
                   DWORD style) {
    EXPECT_EQ(c.className, className);
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(c.text, text);
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
    EXPECT_EQ(c.width, width);
    EXPECT_EQ(c.height, height);
    EXPECT_EQ(c.style, style);
    EXPECT_EQ(c.exStyle, 0u);
}

// The icon "PARLOD" of both programs: four images, each an RT_ICON
// resource of the size the group gives.
void ExpectParlodIcon(const ResourceFile &file) {
    const w95::Resource *group = file.Find(w95::kResourceGroupIcon, "parlod");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->name.name, "PARLOD");
    auto images = w95::ReadIconGroup(*group);
    ASSERT_EQ(images.size(), 4u);
    const int expected[4][4] = {// width, height, colours, bits
                                {32, 32, 16, 4},
                                {32, 32, 2, 1},
                                {32, 16, 2, 1},
                                {16, 16, 16, 4}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(images[i].width, expected[i][0]);
        EXPECT_EQ(images[i].height, expected[i][1]);
        EXPECT_EQ(images[i].colors, expected[i][2]);
        EXPECT_EQ(images[i].bitCount, expected[i][3]);
        const w95::Resource *image =
            file.Find(w95::kResourceIcon, MAKEINTRESOURCE(images[i].iconId));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->data.size(), images[i].bytes);
    }
}

}  // namespace

TEST(ResourceReader, ParlodHasTheRebootNoticeIconAndVersion) {
    ResourceFile file = Program("parlod");
    std::optional<DialogTemplate> d = file.FindDialog(MAKEINTRESOURCE(105));
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->extended);
    EXPECT_EQ(d->frame.text, "Parlod - Rebooting");
    EXPECT_EQ(d->frame.style, kDialogStyle);
    EXPECT_EQ(d->frame.width, 216);
    EXPECT_EQ(d->frame.height, 39);
    EXPECT_EQ(d->fontName, "MS Sans Serif");
    EXPECT_EQ(d->fontSize, 8);
    ASSERT_EQ(d->controls.size(), 1u);
    ExpectControl(d->controls[0], "STATIC", -1, kRebootText, 7, 14, 202, 10,
                  WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT);
    ExpectParlodIcon(file);

    const w95::Resource *version =
        file.Find(w95::kResourceVersion, MAKEINTRESOURCE(1));
    ASSERT_NE(version, nullptr);
    w95::VersionRecord v = w95::ReadVersionRecord(*version);
    EXPECT_EQ(v.fileVersionMS, 0x00010000u);
    EXPECT_EQ(v.fileVersionLS, 0x00000001u);
    EXPECT_EQ(v.productVersionMS, 0x00010000u);
    EXPECT_EQ(v.productVersionLS, 0x00000001u);
    using Strings = std::map<std::string, std::string>;
    EXPECT_EQ(v.strings["040904b0"],
              (Strings{{"FileDescription", "parlod"},
                       {"FileVersion", "1.02"},
                       {"InternalName", "parlod"},
                       {"OriginalFilename", "parlod.exe"},
                       {"ProductVersion", "1.02"}}));
    EXPECT_EQ(v.strings.size(), 1u);
    EXPECT_EQ(v.translations, std::vector<DWORD>{0x04b00409});
}

TEST(ResourceReader, SetupHasTheProgressWindowIconAndVersion) {
    ResourceFile file = Program("setup");
    std::optional<DialogTemplate> d = file.FindDialog("#106");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->frame.text, "Setup");
    EXPECT_EQ(d->frame.style, kDialogStyle);
    EXPECT_EQ(d->frame.width, 278);
    EXPECT_EQ(d->frame.height, 41);
    EXPECT_EQ(d->fontName, "MS Sans Serif");
    EXPECT_EQ(d->fontSize, 8);
    ASSERT_EQ(d->controls.size(), 2u);
    ExpectControl(d->controls[0], "STATIC", 1001, kRebootText, 28, 14, 243, 10,
                  WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER);
    ExpectControl(d->controls[1], "STATIC", -1, "PARLOD", 7, 7, 18, 20,
                  WS_CHILD | WS_VISIBLE | SS_ICON);
    ExpectParlodIcon(file);

    w95::VersionRecord v = w95::ReadVersionRecord(
        *file.Find(w95::kResourceVersion, MAKEINTRESOURCE(1)));
    EXPECT_EQ(v.fileVersionMS, 0x00010000u);
    EXPECT_EQ(v.fileVersionLS, 0x00020000u);
    EXPECT_EQ(v.productVersionLS, 0x00020000u);
    const char title[] = "QVR PCI0528/PCI0525 Driver Setup Utility";
    using Strings = std::map<std::string, std::string>;
    EXPECT_EQ(v.strings["040904b0"], (Strings{{"FileDescription", title},
                                              {"FileVersion", "1.02"},
                                              {"InternalName", "setup"},
                                              {"OriginalFilename", "setup.exe"},
                                              {"ProductName", title},
                                              {"ProductVersion", "1.02"}}));
    EXPECT_EQ(v.translations, std::vector<DWORD>{0x04b00409});
}

TEST(ResourceReader, NamesAndNumbersAreLookedUpAsWindowsDoes) {
    ResourceFile file = Program("parlod");
    const w95::Resource *dialog = file.Find(5, MAKEINTRESOURCE(105));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(file.Find(5, "#105"), dialog);
    EXPECT_EQ(file.Find(5, "105"), nullptr);  // a name, not a number
    for (const char *wrong : {"#", "#10a", "#1050000", "#-105"})
        EXPECT_EQ(file.Find(5, wrong), nullptr) << wrong;
    EXPECT_EQ(file.Find(5, MAKEINTRESOURCE(106)), nullptr);
    EXPECT_EQ(file.Find(14, MAKEINTRESOURCE(105)), nullptr);  // another type
    EXPECT_NE(file.Find(14, "Parlod"), nullptr);
    EXPECT_EQ(file.Find(14, "PARLO"), nullptr);
    EXPECT_FALSE(file.FindDialog("PARLOD"));
}

TEST(ResourceReader, DialogExNamedDialogsAndClasses) {
    ResourceFile file = ReadResourceFile(CompiledResources("dialogs_test"));
    std::optional<DialogTemplate> d = file.FindDialog("statusbox");
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->extended);
    EXPECT_EQ(d->name.name, "STATUSBOX");
    EXPECT_EQ(d->frame.text, "Say \"hi\" \xe9");
    EXPECT_EQ(d->frame.x, 10);
    EXPECT_EQ(d->frame.y, 20);
    EXPECT_EQ(d->frame.exStyle, 0x8u);  // WS_EX_TOPMOST
    EXPECT_EQ(d->fontName, "MS Shell Dlg");
    ASSERT_EQ(d->controls.size(), 3u);
    EXPECT_EQ(d->controls[0].id, 70000);  // 32 bits in a DIALOGEX
    EXPECT_EQ(d->controls[0].text, "A\tB");
    EXPECT_EQ(d->controls[1].className, "BUTTON");
    EXPECT_EQ(d->controls[1].id, IDOK);
    EXPECT_EQ(d->controls[1].style & 0xF, 1u);  // BS_DEFPUSHBUTTON
    EXPECT_EQ(d->controls[2].className, "SYSLISTVIEW32");
    EXPECT_EQ(d->controls[2].exStyle, 0x200u);

    std::optional<DialogTemplate> hidden = file.FindDialog("Hidden");
    ASSERT_TRUE(hidden);
    EXPECT_FALSE(hidden->frame.style & WS_VISIBLE);
    EXPECT_TRUE(hidden->fontName.empty());
    EXPECT_TRUE(hidden->controls.empty());
}

TEST(ResourceReader, TextsOutsideWindows1252BecomeQuestionMarks) {
    Bytes t;
    for (unsigned w : {0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u, 0u})
        PutWord(t, w);  // styles, no controls, position, no menu or class
    for (unsigned c : {0x20ACu, 0x4E00u, 0xD83Du, 0xE9u, 0u}) PutWord(t, c);
    ResourceFile file = ReadResourceFile(ResFile(ResEntry(5, 1, t)));
    EXPECT_EQ(file.FindDialog(MAKEINTRESOURCE(1))->frame.text, "\x80??\xe9");
}

TEST(ResourceReader, MalformedFilesAreRefused) {
    Bytes good = CompiledResources("parlod");
    auto failure = [](const Bytes &bytes) {
        return FailureOf([&] { ReadResourceFile(bytes); });
    };
    EXPECT_EQ(failure(Bytes(good.begin(), good.begin() + 6)),
              "resource file: cut short at byte 4");
    // Not a 32-bit file: the empty opening entry is missing.
    EXPECT_EQ(failure(ResEntry(5, 1, {1, 2, 3, 4})),
              "resource file: not a 32-bit .res file");

    Bytes hugeData = ResFile(ResEntry(5, 1, {1, 2, 3, 4}));
    hugeData[32] = 0xFF;  // the data size of the second entry
    hugeData[35] = 0x7F;
    EXPECT_EQ(failure(hugeData),
              "resource file: resource header or data past the end at byte 40");
    Bytes hugeHeader = ResFile({});
    hugeHeader[4] = 0xF0;  // the header size of the opening entry
    EXPECT_EQ(failure(hugeHeader),
              "resource file: resource header or data past the end at byte 8");
    // A type name without its NUL runs to the end of the header.
    Bytes endless = ResFile(ResEntry(5, 1, {}));
    for (std::size_t i = 40; i < 64; ++i) endless[i] = 'A';
    EXPECT_EQ(failure(endless), "resource header: cut short at byte 24");

    // Every prefix of a real file is read or refused, never read past.
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
        try {
            ReadResourceFile(cut);
        } catch (const w95::EmulatorFailure &) {
        }
    }
}

TEST(ResourceReader, MalformedResourcesAreRefused) {
    // Every shortened dialog, icon group and version record of both
    // programs is refused, and none is read past its end.
    for (const char *program : {"parlod", "setup"}) {
        for (const w95::Resource &r : Program(program).resources) {
            if (r.type.number == w95::kResourceIcon) continue;
            for (std::size_t n = 0; n < r.data.size(); ++n) {
                w95::Resource cut = r;
                cut.data.resize(n);
                std::string message = FailureOf([&] {
                    if (r.type.number == w95::kResourceDialog)
                        w95::ReadDialogTemplate(cut);
                    else if (r.type.number == w95::kResourceGroupIcon)
                        w95::ReadIconGroup(cut);
                    else
                        w95::ReadVersionRecord(cut);
                });
                EXPECT_NE(message, "<no failure>")
                    << program << " " << r.type.Text() << " cut to " << n;
            }
        }
    }

    // Item counts and sizes past the end.
    w95::Resource group{.type = {true, 14}, .name = {true, 1}};
    group.data = {0, 0, 1, 0, 9, 0};  // nine images, none there
    EXPECT_EQ(FailureOf([&] { w95::ReadIconGroup(group); }),
              "icon group 1: cut short at byte 6");
    w95::Resource version{.type = {true, 16}, .name = {true, 1}};
    version.data = {0xFF, 0x7F, 0, 0, 0, 0};
    EXPECT_EQ(FailureOf([&] { w95::ReadVersionRecord(version); }),
              "version record 1: node size out of range at byte 0");
    ResourceFile file = ReadResourceFile(CompiledResources("dialogs_test"));
    w95::Resource dialog = *file.Find(5, MAKEINTRESOURCE(106));
    dialog.data[8] = 50;  // fifty controls
    EXPECT_NE(FailureOf([&] {
                  w95::ReadDialogTemplate(dialog);
              }).find("dialog 106: cut short"),
              std::string::npos);
    file.source = "x.res";
    file.resources.push_back(dialog);
    file.resources.erase(file.resources.begin(),
                         file.resources.end() - 1);  // only the broken one
    EXPECT_EQ(FailureOf([&] {
                  file.FindDialog(MAKEINTRESOURCE(106));
              }).rfind("x.res: dialog 106: cut short", 0),
              0u);
}
