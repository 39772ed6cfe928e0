// Removal of parlod's start-up entry from win.ini: win.ini is copied line by
// line into qvrwin.$$$ without the entry, and the copy then takes its place.
#include "startup_entry.h"

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
// made or put in place, which leaves win.ini as it was, start-up entry
// included.
void ShowCleanUpFailure(DWORD error) {
    wsprintfA(TextBuffer, "Can't restore win.ini -- Error code = %lu.",
              (unsigned long)error);
    ShowCleanUpError(TextBuffer);
}

// Appends a backslash, unless the directory in `path` ends in one, and name.
void AppendName(char *path, const char *name) {
    int length = lstrlenA(path);
    if (length == 0 || path[length - 1] != '\\') lstrcatA(path, "\\");
    lstrcatA(path, name);
}

// Opens a closed file again for writing and flushes it to the disk. 0, or
// the error of the call that failed.
DWORD FlushToDisk(const char *path) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == 0 ? DWORD(ERROR_WRITE_FAULT) : error;
    }
    DWORD error = 0;
    if (!FlushFileBuffers(file)) {
        error = GetLastError();
        if (error == 0) error = ERROR_WRITE_FAULT;
    }
    CloseHandle(file);
    return error;
}

// Takes the first occurrence of StartupEntry out of TextBuffer.
void CutEntry(int entryLength) {
    char *found = std::strstr(TextBuffer, StartupEntry);
    if (found == NULL || entryLength == 0) return;
    std::memmove(found, found + entryLength,
                 std::strlen(found + entryLength) + 1);
}

// Copies win.ini into the temporary file without the entry. 0 when the whole
// copy was written, closed and flushed to the disk; otherwise the error that
// ended it. When
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
    if (!failed) return FlushToDisk(tempPath);
    return error == 0 ? DWORD(ERROR_WRITE_FAULT) : error;
}

// Chooses where the old win.ini is moved aside: qvrwin.old, or qvrwin.001
// to qvrwin.999 when the name before is held by something that cannot be
// removed (a read-only file, a folder). A plain file under the name is a
// leftover of an earlier run that finished its exchange, and is removed.
// False when no name is free.
bool ChooseAsideName(char *asidePath) {
    char *extension = asidePath + lstrlenA(asidePath) - 3;  // "old"
    for (int n = 0; n < 1000; ++n) {
        if (n > 0) wsprintfA(extension, "%03d", n);  // three digits
        if (GetFileAttributesA(asidePath) == INVALID_FILE_ATTRIBUTES ||
            DeleteFileA(asidePath)) {
            return true;
        }
    }
    return false;
}

// Puts the finished copy, already on disk, in place of win.ini: the old
// win.ini is moved aside, the copy renamed to win.ini, win.ini flushed (which
// puts both renames on the disk), the old one deleted and win.ini flushed
// once more. Gives 0, or the error that kept the copy out; win.ini is then
// as it was, and the copy is removed, unless the old win.ini could not be
// moved back, which leaves both files as they are. When the flush fails,
// the old win.ini stays aside.
//
// What lies on disk if the power fails:
//  - before the first rename: win.ini as it was, and the complete copy in
//    qvrwin.$$$, which the next run overwrites;
//  - between the two renames: no win.ini at all; the old win.ini (with the
//    start-up entry) under the aside name, the cleaned copy complete in
//    qvrwin.$$$. Windows then starts without win.ini, and neither program
//    puts it back: renaming either file to win.ini by hand restores it.
//    Windows 95 offers no rename that replaces a file, so this window
//    cannot be closed;
//  - after the second rename: the cleaned win.ini, and the old one under
//    the aside name, which a later run removes. Until win.ini is flushed
//    the disk may also still hold the names as they were before the
//    renames: either way a whole win.ini.
DWORD ReplaceWinIni(const char *winIniPath, const char *tempPath,
                    char *asidePath) {
    DWORD error = 0;
    if (!ChooseAsideName(asidePath)) {
        error = ERROR_FILE_EXISTS;
    } else if (!MoveFileA(winIniPath, asidePath)) {
        error = GetLastError();
    } else if (!MoveFileA(tempPath, winIniPath)) {
        error = GetLastError();
        // When the old win.ini cannot be put back either, the copy is kept:
        // the two whole files under their work names are then all there is.
        if (!MoveFileA(asidePath, winIniPath)) return error;
    } else {
        // Flushing win.ini again after the old copy is deleted puts the
        // deletion on the disk too, so that a power loss during the rest of
        // the run brings back no stale copy that no later run removes.
        if (FlushToDisk(winIniPath) == 0 && DeleteFileA(asidePath)) {
            FlushToDisk(winIniPath);
        }
        return 0;
    }
    DeleteFileA(tempPath);
    return error == 0 ? DWORD(ERROR_ACCESS_DENIED) : error;
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
        error = ReplaceWinIni(winIniPath, tempPath, asidePath);
    } else {
        DeleteFileA(tempPath);
    }
    if (error != 0) ShowCleanUpFailure(error);
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
        ExitProcess(1);
    }
    CleanWinIni(winIniPath, tempPath);
    LocalFree(tempPath);
    LocalFree(winIniPath);
}
