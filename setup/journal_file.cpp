// The install journal on disk, in the working directory beside the saved
// copies, and the recovery of a run that it shows was cut short.
//
// Every record names a change and where its saved copy lies, and reaches
// the disk before the change it records. The journal is never written in
// place: the whole text goes into JOURNAL.NEW, JOURNAL is deleted and
// JOURNAL.NEW renamed to it, once JOURNAL.NEW is flushed to the disk. So at
// every moment one of the two files holds every record written so far:
// JOURNAL when it is alone, JOURNAL.NEW when it is alone (complete), and
// when both are there, the one with more valid records (JOURNAL.NEW then
// holds one record more: a power loss can take back the delete and the
// rename of the exchange). Each line carries a check sum, so that a line
// torn by a power loss, and everything behind it, is not taken.
//
// A record of an intent ("a saved copy will be made here") comes before a
// copy is made, and a second record once it is complete: the recovery then
// deletes a copy that may be partial, and restores only from complete ones.
#include <windows.h>

#include <cstring>

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

// Room for every record of one run, written or read back: an install writes
// at most 22 records, naming 22 paths in all, a removal at most 21, naming
// 22 paths (under 7000 bytes).
constexpr DWORD JOURNAL_SIZE = 16384;

char JournalPath[PATH_SIZE];
char JournalNewPath[PATH_SIZE];
char JournalText[JOURNAL_SIZE];  // every record written so far
DWORD JournalLength;
char ReadText[JOURNAL_SIZE];     // JOURNAL read back for recovery
char ReadNewText[JOURNAL_SIZE];  // JOURNAL.NEW read back for recovery
bool JournalOnDisk;              // JOURNAL exists
bool JournalNewOnDisk;           // JOURNAL.NEW exists

const char JournalName[] = "JOURNAL";
const char JournalNewName[] = "JOURNAL.NEW";
const char InstallDir[] = "C:\\VELTRANE";

// Work files that could not be deleted: this run's own (LeftFiles), and
// those that an earlier run left, named by the journal's DEL records
// (CarriedFiles). Fewer paths than a run has work files would do.
struct PathList {
    char paths[16][PATH_SIZE];
    int count;

    void Add(const char *path) {
        for (int i = 0; i < count; ++i) {
            if (lstrcmpiA(paths[i], path) == 0) return;
        }
        if (count < 16) lstrcpynA(paths[count++], path, PATH_SIZE);
    }
};
PathList LeftFiles;
PathList CarriedFiles;

// The work names ChooseWorkName handed out in this run: each file of a run
// has its own, so that the undo of one never deletes another's.
constexpr int WORK_NAME_COUNT = 8;
char WorkNames[WORK_NAME_COUNT][PATH_SIZE];
int WorkNameCount;

const char RecoveredText[] =
    "Setup was interrupted before it finished.  The changes it had made "
    "have been undone.";
const char NotRecoveredText[] =
    "Setup was interrupted before it finished, and not all of the changes "
    "it had made could be undone.  Setup aborted.";

// A piece of a journal text, which may hold any byte, NUL included.
struct Piece {
    const char *data;
    DWORD length;

    // The offset of the first `c` at or after `from`, or length.
    DWORD Find(char c, DWORD from = 0) const {
        while (from < length && data[from] != c) ++from;
        return from;
    }
    // The offset of the first CR LF at or after `from`, or length.
    DWORD FindLineEnd(DWORD from) const {
        for (; from + 1 < length; ++from) {
            if (data[from] == '\r' && data[from + 1] == '\n') return from;
        }
        return length;
    }
    Piece Part(DWORD from, DWORD end) const {
        return {data + from, end - from};
    }
    bool Is(const char *text) const {
        DWORD i = 0;
        for (; i < length; ++i) {
            if (text[i] == '\0' || text[i] != data[i]) return false;
        }
        return text[i] == '\0';
    }
};

// FNV-1a over the record's text.
DWORD Checksum(Piece text) {
    DWORD sum = 2166136261u;
    for (DWORD i = 0; i < text.length; ++i) {
        sum ^= static_cast<unsigned char>(text.data[i]);
        sum *= 16777619u;
    }
    return sum;
}

// Appends text to the journal; false when it would not fit.
bool Append(const char *text, DWORD length) {
    if (length > JOURNAL_SIZE - JournalLength) return false;
    for (DWORD i = 0; i < length; ++i) JournalText[JournalLength++] = text[i];
    return true;
}

