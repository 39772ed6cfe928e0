// The byte-level pieces of setup, on memory: the version stamp scan, the
// MSHDC.INF edit, the "CopyFiles" commenting copy and the INF content test.
#include <gtest/gtest.h>

#include <string>

#include "setup_state.h"

namespace {

using namespace std::string_literals;

ByteReader Reader(const std::string &bytes, std::size_t &position) {
    return [&bytes, &position](unsigned char &byte) {
        if (position >= bytes.size()) return false;
        byte = static_cast<unsigned char>(bytes[position++]);
        return true;
    };
}

// The banner found behind the first stamp, or nullopt-like "<none>".
std::string ScanBanner(const std::string &bytes, std::size_t size = 520) {
    std::size_t position = 0;
    ByteReader read = Reader(bytes, position);
    if (!FindStampMarker(read)) return "<none>";
    std::string text(size, 'x');
    std::size_t length = ReadStampBanner(read, text.data(), size);
    EXPECT_EQ(text[length], '\0');
    return text.substr(0, length);
}

TEST(StampScan, FindsTheFirstCompleteMarker) {
    EXPECT_EQ(ScanBanner("MZ\x90junk$qvrver$\0Banner one\0$qvrver$\0two\0"s),
              "Banner one");
    EXPECT_EQ(ScanBanner("$qvrver$\0Line\n  two\0"s), "Line\n  two");
}

TEST(StampScan, ABreakingByteIsNotTriedAsANewStart) {
    // The second '$' breaks "$" and is not the start of the marker.
    EXPECT_EQ(ScanBanner("$$qvrver$\0hidden\0"s), "<none>");
    EXPECT_EQ(ScanBanner("$qv$qvrver$\0hidden\0"s), "<none>");
    // A later complete stamp is still found.
    EXPECT_EQ(ScanBanner("$$qvrver$\0hidden\0 $qvrver$\0found\0"s), "found");
}

TEST(StampScan, MarkerNeedsItsNul) {
    EXPECT_EQ(ScanBanner("$qvrver$ not a stamp\0"s), "<none>");
    EXPECT_EQ(ScanBanner("$qvrver$"s), "<none>");
    EXPECT_EQ(ScanBanner(""s), "<none>");
}

TEST(StampScan, BannerEndsAtNulEndOfDataOrBufferSize) {
    EXPECT_EQ(ScanBanner("$qvrver$\0"s), "");  // stamp at the very end
    EXPECT_EQ(ScanBanner("$qvrver$\0no closing nul"s), "no closing nul");
    std::string longBanner(600, 'B');
    EXPECT_EQ(ScanBanner("$qvrver$\0"s + longBanner + "\0"s),
              std::string(519, 'B'));
    EXPECT_EQ(ScanBanner("$qvrver$\0abcdef\0"s, 4), "abc");
}

struct EditResult {
    std::string text;
    bool rewrite;
};

EditResult EditMshdc(const std::string &file) {
    std::string text(file.size() + 4, '\0');
    std::string output(file.size() + 4, '\0');
    file.copy(text.data(), file.size());
    MshdcEdit edit = CommentMshdcKeys(text.data(), output.data(),
                                      static_cast<DWORD>(file.size()));
    EXPECT_LE(edit.length, file.size() + 2);
    return {output.substr(0, edit.length), edit.rewrite};
}

const std::string Key28 = "%PCI\\VEN_7A3C&DEV_0528.DeviceDesc%=";
const std::string Key25 = "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%=";

TEST(MshdcEdit, CommentsEachKeysFirstOccurrence) {
    std::string file = "[Mfg]\r\n" + Key28 + "a\r\n" + Key25 + "b\r\n";
    EditResult edit = EditMshdc(file);
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text, "[Mfg]\r\n;" + Key28 + "a\r\n;" + Key25 + "b\r\n");

    // The order in the file does not matter; a second occurrence stays.
    file = Key25 + "b\r\n" + Key28 + "a\r\n" + Key28 + "c\r\n";
    edit = EditMshdc(file);
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text,
              ";" + Key25 + "b\r\n;" + Key28 + "a\r\n" + Key28 + "c\r\n");
}

TEST(MshdcEdit, OneKeyAlone) {
    EditResult edit = EditMshdc("x " + Key28 + "a\n");
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text, "x ;" + Key28 + "a\n");
    edit = EditMshdc("x " + Key25 + "a\n");
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text, "x ;" + Key25 + "a\n");
}

TEST(MshdcEdit, AlreadyCommentedOrAbsent) {
    // Both commented: written back unchanged.
    std::string both = ";" + Key28 + "a\n;" + Key25 + "b\n";
    EditResult edit = EditMshdc(both);
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text, both);
    // Only the first one, commented: left alone.
    edit = EditMshdc("y;" + Key28 + "a\n");
    EXPECT_FALSE(edit.rewrite);
    edit = EditMshdc("nothing here\n");
    EXPECT_FALSE(edit.rewrite);
    // Case matters.
    std::string lower = "%pci\\ven_7a3c&dev_0528.devicedesc%=a\n";
    edit = EditMshdc(lower);
    EXPECT_FALSE(edit.rewrite);
}

TEST(MshdcEdit, NulEndsTheSearchButAllBytesAreKept) {
    std::string file = Key28 + "a\n\0"s + Key25 + "b\n";
    EditResult edit = EditMshdc(file);
    EXPECT_TRUE(edit.rewrite);
    EXPECT_EQ(edit.text, ";" + file);
}

