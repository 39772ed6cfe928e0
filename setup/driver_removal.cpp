// setup /U: takes out again what an install put in, and nothing else: the
// registrations of the controller that name the driver's maker, the
// semicolons in MSHDC.INF, the driver INF, the four driver files (and
// C:\VELTRANE when that leaves it empty) and parlod's entry on win.ini's
// load= line. Every deleted file is saved first and every edited file is
// written new and exchanged in, under the same journal as an install, so
// that a failure puts everything back and an interrupted run is finished or
// undone by the next one.
#include <windows.h>

#include <cstring>

#include "setup_state.h"
#include "work_buffers.h"

char GoneTarget[GONE_FILE_COUNT][PATH_SIZE];
char GoneSaved[GONE_FILE_COUNT][PATH_SIZE];
DWORD GoneIntentFlags;
DWORD GoneSavedFlags;
int InstallDirRemoved;

char WinIniPath[PATH_SIZE];
char WinIniBackupPath[PATH_SIZE];
char WinIniTempPath[PATH_SIZE];
char WinIniAsidePath[PATH_SIZE];
int WinIniIntent;
int WinIniSaved;
int WinIniExchanging;

namespace {

constexpr int DRIVER_INF_SLOT = 0;
const char InstallDir[] = "C:\\VELTRANE";
const char NotInstalledText[] =
    "The QVR PCI0528/PCI0525 driver is not installed.  Nothing was removed.";
const char ReadWriteError[] = "File Read/Write Error.";
const char *const DeletingTexts[GONE_FILE_COUNT] = {
    "Deleting QVRDMA.INF.", "Deleting QVRIDE.DLL.", "Deleting HBX52XX.MPD.",
    "Deleting PARLOD.EXE.", "Deleting PARLOD.INI."};

// Larger files are refused before their size + 1 could wrap around.
constexpr DWORD LARGEST_TEXT = 0x10000000;

int MshdcCommented;  // MSHDC.INF holds setup's semicolons
int WinIniHasEntry;  // win.ini's load= line names parlod

DWORD LastFailure() {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

[[noreturn]] void FailWithPath(const char *format, const char *path,
                               DWORD error) {
    // Every format is a short text around one path: it fits MessageText.
    wsprintfA(MessageText, format, path);
    FatalSetupError(MessageText, (LONG)error);
}

DWORD GoneBit(int slot) { return DWORD(1) << slot; }

// Puts the name a file has on the disk, with its case, into `path`.
void TakeRealName(char *path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    FindClose(search);
    char *name = const_cast<char *>(FileNamePart(path));
    std::size_t directoryLength = static_cast<std::size_t>(name - path);
    if (directoryLength + std::strlen(found.cFileName) < PATH_SIZE) {
        std::strcpy(name, found.cFileName);
    }
}

// The four driver files into slots 1 to 4: QVRIDE.DLL and
// IOSUBSYS\HBX52XX.MPD in the system directory, PARLOD.EXE and PARLOD.INI
// in C:\VELTRANE.
bool ComposeDriverFilePaths() {
    char systemDir[PATH_SIZE];
    UINT length = GetSystemDirectoryA(systemDir, PATH_SIZE);
    char portDir[PATH_SIZE];
    return length != 0 && length < PATH_SIZE &&
           ComposePath(GoneTarget[1], PATH_SIZE, systemDir,
                       DriverFileNames[0]) &&
           ComposePath(portDir, PATH_SIZE, systemDir, "IOSUBSYS") &&
           ComposePath(GoneTarget[2], PATH_SIZE, portDir, DriverFileNames[1]) &&
           ComposePath(GoneTarget[3], PATH_SIZE, InstallDir,
                       DriverFileNames[2]) &&
           ComposePath(GoneTarget[4], PATH_SIZE, InstallDir,
                       DriverFileNames[3]);
}

bool ComposeWinIniPath() {
    char windowsDir[PATH_SIZE];
    UINT length = GetWindowsDirectoryA(windowsDir, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE ||
        !ComposePath(WinIniPath, PATH_SIZE, windowsDir, "WIN.INI")) {
        WinIniPath[0] = '\0';
        return false;
    }
    TakeRealName(WinIniPath);
    return true;
}

// Reads a whole file and hands its bytes (followed by a zero byte) and an
// output buffer as large to `use`. 0, or the error that ended it.
using TextUser = InlineFunction<DWORD(char *text, char *output, DWORD size)>;
DWORD WithFileText(const char *path, const TextUser &use) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, &security,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsOpen()) return LastFailure();
    DWORD size = GetFileSize(file.Get(), NULL);
    if (size == INVALID_FILE_SIZE) return LastFailure();
    if (size > LARGEST_TEXT) return ERROR_NOT_ENOUGH_MEMORY;
    WorkBuffer text(size + 1);
    if (text.Bytes() == NULL) return LastFailure();
    WorkBuffer output(size + 1);
    if (output.Bytes() == NULL) return LastFailure();
    DWORD got = 0;
    if (!ReadFile(file.Get(), text.Bytes(), size, &got, NULL)) {
        return LastFailure();
    }
    if (got != size) return ERROR_READ_FAULT;
    file.Close();
    return use(text.Bytes(), output.Bytes(), size);
}

