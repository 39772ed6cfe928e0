// Windows paths to host paths: case, relative forms, drives, "..", links and
// names that must not reach outside the machine.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "temp_machine.h"
#include "file_names.h"
#include "find_pattern.h"
#include "path_resolve.h"

namespace fs = std::filesystem;

namespace {

class Paths : public TempMachineTest {
  protected:
    // The host path, or "error N".
    std::string Resolve(const char *windowsPath) {
        DWORD error = 0;
        auto path = w95::ResolvePath(windowsPath, &error);
        if (!path) return "error " + std::to_string(error);
        return path->string();
    }
};

TEST_F(Paths, ExistingNamesMatchWithoutRegardToCaseNewOnesKeepTheirCase) {
    machine.WriteFile("C:\\Windows\\Win.ini", "x");
    EXPECT_EQ(Resolve("c:\\WINDOWS\\win.INI"), Host("C:\\Windows\\Win.ini"));
    EXPECT_EQ(Resolve("C:/windows/NewFile.Txt"),
              Host("C:\\Windows\\NewFile.Txt"));
    EXPECT_EQ(Resolve("C:\\"), Host("C:\\"));
    // Trailing dots and blanks are not part of a name.
    EXPECT_EQ(Resolve("C:\\WINDOWS.\\WIN.INI "), Host("C:\\Windows\\Win.ini"));
}

TEST_F(Paths, ExactSpellingWinsWhenTheHostHasSeveral) {
    machine.WriteFile("C:\\a.txt", "1");
    machine.WriteFile("C:\\A.TXT", "2");
    EXPECT_EQ(Resolve("C:\\A.TXT"), Host("C:\\A.TXT"));
    EXPECT_EQ(Resolve("C:\\a.txt"), Host("C:\\a.txt"));
}

// Without an exact spelling, the first match in host byte order is taken,
// and a name changed through the emulation is found by its new spelling.
TEST_F(Paths, CaseVariantsAndRenamedNames) {
    machine.WriteFile("C:\\b.txt", "1");
    machine.WriteFile("C:\\B.txt", "2");
    machine.WriteFile("C:\\b.TXT", "3");
    EXPECT_EQ(Resolve("C:\\B.TXT"), Host("C:\\B.txt"));
    machine.WriteFile("C:\\Dir\\F.TXT", "f");
    EXPECT_EQ(Resolve("C:\\DIR\\f.txt"), Host("C:\\Dir\\F.TXT"));
    ASSERT_TRUE(MoveFileA("C:\\dir", "C:\\Other"));
    EXPECT_EQ(Resolve("C:\\DIR\\f.txt"), "error 3");
    EXPECT_EQ(Resolve("C:\\other\\f.txt"), Host("C:\\Other\\F.TXT"));
    ASSERT_TRUE(MoveFileA("C:\\OTHER\\F.TXT", "C:\\OTHER\\f.txt"));
    EXPECT_EQ(Resolve("C:\\OTHER\\F.TXT"), Host("C:\\Other\\f.txt"));
}

TEST_F(Paths, MissingFoldersAndDrives) {
    machine.MakeDirectory("C:\\WINDOWS");
    EXPECT_EQ(Resolve("C:\\NOPE\\WIN.INI"), "error 3");
    EXPECT_EQ(Resolve("Q:\\WIN.INI"), "error 3");
    machine.WriteFile("C:\\WINDOWS\\WIN.INI", "x");
    EXPECT_EQ(Resolve("C:\\WINDOWS\\WIN.INI\\X"), "error 3");  // a file
}

TEST_F(Paths, RelativeFormsUseTheCurrentDirectory) {
    machine.MakeDirectory("C:\\WINDOWS\\INF");
    machine.MakeDirectory("A:\\DISK1");
    w95::TheMachine().currentDirectory = "C:\\WINDOWS";
    EXPECT_EQ(Resolve("INF\\OEM0.INF"), Host("C:\\WINDOWS\\INF\\OEM0.INF"));
    EXPECT_EQ(Resolve(".\\INF\\..\\WIN.INI"), Host("C:\\WINDOWS\\WIN.INI"));
    EXPECT_EQ(Resolve("\\AUTOEXEC.BAT"), Host("C:\\AUTOEXEC.BAT"));
    EXPECT_EQ(Resolve("C:INF"), Host("C:\\WINDOWS\\INF"));
    EXPECT_EQ(Resolve("A:DISK1"), Host("A:\\DISK1"));  // root of another drive
    w95::TheMachine().currentDirectory = "A:\\DISK1";
    EXPECT_EQ(Resolve("SETUP.EXE"), Host("A:\\DISK1\\SETUP.EXE"));
    EXPECT_EQ(w95::FullWindowsPath("setup.exe"), "A:\\DISK1\\setup.exe");
    EXPECT_EQ(w95::FullWindowsPath("c:\\windows\\.\\inf\\..\\..\\x"), "C:\\x");
}

TEST_F(Paths, NothingLeadsOutOfTheMachine) {
    machine.MakeDirectory("C:\\WINDOWS");
    // ".." stops at the drive root, also for relative paths.
    EXPECT_EQ(Resolve("C:\\..\\..\\..\\WINDOWS"), Host("C:\\WINDOWS"));
    w95::TheMachine().currentDirectory = "C:\\WINDOWS";
    EXPECT_EQ(Resolve("..\\..\\..\\..\\drive_c"), Host("C:\\drive_c"));
    // A host absolute path is a path on the current drive.
    EXPECT_EQ(Resolve("/etc/passwd"), "error 3");
    EXPECT_EQ(Resolve("/WINDOWS"), Host("C:\\WINDOWS"));
    // "\\server\share" names no place here.
    EXPECT_EQ(Resolve("\\\\server\\share\\x"), "error 161");
}

TEST_F(Paths, SymbolicLinksAreFollowedOnlyIntoTheDrives) {
    machine.WriteFile("D:\\DATA\\F.TXT", "d");
    fs::create_directory_symlink(machine.HostPath("D:\\DATA"),
                                 machine.HostPath("C:\\INSIDE"));
    fs::create_directory_symlink("/tmp", machine.HostPath("C:\\OUTSIDE"));
    fs::create_symlink("/etc/passwd", machine.HostPath("C:\\PASSWD"));
    fs::create_symlink("/nonexistent/new", machine.HostPath("C:\\DANGLING"));
    EXPECT_EQ(Resolve("C:\\inside\\f.txt"), Host("C:\\INSIDE\\F.TXT"));
    EXPECT_EQ(Resolve("C:\\OUTSIDE\\X"), "error 3");
    EXPECT_EQ(Resolve("C:\\OUTSIDE"), "error 5");
    EXPECT_EQ(Resolve("C:\\PASSWD"), "error 5");
    EXPECT_EQ(Resolve("C:\\DANGLING"), "error 5");
    EXPECT_EQ(GetFileAttributesA("C:\\PASSWD"), INVALID_FILE_ATTRIBUTES);
    EXPECT_FALSE(CopyFileA("C:\\PASSWD", "C:\\COPY", FALSE));
    EXPECT_FALSE(machine.Exists("C:\\COPY"));
    // A link inside the machine to a file is no folder to go through.
    fs::create_symlink(machine.HostPath("D:\\DATA\\F.TXT"),
                       machine.HostPath("C:\\FILE"));
    EXPECT_EQ(Resolve("C:\\file"), Host("C:\\FILE"));
    EXPECT_EQ(Resolve("C:\\file\\x"), "error 3");
    // A drive folder may be a link to another drive's folder.
    fs::create_directory_symlink(machine.HostPath("D:\\"),
                                 machine.HostPath("F:\\"));
    EXPECT_EQ(Resolve("F:\\data\\f.txt"), Host("F:\\DATA\\F.TXT"));
    // A drive folder that is itself a link out of the machine is refused.
    fs::create_directory_symlink("/", machine.HostPath("E:\\"));
    EXPECT_EQ(Resolve("E:\\etc\\passwd"), "error 3");
    // The machine's own files lie in no drive: its registry and its lock
    // are out of reach.
    fs::create_symlink(machine.Directory() / "registry.reg",
                       machine.HostPath("C:\\REG"));
    fs::create_directory_symlink(machine.Directory(),
                                 machine.HostPath("C:\\MACHINE"));
    EXPECT_EQ(Resolve("C:\\REG"), "error 5");
    EXPECT_EQ(Resolve("C:\\MACHINE\\registry.reg"), "error 3");
}

TEST_F(Paths, LongAndOddNamesFailCleanly) {
    std::string longName = "C:\\" + std::string(300, 'a');
    EXPECT_EQ(Resolve(longName.c_str()), "error 206");
    // Short text, but too long once the current directory is put in front.
    std::string deep = "C:\\" + std::string(200, 'd');
    machine.MakeDirectory(deep);
    w95::TheMachine().currentDirectory = deep;
    EXPECT_EQ(Resolve(std::string(70, 'f').c_str()), "error 206");
    EXPECT_EQ(Resolve("C:\\a<b"), "error 123");
    EXPECT_EQ(Resolve("C:\\*.inf"), "error 123");
    EXPECT_EQ(Resolve("C:\\a\x01"), "error 123");
    EXPECT_EQ(Resolve("1:\\x"), "error 123");
    EXPECT_EQ(Resolve(""), "error 3");
    EXPECT_EQ(Resolve(nullptr), "error 3");
}

TEST_F(Paths, AnsiNamesAreUtf8OnTheHost) {
    machine.WriteFile("C:\\Caf\xc3\xa9.txt", "x");  // UTF-8 on the host
    EXPECT_EQ(Resolve("C:\\CAF\xc9.TXT"), Host("C:\\Caf\xc3\xa9.txt"));
    EXPECT_EQ(w95::AnsiToHost("\x80"), "\xe2\x82\xac");
    EXPECT_EQ(w95::HostToAnsi("\xe2\x82\xac"),
              std::optional<std::string>("\x80"));
    EXPECT_EQ(w95::HostToAnsi("\xff\xfe"), std::nullopt);  // not UTF-8
}

TEST(FindPattern, MatchesAsWindowsDoesOnLongNames) {
    struct Case {
        const char *pattern;
        const char *name;
        bool match;
    } cases[] = {
        {"*.inf", "a.inf", true},
        {"*.inf", "b.INF", true},
        {"*.inf", "a.inf.bak", false},
        {"*.inf", "inf", false},
        {"*.*", "README", true},
        {"*.*", "a.b.c", true},
        {"*", "x", true},
        {"oem*.inf", "OEM12.INF", true},
        {"oem*.inf", "oem.inf", true},
        {"oem*.inf", "xoem1.inf", false},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"abc?", "abc", true},
        {"a?.txt", "a.txt", true},
        {"???", "a.b", false},
        {"FOO.*", "foo", true},
        {"*.", "README", true},
        {"*.", "a.txt", false},
        {"mshdc.inf", "MSHDC.INF", true},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(w95::MatchesPattern(c.pattern, c.name), c.match)
            << c.pattern << " / " << c.name;
    }
    // No exponential blow-up on many stars.
    std::string stars(100, '*');
    EXPECT_FALSE(w95::MatchesPattern(stars + "b", std::string(250, 'a')));
}

}  // namespace
