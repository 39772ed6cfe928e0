// The install journal on disk, in the working directory beside the saved
// copies, and the recovery of a run that it shows was cut short.
//
// Every record names a change and where its saved copy lies, and reaches
// the disk before the change it records. The journal is never written in
// place: the whole text goes into JOURNAL.NEW, JOURNAL is deleted and
// JOURNAL.NEW renamed to it. So at every moment one of the two files holds
// every record written so far: JOURNAL when it exists (JOURNAL.NEW then
// holds at most one record more, whose change has not been made yet),
// otherwise JOURNAL.NEW, complete. Each line carries a check sum, so that a
// line torn by a power loss, and everything behind it, is not taken.
//
// A record of an intent ("a saved copy will be made here") comes before a
// copy is made, and a second record once it is complete: the recovery then
// deletes a copy that may be partial, and restores only from complete ones.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "setup_state.h"
#include "work_buffers.h"

int SnapshotIsOurs;
int MshdcIntent;
int MshdcExchanging;
int DriverInfIntent;
DWORD BackupIntentFlags;
int InstallDirCreated;
int UndoIncomplete;

namespace {

char JournalPath[PATH_SIZE];
char JournalNewPath[PATH_SIZE];
std::string JournalText;  // every record written so far
bool JournalOnDisk;       // JOURNAL exists
bool JournalNewOnDisk;    // JOURNAL.NEW exists

const char JournalName[] = "JOURNAL";
const char JournalNewName[] = "JOURNAL.NEW";
const char InstallDir[] = "C:\\VELTRANE";

const char RecoveredText[] =
    "Setup was interrupted before it finished.  The changes it had made "
    "have been undone.";
const char NotRecoveredText[] =
    "Setup was interrupted before it finished, and not all of the changes "
    "it had made could be undone.  Setup aborted.";

// FNV-1a over the record's text.
DWORD Checksum(std::string_view text) {
    DWORD sum = 2166136261u;
    for (char c : text) {
        sum ^= static_cast<unsigned char>(c);
        sum *= 16777619u;
    }
    return sum;
}

bool ComposeJournalPaths() {
    return ComposePath(JournalPath, PATH_SIZE, TempDir, JournalName) &&
           ComposePath(JournalNewPath, PATH_SIZE, TempDir, JournalNewName);
}

// Writes JournalText to JOURNAL.NEW and puts it in place of JOURNAL. 0, or
// the error of the call that failed.
DWORD WriteJournal() {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    HANDLE file = CreateFileA(JournalNewPath, GENERIC_WRITE, 0, &security,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    JournalNewOnDisk = true;
    DWORD size = static_cast<DWORD>(JournalText.size());
    DWORD written = 0;
    BOOL wrote = WriteFile(file, JournalText.data(), size, &written, NULL);
    if (!wrote || written != size) {
        DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
        CloseHandle(file);
        return error != 0 ? error : ERROR_WRITE_FAULT;
    }
    if (!CloseHandle(file)) return GetLastError();
    if (JournalOnDisk && !DeleteFileA(JournalPath)) return GetLastError();
    JournalOnDisk = false;
    if (!MoveFileA(JournalNewPath, JournalPath)) return GetLastError();
    JournalOnDisk = true;
    JournalNewOnDisk = false;
    return 0;
}

// Splits "a|b|c" at its bars; the fields land in `fields`, at most `count`.
int SplitFields(const std::string &text, std::string *fields, int count) {
    int n = 0;
    std::size_t start = 0;
    while (n < count) {
        std::size_t bar = text.find('|', start);
        fields[n++] = text.substr(
            start, bar == std::string::npos ? std::string::npos : bar - start);
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return n;
}

void CopyField(char *out, const std::string &field) {
    std::snprintf(out, PATH_SIZE, "%s", field.c_str());
}

// The driver file a record names by its number, or -1.
int FileIndex(const std::string &field) {
    if (field.size() != 1 || field[0] < '0' ||
        field[0] >= '0' + DRIVER_FILE_COUNT) {
        return -1;
    }
    return field[0] - '0';
}

// Puts one record back into the run's state, as the step that wrote it had
// it. False for a record that is not understood.
bool LoadRecord(const std::string &tag, const std::string &rest,
                bool *committed) {
    std::string f[5];
    int n = SplitFields(rest, f, 5);
    if (tag == "REG" && n == 1) {
        CopyField(SnapshotPath, f[0]);
        SnapshotIsOurs = 1;
    } else if (tag == "REG+") {
        StepFlags |= STEP_REGISTRY_SAVED;
    } else if (tag == "MSHDC" && n == 4) {
        CopyField(MshdcPath, f[0]);
        CopyField(MshdcBackupPath, f[1]);
        CopyField(MshdcTempPath, f[2]);
        CopyField(MshdcAsidePath, f[3]);
        MshdcIntent = 1;
    } else if (tag == "MSHDC+") {
        StepFlags |= STEP_MSHDC_SAVED;
    } else if (tag == "MSHDC!") {
        MshdcExchanging = 1;
    } else if (tag == "INF" && n == 5) {
        DriverInfIsNew = f[0] == "1";
        CopyField(DriverInfPath, f[1]);
        CopyField(DriverInfBackupPath, f[2]);
        CopyField(DriverInfTempPath, f[3]);
        CopyField(DriverInfAsidePath, f[4]);
        DriverInfIntent = 1;
        if (DriverInfIsNew) StepFlags |= STEP_INF_PLACED;
    } else if (tag == "INF+") {
        StepFlags |= STEP_INF_PLACED;
    } else if (tag == "INF!") {
        DriverInfWritten = 1;
    } else if (tag == "NEW" && n == 2 && FileIndex(f[0]) >= 0) {
        int i = FileIndex(f[0]);
        CopyField(InstalledFileTarget[i], f[1]);
        CreatedFlags |= DriverFileBits[i];
    } else if (tag == "OLD" && n == 3 && FileIndex(f[0]) >= 0) {
        int i = FileIndex(f[0]);
        CopyField(InstalledFileTarget[i], f[1]);
        CopyField(InstalledFileBackup[i], f[2]);
        BackupIntentFlags |= DriverFileBits[i];
    } else if (tag == "OLD+" && n == 1 && FileIndex(f[0]) >= 0) {
        BackupFlags |= DriverFileBits[FileIndex(f[0])];
        StepFlags |= STEP_FILES_REPLACED;
    } else if (tag == "DIR") {
        InstallDirCreated = 1;
    } else if (tag == "COMMIT") {
        *committed = true;
    } else {
        return false;
    }
    return true;
}

// Loads the records of a journal text, up to the first line that is torn
// or not understood. Gives the number of records taken.
int LoadJournal(const std::string &text, bool *committed) {
    int records = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) break;
        std::string line = text.substr(start, end - start);
        start = end + 2;
        std::size_t star = line.rfind('*');
        if (star == std::string::npos) break;
        std::string record = line.substr(0, star);
        char sum[16];
        std::snprintf(sum, sizeof sum, "%08lX",
                      (unsigned long)Checksum(record));
        if (line.substr(star + 1) != sum) break;
        std::size_t blank = record.find(' ');
        std::string tag = record.substr(0, blank);
        std::string rest =
            blank == std::string::npos ? "" : record.substr(blank + 1);
        if (!LoadRecord(tag, rest, committed)) break;
        ++records;
    }
    return records;
}

// Reads a whole journal file. False when it cannot be read.
bool ReadJournalFile(const char *path, std::string *text) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, &security,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsOpen()) return false;
    DWORD size = GetFileSize(file.Get(), NULL);
    if (size == INVALID_FILE_SIZE || size > 0x100000) return false;
    text->assign(size, '\0');
    DWORD got = 0;
    if (size > 0 && (!ReadFile(file.Get(), text->data(), size, &got, NULL) ||
                     got != size)) {
        return false;
    }
    return true;
}