bool Append(const char *text) { return Append(text, lstrlenA(text)); }

bool ComposeJournalPaths() {
    return ComposePath(JournalPath, PATH_SIZE, TempDir, JournalName) &&
           ComposePath(JournalNewPath, PATH_SIZE, TempDir, JournalNewName);
}

// Appends one record with its check sum to JournalText; false, with the
// text as it was, when it does not fit.
bool AppendRecord(const char *tag, std::initializer_list<const char *> fields) {
    DWORD start = JournalLength;
    bool fits = Append(tag);
    const char *separator = " ";
    for (const char *field : fields) {
        fits = fits && Append(separator) && Append(field);
        separator = "|";
    }
    char sum[16];
    if (fits) {
        wsprintfA(sum, "*%08lX\r\n",
                  (unsigned long)Checksum(
                      {JournalText + start, JournalLength - start}));
        fits = Append(sum);
    }
    if (!fits) JournalLength = start;
    return fits;
}

// Writes JournalText to JOURNAL.NEW and puts it in place of JOURNAL. 0, or
// the error of the call that failed.
DWORD WriteJournal() {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    HANDLE file = CreateFileA(JournalNewPath, GENERIC_WRITE, 0, &security,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    JournalNewOnDisk = true;
    DWORD size = JournalLength;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, JournalText, size, &written, NULL);
    if (!wrote || written != size) {
        DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
        CloseWrittenFile(file);
        return error != 0 ? error : ERROR_WRITE_FAULT;
    }
    // The record is on disk before JOURNAL goes, and so before its change.
    if (!FlushFileBuffers(file)) {
        DWORD error = GetLastError();
        CloseWrittenFile(file);
        return error != 0 ? error : ERROR_WRITE_FAULT;
    }
    if (!CloseWrittenFile(file)) return GetLastError();
    if (JournalOnDisk && !DeleteFileA(JournalPath)) return GetLastError();
    JournalOnDisk = false;
    if (!MoveFileA(JournalNewPath, JournalPath)) return GetLastError();
    JournalOnDisk = true;
    JournalNewOnDisk = false;
    return 0;
}

// Splits "a|b|c" at its bars; the fields land in `fields`, at most `count`.
int SplitFields(Piece text, Piece *fields, int count) {
    int n = 0;
    DWORD start = 0;
    while (n < count) {
        DWORD bar = text.Find('|', start);
        fields[n++] = text.Part(start, bar);
        if (bar == text.length) break;
        start = bar + 1;
    }
    return n;
}

// A field into a path buffer, cut to PATH_SIZE - 1 characters.
void CopyField(char *out, Piece field) {
    DWORD length = field.length < PATH_SIZE ? field.length : PATH_SIZE - 1;
    for (DWORD i = 0; i < length; ++i) out[i] = field.data[i];
    out[length] = '\0';
}

// The driver file a record names by its number, or -1.
int FileIndex(Piece field) {
    if (field.length != 1 || field.data[0] < '0' ||
        field.data[0] >= '0' + DRIVER_FILE_COUNT) {
        return -1;
    }
    return field.data[0] - '0';
}

// The slot of a deleted file that a record names by its number, or -1.
int GoneIndex(Piece field) {
    if (field.length != 1 || field.data[0] < '0' ||
        field.data[0] >= '0' + GONE_FILE_COUNT) {
        return -1;
    }
    return field.data[0] - '0';
}

