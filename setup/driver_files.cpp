// The four files copied from the distribution disk: the driver library and
// the port driver (required), the preload program and its parameter file
// (optional). A file that already stands at its target is saved first.
#include <windows.h>

#include <cstring>

#include "setup_state.h"

namespace {

constexpr int DRIVER_DLL = 0;
constexpr int PORT_DRIVER = 1;
constexpr int PRELOAD_EXE = 2;
constexpr int PRELOAD_INI = 3;

const char InstallDir[] = "C:\\VELTRANE";

// Takes back what was copied of the preload files: a replaced file gets its
// older copy back, a file copied new is deleted.
void UndoPreloadFiles() { UndoInstalledFiles(PRELOAD_EXE, PRELOAD_INI); }

int FileIndexOf(DWORD bit) {
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        if (DriverFileBits[i] == bit) return i;
    }
    return 0;
}

// Journals a driver file's change: "NEW i|target" for a file copied where
// none stood, "OLD i|target|saved" before its older copy is saved, and
// "OLD+ i" once that copy is complete.
void JournalFile(const char *tag, int index, const char *target,
                 const char *saved) {
    const char number[] = {char('0' + index), '\0'};
    if (target == NULL) {
        JournalRecord(tag, {number});
    } else if (saved == NULL) {
        JournalRecord(tag, {number, target});
    } else {
        JournalRecord(tag, {number, target, saved});
    }
}

bool CopyPreloadFile(int index) {
    std::strcpy(InstalledFileTarget[index], InstallDir);
    ShowProgress(index == PRELOAD_EXE ? "Copying PARLOD.EXE."
                                      : "Copying PARLOD.INI.");
    return CopyWithBackup(MessageText, InstalledFileTarget[index],
                          DriverFileNames[index], InstalledFileBackup[index],
                          DriverFileBits[index]);
}

}  // namespace

const char *const DriverFileNames[DRIVER_FILE_COUNT] = {
    "QVRIDE.DLL", "HBX52XX.MPD", "PARLOD.EXE", "PARLOD.INI"};
const DWORD DriverFileBits[DRIVER_FILE_COUNT] = {
    BACKUP_DRIVER_DLL, BACKUP_PORT_DRIVER, BACKUP_PRELOAD_EXE,
    BACKUP_PRELOAD_INI};
char InstalledFileTarget[DRIVER_FILE_COUNT][PATH_SIZE];
char InstalledFileBackup[DRIVER_FILE_COUNT][PATH_SIZE];