bool Exists(const char *path) {
    return path[0] != '\0' &&
           GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Every piece of run state back to its start, for the run that follows a
// recovery.
void ResetRunState() {
    StepFlags = 0;
    BackupFlags = 0;
    CreatedFlags = 0;
    BackupIntentFlags = 0;
    SnapshotPath[0] = '\0';
    SnapshotIsOurs = 0;
    MshdcPath[0] = MshdcBackupPath[0] = '\0';
    MshdcTempPath[0] = MshdcAsidePath[0] = '\0';
    MshdcIntent = MshdcExchanging = 0;
    DriverInfPath[0] = DriverInfBackupPath[0] = '\0';
    DriverInfTempPath[0] = DriverInfAsidePath[0] = '\0';
    DriverInfIsNew = DriverInfWritten = DriverInfIntent = 0;
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        InstalledFileTarget[i][0] = InstalledFileBackup[i][0] = '\0';
    }
    InstallDirCreated = 0;
    UndoIncomplete = 0;
    JournalText.clear();
    JournalOnDisk = JournalNewOnDisk = false;
    TempDir[0] = '\0';
}

// The end of a run that was cut short while committing: only the saved
// copies are left to delete.
void FinishCommit() {
    DeleteRegistrySnapshot();
    DeleteMshdcBackup();
    DeleteFileBackups();
    DeleteDriverInfBackup();
}

}  // namespace

