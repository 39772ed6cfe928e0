// Places the driver INF, found on the distribution disk by its content, into
// the Windows INF directory: over an earlier instance of it (saved first) or
// under a new oem name, with every "CopyFiles" commented out. The copy is
// written to a new file in the INF directory and renamed into place, so that
// no half-written INF ever carries an oem name.
#include <windows.h>

#include <cstring>

#include "setup_state.h"
#include "work_buffers.h"

char DriverInfPath[PATH_SIZE];
char DriverInfBackupPath[PATH_SIZE];
int DriverInfIsNew;
int DriverInfWritten;
char DriverInfTempPath[PATH_SIZE];
char DriverInfAsidePath[PATH_SIZE];

namespace {

const char FirstKey[] = "%PCI\\VEN_7A3C&DEV_0525.DeviceDesc%=";
const char SecondKey[] = "%PCI\\VEN_7A3C&DEV_0528.DeviceDesc%=";
const char CopyFilesWord[] = "CopyFiles";
constexpr DWORD WORD_LENGTH = sizeof CopyFilesWord - 1;
const char ReadWriteError[] = "File Read/Write Error.";

// Larger files are passed over before their size + 2 could wrap around.
constexpr DWORD LARGEST_INF = 0x10000000;

char SourceInfPath[PATH_SIZE];

HANDLE OpenForReading(const char *path) {
    SECURITY_ATTRIBUTES security = PlainSecurity();
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, &security,
                       OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, NULL);
}

// Whether the file holds the key. A file that cannot be opened, sized or
// read in full does not.
bool FileHoldsKey(const char *path, const char *key) {
    FileHandle file(OpenForReading(path));
    if (!file.IsOpen()) return false;
    DWORD size = GetFileSize(file.Get(), NULL);
    if (size == INVALID_FILE_SIZE || size > LARGEST_INF) return false;
    WorkBuffer text(size + 2);  // the zero bytes behind the text end it
    if (text.Bytes() == NULL) return false;
    DWORD got = 0;
    if (!ReadFile(file.Get(), text.Bytes(), size, &got, NULL) || got != size) {
        return false;
    }
    return InfTextHoldsKey(text.Bytes(), key);
}

// Searches the pattern for the first key, then (set up again) for the
// second one.
bool FindInfWithEitherKey(char *path, const char *pattern, int *count) {
    std::strcpy(path, pattern);
    if (FindInfWithKey(FirstKey, path, count)) return true;
    std::strcpy(path, pattern);
    return FindInfWithKey(SecondKey, path, count);
}

