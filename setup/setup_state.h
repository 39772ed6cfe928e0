// Process-wide state of setup, its journal bits and its operations. Every
// path lives in a global buffer for the whole run, because the rollback and
// the commit need the paths that the install steps built.
#ifndef SETUP_SETUP_STATE_H
#define SETUP_SETUP_STATE_H

#include <windows.h>

#include <cstddef>
#include <initializer_list>

#include "inline_function.h"

constexpr std::size_t PATH_SIZE = 260;
constexpr std::size_t MESSAGE_SIZE = 520;

inline constexpr char AppTitle[] = "QVR PCI0528/PCI0525 Driver Setup Utility";
inline constexpr char ErrorCaption[] =
    "QVR PCI0528/PCI0525 Driver Setup Utility - Error!";

// ------------------------------------------------------------ program flow
extern char SourceDir[PATH_SIZE];  // current directory at start
extern char TempDir[PATH_SIZE];    // ...\qvrback, no trailing backslash
extern char MessageText[MESSAGE_SIZE];
extern HWND ProgressDialog;
extern HWND StatusWindow;
extern int OverrideFlag;   // /O
extern int UninstallFlag;  // /U: the driver is taken out again

void ParseCommandLine(const char *commandLine);
void CreateTempDir();
// CreateTempDir for a run that goes on only with its working directory:
// false, after telling the user, when it cannot be made.
bool MakeWorkingDirectory();
void RemoveTempDir();
void ShowProgress(const char *text);
// The progress window, shown and painted at once (no messages are
// dispatched), and taken down again.
void OpenProgressWindow(HINSTANCE instance);
void CloseProgressWindow();
// Deletes every saved copy a run made (registry snapshot, MSHDC.INF, the
// driver files, the driver INF, the removed files, win.ini): after COMMIT.
void DeleteSavedCopies();
// The commit of an install or a removal: the registry written out, COMMIT
// journalled, the saved copies and the journal deleted, the window closed.
void CommitRun();
// The restart question that ends a run that changed the machine.
void AskRestart();

// Composes `directory`, a backslash unless it already ends in one (or is
// empty, which names the current directory), and `name` into `out`. False,
// with `out` empty, when the path does not fit into `size` bytes.
bool ComposePath(char *out, std::size_t size, const char *directory,
                 const char *name);
// The same, completing the path in `path` in place; false leaves it as it
// was.
bool AppendPathName(char *path, std::size_t size, const char *name);

// The security attributes every file and directory is created with.
SECURITY_ATTRIBUTES PlainSecurity();

// What the attribute query of a name tells: Free only when it fails with
// "file not found" or "path not found"; Unknown when it fails otherwise,
// its error (never 0) then in GetLastError. Only a Free name may be taken
// for a file this run creates, and later deleted as this run's.
enum class NameState { Free, Taken, Unknown };
NameState ProbeName(const char *path);
// Opens an existing file for writing and flushes it to the disk: for the
// files that CopyFileA or RegSaveKeyA wrote, a read-only one made writable.
// False, with the error (never 0) in GetLastError, when it could not be opened
// or flushed.
bool FlushFile(const char *path);

// ------------------------------------------------------ version stamp probe
extern char DriverDateText[20];
extern int HaveDriverDate;

// Hands out the next byte of a source; false at its end or on a read error.
using ByteReader = InlineFunction<bool(unsigned char &)>;
// Reads up to and including the first complete marker "$qvrver$" and its NUL.
bool FindStampMarker(const ByteReader &read);
// Reads the banner behind a marker into `text` (at most size - 1 bytes, up
// to a NUL, the end or a read error) and NUL-terminates it. Gives its length.
std::size_t ReadStampBanner(const ByteReader &read, char *text,
                            std::size_t size);

bool ReadVersionStamp(char *text, std::size_t size);
bool ConfirmInstall();
// The question whether to remove the driver, with the banner of the port
// driver on the disk (a plain name of the driver without it).
bool ConfirmRemoval();

// ------------------------------------------------- install journal, rollback
constexpr DWORD STEP_REGISTRY_SAVED = 0x00000001;
constexpr DWORD STEP_MSHDC_SAVED = 0x00000002;
constexpr DWORD STEP_INF_PLACED = 0x00000004;
constexpr DWORD STEP_FILES_REPLACED = 0x00000008;
constexpr DWORD STEP_PRELOAD_SKIPPED = 0x40000000;
constexpr DWORD STEP_TEMPDIR_FAILED = 0x80000000;

constexpr DWORD BACKUP_DRIVER_DLL = 1;
constexpr DWORD BACKUP_PORT_DRIVER = 2;
constexpr DWORD BACKUP_PRELOAD_EXE = 4;
constexpr DWORD BACKUP_PRELOAD_INI = 8;

extern DWORD StepFlags;
extern DWORD BackupFlags;   // files whose older copy is saved in TempDir
extern DWORD CreatedFlags;  // files that this run copied where none stood