void JournalRecord(const char *tag, const char *fields) {
    if (JournalPath[0] == '\0' && !ComposeJournalPaths()) {
        std::snprintf(MessageText, sizeof MessageText, "Error writing file %s.",
                      TempDir);
        FatalSetupError(MessageText, ERROR_FILENAME_EXCED_RANGE);
    }
    std::string record = tag;
    if (fields != NULL && fields[0] != '\0') {
        record += ' ';
        record += fields;
    }
    char sum[16];
    std::snprintf(sum, sizeof sum, "*%08lX\r\n",
                  (unsigned long)Checksum(record));
    JournalText += record + sum;
    DWORD error = WriteJournal();
    if (error == 0) return;
    std::snprintf(MessageText, sizeof MessageText, "Error writing file %s.",
                  JournalPath);
    FatalSetupError(MessageText, (LONG)error);
}

bool ChooseWorkName(char *out, const char *directory, const char *format) {
    for (int n = 0; n < 1000; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, format, n);
        if (!ComposePath(out, PATH_SIZE, directory, name)) return false;
        if (GetFileAttributesA(out) == INVALID_FILE_ATTRIBUTES) return true;
    }
    out[0] = '\0';
    return false;
}

bool SavedCopyGone(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void DeleteJournal() {
    if (JournalOnDisk) DeleteFileA(JournalPath);
    if (JournalNewOnDisk) DeleteFileA(JournalNewPath);
    JournalOnDisk = JournalNewOnDisk = false;
    JournalText.clear();
}

void UndoRecordedChanges(bool interrupted) {
    if (StepFlags & STEP_REGISTRY_SAVED) {
        RestoreRegistrySnapshot();
    } else if (SnapshotIsOurs) {
        DeleteRegistrySnapshot();  // a snapshot no change relied on yet
    }
    if (StepFlags & STEP_MSHDC_SAVED) {
        RestoreMshdcInf();
    } else if (MshdcIntent) {
        DeleteMshdcBackup();
    }
    if (StepFlags & STEP_INF_PLACED) {
        UndoDriverInf();
    } else if (DriverInfIntent && !DriverInfIsNew) {
        DeleteFileA(DriverInfBackupPath);  // the old instance is untouched
    }
    // A rollback leaves files copied new in place unless an older file was
    // replaced; a recovery takes every change back.
    if (interrupted || (StepFlags & STEP_FILES_REPLACED) || BackupFlags != 0) {
        RestoreInstalledFiles();
    }
    for (int i = 0; i < DRIVER_FILE_COUNT; ++i) {
        DWORD bit = DriverFileBits[i];
        if ((BackupIntentFlags & bit) && !(BackupFlags & bit)) {
            // A saved copy that may be partial; its file was not replaced.
            DeleteFileA(InstalledFileBackup[i]);
            BackupIntentFlags &= ~bit;
        }
    }
    if (!interrupted) return;
    if (InstallDirCreated) RemoveDirectoryA(InstallDir);
    if ((StepFlags & STEP_INF_PLACED) && !UndoIncomplete) {
        DeleteDriverInfBackup();
    }
}

bool RecoverInterruptedRun() {
    DWORD length = GetTempPathA(PATH_SIZE, TempDir);
    if (length == 0 || length >= PATH_SIZE ||
        !AppendPathName(TempDir, PATH_SIZE, "qvrback") ||
        !ComposeJournalPaths()) {
        ResetRunState();
        JournalPath[0] = '\0';
        return true;  // then no run can have left a journal there
    }
    const char *found = Exists(JournalPath)      ? JournalPath
                        : Exists(JournalNewPath) ? JournalNewPath
                                                 : NULL;
    if (found == NULL) {
        ResetRunState();
        return true;
    }
    std::string text;
    if (!ReadJournalFile(found, &text)) {
        MessageBoxA(NULL, NotRecoveredText, ErrorCaption, MB_ICONERROR);
        return false;
    }
    bool committed = false;
    int records = LoadJournal(text, &committed);
    // Both names may be in use; both go once the journal is done with.
    JournalOnDisk = Exists(JournalPath);
    JournalNewOnDisk = Exists(JournalNewPath);
    if (records == 0 || committed) {
        // Nothing was changed yet, or all of it was kept.
        if (committed) FinishCommit();
        DeleteJournal();
        RemoveTempDir();
        ResetRunState();
        return true;
    }
    UndoRecordedChanges(true);
    if (UndoIncomplete) {
        MessageBoxA(NULL, NotRecoveredText, ErrorCaption, MB_ICONERROR);
        return false;
    }
    DeleteJournal();
    RemoveTempDir();
    MessageBoxA(NULL, RecoveredText, AppTitle,
                MB_SETFOREGROUND | MB_ICONINFORMATION);
    ResetRunState();
    return true;
}