// The first free name oem<n>.inf from the count of oem files on. The count
// assumes numbers from 0 without gaps; an existing file is never taken, nor
// a name whose probe failed. False with the error in GetLastError.
bool ChooseNewOemName(int number) {
    for (; number >= 0 && number < 0x7FFFFFFF; ++number) {
        wsprintfA(MessageText, "\\oem%d.inf", number);
        if (std::strlen(InfDir) + std::strlen(MessageText) >= PATH_SIZE) {
            break;
        }
        std::strcpy(DriverInfPath, InfDir);
        std::strcat(DriverInfPath, MessageText);
        NameState state = ProbeName(DriverInfPath);
        if (state == NameState::Free) return true;
        if (state == NameState::Unknown) return false;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

[[noreturn]] void FailReadWrite(DWORD error) {
    FatalSetupError(ReadWriteError,
                    (LONG)(error != 0 ? error : ERROR_GEN_FAILURE));
}

// The commenting copy from the source INF to DriverInfTempPath. A read
// error falls back to copying the source whole; a failed write is fatal,
// and the rollback then removes the partial file.
void WriteCommentedInf() {
    FileHandle source(OpenForReading(SourceInfPath));
    if (!source.IsOpen()) FailReadWrite(GetLastError());
    SECURITY_ATTRIBUTES security = PlainSecurity();
    FileHandle target(
        CreateFileA(DriverInfTempPath, GENERIC_WRITE, 0, &security, CREATE_NEW,
                    FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, NULL));
    if (!target.IsOpen()) {
        DWORD error = GetLastError();
        source.Close();
        FailReadWrite(error);
    }

    ByteWriter write = [&target](const char *bytes, DWORD count) {
        DWORD written = 0;
        return WriteFile(target.Get(), bytes, count, &written, NULL) &&
               written == count;
    };
    CopyFilesCommenter commenter;
    bool readFailed = false;
    bool writeFailed = false;
    for (;;) {
        char byte = 0;
        DWORD got = 0;
        if (!ReadFile(source.Get(), &byte, 1, &got, NULL)) {
            readFailed = true;
            break;
        }
        if (got == 0) {
            writeFailed = !commenter.Finish(write);
            break;
        }
        if (!commenter.Feed(byte, write)) {
            writeFailed = true;
            break;
        }
    }
    DWORD error = GetLastError();
    source.Close();
    // The copy is on disk before it is exchanged in: a failed flush is a
    // failed write.
    if (!writeFailed && !readFailed && !FlushFileBuffers(target.Get())) {
        writeFailed = true;
        error = GetLastError();
    }
    if (!target.CloseWritten() && !writeFailed) {
        writeFailed = true;
        error = GetLastError();
    }
    if (writeFailed) FailReadWrite(error);
    if (readFailed && (!CopyFileA(SourceInfPath, DriverInfTempPath, FALSE) ||
                       !FlushFile(DriverInfTempPath))) {
        FailReadWrite(GetLastError());
    }
}

// Renames the finished copy to DriverInfPath: under a new name at once (the
// rename refuses a name that is taken); over an old instance by moving that
// aside first, where it stays, whole and on disk, until the commit. The
// journal knows it first.
void ExchangeCommentedInf() {
    JournalRecord("INF!");
    DriverInfWritten = 1;
    bool done = DriverInfIsNew
                    ? MoveFileA(DriverInfTempPath, DriverInfPath) != FALSE
                    : MoveFileA(DriverInfPath, DriverInfAsidePath) &&
                          MoveFileA(DriverInfTempPath, DriverInfPath);
    if (!done) FailReadWrite(GetLastError());
}

// Journals the driver INF's place and its working names before anything
// is written: "INF isNew|target|saved copy|new copy|aside".
void JournalDriverInf() {
    JournalRecord(
        "INF", {DriverInfIsNew ? "1" : "0", DriverInfPath, DriverInfBackupPath,
                DriverInfTempPath, DriverInfAsidePath});
    DriverInfIntent = 1;
}

}  // namespace

bool InfTextHoldsKey(const char *text, const char *key) {
    return std::strstr(text, key) != NULL;
}

const char *FileNamePart(const char *path) {
    const char *slash = std::strrchr(path, '\\');
    return slash != NULL ? slash + 1 : path;
}

bool FindInfWithKey(const char *key, char *path, int *count) {
    char directory[PATH_SIZE];
    std::size_t directoryLength =
        static_cast<std::size_t>(FileNamePart(path) - path);
    std::memcpy(directory, path, directoryLength);
    directory[directoryLength] = '\0';

    *count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    *count = 1;
    for (;;) {
        // A name too long for the buffer counts but is not searched.
        if (directoryLength + std::strlen(found.cFileName) < PATH_SIZE) {
            std::memcpy(path, directory, directoryLength);
            std::strcpy(path + directoryLength, found.cFileName);
            if (FileHoldsKey(path, key)) {
                FindClose(search);
                return true;
            }
        }
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            return false;
        }
        ++*count;
    }
}

bool CopyFilesCommenter::Feed(char byte, const ByteWriter &write) {
    if (byte == CopyFilesWord[matched_]) {
        if (++matched_ < WORD_LENGTH) return true;
        // A completed match leaves the previous byte as it was.
        matched_ = 0;
        if (!previousIsSemicolon_ && !write(";", 1)) return false;
        return write(CopyFilesWord, WORD_LENGTH);
    }
    // The byte that ends a partial match does not start a new one.
    if (matched_ > 0 && !write(CopyFilesWord, matched_)) return false;
    matched_ = 0;
    previousIsSemicolon_ = byte == ';';
    return write(&byte, 1);
}