bool WinIniHoldsEntry() {
    bool holds = false;
    WithFileText(WinIniPath, [&holds](char *text, char *output, DWORD size) {
        holds = CutStartupEntry(text, size, output) != size;
        return DWORD(0);
    });
    return holds;
}

// Looks at every part an install puts in; false when none is there.
bool FindInstalledParts() {
    bool found = CountDriverRegistrations() > 0;
    MshdcCommented = MshdcHoldsComments();
    found = found || MshdcCommented;
    GoneTarget[DRIVER_INF_SLOT][0] = '\0';
    if (ComposeMshdcPath() && FindInstalledDriverInf(GoneTarget[0])) {
        found = true;
    } else {
        GoneTarget[DRIVER_INF_SLOT][0] = '\0';
    }
    if (ComposeDriverFilePaths()) {
        for (int slot = 1; slot < GONE_FILE_COUNT; ++slot) {
            if (ProbeName(GoneTarget[slot]) == NameState::Free) {
                GoneTarget[slot][0] = '\0';
                continue;
            }
            TakeRealName(GoneTarget[slot]);
            found = true;
        }
    } else {
        for (int slot = 1; slot < GONE_FILE_COUNT; ++slot) {
            GoneTarget[slot][0] = '\0';
        }
    }
    WinIniHasEntry = ComposeWinIniPath() && WinIniHoldsEntry();
    return found || WinIniHasEntry;
}

// Deletes the file of one slot, after its saved copy is on disk: "GONE
// slot|target|saved" before the copy is begun, "GONE+ slot" once it is
// complete.
void DeleteWithCopy(int slot) {
    const char *target = GoneTarget[slot];
    if (target[0] == '\0') return;
    ShowProgress(DeletingTexts[slot]);
    if (!ComposeSavedPath(GoneSaved[slot], FileNamePart(target), target)) {
        FailWithPath("Error backing up file %s.", target, LastFailure());
    }
    const char number[] = {char('0' + slot), '\0'};
    JournalRecord("GONE", {number, target, GoneSaved[slot]});
    GoneIntentFlags |= GoneBit(slot);
    // The copy may carry attributes that keep it from being flushed.
    bool saved = CopyFileA(target, GoneSaved[slot], FALSE) != FALSE;
    if (saved) SetFileAttributesA(GoneSaved[slot], FILE_ATTRIBUTE_NORMAL);
    if (!saved || !FlushFile(GoneSaved[slot])) {
        FailWithPath("Error backing up file %s.", target, LastFailure());
    }
    JournalRecord("GONE+", {number});
    GoneSavedFlags |= GoneBit(slot);
    if (!DeleteFileA(target)) {
        FailWithPath("Error deleting file %s.", target, LastFailure());
    }
}

// C:\VELTRANE goes when the driver files were all it held; a folder that
// still holds something stays (the removal of a full folder fails).
void RemoveInstallDir() {
    if (ProbeName(InstallDir) != NameState::Taken) return;
    JournalRecord("RMDIR", {InstallDir});
    InstallDirRemoved = 1;
    RemoveDirectoryA(InstallDir);
}