// Puts one record back into the run's state, as the step that wrote it had
// it. False for a record that is not understood.
bool LoadRecord(Piece tag, Piece rest, bool *committed) {
    Piece f[5];
    int n = SplitFields(rest, f, 5);
    if (tag.Is("REG") && n == 1) {
        CopyField(SnapshotPath, f[0]);
        SnapshotIsOurs = 1;
    } else if (tag.Is("REG+")) {
        StepFlags |= STEP_REGISTRY_SAVED;
    } else if (tag.Is("MSHDC") && n == 4) {
        CopyField(MshdcPath, f[0]);
        CopyField(MshdcBackupPath, f[1]);
        CopyField(MshdcTempPath, f[2]);
        CopyField(MshdcAsidePath, f[3]);
        MshdcIntent = 1;
    } else if (tag.Is("MSHDC+")) {
        StepFlags |= STEP_MSHDC_SAVED;
    } else if (tag.Is("MSHDC!")) {
        MshdcExchanging = 1;
    } else if (tag.Is("INF") && n == 5) {
        DriverInfIsNew = f[0].Is("1");
        CopyField(DriverInfPath, f[1]);
        CopyField(DriverInfBackupPath, f[2]);
        CopyField(DriverInfTempPath, f[3]);
        CopyField(DriverInfAsidePath, f[4]);
        DriverInfIntent = 1;
        if (DriverInfIsNew) StepFlags |= STEP_INF_PLACED;
    } else if (tag.Is("INF+")) {
        StepFlags |= STEP_INF_PLACED;
    } else if (tag.Is("INF!")) {
        DriverInfWritten = 1;
    } else if (tag.Is("NEW") && n == 2 && FileIndex(f[0]) >= 0) {
        int i = FileIndex(f[0]);
        CopyField(InstalledFileTarget[i], f[1]);
        CreatedFlags |= DriverFileBits[i];
    } else if (tag.Is("OLD") && n == 3 && FileIndex(f[0]) >= 0) {
        int i = FileIndex(f[0]);
        CopyField(InstalledFileTarget[i], f[1]);
        CopyField(InstalledFileBackup[i], f[2]);
        BackupIntentFlags |= DriverFileBits[i];
    } else if (tag.Is("OLD+") && n == 1 && FileIndex(f[0]) >= 0) {
        BackupFlags |= DriverFileBits[FileIndex(f[0])];
        StepFlags |= STEP_FILES_REPLACED;
    } else if (tag.Is("DIR")) {
        InstallDirCreated = 1;
    } else if (tag.Is("GONE") && n == 3 && GoneIndex(f[0]) >= 0) {
        int i = GoneIndex(f[0]);
        CopyField(GoneTarget[i], f[1]);
        CopyField(GoneSaved[i], f[2]);
        GoneIntentFlags |= 1u << i;
    } else if (tag.Is("GONE+") && n == 1 && GoneIndex(f[0]) >= 0) {
        GoneSavedFlags |= 1u << GoneIndex(f[0]);
    } else if (tag.Is("RMDIR")) {
        InstallDirRemoved = 1;
    } else if (tag.Is("WININI") && n == 4) {
        CopyField(WinIniPath, f[0]);
        CopyField(WinIniBackupPath, f[1]);
        CopyField(WinIniTempPath, f[2]);
        CopyField(WinIniAsidePath, f[3]);
        WinIniIntent = 1;
    } else if (tag.Is("WININI+")) {
        WinIniSaved = 1;
    } else if (tag.Is("WININI!")) {
        WinIniExchanging = 1;
    } else if (tag.Is("COMMIT")) {
        *committed = true;
    } else if (tag.Is("DEL") && n == 1) {
        char path[PATH_SIZE];
        CopyField(path, f[0]);
        CarriedFiles.Add(path);
    } else {
        return false;
    }
    return true;
}

// Loads the records of a journal text, up to the first line that is torn
// or not understood. Gives the number of records taken.
int LoadJournal(Piece text, bool *committed) {
    CarriedFiles.count = 0;
    int records = 0;
    DWORD start = 0;
    for (;;) {
        DWORD end = text.FindLineEnd(start);
        if (end == text.length) break;
        Piece line = text.Part(start, end);
        start = end + 2;
        DWORD star = line.length;
        while (star > 0 && line.data[star - 1] != '*') --star;
        if (star == 0) break;
        Piece record = line.Part(0, star - 1);
        char sum[16];
        wsprintfA(sum, "%08lX", (unsigned long)Checksum(record));
        if (!line.Part(star, line.length).Is(sum)) break;
        DWORD blank = record.Find(' ');
        Piece tag = record.Part(0, blank);
        Piece rest = blank == record.length
                         ? record.Part(blank, blank)
                         : record.Part(blank + 1, record.length);
        if (!LoadRecord(tag, rest, committed)) break;
        ++records;
    }
    return records;
}