bool CopyFilesCommenter::Finish(const ByteWriter &write) {
    DWORD held = matched_;
    matched_ = 0;
    return held == 0 || write(CopyFilesWord, held);
}

void PlaceDriverInf() {
    ShowProgress("Looking for QVRDMA.INF on source disk.");
    char pattern[PATH_SIZE];
    int count = 0;
    if (!ComposePath(pattern, sizeof pattern, SourceDir, "*.inf") ||
        !FindInfWithEitherKey(SourceInfPath, pattern, &count)) {
        FatalSetupError("INF file missing on distribution disk.", 0);
    }

    ShowProgress("Looking for old instance of QVRDMA.INF.");
    if (!ComposePath(pattern, sizeof pattern, InfDir, "oem*.inf")) {
        FailReadWrite(ERROR_FILENAME_EXCED_RANGE);
    }
    bool old = FindInfWithEitherKey(DriverInfPath, pattern, &count);
    if (!old && !ChooseNewOemName(count)) FailReadWrite(GetLastError());
    if (!ChooseWorkName(DriverInfTempPath, InfDir, "qvrnew%d.$$$") ||
        (old && !ChooseWorkName(DriverInfAsidePath, InfDir, "qvrold%d.$$$"))) {
        FailReadWrite(GetLastError());
    }
    if (old) {
        // The old instance is overwritten only once it is saved.
        DriverInfIsNew = 0;
        bool named = ComposeSavedPath(
            DriverInfBackupPath, FileNamePart(DriverInfPath), DriverInfPath);
        if (named) JournalDriverInf();
        // The saved copy is on disk before the journal vouches for it.
        if (!named || !CopyFileA(DriverInfPath, DriverInfBackupPath, FALSE) ||
            !FlushFile(DriverInfBackupPath)) {
            DWORD error = GetLastError();
            wsprintfA(MessageText, "Error backing up file %s.", DriverInfPath);
            FatalSetupError(MessageText, (LONG)error);
        }
        JournalRecord("INF+");
    } else {
        DriverInfIsNew = 1;
        JournalDriverInf();
    }
    StepFlags |= STEP_INF_PLACED;

    ShowProgress("Copying QVRDMA.INF.");
    WriteCommentedInf();
    ExchangeCommentedInf();
}

bool FindInstalledDriverInf(char *path) {
    char pattern[PATH_SIZE];
    int count = 0;
    return ComposePath(pattern, sizeof pattern, InfDir, "oem*.inf") &&
           FindInfWithEitherKey(path, pattern, &count);
}

void UndoDriverInf() {
    ShowProgress("Deleting QVRDMA.INF.");
    // Only a copy this run renamed in is deleted: the exchange began and the
    // commented copy is gone from its own name. Until then a new name holds
    // nothing of this run's.
    bool renamed = DriverInfWritten && DriverInfTempPath[0] != '\0' &&
                   ProbeName(DriverInfTempPath) == NameState::Free;
    if (DriverInfTempPath[0] != '\0') DeleteFileA(DriverInfTempPath);
    if (DriverInfIsNew) {
        if (renamed) DeleteFileA(DriverInfPath);
        return;
    }
    ShowProgress("Restoring QVRDMA.INF in Windows INF directory.");
    // Until the exchange began, the old instance keeps its content.
    if (!DriverInfWritten) return;
    // The saved copy stays in the working directory either way.
    if (!PutBackExchanged(DriverInfPath, DriverInfAsidePath,
                          DriverInfBackupPath))
        return;
    DeleteFileA(DriverInfAsidePath);
}

void DeleteDriverInfBackup() {
    if (DriverInfIsNew) return;
    if (DriverInfWritten && DriverInfAsidePath[0] != '\0') {
        DeleteWorkFile(DriverInfAsidePath);
    }
    DeleteWorkFile(DriverInfBackupPath);
}