std::string CommentCopy(const std::string &source) {
    std::string out;
    ByteWriter write = [&out](const char *bytes, DWORD count) {
        out.append(bytes, count);
        return true;
    };
    CopyFilesCommenter commenter;
    for (char c : source) EXPECT_TRUE(commenter.Feed(c, write));
    EXPECT_TRUE(commenter.Finish(write));
    return out;
}

TEST(CopyFilesComment, CommentsEveryWordNotBehindASemicolon) {
    EXPECT_EQ(CommentCopy("CopyFiles=a\r\n"), ";CopyFiles=a\r\n");
    EXPECT_EQ(CommentCopy("x\r\nCopyFiles=a\r\n;CopyFiles=b\r\n"),
              "x\r\n;CopyFiles=a\r\n;CopyFiles=b\r\n");
    EXPECT_EQ(CommentCopy("Needs=A.CopyFiles\n[X.CopyFiles]\n; a CopyFiles"),
              "Needs=A.;CopyFiles\n[X.;CopyFiles]\n; a ;CopyFiles");
    EXPECT_EQ(CommentCopy("copyfiles COPYFILES"), "copyfiles COPYFILES");
}

TEST(CopyFilesComment, MatchesInARow) {
    EXPECT_EQ(CommentCopy("xCopyFilesCopyFiles"), "x;CopyFiles;CopyFiles");
    // A completed match does not change the previous byte.
    EXPECT_EQ(CommentCopy(";CopyFilesCopyFiles"), ";CopyFilesCopyFiles");
}

TEST(CopyFilesComment, PartialMatches) {
    // The second C ends the partial match and starts none.
    EXPECT_EQ(CommentCopy("CCopyFiles"), "CCopyFiles");
    EXPECT_EQ(CommentCopy("CopyCopyFiles"), "CopyCopyFiles");
    EXPECT_EQ(CommentCopy("a Copy"), "a Copy");  // held back, then written
    EXPECT_EQ(CommentCopy("CopyFile"), "CopyFile");
    std::string binary = "\0\r\n\x1a\xff"s;
    EXPECT_EQ(CommentCopy(binary), binary);
}

TEST(CopyFilesComment, AFailedWriteStopsTheCopy) {
    int writes = 0;
    ByteWriter failing = [&writes](const char *, DWORD) {
        return ++writes < 2;
    };
    CopyFilesCommenter commenter;
    EXPECT_TRUE(commenter.Feed('a', failing));
    EXPECT_FALSE(commenter.Feed('b', failing));
    CopyFilesCommenter held;
    EXPECT_TRUE(held.Feed('C', failing));
    EXPECT_FALSE(held.Finish(failing));
}

TEST(InfContent, KeyIsACaseSensitiveSubstringBeforeTheFirstNul) {
    std::string text = "[Strings]\r\n" + Key25 + "x\r\n";
    EXPECT_TRUE(InfTextHoldsKey(text.c_str(), Key25.c_str()));
    EXPECT_FALSE(InfTextHoldsKey(text.c_str(), Key28.c_str()));
    std::string hidden = "a\0"s + Key25;
    EXPECT_FALSE(InfTextHoldsKey(hidden.c_str(), Key25.c_str()));
    EXPECT_FALSE(
        InfTextHoldsKey("%pci\\ven_7a3c&dev_0525.devicedesc%=", Key25.c_str()));
}

TEST(Paths, ComposeAndNameParts) {
    char path[PATH_SIZE];
    ASSERT_TRUE(ComposePath(path, sizeof path, "C:\\WINDOWS", "INF"));
    EXPECT_STREQ(path, "C:\\WINDOWS\\INF");
    ASSERT_TRUE(ComposePath(path, sizeof path, "A:\\", "*.inf"));
    EXPECT_STREQ(path, "A:\\*.inf");
    ASSERT_TRUE(ComposePath(path, sizeof path, "", "HBX52XX.MPD"));
    EXPECT_STREQ(path, "HBX52XX.MPD");
    std::string longDir(255, 'd');
    EXPECT_FALSE(ComposePath(path, sizeof path, longDir.c_str(), "QVRIDE.DLL"));
    EXPECT_STREQ(path, "");
    ASSERT_TRUE(ComposePath(path, sizeof path, "C:\\X", "Y"));
    EXPECT_FALSE(AppendPathName(path, 8, "LONGNAME"));
    EXPECT_STREQ(path, "C:\\X\\Y");

    EXPECT_STREQ(FileNamePart("C:\\WINDOWS\\INF\\oem3.inf"), "oem3.inf");
    EXPECT_STREQ(FileNamePart("oem3.inf"), "oem3.inf");
}

TEST(DriverKeyName, OnlyOneKeyBelowTheClassRoot) {
    EXPECT_TRUE(NamesOneDriverKey("hdc\\0001"));
    EXPECT_FALSE(NamesOneDriverKey(""));
    EXPECT_FALSE(NamesOneDriverKey("hdc"));
    EXPECT_FALSE(NamesOneDriverKey("hdc\\"));
    EXPECT_FALSE(NamesOneDriverKey("\\0001"));
    EXPECT_FALSE(NamesOneDriverKey("hdc\\0001\\sub"));
}

TEST(CommandLine, SlashOSetsTheOverride) {
    struct Case {
        const char *line;
        int flag;
    } cases[] = {{"/O", 1},  {"/o", 1},  {"abc/Odef", 1}, {"//O", 0},
                 {"/", 0},   {"x /", 0}, {"/X /o", 1},    {"O o", 0},
                 {"/ O", 0}, {"", 0}};
    for (const Case &c : cases) {
        OverrideFlag = 0;
        ParseCommandLine(c.line);
        EXPECT_EQ(OverrideFlag, c.flag) << c.line;
    }
    OverrideFlag = 0;
}

}  // namespace