[[noreturn]] void FatalSetupError(const char *message, LONG errorCode);
// Puts a file that an exchange replaced back: copied from `aside` (the old
// file, renamed there by the exchange and kept until the commit) when that
// exists, else from `saved` when `original` is missing, and flushed. True
// when `original` holds its old content on disk; false, with nothing
// deleted and the user told where the saved copy stays, when it could not
// be put back.
bool PutBackExchanged(const char *original, const char *aside,
                      const char *saved);
// Puts back a replaced file from its saved copy, or deletes a file copied
// new, for every driver file from `first` to `last`.
void UndoInstalledFiles(int first, int last);
void RestoreInstalledFiles();
void DeleteFileBackups();
// Tells the user that `original` could not be put back and that its saved
// copy stays at `savedCopy`; the undo then counts as incomplete.
void ReportKeptCopy(const char *original, const char *savedCopy);

// ------------------------------------------------------- journal on disk
// What the journal on disk knows beyond the flag words: which saved copies
// were begun (and may be partial), and which exchanges were under way.
extern int SnapshotIsOurs;       // the snapshot file is this run's
extern int MshdcIntent;          // MSHDC.INF's saved copy was begun
extern int MshdcExchanging;      // the edited MSHDC.INF is being renamed in
extern int DriverInfIntent;      // the driver INF's place was recorded
extern DWORD BackupIntentFlags;  // files whose saved copy was begun
extern int InstallDirCreated;    // C:\VELTRANE was made by this run
extern int UndoIncomplete;       // a saved copy could not be put back

// Appends one record ("TAG fields", the fields separated by bars) to the
// journal on disk before the change it names. A journal that cannot be
// written is a fatal error: the change is not made.
void JournalRecord(const char *tag,
                   std::initializer_list<const char *> fields = {});
// True when a saved copy that the journal names is no longer there: an
// undo that was cut short has put it back and deleted it already.
bool SavedCopyGone(const char *path);
// Deletes a saved copy, an aside or a temporary copy of the run (nothing
// for an empty path). One that stays is named in the journal by
// CloseJournal, so that the next run deletes it.
void DeleteWorkFile(const char *path);
// Deletes the journal; called when a run ends with nothing left to undo.
void DeleteJournal();
// Ends the journal of a run whose changes are settled (committed, or undone
// completely): deletes the work files that an earlier run left, then the
// journal; work files that still cannot be deleted are named in a fresh
// journal of DEL records instead, so that the next run deletes them.
void CloseJournal();
// The undo of a rollback (`interrupted` false: the flags of this run, with
// the rollback's rules) or of a recovery (every recorded change).
void UndoRecordedChanges(bool interrupted);
// Looks for the journal of a run that did not end and undoes that run.
// False when it could not be undone completely, and setup must stop.
bool RecoverInterruptedRun();
// A name from `format` (with one %d) in `directory` that no file or folder
// holds and that this run has not handed out before. False when none of the
// first thousand is free (ERROR_FILE_EXISTS) or a name could not be probed
// (its error), the error in GetLastError.
bool ChooseWorkName(char *out, const char *directory, const char *format);

// The path of a saved copy of `original` (NULL: a file yet to be written)
// called `name`: TempDir\NAME, or, where a file other than a copy of
// `original` as it stands already lies under that name, TempDir\BASE.000 to
// BASE.999. That file is a copy an earlier run kept and reported, or the
// user's: it is never overwritten, nor removed by this run's undo. False,
// with the error in GetLastError, when the path does not fit or no name can
// be had.
bool ComposeSavedPath(char *out, const char *name, const char *original);

// ------------------------------------------------------------- driver files
constexpr int DRIVER_FILE_COUNT = 4;
extern const char *const DriverFileNames[DRIVER_FILE_COUNT];
extern const DWORD DriverFileBits[DRIVER_FILE_COUNT];
extern char InstalledFileTarget[DRIVER_FILE_COUNT][PATH_SIZE];
extern char InstalledFileBackup[DRIVER_FILE_COUNT][PATH_SIZE];

bool CopyWithBackup(char *source, char *target, const char *name, char *saved,
                    DWORD backupBit);
void InstallDriverFiles();
// Copies file `index`'s saved copy back over its target and deletes it; when
// that fails, the saved copy stays and the user is told. Clears the file's
// BackupFlags bit either way.
void PutBackInstalledFile(int index);

// ------------------------------------ registry snapshot, old-driver removal
extern char SnapshotPath[PATH_SIZE];

void RemoveOldDrivers();
// The removal's walk: every registration whose maker is the driver's own,
// with its driver key, after the snapshot.
void RemoveDriverRegistrations();
// How many registrations of the controller name the driver's maker.
int CountDriverRegistrations();
void SaveRegistrySnapshot();
void RestoreRegistrySnapshot();
void DeleteRegistrySnapshot();
void DeleteClassDriverKey(HKEY instanceKey);
void UpdateDriverDate(HKEY instanceKey);
// True when a "Driver" value names exactly one driver key below the class
// root: a class name, a backslash and an instance name.
bool NamesOneDriverKey(const char *driver);

