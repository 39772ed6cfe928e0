// FindFirstFileA / FindNextFileA: patterns, order, "." and "..", and the
// codes for no match and for the end of a search.
#include <string>
#include <vector>

#include "temp_machine.h"

namespace {

class Find : public TempMachineTest {
  protected:
    // The names a search returns, in order, or "error N" when it fails.
    std::vector<std::string> Names(const char *pattern) {
        WIN32_FIND_DATAA data;
        HANDLE h = FindFirstFileA(pattern, &data);
        if (h == INVALID_HANDLE_VALUE) {
            return {"error " + std::to_string(GetLastError())};
        }
        std::vector<std::string> names;
        do {
            names.push_back(data.cFileName);
        } while (FindNextFileA(h, &data));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
        EXPECT_TRUE(FindClose(h));
        return names;
    }
};

using Texts = std::vector<std::string>;

TEST_F(Find, PatternsMatchWithoutRegardToCaseInNameOrder) {
    for (const char *name : {"oem1.inf", "OEM0.INF", "b.INF", "a.inf",
                             "mshdc.inf", "readme", "x.txt", "oem.inf.bak"}) {
        machine.WriteFile(std::string("C:\\WINDOWS\\INF\\") + name, "x");
    }
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\*.inf"),
              (Texts{"a.inf", "b.INF", "mshdc.inf", "OEM0.INF", "oem1.inf"}));
    EXPECT_EQ(Names("c:\\windows\\inf\\OEM*.INF"),
              (Texts{"OEM0.INF", "oem1.inf"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\MSHDC.INF"), (Texts{"mshdc.inf"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\*.*"),
              (Texts{".", "..", "a.inf", "b.INF", "mshdc.inf", "oem.inf.bak",
                     "OEM0.INF", "oem1.inf", "readme", "x.txt"}));
}

TEST_F(Find, RootHasNoDotEntries) {
    machine.WriteFile("C:\\AUTOEXEC.BAT", "x");
    machine.MakeDirectory("C:\\WINDOWS");
    EXPECT_EQ(Names("C:\\*"), (Texts{"AUTOEXEC.BAT", "WINDOWS"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\*"), (Texts{".", ".."}));
}

TEST_F(Find, NoMatchAndBadFolders) {
    machine.WriteFile("C:\\WINDOWS\\INF\\a.txt", "x");
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\oem*.inf"), (Texts{"error 2"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\NONE\\*.inf"), (Texts{"error 3"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\a.txt\\*"), (Texts{"error 123"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\INF\\a.txt\\SUB\\*"), (Texts{"error 3"}));
}

TEST_F(Find, LongNamesHaveShortNamesThatPatternsMatchToo) {
    for (const char *name : {"Long File Name.text", "Long File Names.text",
                             "a.txt", "SHORT.INF", "x.infx"})
        machine.WriteFile(std::string("C:\\D\\") + name, "x");
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\D\\*", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do {
        found.push_back(std::string(data.cFileName) + "=" +
                        data.cAlternateFileName);
    } while (FindNextFileA(h, &data));
    FindClose(h);
    EXPECT_EQ(found,
              (Texts{".=", "..=", "a.txt=", "Long File Name.text=LONGFI~1.TEX",
                     "Long File Names.text=LONGFI~2.TEX",
                     "SHORT.INF=", "x.infx=X~1.INF"}));
    // "*.tex" and "*.inf" reach long names through their short ones.
    EXPECT_EQ(Names("C:\\D\\*.tex"),
              (Texts{"Long File Name.text", "Long File Names.text"}));
    EXPECT_EQ(Names("C:\\D\\*.inf"), (Texts{"SHORT.INF", "x.infx"}));
    EXPECT_EQ(Names("C:\\D\\longfi~2.tex"), (Texts{"Long File Names.text"}));
}

TEST_F(Find, DeviceNamesFindTheDeviceInAnyFolder) {
    machine.MakeDirectory("C:\\WINDOWS");
    EXPECT_EQ(Names("C:\\NUL"), (Texts{"NUL"}));
    EXPECT_EQ(Names("lpt1"), (Texts{"lpt1"}));
    EXPECT_EQ(Names("C:\\WINDOWS\\Con.txt"), (Texts{"Con"}));
    EXPECT_EQ(Names("C:\\NONE\\NUL"), (Texts{"error 3"}));
    EXPECT_EQ(Names("C:\\NULL"), (Texts{"error 2"}));
    EXPECT_EQ(Names("C:\\COM0"), (Texts{"error 2"}));
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\AUX", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_DEVICE));
    EXPECT_EQ(data.nFileSizeLow, 0u);
    FindClose(h);
}

// A search handle and a file handle never share a value, however many files
// a run opens before it searches.
TEST_F(Find, SearchHandlesStayApartFromFileHandles) {
    machine.WriteFile("C:\\a.txt", "x");
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 5000; ++i) {
        HANDLE file = CreateFileA("C:\\a.txt", GENERIC_READ, FILE_SHARE_READ,
                                  NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        ASSERT_NE(file, search) << "after " << i << " files";
        ASSERT_TRUE(CloseHandle(file));
    }
    EXPECT_TRUE(FindClose(search));
}

TEST_F(Find, FindDataDescribesTheFile) {
    machine.WriteFile("C:\\DIR\\File.Dat", "12345");
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\dir\\file.dat", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "File.Dat");
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_EQ(data.dwFileAttributes, DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
