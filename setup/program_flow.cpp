// The entry function of setup: platform check, command line, confirmation,
// working directory, progress window, the four install steps, the commit and
// the restart question.
#include <windows.h>

#include <cstring>

#include "resource_ids.h"
#include "setup_state.h"
#include "work_buffers.h"

char SourceDir[PATH_SIZE];
char TempDir[PATH_SIZE];
char MessageText[MESSAGE_SIZE];
HWND ProgressDialog;
HWND StatusWindow;
int OverrideFlag;
int UninstallFlag;

namespace {

const char RestartQuestion[] =
    "Windows must restart to continue setup.  Do you want to restart Windows "
    "now?  ";
const char RestartCaption[] =
    "QVR PCI0528/PCI0525 Driver Setup Utility - Restart Windows";
int ProgressPainted;  // the progress window was painted

bool IsWindows95Family(DWORD version) {
    return (version & 0x80000000) != 0 && LOBYTE(version) >= 4;
}

}  // namespace

SECURITY_ATTRIBUTES PlainSecurity() {
    SECURITY_ATTRIBUTES attributes;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = NULL;
    attributes.bInheritHandle = FALSE;
    return attributes;
}

NameState ProbeName(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
        return NameState::Taken;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return NameState::Free;
    }
    SetLastError(error != 0 ? error : ERROR_GEN_FAILURE);
    return NameState::Unknown;
}

namespace {

// Opens a copy for writing. CopyFileA gives a copy its source's
// attributes: a read-only copy (of a file from a CD, say) could be neither
// flushed nor later replaced or deleted by an undo or the next run, so it
// is made writable.
HANDLE OpenCopyForWriting(const char *path) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, &security, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED)
        return file;
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(path, GENERIC_WRITE, 0, &security, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

}  // namespace

bool FlushFile(const char *path) {
    HANDLE file = OpenCopyForWriting(path);
    bool flushed = file != INVALID_HANDLE_VALUE && FlushFileBuffers(file);
    DWORD error = flushed ? 0 : GetLastError();
    // A handle left open by a failed close would keep the file from being
    // deleted: CloseWrittenFile tries once more.
    if (file != INVALID_HANDLE_VALUE) CloseWrittenFile(file);
    if (flushed) return true;
    SetLastError(error != 0 ? error : ERROR_WRITE_FAULT);
    return false;
}

bool ComposePath(char *out, std::size_t size, const char *directory,
                 const char *name) {
    std::size_t dirLength = std::strlen(directory);
    bool slash = dirLength > 0 && directory[dirLength - 1] != '\\';
    std::size_t total = dirLength + (slash ? 1 : 0) + std::strlen(name);
    if (total >= size) {
        if (size > 0) out[0] = '\0';
        return false;
    }
    std::memmove(out, directory, dirLength);
    if (slash) out[dirLength++] = '\\';
    std::strcpy(out + dirLength, name);
    return true;
}

bool AppendPathName(char *path, std::size_t size, const char *name) {
    std::size_t length = std::strlen(path);
    bool slash = length > 0 && path[length - 1] != '\\';
    if (length + (slash ? 1 : 0) + std::strlen(name) >= size) return false;
    if (slash) path[length++] = '\\';
    std::strcpy(path + length, name);
    return true;
}

void ParseCommandLine(const char *commandLine) {
    if (commandLine == NULL) return;
    for (int i = 0; commandLine[i] != '\0'; ++i) {
        if (commandLine[i] != '/') continue;
        char next = commandLine[i + 1];
        if (next == 'O' || next == 'o') OverrideFlag = 1;
        if (next == 'U' || next == 'u') UninstallFlag = 1;
        if (next == '\0') break;
        ++i;  // the letter after the slash is consumed either way
    }
}

