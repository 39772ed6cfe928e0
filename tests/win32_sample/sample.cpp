// Walks a registry tree, copies files and shows a message box, logging every
// call's result and error code to C:\SAMPLE.LOG, so that a run on Windows
// (or Wine) and a run on the emulated machine can be compared line by line.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;

void Log(const char *format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (n < 0) return;
    if (n > static_cast<int>(sizeof line) - 3) n = sizeof line - 3;
    line[n++] = '\r';
    line[n++] = '\n';
    DWORD written;
    WriteFile(logFile, line, static_cast<DWORD>(n), &written, nullptr);
}

void LogResult(const char *what, long result) {
    Log("%s -> %ld (error %lu)", what, result,
        static_cast<unsigned long>(GetLastError()));
}

void WalkKey(HKEY key, const char *path, int depth) {
    char name[256];
    for (DWORD i = 0;; ++i) {
        LONG rc = RegEnumKeyA(key, i, name, sizeof name);
        if (rc != ERROR_SUCCESS) {
            Log("enum %s #%lu -> %ld", path, static_cast<unsigned long>(i),
                static_cast<long>(rc));
            break;
        }
        char child[1024];
        int length = std::snprintf(child, sizeof child, "%s\\%s", path, name);
        if (length < 0 || length >= static_cast<int>(sizeof child)) {
            Log("key path too long below %s", path);
            continue;
        }
        Log("key %s", child);
        HKEY sub;
        if (depth > 0 && RegOpenKeyA(key, name, &sub) == ERROR_SUCCESS) {
            WalkKey(sub, child, depth - 1);
            RegCloseKey(sub);
        }
    }
}

void RegistryChecks() {
    HKEY key;
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\KitSample", 0,
                              nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition);
    Log("RegCreateKeyExA -> %ld disposition %lu", static_cast<long>(rc),
        static_cast<unsigned long>(disposition));
    if (rc != ERROR_SUCCESS) return;

    const char text[] = "Hello \"kit\" C:\\path";
    const DWORD number = 0x12345678;
    const BYTE bytes[3] = {1, 0, 0xFF};
    Log("RegSetValueExA sz -> %ld",
        static_cast<long>(RegSetValueExA(key, "Text", 0, REG_SZ,
                                         reinterpret_cast<const BYTE *>(text),
                                         sizeof text)));
    Log("RegSetValueExA dword -> %ld",
        static_cast<long>(RegSetValueExA(
            key, "Number", 0, REG_DWORD,
            reinterpret_cast<const BYTE *>(&number), sizeof number)));
    Log("RegSetValueExA binary -> %ld",
        static_cast<long>(
            RegSetValueExA(key, "Bytes", 0, REG_BINARY, bytes, sizeof bytes)));

    char small[4];
    DWORD size = sizeof small, type = 0;
    rc = RegQueryValueExA(key, "Text", nullptr, &type,
                          reinterpret_cast<BYTE *>(small), &size);
    Log("RegQueryValueExA short -> %ld type %lu size %lu",
        static_cast<long>(rc), static_cast<unsigned long>(type),
        static_cast<unsigned long>(size));
    char whole[64];
    size = sizeof whole;
    rc = RegQueryValueExA(key, "TEXT", nullptr, &type,
                          reinterpret_cast<BYTE *>(whole), &size);
    Log("RegQueryValueExA -> %ld size %lu '%s'", static_cast<long>(rc),
        static_cast<unsigned long>(size), rc == ERROR_SUCCESS ? whole : "");
    size = sizeof whole;
    rc = RegQueryValueExA(key, "Missing", nullptr, &type,
                          reinterpret_cast<BYTE *>(whole), &size);
    Log("RegQueryValueExA missing -> %ld", static_cast<long>(rc));

    HKEY child;
    RegCreateKeyA(key, "First", &child);
    RegCloseKey(child);
    RegCreateKeyA(key, "Second", &child);
    RegCloseKey(child);
    RegCreateKeyA(key, "Third", &child);
    RegCloseKey(child);
    Log("RegDeleteKeyA First -> %ld",
        static_cast<long>(RegDeleteKeyA(key, "First")));
    WalkKey(key, "KitSample", 1);
    RegCloseKey(key);

    HKEY enumKey;
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_ALL_ACCESS, &enumKey);
    Log("RegOpenKeyExA Enum -> %ld", static_cast<long>(rc));
    if (rc == ERROR_SUCCESS) {
        WalkKey(enumKey, "Enum", 2);
        RegCloseKey(enumKey);
    }
}

void FileChecks() {
    LogResult("CreateDirectoryA", CreateDirectoryA("C:\\KITTEST", nullptr));
    LogResult("CreateDirectoryA again",
              CreateDirectoryA("C:\\kittest", nullptr));
    HANDLE file = CreateFileA("C:\\KITTEST\\One.txt", GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LogResult("CreateFileA", file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "one\r\n", 5, &written, nullptr);
    CloseHandle(file);
    LogResult("CopyFileA",
              CopyFileA("C:\\KITTEST\\one.TXT", "C:\\KITTEST\\Two.txt", TRUE));
    LogResult("CopyFileA exists",
              CopyFileA("C:\\KITTEST\\One.txt", "C:\\KITTEST\\TWO.TXT", TRUE));
    LogResult("CopyFileA missing", CopyFileA("C:\\KITTEST\\None.txt",
                                             "C:\\KITTEST\\Three.txt", FALSE));
    LogResult("MoveFileA exists",
              MoveFileA("C:\\KITTEST\\One.txt", "C:\\KITTEST\\Two.txt"));
    LogResult("DeleteFileA missing", DeleteFileA("C:\\KITTEST\\None.txt"));
    LogResult("DeleteFileA no folder", DeleteFileA("C:\\NOFOLDER\\x.txt"));

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("C:\\KITTEST\\*.TXT", &found);
    LogResult("FindFirstFileA", search != INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            Log("found %s size %lu", found.cFileName,
                static_cast<unsigned long>(found.nFileSizeLow));
        } while (FindNextFileA(search, &found));
        LogResult("FindNextFileA end", 0);
        FindClose(search);
    }
    search = FindFirstFileA("C:\\KITTEST\\*.inf", &found);
    LogResult("FindFirstFileA none", search != INVALID_HANDLE_VALUE);

    char directory[MAX_PATH];
    GetWindowsDirectoryA(directory, sizeof directory);
    Log("windows %s", directory);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    logFile = CreateFileA("C:\\SAMPLE.LOG", GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (logFile == INVALID_HANDLE_VALUE) return 2;
    Log("command line '%s'", commandLine);
    DWORD version = GetVersion();
    Log("version high bit %d major %d", (version & 0x80000000) != 0,
        LOBYTE(LOWORD(version)));
    RegistryChecks();
    FileChecks();
    int answer = MessageBoxA(nullptr, "The sample has run.", "Kit sample",
                             MB_OKCANCEL | MB_ICONINFORMATION);
    Log("MessageBoxA -> %d", answer);
    CloseHandle(logFile);
    return 0;
}
