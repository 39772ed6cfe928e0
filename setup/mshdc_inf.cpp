// Comments the two chips' device-description lines out of the standard INF
// MSHDC.INF, after saving it, so that only the driver INF describes them; a
// removal takes those comments out again the same way.
// The edited text is written to a new file beside MSHDC.INF and renamed in,
// so that MSHDC.INF is never half-written.
#include <windows.h>

#include <cstring>

#include "setup_state.h"
#include "work_buffers.h"

char InfDir[PATH_SIZE];
char MshdcPath[PATH_SIZE];
char MshdcBackupPath[PATH_SIZE];
char MshdcTempPath[PATH_SIZE];
char MshdcAsidePath[PATH_SIZE];

namespace {

const char FirstKey[] = "%PCI\\VEN_7A3C&DEV_0528.DeviceDesc%=";
const char SecondKey[] = "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%=";
const char ReadWriteError[] = "File Read/Write Error.";

// Larger files are refused before their size + 4 could wrap around.
constexpr DWORD LARGEST_INF = 0x10000000;

// Builds in `output` the text with a semicolon in front of the first
// occurrence of `key`, unless one stands there already. The search ends at
// the first NUL; all `length` bytes are copied.
bool CommentKey(const char *text, DWORD length, const char *key, char *output,
                DWORD *outputLength, bool *inserted) {
    const char *hit = std::strstr(text, key);
    if (hit == NULL) return false;
    DWORD at = static_cast<DWORD>(hit - text);
    std::memcpy(output, text, at);
    DWORD written = at;
    *inserted = at == 0 || text[at - 1] != ';';
    if (*inserted) output[written++] = ';';
    std::memcpy(output + written, text + at, length - at);
    *outputLength = written + length - at;
    return true;
}

// Builds in `output` the text without the semicolon in front of the first
// occurrence of `key`, if one stands there. The search ends at the first
// NUL; all `length` bytes are copied.
void UncommentKey(const char *text, DWORD length, const char *key, char *output,
                  DWORD *outputLength, bool *removed) {
    const char *hit = std::strstr(text, key);
    DWORD at = hit == NULL ? 0 : static_cast<DWORD>(hit - text);
    *removed = hit != NULL && at > 0 && text[at - 1] == ';';
    if (!*removed) {
        std::memcpy(output, text, length);
        *outputLength = length;
        return;
    }
    std::memcpy(output, text, at - 1);
    std::memcpy(output + at - 1, text + at, length - at);
    *outputLength = length - 1;
}

[[noreturn]] void FailWithPath(const char *format, DWORD error) {
    // Every format is a short text around one path: it fits MessageText.
    wsprintfA(MessageText, format, MshdcPath);
    FatalSetupError(MessageText, (LONG)error);
}

// The error code of a failed call; never 0, which would read as success.
DWORD LastFailure() {
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
}

// Reads the saved copy, edits it and, when the edit calls for it, writes
// the edited text to MshdcTempPath (*rewrite). False on a failure, with its
// error code; every buffer and file is released before it returns.
bool EditFromBackup(bool *rewrite, DWORD *error, bool *tooLarge) {
    *rewrite = false;
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle backup(
        CreateFileA(MshdcBackupPath, GENERIC_READ, FILE_SHARE_READ, &security,
                    OPEN_EXISTING,
                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, NULL));
    if (!backup.IsOpen()) return *error = LastFailure(), false;

    DWORD size = GetFileSize(backup.Get(), NULL);
    if (size == INVALID_FILE_SIZE) {
        *tooLarge = true;
        return *error = LastFailure(), false;
    }
    if (size > LARGEST_INF) return *error = ERROR_NOT_ENOUGH_MEMORY, false;

    WorkBuffer text(size + 4);
    if (text.Bytes() == NULL) return *error = LastFailure(), false;
    WorkBuffer output(size + 4);
    if (output.Bytes() == NULL) return *error = LastFailure(), false;

    DWORD got = 0;
    if (!ReadFile(backup.Get(), text.Bytes(), size, &got, NULL)) {
        return *error = LastFailure(), false;
    }
    if (got != size) return *error = ERROR_READ_FAULT, false;
    backup.Close();

    MshdcEdit edit =
        UninstallFlag ? UncommentMshdcKeys(text.Bytes(), output.Bytes(), size)
                      : CommentMshdcKeys(text.Bytes(), output.Bytes(), size);
    if (!edit.rewrite) return true;

    // MSHDC.INF itself must be writable, as a rewrite in place would need.
    FileHandle target(CreateFileA(MshdcPath, GENERIC_WRITE, 0, &security,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
    if (!target.IsOpen()) return *error = LastFailure(), false;
    target.Close();

    *rewrite = true;
    HANDLE file =
        CreateFileA(MshdcTempPath, GENERIC_WRITE, 0, &security, CREATE_NEW,
                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return *error = LastFailure(), false;
    // The copy is on disk before it is exchanged in: a failed flush is a
    // failed write.
    DWORD written = 0;
    BOOL done = WriteFile(file, output.Bytes(), edit.length, &written, NULL);
    DWORD writeError = done ? ERROR_WRITE_FAULT : LastFailure();
    bool wrote = done && written == edit.length;
    if (wrote && !FlushFileBuffers(file)) {
        wrote = false;
        writeError = LastFailure();
    }
    if (!CloseWrittenFile(file) && wrote) return *error = LastFailure(), false;
    if (!wrote) return *error = writeError, false;
    return true;
}

// Exchanges the edited copy in: MSHDC.INF aside, the copy to its name. The
// old file stays aside, whole and on disk, until the commit. The journal
// knows all three names first, so that a run cut short anywhere here is put
// back from the aside.
bool ExchangeEditedCopy(DWORD *error) {
    // The edited copy stands in for a write into MSHDC.INF, which a
    // read-only MSHDC.INF refuses.
    DWORD attributes = GetFileAttributesA(MshdcPath);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        *error = ERROR_ACCESS_DENIED;
        return false;
    }
    JournalRecord("MSHDC!");
    MshdcExchanging = 1;
    if (!MoveFileA(MshdcPath, MshdcAsidePath) ||
        !MoveFileA(MshdcTempPath, MshdcPath)) {
        *error = LastFailure();
        return false;
    }
    return true;
}

}  // namespace

MshdcEdit CommentMshdcKeys(char *text, char *output, DWORD size) {
    DWORD length = size;
    bool firstInserted = false;
    if (CommentKey(text, size, FirstKey, output, &length, &firstInserted)) {
        std::memcpy(text, output, length);
    } else {
        std::memcpy(output, text, size);
    }
    bool secondInserted = false;
    bool second =
        CommentKey(text, length, SecondKey, output, &length, &secondInserted);
    return MshdcEdit{length, second || firstInserted};
}

MshdcEdit UncommentMshdcKeys(char *text, char *output, DWORD size) {
    DWORD length = size;
    bool firstRemoved = false;
    UncommentKey(text, size, FirstKey, output, &length, &firstRemoved);
    if (firstRemoved) std::memcpy(text, output, length + 1);
    bool secondRemoved = false;
    UncommentKey(text, length, SecondKey, output, &length, &secondRemoved);
    // The byte behind the shortened text ends it as before.
    output[length] = '\0';
    return MshdcEdit{length, firstRemoved || secondRemoved};
}

bool ComposeMshdcPath() {
    char windowsDir[PATH_SIZE];
    UINT length = GetWindowsDirectoryA(windowsDir, PATH_SIZE);
    return length != 0 && length < PATH_SIZE &&
           ComposePath(InfDir, sizeof InfDir, windowsDir, "INF") &&
           ComposePath(MshdcPath, sizeof MshdcPath, InfDir, "MSHDC.INF");
}

bool MshdcHoldsComments() {
    if (!ComposeMshdcPath()) return false;
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle file(CreateFileA(MshdcPath, GENERIC_READ, FILE_SHARE_READ,
                                &security, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                NULL));
    if (!file.IsOpen()) return false;
    DWORD size = GetFileSize(file.Get(), NULL);
    if (size == INVALID_FILE_SIZE || size > LARGEST_INF) return false;
    WorkBuffer text(size + 4);
    WorkBuffer output(size + 4);
    if (text.Bytes() == NULL || output.Bytes() == NULL) return false;
    DWORD got = 0;
    if (!ReadFile(file.Get(), text.Bytes(), size, &got, NULL) || got != size) {
        return false;
    }
    return UncommentMshdcKeys(text.Bytes(), output.Bytes(), size).rewrite;
}

void EditMshdcInf() {
    ShowProgress("Editing MSHDC.INF.");
    char windowsDir[PATH_SIZE];
    UINT length = GetWindowsDirectoryA(windowsDir, PATH_SIZE);
    if (length == 0 || length >= PATH_SIZE) {
        DWORD error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        FatalSetupError("Error getting Windows directory name.", (LONG)error);
    }
    if (!ComposePath(InfDir, sizeof InfDir, windowsDir, "INF")) {
        FatalSetupError("Error getting Windows directory name.",
                        ERROR_FILENAME_EXCED_RANGE);
    }
    if (!ComposePath(MshdcPath, sizeof MshdcPath, InfDir, "MSHDC.INF")) return;

    SECURITY_ATTRIBUTES security = PlainSecurity();
    HANDLE probe = CreateFileA(MshdcPath, 0, 0, &security, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (probe == INVALID_HANDLE_VALUE) return;  // no MSHDC.INF: nothing to do
    CloseHandle(probe);

    if (!ComposeSavedPath(MshdcBackupPath, "MSHDC.INF", MshdcPath)) {
        FailWithPath("Error backing up file %s.", GetLastError());
    }
    if (!ChooseWorkName(MshdcTempPath, InfDir, "qvrnew%d.$$$") ||
        !ChooseWorkName(MshdcAsidePath, InfDir, "qvrold%d.$$$")) {
        FailWithPath("Error backing up file %s.", GetLastError());
    }
    JournalRecord("MSHDC",
                  {MshdcPath, MshdcBackupPath, MshdcTempPath, MshdcAsidePath});
    MshdcIntent = 1;
    // The saved copy is on disk before the journal vouches for it.
    if (!CopyFileA(MshdcPath, MshdcBackupPath, FALSE) ||
        !FlushFile(MshdcBackupPath)) {
        FailWithPath("Error backing up file %s.", GetLastError());
    }
    JournalRecord("MSHDC+");
    StepFlags |= STEP_MSHDC_SAVED;

    DWORD error = 0;
    bool tooLarge = false;
    bool rewrite = false;
    if (EditFromBackup(&rewrite, &error, &tooLarge)) {
        if (!rewrite || ExchangeEditedCopy(&error)) return;
    }
    if (tooLarge) FailWithPath("File %s is too large.", error);
    FatalSetupError(ReadWriteError, (LONG)error);
}

void RestoreMshdcInf() {
    ShowProgress("Restoring MSHDC.INF.");
    // Until the exchange began, MSHDC.INF has its old content.
    if (MshdcExchanging &&
        !PutBackExchanged(MshdcPath, MshdcAsidePath, MshdcBackupPath))
        return;
    DeleteMshdcBackup();
}

void DeleteMshdcBackup() {
    if (MshdcExchanging && MshdcAsidePath[0] != '\0') {
        DeleteWorkFile(MshdcAsidePath);
    }
    DeleteWorkFile(MshdcBackupPath);
    DeleteWorkFile(MshdcTempPath);
}