void CreateTempDir() {
    DWORD length = GetTempPathA(PATH_SIZE, TempDir);
    if (length == 0 || length >= PATH_SIZE ||
        !AppendPathName(TempDir, PATH_SIZE, "qvrback")) {
        TempDir[0] = '\0';
        StepFlags |= STEP_TEMPDIR_FAILED;
        return;
    }
    SECURITY_ATTRIBUTES security = PlainSecurity();
    if (!CreateDirectoryA(TempDir, &security) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        StepFlags |= STEP_TEMPDIR_FAILED;
    }
}

bool MakeWorkingDirectory() {
    CreateTempDir();
    if (StepFlags & STEP_TEMPDIR_FAILED) {
        MessageBoxA(NULL,
                    "Unable to create temporary directory.  Setup aborted.",
                    ErrorCaption, MB_ICONERROR);
        return false;
    }
    return true;
}

void RemoveTempDir() {
    if (TempDir[0] != '\0') RemoveDirectoryA(TempDir);
}

void ShowProgress(const char *text) {
    if (StatusWindow == NULL) return;
    SetWindowTextA(StatusWindow, text);
    // No messages are dispatched: the window is painted now that it has its
    // caption and first text, and the template's text is never shown.
    if (!ProgressPainted) {
        ProgressPainted = 1;
        UpdateWindow(ProgressDialog);
    }
}

void OpenProgressWindow(HINSTANCE instance) {
    ProgressPainted = 0;
    ProgressDialog = CreateDialogParamA(
        instance, MAKEINTRESOURCEA(IDD_PROGRESS), NULL, NULL, 0);
    if (ProgressDialog != NULL) {
        SetWindowTextA(ProgressDialog, AppTitle);
        StatusWindow = GetDlgItem(ProgressDialog, IDC_PROGRESS_STATUS);
    }
}

void CloseProgressWindow() {
    if (ProgressDialog != NULL) DestroyWindow(ProgressDialog);
    ProgressDialog = NULL;
    StatusWindow = NULL;
}

void DeleteSavedCopies() {
    DeleteRegistrySnapshot();
    DeleteMshdcBackup();
    DeleteFileBackups();
    DeleteDriverInfBackup();
    DeleteRemovedFileCopies();
    DeleteWinIniBackup();
}

void CommitRun() {
    // Commit: nothing can be undone from here on. Every changed file is on
    // disk already; the registry is written out too, and then the journal
    // says so, so that a run cut short while committing is finished, not
    // undone.
    LONG flushed = RegFlushKey(HKEY_LOCAL_MACHINE);
    if (flushed != ERROR_SUCCESS) {
        FatalSetupError("Error writing the Windows 95 registry.", flushed);
    }
    JournalRecord("COMMIT");
    DeleteSavedCopies();
    // A work file that could not be deleted stays named in the journal: the
    // next run deletes it, without a word.
    CloseJournal();
    RemoveTempDir();
    CloseProgressWindow();
}

void AskRestart() {
    if (MessageBoxA(NULL, RestartQuestion, RestartCaption,
                    MB_SETFOREGROUND | MB_ICONQUESTION | MB_YESNO) == IDYES) {
        ExitWindowsEx(EWX_REBOOT, 0);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    if (!IsWindows95Family(GetVersion())) {
        MessageBoxA(NULL, "This program is for Windows 95 only!", ErrorCaption,
                    MB_ICONERROR);
        return 1;
    }
    ParseCommandLine(commandLine);

    // Without a current directory the distribution files are looked up by
    // their bare names, which resolve against the current directory.
    DWORD length = GetCurrentDirectoryA(PATH_SIZE, SourceDir);
    if (length == 0 || length >= PATH_SIZE) SourceDir[0] = '\0';

    // A run that was cut short is undone before anything else happens.
    if (!RecoverInterruptedRun()) return 1;
    if (UninstallFlag) return RemoveDriver(instance);
    if (!ConfirmInstall()) return 0;
    if (!MakeWorkingDirectory()) return 1;

    OpenProgressWindow(instance);
    RemoveOldDrivers();
    EditMshdcInf();
    PlaceDriverInf();
    InstallDriverFiles();
    CommitRun();
    AskRestart();
    return 0;
}