// Writes win.ini's saved copy without parlod's entry to WinIniTempPath,
// flushed. 0, or the error that ended it.
DWORD WriteEditedWinIni() {
    return WithFileText(WinIniBackupPath, [](char *text, char *output,
                                             DWORD size) {
        DWORD length = CutStartupEntry(text, size, output);
        SECURITY_ATTRIBUTES security = PlainSecurity();
        HANDLE file = CreateFileA(WinIniTempPath, GENERIC_WRITE, 0, &security,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) return LastFailure();
        DWORD written = 0;
        BOOL done = WriteFile(file, output, length, &written, NULL);
        DWORD error = done ? DWORD(ERROR_WRITE_FAULT) : LastFailure();
        bool wrote = done && written == length;
        // The copy is on disk before it is exchanged in.
        if (wrote && !FlushFileBuffers(file)) {
            wrote = false;
            error = LastFailure();
        }
        if (!CloseWrittenFile(file) && wrote) return LastFailure();
        return wrote ? DWORD(0) : error;
    });
}

// Takes parlod's entry out of win.ini's load= line: the saved copy first
// ("WININI path|saved|new|aside", then "WININI+"), the edited text written
// new, and exchanged in ("WININI!") with the old file kept aside until the
// commit.
void EditWinIni() {
    if (!WinIniHasEntry) return;
    ShowProgress("Editing WIN.INI.");
    char windowsDir[PATH_SIZE];
    std::size_t directoryLength =
        static_cast<std::size_t>(FileNamePart(WinIniPath) - WinIniPath);
    std::memcpy(windowsDir, WinIniPath, directoryLength);
    windowsDir[directoryLength] = '\0';
    if (!ComposeSavedPath(WinIniBackupPath, "WIN.INI", WinIniPath)) {
        FailWithPath("Error backing up file %s.", WinIniPath, LastFailure());
    }
    if (!ChooseWorkName(WinIniTempPath, windowsDir, "qvrnew%d.$$$") ||
        !ChooseWorkName(WinIniAsidePath, windowsDir, "qvrold%d.$$$")) {
        FailWithPath("Error backing up file %s.", WinIniPath, LastFailure());
    }
    JournalRecord("WININI", {WinIniPath, WinIniBackupPath, WinIniTempPath,
                             WinIniAsidePath});
    WinIniIntent = 1;
    if (!CopyFileA(WinIniPath, WinIniBackupPath, FALSE) ||
        !FlushFile(WinIniBackupPath)) {
        FailWithPath("Error backing up file %s.", WinIniPath, LastFailure());
    }
    JournalRecord("WININI+");
    WinIniSaved = 1;
    DWORD error = WriteEditedWinIni();
    if (error != 0) FatalSetupError(ReadWriteError, (LONG)error);
    JournalRecord("WININI!");
    WinIniExchanging = 1;
    if (!MoveFileA(WinIniPath, WinIniAsidePath) ||
        !MoveFileA(WinIniTempPath, WinIniPath)) {
        FatalSetupError(ReadWriteError, (LONG)LastFailure());
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return IsBlank(c) || c == ','; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
char Fold(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether `length` bytes at `text` are `word` (lower case), in any case.
bool SameWord(const char *text, DWORD length, const char *word) {
    for (DWORD i = 0; i < length; ++i) {
        if (word[i] == '\0' || Fold(text[i]) != word[i]) return false;
    }
    return word[length] == '\0';
}

bool IsStartupEntry(const char *text, DWORD length) {
    return SameWord(text, length, "c:\\veltrane\\parlod") ||
           SameWord(text, length, "c:\\veltrane\\parlod.exe");
}

}  // namespace

DWORD CutStartupEntry(const char *text, DWORD size, char *output) {
    DWORD out = 0;
    bool inWindows = false;
    DWORD at = 0;
    while (at < size) {
        DWORD end = at;
        while (end < size && !IsLineEnd(text[end])) ++end;
        DWORD p = at;
        while (p < end && IsBlank(text[p])) ++p;
        if (p < end && text[p] == '[') {
            DWORD close = p + 1;
            while (close < end && text[close] != ']') ++close;
            inWindows = SameWord(text + p + 1, close - p - 1, "windows");
        }
        // The entries of a load= line, from `value` to the line's end.
        DWORD value = end;
        if (inWindows && end - p >= 4 && SameWord(text + p, 4, "load")) {
            DWORD q = p + 4;
            while (q < end && IsBlank(text[q])) ++q;
            if (q < end && text[q] == '=') value = q + 1;
        }
        while (at < value) output[out++] = text[at++];
        DWORD valueStart = out;
        while (at < end) {
            if (IsSeparator(text[at])) {
                output[out++] = text[at++];
                continue;
            }
            DWORD start = at;
            while (at < end && !IsSeparator(text[at])) ++at;
            if (!IsStartupEntry(text + start, at - start)) {
                while (start < at) output[out++] = text[start++];
            } else if (at < end) {
                ++at;  // the separator behind the entry goes with it
            } else if (out > valueStart && IsSeparator(output[out - 1])) {
                --out;  // the last entry takes the one before it
            }
        }
        while (at < size && IsLineEnd(text[at])) output[out++] = text[at++];
    }
    return out;
}

void UndoRemovedFiles() {
    if (GoneIntentFlags != 0) ShowProgress("Restoring files.");
    for (int slot = 0; slot < GONE_FILE_COUNT; ++slot) {
        DWORD bit = GoneBit(slot);
        if (GoneSavedFlags & bit) {
            // The saved copy is complete and on disk: it goes over whatever
            // stands at the name (the file itself, when it was not deleted
            // yet, or a put-back cut short), and goes only once that is on
            // disk. Gone means put back already.
            if (CopyFileA(GoneSaved[slot], GoneTarget[slot], FALSE) &&
                FlushFile(GoneTarget[slot])) {
                DeleteFileA(GoneSaved[slot]);
            } else if (!SavedCopyGone(GoneSaved[slot])) {
                ReportKeptCopy(GoneTarget[slot], GoneSaved[slot]);
            }
        } else if (GoneIntentFlags & bit) {
            // A saved copy that may be partial; its file was not deleted.
            DeleteFileA(GoneSaved[slot]);
        }
    }
    GoneIntentFlags = GoneSavedFlags = 0;
}

void DeleteRemovedFileCopies() {
    for (int slot = 0; slot < GONE_FILE_COUNT; ++slot) {
        if (GoneSavedFlags & GoneBit(slot)) DeleteWorkFile(GoneSaved[slot]);
    }
}

void RestoreInstallDir() {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    CreateDirectoryA(InstallDir, &security);
    InstallDirRemoved = 0;
}

void RestoreWinIni() {
    ShowProgress("Restoring WIN.INI.");
    // Until the exchange began, win.ini has its old content.
    if (WinIniExchanging &&
        !PutBackExchanged(WinIniPath, WinIniAsidePath, WinIniBackupPath))
        return;
    DeleteWinIniBackup();
}

void DeleteWinIniBackup() {
    if (WinIniExchanging && WinIniAsidePath[0] != '\0') {
        DeleteWorkFile(WinIniAsidePath);
    }
    DeleteWorkFile(WinIniBackupPath);
    DeleteWorkFile(WinIniTempPath);
}

int RemoveDriver(HINSTANCE instance) {
    if (!FindInstalledParts()) {
        // A run cut short after its journal was gone may have left the
        // working folder, empty: it goes (a folder that holds anything
        // stays).
        DWORD length = GetTempPathA(PATH_SIZE, TempDir);
        if (length != 0 && length < PATH_SIZE &&
            AppendPathName(TempDir, PATH_SIZE, "qvrback")) {
            RemoveTempDir();
        }
        TempDir[0] = '\0';
        MessageBoxA(NULL, NotInstalledText, AppTitle,
                    MB_SETFOREGROUND | MB_ICONINFORMATION);
        return 0;
    }
    if (!ConfirmRemoval()) return 0;
    if (!MakeWorkingDirectory()) return 1;
    OpenProgressWindow(instance);
    RemoveDriverRegistrations();
    // A registration that stayed (its key could not be opened, read or
    // deleted) would keep the chips on a driver whose files go next: the
    // removal fails, and what it changed is put back.
    if (CountDriverRegistrations() > 0) {
        FatalSetupError(
            "Error removing the driver from the Windows 95 registry.", 0);
    }
    if (MshdcCommented) EditMshdcInf();
    DeleteWithCopy(DRIVER_INF_SLOT);
    EditWinIni();
    for (int slot = 1; slot < GONE_FILE_COUNT; ++slot) DeleteWithCopy(slot);
    RemoveInstallDir();
    CommitRun();
    AskRestart();
    return 0;
}