// Reads a whole journal file into `buffer` (JOURNAL_SIZE bytes). False when
// it cannot be read, or is larger than any journal that a run writes.
bool ReadJournalFile(const char *path, char *buffer, Piece *text) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, &security,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!file.IsOpen()) return false;
    DWORD size = GetFileSize(file.Get(), NULL);
    if (size == INVALID_FILE_SIZE || size > JOURNAL_SIZE) return false;
    DWORD got = 0;
    if (size > 0 &&
        (!ReadFile(file.Get(), buffer, size, &got, NULL) || got != size)) {
        return false;
    }
    *text = {buffer, size};
    return true;
}

// Whether a journal may lie at `path`: only a name that the attribute query
// reports missing holds none. One that cannot be probed is read, so that a
// failed query never passes over an interrupted run.
bool MayExist(const char *path) {
    return path[0] != '\0' && ProbeName(path) != NameState::Free;
}

// What LoadJournal puts into the run's state, back to nothing.
void ResetLoadedState() {
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
    for (int i = 0; i < GONE_FILE_COUNT; ++i) {
        GoneTarget[i][0] = GoneSaved[i][0] = '\0';
    }
    GoneIntentFlags = GoneSavedFlags = 0;
    InstallDirRemoved = 0;
    WinIniPath[0] = WinIniBackupPath[0] = '\0';
    WinIniTempPath[0] = WinIniAsidePath[0] = '\0';
    WinIniIntent = WinIniSaved = WinIniExchanging = 0;
}

// Every piece of run state back to its start, for the run that follows a
// recovery.
void ResetRunState() {
    ResetLoadedState();
    UndoIncomplete = 0;
    LeftFiles.count = 0;
    WorkNameCount = 0;
    TempDir[0] = '\0';
}

}  // namespace

void JournalRecord(const char *tag,
                   std::initializer_list<const char *> fields) {
    if (JournalPath[0] == '\0' && !ComposeJournalPaths()) {
        wsprintfA(MessageText, "Error writing file %s.", TempDir);
        FatalSetupError(MessageText, ERROR_FILENAME_EXCED_RANGE);
    }
    DWORD start = JournalLength;
    DWORD error =
        AppendRecord(tag, fields) ? WriteJournal() : ERROR_NOT_ENOUGH_MEMORY;
    if (error == 0) return;
    JournalLength = start;
    wsprintfA(MessageText, "Error writing file %s.", JournalPath);
    FatalSetupError(MessageText, (LONG)error);
}

