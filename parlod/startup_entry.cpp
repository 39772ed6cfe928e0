// Removal of parlod's start-up entry from win.ini: win.ini is copied line by
// line into qvrwin.$$$ without the entry, and the copy then takes its place.
#include "startup_entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "parlod_state.h"
#include "text_stream.h"

namespace {

// The Windows directory and a name of up to 11 characters fit 261 bytes
// only when the directory has at most 249 characters.
constexpr UINT PATH_BUFFER_SIZE = 261;
constexpr UINT LONGEST_WINDOWS_DIRECTORY = 249;

const char ERROR_CAPTION[] = "Error";

void ShowCleanUpError(const char *text) {
    MessageBoxA(NULL, text, ERROR_CAPTION, MB_ICONERROR);
}

// "Can't restore win.ini -- Error code = N." for a copy that could not be
// made, which leaves win.ini as it was, start-up entry included.
void ShowCleanUpFailure(DWORD error) {
    std::snprintf(TextBuffer, TEXT_SIZE,
                  "Can't restore win.ini -- Error code = %lu.",
                  (unsigned long)error);
    ShowCleanUpError(TextBuffer);
}

// Appends a backslash, unless the directory in `path` ends in one, and name.
void AppendName(char *path, const char *name) {
    int length = lstrlenA(path);
    if (length == 0 || path[length - 1] != '\\') lstrcatA(path, "\\");
    lstrcatA(path, name);
}

// Takes the first occurrence of StartupEntry out of TextBuffer.
void CutEntry(int entryLength) {
    char *found = std::strstr(TextBuffer, StartupEntry);
    if (found == NULL || entryLength == 0) return;
    std::memmove(found, found + entryLength,
                 std::strlen(found + entryLength) + 1);
}

// Copies win.ini into the temporary file without the entry. 0 when the whole
// copy was written and closed; otherwise the error that ended it. When
// win.ini itself cannot be opened there is nothing to clean: *noWinIni.
DWORD CopyWithoutEntry(const char *winIniPath, const char *tempPath,
                       bool *noWinIni) {
    *noWinIni = false;
    TextStream *source = OpenTextStream(winIniPath, TEXT_READ);
    if (source == NULL) {
        *noWinIni = true;
        return GetLastError();
    }
    TextStream *copy = OpenTextStream(tempPath, TEXT_WRITE);
    if (copy == NULL) {
        DWORD error = GetLastError();
        CloseTextStream(source);
        return error == 0 ? DWORD(ERROR_CANNOT_MAKE) : error;
    }
    int entryLength = lstrlenA(StartupEntry);
    bool failed = false;
    while (ReadTextLine(TextBuffer, TEXT_SIZE, source) != NULL) {
        CutEntry(entryLength);
        if (!WriteText(copy, TextBuffer)) {
            failed = true;
            break;
        }
    }
    if (StreamFailed(source)) failed = true;
    DWORD error = failed ? GetLastError() : 0;
    CloseTextStream(source);
    if (!CloseTextStream(copy) && !failed) {
        failed = true;
        error = GetLastError();
    }
    if (!failed) return 0;
    return error == 0 ? DWORD(ERROR_WRITE_FAULT) : error;
}

// Puts the finished copy in place of win.ini. The old win.ini is moved
// aside first and put back when the copy cannot be renamed, so that there
// is always a win.ini. As with the plain delete and rename, a failure here
// is not reported; the copy is removed then.
void ReplaceWinIni(const char *winIniPath, const char *tempPath,
                   const char *asidePath) {
    DeleteFileA(asidePath);  // left over from an interrupted run
    if (!MoveFileA(winIniPath, asidePath)) {
        DeleteFileA(tempPath);
        return;
    }
    if (!MoveFileA(tempPath, winIniPath)) {
        MoveFileA(asidePath, winIniPath);
        DeleteFileA(tempPath);
        return;
    }
    DeleteFileA(asidePath);
}

void CleanWinIni(char *winIniPath, char *tempPath) {
    UINT length = GetWindowsDirectoryA(winIniPath, MAX_PATH);
    if (length == 0) return;  // no Windows directory: nothing to clean
    if (length > LONGEST_WINDOWS_DIRECTORY) {
        ShowCleanUpError(
            "Can't restore win.ini -- The Windows directory path is too "
            "long.");
        return;
    }
    char asidePath[PATH_BUFFER_SIZE];
    lstrcpyA(tempPath, winIniPath);
    lstrcpyA(asidePath, winIniPath);
    AppendName(winIniPath, "win.ini");
    AppendName(tempPath, "qvrwin.$$$");
    AppendName(asidePath, "qvrwin.old");

    bool noWinIni;
    DWORD error = CopyWithoutEntry(winIniPath, tempPath, &noWinIni);
    if (noWinIni) return;
    if (error == 0) {
        ReplaceWinIni(winIniPath, tempPath, asidePath);
        return;
    }
    DeleteFileA(tempPath);
    ShowCleanUpFailure(error);
}

}  // namespace

void RemoveStartupEntry() {
    char *winIniPath =
        static_cast<char *>(LocalAlloc(LMEM_FIXED, PATH_BUFFER_SIZE));
    char *tempPath =
        winIniPath == NULL
            ? NULL
            : static_cast<char *>(LocalAlloc(LMEM_FIXED, PATH_BUFFER_SIZE));
    if (tempPath == NULL) {
        ShowCleanUpError("Can't restore win.ini -- Out of memory.");
        if (winIniPath != NULL) LocalFree(winIniPath);
        std::exit(1);
    }
    CleanWinIni(winIniPath, tempPath);
    LocalFree(tempPath);
    LocalFree(winIniPath);
}
