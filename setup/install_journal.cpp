// The install journal and the fatal error path: what the steps changed, and
// how it is put back when a later step fails.
#include <windows.h>

#include <cstring>

#include "setup_state.h"

DWORD StepFlags;
DWORD BackupFlags;
DWORD CreatedFlags;

void ReportKeptCopy(const char *original, const char *savedCopy) {
    char text[MESSAGE_SIZE + 100];
    // Two paths of under PATH_SIZE characters and the sentence fit `text`.
    wsprintfA(text, "Unable to restore %s.  Its saved copy is kept as %s.",
              original, savedCopy);
    MessageBoxA(NULL, text, ErrorCaption, MB_SETFOREGROUND | MB_ICONERROR);
    UndoIncomplete = 1;
}

bool PutBackExchanged(const char *original, const char *aside,
                      const char *saved) {
    // The aside is the old file itself, on disk since before the run; the
    // saved copy serves only when the aside is gone and the original name
    // is empty. An original that stands while the aside is gone is the old
    // file: the exchange had not begun, or an undo cut short put it back.
    const char *from = aside;
    NameState state = NameState::Free;
    if (aside[0] == '\0' || ProbeName(aside) == NameState::Free) {
        state = ProbeName(original);
        if (state == NameState::Taken) return true;
        from = saved;
    }
    if (state != NameState::Unknown && CopyFileA(from, original, FALSE) &&
        FlushFile(original))
        return true;
    ReportKeptCopy(original, saved);
    return false;
}

void FatalSetupError(const char *message, LONG errorCode) {
    if (message != MessageText) {
        lstrcpynA(MessageText, message, sizeof MessageText);
    }
    if (errorCode != 0) {
        char suffix[40];
        wsprintfA(suffix, "  Error code = %ld.", (long)errorCode);
        // The code always shows: a message too long for both is cut.
        std::size_t room = sizeof MessageText - 1 - std::strlen(suffix);
        if (std::strlen(MessageText) > room) MessageText[room] = '\0';
        std::strcat(MessageText, suffix);
    }
    MessageBoxA(NULL, MessageText, ErrorCaption,
                MB_SETFOREGROUND | MB_ICONERROR);

    // Undo in the order the steps ran; each action runs whatever the others
    // did. Files copied new before the failure stay where they are unless
    // an older file was replaced. A saved copy whose put-back failed inside
    // CopyWithBackup is still tried again here.
    UndoRecordedChanges(false);
    // A saved copy that could not be put back keeps the journal, so that
    // the next run tries again before it changes anything.
    if (!UndoIncomplete) CloseJournal();
    RemoveTempDir();
    if (ProgressDialog != NULL) DestroyWindow(ProgressDialog);
    ExitProcess(1);
}

void UndoInstalledFiles(int first, int last) {
    for (int i = first; i <= last; ++i) {
        DWORD bit = DriverFileBits[i];
        if (BackupFlags & bit) {
            PutBackInstalledFile(i);
        } else if (CreatedFlags & bit) {
            // Only a file this run copied new is deleted; an older file
            // that was never replaced stays.
            DeleteFileA(InstalledFileTarget[i]);
        }
        CreatedFlags &= ~bit;
    }
}

void RestoreInstalledFiles() {
    ShowProgress("Restoring files.");
    UndoInstalledFiles(0, DRIVER_FILE_COUNT - 1);
}

void DeleteFileBackups() {
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        if (BackupFlags & DriverFileBits[i]) {
            DeleteWorkFile(InstalledFileBackup[i]);
        }
    }
}