// ------------------------------------------------------ driver INF placement
extern char DriverInfPath[PATH_SIZE];
extern char DriverInfBackupPath[PATH_SIZE];
extern int DriverInfIsNew;
extern int DriverInfWritten;  // the copy is being renamed to DriverInfPath
extern char DriverInfTempPath[PATH_SIZE];   // the commented copy, written
extern char DriverInfAsidePath[PATH_SIZE];  // the old instance, renamed

void PlaceDriverInf();
// The installed driver INF: an oem*.inf in InfDir that holds either key,
// into `path`. False when there is none.
bool FindInstalledDriverInf(char *path);
bool FindInfWithKey(const char *key, char *path, int *count);
const char *FileNamePart(const char *path);
void UndoDriverInf();
void DeleteDriverInfBackup();
// The content test of FindInfWithKey on a file's text, which ends at its
// first NUL byte.
bool InfTextHoldsKey(const char *text, const char *key);

// Writes its bytes somewhere; false when the write failed.
using ByteWriter = InlineFunction<bool(const char *bytes, DWORD count)>;

// The copy that puts a semicolon in front of every "CopyFiles" that does not
// already follow one. Fed one byte at a time; holds back a partial match.
class CopyFilesCommenter {
  public:
    bool Feed(char byte, const ByteWriter &write);
    bool Finish(const ByteWriter &write);  // writes what is held back

  private:
    DWORD matched_ = 0;
    bool previousIsSemicolon_ = false;
};

// ------------------------------------------------------ MSHDC.INF editing
extern char InfDir[PATH_SIZE];
extern char MshdcPath[PATH_SIZE];
extern char MshdcBackupPath[PATH_SIZE];
extern char MshdcTempPath[PATH_SIZE];   // the edited text, written first
extern char MshdcAsidePath[PATH_SIZE];  // the old MSHDC.INF during the swap

// Sets InfDir and MshdcPath from the Windows directory; false when the
// names do not fit.
bool ComposeMshdcPath();
// Comments the chips' lines out, or (UninstallFlag) takes the comments out.
void EditMshdcInf();
// Whether MSHDC.INF holds a semicolon in front of either chip's key.
bool MshdcHoldsComments();
void RestoreMshdcInf();
void DeleteMshdcBackup();

struct MshdcEdit {
    DWORD length;  // bytes of the edited text in the output buffer
    bool rewrite;  // whether MSHDC.INF is to be written back
};
// Comments out the first occurrence of each chip's description key. `text`
// and `output` hold size + 4 bytes, zero-filled, `text` holding the file.
MshdcEdit CommentMshdcKeys(char *text, char *output, DWORD size);
// Takes out the semicolon in front of the first occurrence of each chip's
// description key, where one stands. Buffers as for CommentMshdcKeys.
MshdcEdit UncommentMshdcKeys(char *text, char *output, DWORD size);

// ------------------------------------------------------ driver removal
// The files a removal deletes, each saved first: the driver INF (slot 0)
// and the four driver files (slots 1 to 4).
constexpr int GONE_FILE_COUNT = 1 + DRIVER_FILE_COUNT;
extern char GoneTarget[GONE_FILE_COUNT][PATH_SIZE];
extern char GoneSaved[GONE_FILE_COUNT][PATH_SIZE];
extern DWORD GoneIntentFlags;  // files whose saved copy was begun
extern DWORD GoneSavedFlags;   // files whose saved copy is complete
extern int InstallDirRemoved;  // C:\VELTRANE is being removed

extern char WinIniPath[PATH_SIZE];
extern char WinIniBackupPath[PATH_SIZE];
extern char WinIniTempPath[PATH_SIZE];   // the edited text, written first
extern char WinIniAsidePath[PATH_SIZE];  // the old win.ini during the swap
extern int WinIniIntent;                 // win.ini's saved copy was begun
extern int WinIniSaved;                  // ... and is complete
extern int WinIniExchanging;  // the edited win.ini is being renamed in

// The whole run of setup /U after the recovery; gives the exit code.
int RemoveDriver(HINSTANCE instance);
// Puts back every deleted file from its saved copy (a file still in place
// keeps its own), and deletes saved copies that may be partial.
void UndoRemovedFiles();
void DeleteRemovedFileCopies();
void RestoreInstallDir();
void RestoreWinIni();
void DeleteWinIniBackup();
// Copies a win.ini text of `size` bytes into `output` (as large) without
// parlod's entry on the load= line of [windows]; gives the copy's length.
DWORD CutStartupEntry(const char *text, DWORD size, char *output);

#endif