bool ChooseWorkName(char *out, const char *directory, const char *format) {
    for (int n = 0; n < 1000; ++n) {
        char name[16];
        wsprintfA(name, format, n);
        if (!ComposePath(out, PATH_SIZE, directory, name)) break;
        bool handedOut = false;
        for (int i = 0; i < WorkNameCount; ++i) {
            handedOut = handedOut || lstrcmpiA(WorkNames[i], out) == 0;
        }
        if (handedOut) continue;
        NameState state = ProbeName(out);
        if (state == NameState::Unknown) {
            DWORD error = GetLastError();
            out[0] = '\0';
            SetLastError(error);
            return false;
        }
        if (state == NameState::Taken) continue;
        if (WorkNameCount < WORK_NAME_COUNT) {
            lstrcpyA(WorkNames[WorkNameCount++], out);
        }
        return true;
    }
    out[0] = '\0';
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

namespace {

// Whether the two files hold the same bytes; false when either cannot be
// read.
bool SameContent(const char *one, const char *other) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle a(CreateFileA(one, GENERIC_READ, FILE_SHARE_READ, &security,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    FileHandle b(CreateFileA(other, GENERIC_READ, FILE_SHARE_READ, &security,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!a.IsOpen() || !b.IsOpen()) return false;
    DWORD size = GetFileSize(a.Get(), NULL);
    if (size == INVALID_FILE_SIZE || size != GetFileSize(b.Get(), NULL))
        return false;
    char bytesA[512];
    char bytesB[512];
    for (DWORD left = size; left > 0;) {
        DWORD chunk = left < sizeof bytesA ? left : DWORD(sizeof bytesA);
        DWORD gotA = 0;
        DWORD gotB = 0;
        if (!ReadFile(a.Get(), bytesA, chunk, &gotA, NULL) || gotA != chunk ||
            !ReadFile(b.Get(), bytesB, chunk, &gotB, NULL) || gotB != chunk ||
            std::memcmp(bytesA, bytesB, chunk) != 0) {
            return false;
        }
        left -= chunk;
    }
    return true;
}

}  // namespace

bool ComposeSavedPath(char *out, const char *name, const char *original) {
    if (!ComposePath(out, PATH_SIZE, TempDir, name)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    NameState state = ProbeName(out);
    if (state == NameState::Free) return true;
    // A copy as the file stands now, left by an earlier undo that put the
    // file back, loses nothing when the new copy replaces it.
    if (state == NameState::Taken && original != NULL &&
        SameContent(out, original)) {
        return true;
    }
    if (state == NameState::Unknown) {
        DWORD error = GetLastError();
        out[0] = '\0';
        SetLastError(error);
        return false;
    }
    // The name's first eight characters before its dot, and three digits.
    char format[16];
    int length = 0;
    for (; name[length] != '\0' && name[length] != '.' && length < 8;
         ++length) {
        format[length] = name[length] == '%' ? '_' : name[length];
    }
    lstrcpyA(format + length, ".%03d");
    return ChooseWorkName(out, TempDir, format);
}

bool SavedCopyGone(const char *path) {
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void DeleteWorkFile(const char *path) {
    if (path[0] == '\0' || DeleteFileA(path)) return;
    if (ProbeName(path) != NameState::Free) {
        LeftFiles.Add(path);
    }
}

void CloseJournal() {
    for (int i = 0; i < CarriedFiles.count; ++i) {
        DeleteWorkFile(CarriedFiles.paths[i]);
    }
    CarriedFiles.count = 0;
    if (LeftFiles.count == 0) {
        DeleteJournal();
        return;
    }
    // The journal now names only the files left, for the next run; until
    // this run ends they are this run's to delete as well.
    JournalLength = 0;
    for (int i = 0; i < LeftFiles.count; ++i) {
        if (AppendRecord("DEL", {LeftFiles.paths[i]})) {
            CarriedFiles.Add(LeftFiles.paths[i]);
        }
    }
    LeftFiles.count = 0;
    WriteJournal();
}

void DeleteJournal() {
    if (JournalOnDisk) DeleteFileA(JournalPath);
    if (JournalNewOnDisk) DeleteFileA(JournalNewPath);
    JournalOnDisk = JournalNewOnDisk = false;
    JournalLength = 0;
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
    // What a removal took out comes back: the folder before the files in it.
    if (InstallDirRemoved) RestoreInstallDir();
    UndoRemovedFiles();
    if (WinIniSaved) {
        RestoreWinIni();
    } else if (WinIniIntent) {
        DeleteWinIniBackup();  // a saved copy no change relied on yet
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
    // Both names may be in use; both go once the journal is done with.
    JournalOnDisk = MayExist(JournalPath);
    JournalNewOnDisk = MayExist(JournalNewPath);
    if (!JournalOnDisk && !JournalNewOnDisk) {
        ResetRunState();
        return true;
    }
    Piece text = {ReadText, 0};
    Piece newText = {ReadNewText, 0};
    if ((JournalOnDisk && !ReadJournalFile(JournalPath, ReadText, &text)) ||
        (JournalNewOnDisk &&
         !ReadJournalFile(JournalNewPath, ReadNewText, &newText))) {
        MessageBoxA(NULL, NotRecoveredText, ErrorCaption, MB_ICONERROR);
        return false;
    }
    // Of two journals the one with more valid records is the later one.
    bool committed = false;
    int records = LoadJournal(text, &committed);
    if (JournalNewOnDisk) {
        ResetLoadedState();
        committed = false;
        int newRecords = LoadJournal(newText, &committed);
        if (newRecords <= records) {
            ResetLoadedState();
            committed = false;
            LoadJournal(text, &committed);
        } else {
            records = newRecords;
        }
    }
    if (records == CarriedFiles.count || committed) {
        // Nothing was changed yet, or all of it was kept: only work files
        // are left to delete.
        // Cut short while committing: only the saved copies are left.
        if (committed) DeleteSavedCopies();
        CloseJournal();
        RemoveTempDir();
        ResetRunState();
        return true;
    }
    UndoRecordedChanges(true);
    if (UndoIncomplete) {
        MessageBoxA(NULL, NotRecoveredText, ErrorCaption, MB_ICONERROR);
        return false;
    }
    CloseJournal();
    RemoveTempDir();
    MessageBoxA(NULL, RecoveredText, AppTitle,
                MB_SETFOREGROUND | MB_ICONINFORMATION);
    ResetRunState();
    return true;
}
