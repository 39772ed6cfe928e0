// kernel32 files and directories: copy, move, delete, attributes, handles,
// times and the exact error codes programs test for.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "temp_machine.h"

namespace fs = std::filesystem;

namespace {

using Files = TempMachineTest;

void SetHostTime(const fs::path &path, time_t seconds) {
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

DWORD LastErrorAfter(BOOL result) {
    EXPECT_FALSE(result);
    return GetLastError();
}

TEST_F(Files, CopyFileAFailIfExistsAndOverwrite) {
    machine.WriteFile("A:\\QVRIDE.DLL", "new");
    machine.MakeDirectory("C:\\WINDOWS\\SYSTEM");
    ASSERT_TRUE(
        CopyFileA("A:\\qvride.dll", "C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", TRUE));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"), "new");

    machine.WriteFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL", "old");
    EXPECT_EQ(LastErrorAfter(CopyFileA(
                  "A:\\QVRIDE.DLL", "C:\\WINDOWS\\SYSTEM\\qvride.dll", TRUE)),
              ERROR_FILE_EXISTS);
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"), "old");
    ASSERT_TRUE(
        CopyFileA("A:\\QVRIDE.DLL", "C:\\WINDOWS\\SYSTEM\\qvride.dll", FALSE));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\SYSTEM\\QVRIDE.DLL"), "new");
    // Overwriting kept the existing name; no second spelling appeared.
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\SYSTEM\\qvride.dll"));
}

TEST_F(Files, CopyFileAErrors) {
    machine.WriteFile("C:\\SRC.TXT", "content");
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\NONE.TXT", "C:\\X.TXT", FALSE)),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\NODIR\\A", "C:\\X.TXT", FALSE)),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\SRC.TXT", "C:\\NODIR\\X", FALSE)),
              ERROR_PATH_NOT_FOUND);
    // Onto itself: refused, and the file keeps its content.
    EXPECT_FALSE(CopyFileA("C:\\SRC.TXT", "c:\\src.txt", FALSE));
    EXPECT_EQ(machine.ReadFile("C:\\SRC.TXT"), "content");
    // A read-only target is not overwritten.
    machine.WriteFile("C:\\RO.TXT", "keep");
    ASSERT_TRUE(SetFileAttributesA("C:\\RO.TXT", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\SRC.TXT", "C:\\RO.TXT", FALSE)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(machine.ReadFile("C:\\RO.TXT"), "keep");
}

TEST_F(Files, CopyFileACarriesLastWriteTimeAndReadOnly) {
    machine.WriteFile("A:\\HBX52XX.MPD", "mpd");
    SetHostTime(machine.HostPath("A:\\HBX52XX.MPD"), 843436800);  // 1996-09-23
    ASSERT_TRUE(SetFileAttributesA("A:\\HBX52XX.MPD", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(CopyFileA("A:\\HBX52XX.MPD", "C:\\HBX52XX.MPD", TRUE));
    struct stat st {};
    ASSERT_EQ(stat(machine.HostPath("C:\\HBX52XX.MPD").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 843436800);
    EXPECT_EQ(GetFileAttributesA("C:\\HBX52XX.MPD"),
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(Files, DeleteFileAErrors) {
    machine.WriteFile("C:\\WINDOWS\\A.TXT", "a");
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\WINDOWS\\NONE")),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\NODIR\\NONE")),
              ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\WINDOWS")), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(
        SetFileAttributesA("C:\\WINDOWS\\A.TXT",
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\WINDOWS\\a.txt")),
              ERROR_ACCESS_DENIED);
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\A.TXT"));
    ASSERT_TRUE(
        SetFileAttributesA("C:\\WINDOWS\\A.TXT", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\WINDOWS\\a.txt"));
    EXPECT_FALSE(machine.Exists("C:\\WINDOWS\\A.TXT"));
}

TEST_F(Files, MoveFileA) {
    machine.WriteFile("C:\\WINDOWS\\QVRWIN.$$$", "copy");
    machine.WriteFile("C:\\WINDOWS\\WIN.INI", "old");
    EXPECT_EQ(LastErrorAfter(
                  MoveFileA("C:\\WINDOWS\\qvrwin.$$$", "C:\\WINDOWS\\win.ini")),
              ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(DeleteFileA("C:\\WINDOWS\\WIN.INI"));
    ASSERT_TRUE(MoveFileA("C:\\WINDOWS\\qvrwin.$$$", "C:\\WINDOWS\\win.ini"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\win.ini"), "copy");
    // The same name in another case is a rename, not a clash.
    ASSERT_TRUE(MoveFileA("C:\\WINDOWS\\win.ini", "C:\\WINDOWS\\WIN.INI"));
    EXPECT_EQ(machine.ReadFile("C:\\WINDOWS\\WIN.INI"), "copy");
    // Directories move too, and to other drives files do.
    ASSERT_TRUE(MoveFileA("C:\\WINDOWS", "C:\\WIN95"));
    EXPECT_TRUE(machine.Exists("C:\\WIN95\\WIN.INI"));
    machine.MakeDirectory("D:\\");
    ASSERT_TRUE(MoveFileA("C:\\WIN95\\WIN.INI", "D:\\WIN.INI"));
    EXPECT_EQ(machine.ReadFile("D:\\WIN.INI"), "copy");
    EXPECT_EQ(LastErrorAfter(MoveFileA("C:\\NONE", "C:\\X")),
              ERROR_FILE_NOT_FOUND);
    // A drive's root stays where it is, whatever the target: it is in use.
    EXPECT_EQ(LastErrorAfter(MoveFileA("C:\\", "D:\\OLDC")),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastErrorAfter(MoveFileA("D:", "C:\\OLDD")),
              ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(machine.Exists("C:\\WIN95"));
    EXPECT_FALSE(machine.Exists("D:\\OLDC"));
}

TEST_F(Files, CreateFileADispositions) {
    machine.WriteFile("C:\\F.TXT", "abc");
    HANDLE h = CreateFileA("C:\\f.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_EXISTS));
    h = CreateFileA("C:\\NONE.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    h = CreateFileA("C:\\NODIR\\NONE.TXT", GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileA("C:\\", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));

    // CREATE_ALWAYS over an existing file empties it and says so.
    h = CreateFileA("C:\\F.TXT", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(LastErrorAfter(CloseHandle(h)), ERROR_INVALID_HANDLE);

    // A handle without access rights is an existence test.
    h = CreateFileA("C:\\F.TXT", 0, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char byte;
    DWORD got = 7;
    EXPECT_EQ(LastErrorAfter(ReadFile(h, &byte, 1, &got, nullptr)),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(got, 0u);
    CloseHandle(h);
}

TEST_F(Files, ReadOnlyFilesRefuseWriting) {
    machine.WriteFile("C:\\MSHDC.INF", "text");
    ASSERT_TRUE(SetFileAttributesA("C:\\MSHDC.INF", FILE_ATTRIBUTE_READONLY));
    for (DWORD disposition :
         {CREATE_ALWAYS, TRUNCATE_EXISTING, OPEN_EXISTING}) {
        EXPECT_EQ(CreateFileA("C:\\MSHDC.INF", GENERIC_WRITE, 0, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(machine.ReadFile("C:\\MSHDC.INF"), "text");
    HANDLE h = CreateFileA("C:\\MSHDC.INF", GENERIC_READ, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
}

TEST_F(Files, ReadWriteSeekSizeAndTime) {
    HANDLE h = CreateFileA("C:\\DATA.BIN", GENERIC_READ | GENERIC_WRITE, 0,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &done, nullptr));
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(GetFileSize(h, nullptr), 11u);
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_STREQ(buffer, "world");
    ASSERT_TRUE(ReadFile(h, buffer, 1, &done, nullptr));  // the end: TRUE, 0
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(FlushFileBuffers(h));
    ASSERT_TRUE(CloseHandle(h));

    SetHostTime(machine.HostPath("C:\\DATA.BIN"), 843436800);
    h = CreateFileA("C:\\DATA.BIN", GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILETIME written{};
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
    unsigned long long ticks =
        (static_cast<unsigned long long>(written.dwHighDateTime) << 32) |
        written.dwLowDateTime;
    EXPECT_EQ(ticks, 843436800ULL * 10000000 + 116444736000000000ULL);
    CloseHandle(h);
    EXPECT_EQ(LastErrorAfter(ReadFile(h, buffer, 1, &done, nullptr)),
              ERROR_INVALID_HANDLE);
}

TEST_F(Files, OpenFilesCannotBeDeletedOrRenamed) {
    machine.WriteFile("C:\\OPEN.TXT", "x");
    HANDLE h = CreateFileA("C:\\OPEN.TXT", GENERIC_READ, FILE_SHARE_READ,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\OPEN.TXT")),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastErrorAfter(MoveFileA("C:\\OPEN.TXT", "C:\\B.TXT")),
              ERROR_SHARING_VIOLATION);
    CloseHandle(h);
    EXPECT_TRUE(DeleteFileA("C:\\OPEN.TXT"));
}

TEST_F(Files, ShareModesOfOpenHandles) {
    machine.WriteFile("C:\\MSHDC.INF", "x");
    HANDLE reader = CreateFileA("C:\\MSHDC.INF", GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE second = CreateFileA("C:\\MSHDC.INF", GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    EXPECT_EQ(CreateFileA("C:\\MSHDC.INF", GENERIC_WRITE, 0, nullptr,
                          TRUNCATE_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(machine.ReadFile("C:\\MSHDC.INF"), "x");
    CloseHandle(reader);

    HANDLE writer = CreateFileA("C:\\MSHDC.INF", GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\MSHDC.INF", "C:\\B.INF", FALSE)),
              ERROR_SHARING_VIOLATION);
    CloseHandle(writer);

    // A file open for reading and writing that lets others read is copied,
    // with what was written through the handle.
    HANDLE editor =
        CreateFileA("C:\\MSHDC.INF", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(editor, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(editor, "new", 3, &written, nullptr));
    EXPECT_TRUE(CopyFileA("C:\\MSHDC.INF", "C:\\B.INF", FALSE));
    EXPECT_EQ(machine.ReadFile("C:\\B.INF"), "new");
    CloseHandle(editor);

    // A handle without access rights counts as a reader against the share
    // modes of other handles, and others against its own.
    HANDLE exclusive = CreateFileA("C:\\MSHDC.INF", GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("C:\\MSHDC.INF", 0, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(exclusive);
    HANDLE probe =
        CreateFileA("C:\\MSHDC.INF", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(probe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA("C:\\MSHDC.INF", GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    CloseHandle(probe);

    // A target open elsewhere is copied over when its handle lets others
    // write, and that handle then reads the new bytes.
    HANDLE shared = CreateFileA("C:\\B.INF", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(shared, INVALID_HANDLE_VALUE);
    char seen[8] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(shared, seen, 1, &read, nullptr));
    EXPECT_TRUE(CopyFileA("C:\\MSHDC.INF", "C:\\B.INF", FALSE));
    ASSERT_NE(SetFilePointer(shared, 0, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    ASSERT_TRUE(ReadFile(shared, seen, sizeof seen, &read, nullptr));
    EXPECT_EQ(std::string(seen, read), "new");
    CloseHandle(shared);
    HANDLE reading = CreateFileA("C:\\B.INF", GENERIC_READ, FILE_SHARE_READ,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\MSHDC.INF", "C:\\B.INF", FALSE)),
              ERROR_SHARING_VIOLATION);
    // A size or a position other than 0xFFFFFFFF leaves the last error.
    SetLastError(1234);
    EXPECT_EQ(GetFileSize(reading, nullptr), 3u);
    EXPECT_EQ(SetFilePointer(reading, 1, nullptr, FILE_BEGIN), 1u);
    EXPECT_EQ(GetLastError(), 1234u);
    CloseHandle(reading);
    // A trailing separator names a folder, never a file to create.
    EXPECT_EQ(CreateFileA("C:\\NEW.TXT\\", GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(machine.Exists("C:\\NEW.TXT"));
}

TEST_F(Files, DevicesTakeEveryWriteAndGiveNothing) {
    machine.WriteFile("C:\\SRC.TXT", "source");
    machine.MakeDirectory("C:\\DIR");
    for (const char *name : {"NUL", "C:\\DIR\\nul.txt", "LPT1", "con"}) {
        HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        DWORD done = 9;
        EXPECT_TRUE(WriteFile(h, "abc", 3, &done, nullptr));
        EXPECT_EQ(done, 3u);
        char buffer[4];
        EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
        EXPECT_EQ(done, 0u);
        EXPECT_TRUE(FlushFileBuffers(h));
        EXPECT_EQ(GetFileSize(h, nullptr), 0u);
        EXPECT_TRUE(CloseHandle(h));
        EXPECT_EQ(GetFileAttributesA(name), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    }
    EXPECT_TRUE(CopyFileA("C:\\SRC.TXT", "C:\\DIR\\NUL", FALSE));
    EXPECT_EQ(LastErrorAfter(DeleteFileA("NUL")), ERROR_INVALID_PARAMETER);
    // Nothing of them lies on the disk.
    EXPECT_FALSE(machine.Exists("C:\\NUL"));
    EXPECT_FALSE(machine.Exists("C:\\DIR\\NUL"));
    EXPECT_FALSE(machine.Exists("C:\\DIR\\nul.txt"));
}

TEST_F(Files, AFileNameEndingInASeparatorNamesNoFile) {
    machine.WriteFile("C:\\A.TXT", "a");
    machine.MakeDirectory("C:\\DIR");
    EXPECT_EQ(GetFileAttributesA("C:\\A.TXT\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA("C:\\DIR\\"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\A.TXT", "C:\\B.TXT\\", FALSE)),
              ERROR_INVALID_NAME);
    EXPECT_EQ(LastErrorAfter(MoveFileA("C:\\A.TXT", "C:\\B.TXT\\")),
              ERROR_DIRECTORY);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\A.TXT\\")), ERROR_INVALID_NAME);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\DIR\\")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(machine.ReadFile("C:\\A.TXT"), "a");
    EXPECT_FALSE(machine.Exists("C:\\B.TXT"));
}

TEST_F(Files, HiddenAndSystemAttributesStayWithTheFile) {
    machine.WriteFile("C:\\A.TXT", "a");
    ASSERT_TRUE(SetFileAttributesA(
        "C:\\A.TXT", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(GetFileAttributesA("C:\\A.TXT"),
              DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                    FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(CopyFileA("C:\\A.TXT", "C:\\B.TXT", FALSE));
    EXPECT_EQ(GetFileAttributesA("C:\\B.TXT"), GetFileAttributesA("C:\\A.TXT"));
    ASSERT_TRUE(SetFileAttributesA("C:\\A.TXT", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesA("C:\\A.TXT"), DWORD(FILE_ATTRIBUTE_ARCHIVE));
    HANDLE h = CreateFileA("C:\\H.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(GetFileAttributesA("C:\\H.TXT"),
              DWORD(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN));
    // A folder keeps neither.
    machine.MakeDirectory("C:\\DIR");
    ASSERT_TRUE(SetFileAttributesA("C:\\DIR", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesA("C:\\DIR"), DWORD(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(Files, AttributesOfFilesAndFolders) {
    machine.WriteFile("C:\\WINDOWS\\WIN.INI", "x");
    EXPECT_EQ(GetFileAttributesA("c:\\windows"),
              DWORD(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\WIN.INI"),
              DWORD(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS\\NONE"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(LastErrorAfter(SetFileAttributesA("C:\\NONE\\X", 0)),
              ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, DirectoryCalls) {
    EXPECT_TRUE(CreateDirectoryA("C:\\VELTRANE", nullptr));
    EXPECT_TRUE(machine.Exists("C:\\VELTRANE"));
    EXPECT_EQ(LastErrorAfter(CreateDirectoryA("c:\\veltrane\\", nullptr)),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(LastErrorAfter(CreateDirectoryA("C:\\A\\B", nullptr)),
              ERROR_PATH_NOT_FOUND);
    machine.WriteFile("C:\\VELTRANE\\PARLOD.EXE", "x");
    EXPECT_EQ(LastErrorAfter(RemoveDirectoryA("C:\\VELTRANE")),
              ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(LastErrorAfter(RemoveDirectoryA("C:\\VELTRANE\\PARLOD.EXE")),
              ERROR_DIRECTORY);
    EXPECT_EQ(LastErrorAfter(RemoveDirectoryA("C:\\NONE")),
              ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(DeleteFileA("C:\\VELTRANE\\PARLOD.EXE"));
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\veltrane"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\VELTRANE"));  // in use
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    EXPECT_TRUE(RemoveDirectoryA("C:\\VELTRANE"));
    EXPECT_FALSE(machine.Exists("C:\\VELTRANE"));
}

TEST_F(Files, TheRootAndTheEmptyNameAsDirectories) {
    EXPECT_EQ(LastErrorAfter(CreateDirectoryA("C:\\", nullptr)),
              ERROR_ALREADY_EXISTS);
    EXPECT_EQ(LastErrorAfter(RemoveDirectoryA("C:\\")),
              ERROR_SHARING_VIOLATION);
    EXPECT_EQ(LastErrorAfter(RemoveDirectoryA("")), ERROR_INVALID_NAME);
    EXPECT_EQ(LastErrorAfter(SetCurrentDirectoryA("")), ERROR_INVALID_NAME);
    EXPECT_EQ(LastErrorAfter(CreateDirectoryA("", nullptr)),
              ERROR_PATH_NOT_FOUND);
}

TEST_F(Files, DirectoryNamesFollowTheBufferRules) {
    char buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetSystemDirectoryA(buffer, 17), 18u);  // too small: size needed
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 16u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\TEMP\\");
    machine.MakeDirectory("C:\\WINDOWS");
    ASSERT_TRUE(SetCurrentDirectoryA("c:\\windows\\"));
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\windows");
    EXPECT_EQ(LastErrorAfter(SetCurrentDirectoryA("C:\\NONE")),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, InjectedFaultsFailWithoutDoingAnything) {
    machine.WriteFile("C:\\SRC.TXT", "x");
    w95::SetFaultPlan("CopyFileA@2=5,DeleteFileA=32,GetWindowsDirectoryA=8");
    EXPECT_TRUE(CopyFileA("C:\\SRC.TXT", "C:\\ONE.TXT", TRUE));
    EXPECT_EQ(LastErrorAfter(CopyFileA("C:\\SRC.TXT", "C:\\TWO.TXT", TRUE)),
              5u);
    EXPECT_FALSE(machine.Exists("C:\\TWO.TXT"));
    EXPECT_EQ(LastErrorAfter(DeleteFileA("C:\\SRC.TXT")), 32u);
    EXPECT_TRUE(machine.Exists("C:\\SRC.TXT"));
    char buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), 8u);
}

HANDLE OpenForAll(const char *name, DWORD disposition) {
    return CreateFileA(name, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Small reads and writes are buffered; every other view of the file still
// sees each byte as soon as WriteFile returns.
TEST_F(Files, BufferedBytesAreSeenThroughEveryView) {
    HANDLE writer = OpenForAll("C:\\OUT.INF", CREATE_NEW);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    for (char c : std::string("abc")) {
        ASSERT_TRUE(WriteFile(writer, &c, 1, &done, nullptr));
        EXPECT_EQ(done, 1u);
    }
    EXPECT_EQ(GetFileSize(writer, nullptr), 3u);

    HANDLE reader = OpenForAll("C:\\OUT.INF", OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    char c = 0;
    ASSERT_TRUE(ReadFile(reader, &c, 1, &done, nullptr));
    EXPECT_EQ(c, 'a');
    // The reader read ahead; a write through the other handle still shows.
    ASSERT_TRUE(WriteFile(writer, "d", 1, &done, nullptr));
    EXPECT_EQ(SetFilePointer(writer, 1, nullptr, FILE_BEGIN), 1u);
    ASSERT_TRUE(WriteFile(writer, "B", 1, &done, nullptr));
    char rest[8] = {};
    ASSERT_TRUE(ReadFile(reader, rest, sizeof rest, &done, nullptr));
    EXPECT_EQ(std::string(rest, done), "Bcd");
    // A write through the reader lands between the writer's bytes.
    EXPECT_EQ(SetFilePointer(reader, 0, nullptr, FILE_END), 4u);
    ASSERT_TRUE(WriteFile(reader, "e", 1, &done, nullptr));
    ASSERT_TRUE(WriteFile(writer, "C", 1, &done, nullptr));
    EXPECT_EQ(SetFilePointer(reader, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(ReadFile(reader, rest, sizeof rest, &done, nullptr));
    EXPECT_EQ(std::string(rest, done), "aBCde");
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA("C:\\OUT.INF", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(found.nFileSizeLow, 5u);
    FindClose(search);
    ASSERT_TRUE(CloseHandle(reader));
    ASSERT_TRUE(CloseHandle(writer));
    EXPECT_EQ(machine.ReadFile("C:\\OUT.INF"), "aBCde");

    // A large read after small ones, and one past the end.
    std::string big(200000, 'x');
    big[150000] = 'y';
    machine.WriteFile("C:\\BIG.BIN", big);
    HANDLE h = OpenForAll("C:\\BIG.BIN", OPEN_EXISTING);
    ASSERT_TRUE(ReadFile(h, &c, 1, &done, nullptr));
    std::string got(big.size(), '\0');
    ASSERT_TRUE(ReadFile(h, got.data(), DWORD(got.size()), &done, nullptr));
    EXPECT_EQ(done, big.size() - 1);
    EXPECT_EQ(got.substr(0, done), big.substr(1));
    ASSERT_TRUE(ReadFile(h, &c, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    CloseHandle(h);
}

// Handles are looked up by their value: one never given, one closed or one
// between two given ones reaches no file, and a closed one is not reused.
TEST_F(Files, OnlyGivenOpenHandlesReachTheirFiles) {
    machine.WriteFile("C:\\A.TXT", "a");
    machine.WriteFile("C:\\B.TXT", "b");
    machine.WriteFile("C:\\C.TXT", "c");
    HANDLE a = OpenForAll("C:\\A.TXT", OPEN_EXISTING);
    HANDLE b = OpenForAll("C:\\B.TXT", OPEN_EXISTING);
    HANDLE c = OpenForAll("C:\\C.TXT", OPEN_EXISTING);
    ASSERT_TRUE(CloseHandle(b));
    HANDLE d = OpenForAll("C:\\B.TXT", OPEN_EXISTING);
    EXPECT_NE(d, b);
    auto shifted = [](HANDLE h, std::intptr_t by) {
        return reinterpret_cast<HANDLE>(reinterpret_cast<std::intptr_t>(h) +
                                        by);
    };
    char byte = 0;
    DWORD done = 7;
    for (HANDLE bad :
         {b, shifted(a, 1), shifted(a, 2), shifted(d, 4), shifted(d, 4096),
          HANDLE(nullptr), HANDLE(0x10), INVALID_HANDLE_VALUE}) {
        EXPECT_EQ(LastErrorAfter(ReadFile(bad, &byte, 1, &done, nullptr)),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(done, 0u);
        EXPECT_EQ(LastErrorAfter(WriteFile(bad, "x", 1, &done, nullptr)),
                  ERROR_INVALID_HANDLE);
        EXPECT_EQ(LastErrorAfter(CloseHandle(bad)), ERROR_INVALID_HANDLE);
    }
    for (auto [h, want] : {std::pair{a, 'a'}, {c, 'c'}, {d, 'b'}}) {
        ASSERT_TRUE(ReadFile(h, &byte, 1, &done, nullptr));
        EXPECT_EQ(byte, want);
        EXPECT_TRUE(CloseHandle(h));
    }
}

// Handles on one file see each other's bytes however many come and go,
// and a file whose other handles are all closed is read on its own.
TEST_F(Files, HandlesOnOneFileStayInStepAsOthersOpenAndClose) {
    HANDLE writer = OpenForAll("C:\\LOG.TXT", CREATE_NEW);
    HANDLE other = OpenForAll("C:\\OTHER.TXT", CREATE_NEW);
    HANDLE first = OpenForAll("C:\\LOG.TXT", OPEN_EXISTING);
    DWORD done = 0;
    char got[8] = {};
    ASSERT_TRUE(WriteFile(writer, "ab", 2, &done, nullptr));
    ASSERT_TRUE(WriteFile(other, "zz", 2, &done, nullptr));
    ASSERT_TRUE(ReadFile(first, got, 1, &done, nullptr));
    EXPECT_EQ(std::string(got, done), "a");
    ASSERT_TRUE(CloseHandle(first));
    // Alone again: its write-behind stays its own until something looks.
    ASSERT_TRUE(WriteFile(writer, "c", 1, &done, nullptr));
    HANDLE second = OpenForAll("C:\\LOG.TXT", OPEN_EXISTING);
    HANDLE third = OpenForAll("C:\\log.txt", OPEN_EXISTING);
    ASSERT_TRUE(ReadFile(second, got, sizeof got, &done, nullptr));
    EXPECT_EQ(std::string(got, done), "abc");
    ASSERT_TRUE(CloseHandle(second));
    ASSERT_TRUE(WriteFile(writer, "d", 1, &done, nullptr));
    ASSERT_TRUE(ReadFile(third, got, sizeof got, &done, nullptr));
    EXPECT_EQ(std::string(got, done), "abcd");
    ASSERT_TRUE(CloseHandle(writer));
    ASSERT_TRUE(WriteFile(third, "e", 1, &done, nullptr));
    EXPECT_EQ(SetFilePointer(third, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(ReadFile(third, got, sizeof got, &done, nullptr));
    EXPECT_EQ(std::string(got, done), "abcde");
    ASSERT_TRUE(CloseHandle(third));
    ASSERT_TRUE(CloseHandle(other));
    EXPECT_EQ(machine.ReadFile("C:\\LOG.TXT"), "abcde");
    EXPECT_EQ(machine.ReadFile("C:\\OTHER.TXT"), "zz");
}

TEST_F(Files, FaultsCountEveryBufferedCall) {
    machine.WriteFile("C:\\IN.TXT", "xyz");
    w95::SetFaultPlan("ReadFile@3=30,WriteFile@2=112");
    HANDLE in = OpenForAll("C:\\IN.TXT", OPEN_EXISTING);
    HANDLE out = OpenForAll("C:\\OUT.TXT", CREATE_NEW);
    char c = 0;
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(in, &c, 1, &done, nullptr));
    ASSERT_TRUE(WriteFile(out, &c, 1, &done, nullptr));
    ASSERT_TRUE(ReadFile(in, &c, 1, &done, nullptr));
    EXPECT_EQ(LastErrorAfter(WriteFile(out, &c, 1, &done, nullptr)), 112u);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(LastErrorAfter(ReadFile(in, &c, 1, &done, nullptr)), 30u);
    ASSERT_TRUE(ReadFile(in, &c, 1, &done, nullptr));
    EXPECT_EQ(c, 'z');  // the failed call moved nothing
    CloseHandle(in);
    CloseHandle(out);
    EXPECT_EQ(machine.ReadFile("C:\\OUT.TXT"), "x");

    // Calls that the plan does not name count too: a plan set anew counts
    // from its own start.
    w95::SetFaultPlan("GetFileSize@2=6");
    in = OpenForAll("C:\\IN.TXT", OPEN_EXISTING);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(ReadFile(in, &c, 1, &done, nullptr));
    EXPECT_EQ(GetFileSize(in, nullptr), 3u);
    EXPECT_EQ(GetFileSize(in, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), 6u);
    w95::SetFaultPlan("ReadFile@2=30");
    ASSERT_TRUE(ReadFile(in, &c, 1, &done, nullptr));
    EXPECT_EQ(LastErrorAfter(ReadFile(in, &c, 1, &done, nullptr)), 30u);
    CloseHandle(in);
}

// An injected crash ends the process at once; what WriteFile accepted
// before it is in the file, as in the system's cache on Windows.
TEST_F(Files, ACrashKeepsWhatWasWritten) {
    EXPECT_EXIT(
        {
            w95::SetFaultPlan("WriteFile@3=crash");
            HANDLE h = OpenForAll("C:\\LOG.TXT", CREATE_NEW);
            DWORD done = 0;
            WriteFile(h, "one ", 4, &done, nullptr);
            WriteFile(h, "two", 3, &done, nullptr);
            WriteFile(h, "three", 5, &done, nullptr);
        },
        ::testing::ExitedWithCode(128 + 9), "crash injected");
    EXPECT_EQ(machine.ReadFile("C:\\LOG.TXT"), "one two");
}

}  // namespace