bool CopyWithBackup(char *source, char *target, const char *name, char *saved,
                    DWORD backupBit) {
    saved[0] = '\0';
    if (!AppendPathName(target, PATH_SIZE, name) ||
        !ComposePath(source, PATH_SIZE, SourceDir, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    int index = FileIndexOf(backupBit);
    // A file is journalled as new only where none stands, so that undoing
    // it never deletes a file that was there before. A name that cannot be
    // probed fails the copy.
    NameState state = ProbeName(target);
    if (state == NameState::Unknown) return false;
    if (state == NameState::Free) JournalFile("NEW", index, target, NULL);
    // Every copy is flushed at once, so that it is on disk when the commit
    // comes; a failed flush is a failed copy.
    if (CopyFileA(source, target, TRUE)) {
        CreatedFlags |= backupBit;
        return FlushFile(target);
    }
    if (GetLastError() != ERROR_FILE_EXISTS) return false;

    // The target exists: it is replaced only once its copy is saved, and on
    // disk before the journal vouches for it.
    if (!ComposeSavedPath(saved, name, target)) return false;
    JournalFile("OLD", index, target, saved);
    BackupIntentFlags |= backupBit;
    if (!CopyFileA(target, saved, FALSE) || !FlushFile(saved)) return false;
    JournalFile("OLD+", index, NULL, NULL);
    BackupFlags |= backupBit;
    if (CopyFileA(source, target, FALSE) && FlushFile(target)) {
        StepFlags |= STEP_FILES_REPLACED;
        return true;
    }
    DWORD error = GetLastError();
    if (CopyFileA(saved, target, FALSE) && FlushFile(target)) {
        DeleteFileA(saved);
        BackupFlags &= ~backupBit;
        BackupIntentFlags &= ~backupBit;
    }
    // Otherwise the bit stays, so that the caller's undo tries again and
    // keeps the saved copy if it cannot.
    SetLastError(error);
    return false;
}

void PutBackInstalledFile(int index) {
    // The saved copy goes only once the file it was put back into is on
    // disk.
    if (CopyFileA(InstalledFileBackup[index], InstalledFileTarget[index],
                  FALSE) &&
        FlushFile(InstalledFileTarget[index])) {
        DeleteFileA(InstalledFileBackup[index]);
    } else if (!SavedCopyGone(InstalledFileBackup[index])) {
        // Gone means put back already, by an undo that was cut short.
        ReportKeptCopy(InstalledFileTarget[index], InstalledFileBackup[index]);
    }
    // The saved copy is dealt with: put back, or kept and reported.
    BackupIntentFlags &= ~DriverFileBits[index];
    BackupFlags &= ~DriverFileBits[index];
}

void InstallDriverFiles() {
    ShowProgress("Copying QVRIDE.DLL.");
    UINT length =
        GetSystemDirectoryA(InstalledFileTarget[DRIVER_DLL], PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE) {
        DWORD error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        InstalledFileTarget[DRIVER_DLL][0] = '\0';
        FatalSetupError("Error getting system directory name.", (LONG)error);
    }
    std::strcpy(InstalledFileTarget[PORT_DRIVER],
                InstalledFileTarget[DRIVER_DLL]);
    if (!CopyWithBackup(MessageText, InstalledFileTarget[DRIVER_DLL],
                        DriverFileNames[DRIVER_DLL],
                        InstalledFileBackup[DRIVER_DLL], BACKUP_DRIVER_DLL)) {
        FatalSetupError("Error copying QVRIDE.DLL.", (LONG)GetLastError());
    }

    ShowProgress("Copying HBX52XX.MPD.");
    bool placed = AppendPathName(InstalledFileTarget[PORT_DRIVER], PATH_SIZE,
                                 "IOSUBSYS\\");
    if (!placed) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    } else {
        placed = CopyWithBackup(MessageText, InstalledFileTarget[PORT_DRIVER],
                                DriverFileNames[PORT_DRIVER],
                                InstalledFileBackup[PORT_DRIVER],
                                BACKUP_PORT_DRIVER);
    }
    if (!placed) {
        FatalSetupError("Error copying HBX52XX.MPD.", (LONG)GetLastError());
    }

    // The folder is journalled before it is made, where nothing stands; a
    // name that cannot be probed skips the preload files, as a folder that
    // cannot be made does.
    NameState folder = ProbeName(InstallDir);
    if (folder == NameState::Unknown) StepFlags |= STEP_PRELOAD_SKIPPED;
    if (StepFlags & STEP_PRELOAD_SKIPPED) return;
    if (folder == NameState::Free) JournalRecord("DIR", {InstallDir});
    SECURITY_ATTRIBUTES security = PlainSecurity();
    if (CreateDirectoryA(InstallDir, &security)) {
        InstallDirCreated = folder == NameState::Free;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
        StepFlags |= STEP_PRELOAD_SKIPPED;
    }
    if (StepFlags & STEP_PRELOAD_SKIPPED) return;

    if (!CopyPreloadFile(PRELOAD_EXE)) {
        // PARLOD.INI is not tried; C:\VELTRANE stays.
        UndoPreloadFiles();
        StepFlags |= STEP_PRELOAD_SKIPPED;
        return;
    }
    if (CopyPreloadFile(PRELOAD_INI)) return;

    UndoPreloadFiles();
    StepFlags |= STEP_PRELOAD_SKIPPED;
    // A folder this run made goes, when it is empty.
    if (InstallDirCreated) RemoveDirectoryA(InstallDir);
}
