// The emulated process: everything that the program running on the emulated
// machine has made or been given (the machine, open handles, memory, the
// clock, the fault plan, the answers, the transcript, the last error), held
// in one place and reset in one place.
#ifndef W95_EMULATED_PROCESS_H
#define W95_EMULATED_PROCESS_H

#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "disk_cache.h"
#include "emulated_calls.h"
#include "registry_store.h"
#include "resource_reader.h"

namespace w95 {

// The settings of machine.ini, with the defaults of an absent file.
struct MachineSettings {
    DWORD version = 0xC3B60004;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string systemDirectory = "C:\\WINDOWS\\SYSTEM";
    std::string tempPath = "C:\\WINDOWS\\TEMP\\";
    std::string currentDirectory = "C:\\";
    DWORD tickCount = 0;
    bool virtualClock = false;
    RegistryWrite registryWrite = RegistryWrite::AtExit;
};

struct Machine {
    std::filesystem::path directory;  // absolute, symbolic links resolved
    MachineSettings settings;
    std::string programName;       // "parlod", "setup", ...
    std::string currentDirectory;  // Windows form, "C:\" or "A:\DISK1"
    bool restartRequested = false;
};

// A file opened by CreateFileA. Small reads are served from a read-ahead
// copy of the bytes at the file pointer, small writes gathered in a
// write-behind buffer, so that a one-byte ReadFile or WriteFile costs no
// host call. Every call that could see the file another way (another
// handle, a path, the size, the end of the process) writes the buffer out
// first (SyncOpenFiles).
struct OpenFile {
    int fd = -1;
    bool isDevice = false;  // NUL, CON, ...: the host's null device
    bool canRead = false;
    bool canWrite = false;
    DWORD shareMode = 0;
    dev_t device = 0;           // which host file: handles on one file see each
    ino_t inode = 0;            // other's writes
    int sharers = 0;            // other open handles on the same host file
    char drive = 0;             // its drive letter, while the disk cache is on
    std::int64_t position = 0;  // the file pointer
    std::vector<char> readAhead;  // the file's bytes from readStart
    std::int64_t readStart = 0;
    std::vector<char> writeBehind;  // bytes still to write at writeStart
    std::int64_t writeStart = 0;
    DWORD writeError = 0;  // a failed write-behind, for the next call
    OpenFile() = default;
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile();
    // Writes the write-behind buffer out; a Win32 error or 0.
    DWORD WriteOut();
};

// Open files by handle. Handles are never reused within a run, so a handle
// used after CloseHandle is reported as invalid instead of reaching another
// file. A handle is its slot's number scaled, so finding it takes no search.
class OpenFiles {
  public:
    HANDLE Add(std::unique_ptr<OpenFile> file) {
        std::size_t slot = slots_.size();
        slots_.push_back(std::move(file));
        open_.push_back(slots_.back().get());
        return reinterpret_cast<HANDLE>(kFirstHandle + slot * kHandleStep);
    }
    OpenFile *Find(HANDLE h) const {
        std::uintptr_t value = reinterpret_cast<std::uintptr_t>(h);
        if (value < kFirstHandle || (value - kFirstHandle) % kHandleStep != 0)
            return nullptr;
        std::uintptr_t slot = (value - kFirstHandle) / kHandleStep;
        return slot < slots_.size() ? slots_[slot].get() : nullptr;
    }
    // Takes the file of `h` out of the table; null for no open handle.
    std::unique_ptr<OpenFile> Remove(HANDLE h) {
        OpenFile *file = Find(h);
        if (file == nullptr) return nullptr;
        open_.erase(std::find(open_.begin(), open_.end(), file));
        std::uintptr_t value = reinterpret_cast<std::uintptr_t>(h);
        return std::move(slots_[(value - kFirstHandle) / kHandleStep]);
    }
    // The open files, oldest first.
    const std::vector<OpenFile *> &All() const { return open_; }
    // Whether a handle has this host file open (Windows refuses to delete
    // or rename an open file).
    bool IsOpen(const struct stat &st) const;

  private:
    static constexpr std::uintptr_t kFirstHandle = 0x1000;
    static constexpr std::uintptr_t kHandleStep = 4;
    std::vector<std::unique_ptr<OpenFile>> slots_;  // by handle; null: closed
    std::vector<OpenFile *> open_;
};

// A FindFirstFileA search: every match, found at once, and the next to give.
struct Search {
    std::vector<WIN32_FIND_DATAA> found;
    size_t next = 0;
};

// Search handles lie far above file handles (from 0x1000, by 4), so that a
// file handle is never taken for a search however many files a run opens.
struct Searches {
    std::map<HANDLE, Search> searches;
    std::uintptr_t next = 0x40000000;
};

// A block of LocalAlloc.
struct LocalBlock {
    void *data = nullptr;
    SIZE_T size = 0;
    bool moveable = false;
    unsigned lockCount = 0;
};

struct FreeLocalBlock {
    void operator()(LocalBlock *block) const {
        std::free(block->data);
        delete block;
    }
};

// Blocks by handle: the data pointer for fixed blocks, the LocalBlock itself
// for moveable ones.
using LocalBlocks =
    std::map<HLOCAL, std::unique_ptr<LocalBlock, FreeLocalBlock>>;

// The tick counter. A real clock counts host milliseconds from the start of
// the run; a virtual one moves only when the program waits or asks.
struct Clock {
    DWORD startTicks = 0;
    bool isVirtual = false;
    DWORD virtualTicks = 0;
    std::chrono::steady_clock::time_point start =
        std::chrono::steady_clock::now();
};

// What a planned fault does: fail the call with an error code, or end the
// process before it, as a crash or a power loss.
enum class FaultKind { Error, Crash, PowerLoss, PowerLossMeta, PowerLossTorn };

// One entry of W95_FAIL.
struct FaultRule {
    Call call;
    unsigned long nth;  // 0: every call
    FaultKind kind;
    DWORD error;  // FaultKind::Error: the code to fail with
};

struct Faults {
    std::vector<FaultRule> plan;
    std::array<bool, kCallCount> planned{};          // by Call: a rule names it
    std::array<unsigned long, kCallCount> counts{};  // calls so far, by Call
    // W95_CUT_EVERY: the kinds of cut made before every call the plan does
    // not name, each in a child of its own (fault_injection.h).
    std::vector<FaultKind> cutKinds;
    std::string cutFolder;  // W95_CUT_OUT: where the cuts' images go
    int cutIndex = -1;      // cuts.txt in it, begun afresh by the run
    // What the machine was at the last cuts (see CutBefore): a cut at a
    // call that finds it the same leaves the same machine.
    std::optional<std::uint64_t> cutMark;
    std::string lastCut;  // "CALL@N" of those cuts
};

// What a box gets once W95_ANSWERS has run out.
enum class Unanswered {
    Ask,      // the terminal, else a line of standard input, else nobody
    Default,  // its default button, without asking
    Safe,     // its safe answer (what Escape gives), without asking
};

// One answer of W95_ANSWERS and its place in the list, from 1.
struct ScriptedAnswer {
    int id;
    int position;
};

struct CloseFile {
    void operator()(std::FILE *file) const { std::fclose(file); }
};

// A dialog made by CreateDialogParamA, or one of its controls.
// A dialog or a control: what its template made, then changed by the calls
// (the text).
struct DialogWindow : WindowTemplate {
    ULONG_PTR parent = 0;           // 0 for a dialog
    nlohmann::ordered_json dialog;  // the dialog's resource id or name
    bool extended = false;          // DIALOGEX: 32-bit control identifiers
    std::vector<ULONG_PTR> children;
    bool painted = false;  // a dialog: on the screen since UpdateWindow
};

// Draws every visible dialog that has not been painted yet, as the modal
// loop of a message box paints the thread's windows (user32_dialogs.cpp).
void PaintPendingDialogs();

struct DialogWindows {
    std::map<ULONG_PTR, DialogWindow> windows;
    ULONG_PTR nextHandle = 0x10010;
};

// The program's compiled resources, read on first use.
struct ProgramResourceState {
    std::optional<std::vector<std::uint8_t>> replacementBytes;  // tests
    std::optional<ResourceFile> file;
    bool read = false;
};

struct EmulatedProcess {
    Machine machine;
    Registry registry;  // the machine's (MachineRegistry)
    OpenFiles files;
    Searches searches;
    LocalBlocks localMemory;
    DialogWindows dialogs;
    ProgramResourceState resources;
    Clock clock;
    DWORD lastError = 0;
    Faults faults;
    DiskCache disk;  // on while the fault plan holds a power loss
    std::deque<ScriptedAnswer> answers;
    Unanswered unanswered = Unanswered::Ask;
    // The terminal on which boxes are asked when the answers run out: the
    // controlling terminal ("/dev/tty") for a program's run, none ("") in
    // tests that call the emulation directly.
    std::string terminal;
    // Where a box that the terminal cannot ask takes its answer as a line,
    // when it is no terminal itself: standard input for a program's run,
    // none (-1) in tests that call the emulation directly.
    int answerInput = -1;
    int answerLinesRead = 0;  // lines taken from answerInput, for messages
    int messageBoxes = 0;     // boxes shown so far, for messages
    // Errors of the emulation met during the run (ReportRunError): the run
    // goes on to its end and then ends with exit code 3.
    std::vector<std::string> runErrors;
    std::unique_ptr<std::FILE, CloseFile> transcript;
    // The machine directory with every link followed, and the directory it
    // was worked out for (path_resolve).
    std::filesystem::path machineRoot;
    std::filesystem::path machineRootFor;
};

// The current process's slot. Never destroyed at exit: the exit handlers
// still write the machine back and record the end of the run after static
// objects are gone.
inline EmulatedProcess *&CurrentProcess() {
    static EmulatedProcess *process = new EmulatedProcess;
    return process;
}

// The process that runs on the emulated machine. Inline: every emulated
// call starts here, some millions of times in a run.
inline EmulatedProcess &Process() { return *CurrentProcess(); }

inline Machine &TheMachine() { return Process().machine; }

// The model of the disk cache while a power loss is planned, else null: the
// file calls tell it of each change through
//     if (DiskCache *disk = TrackedDisk()) disk->...
inline DiskCache *TrackedDisk() {
    DiskCache &disk = Process().disk;
    return disk.On() ? &disk : nullptr;
}

// Sets the last error and returns FALSE: how a kernel32 call that returns a
// BOOL fails.
inline BOOL FailWithLastError(DWORD error) {
    Process().lastError = error;
    return FALSE;
}

// An error of the emulation met while the program runs (an answer that
// fits no button, a registry that cannot be written back): prints
// "w95: <message>" on standard error and remembers it. The program runs on
// to its end, its own clean-up included; the run then ends with exit code 3.
void ReportRunError(const std::string &message);

// The exit code of a run whose program ends with `status`: 3 once an error
// was reported, else `status`.
int RunExitCode(int status);

// Writes every open file's write-behind buffer to its host file and drops
// every read-ahead copy: before a call sees files through their paths, and
// when the process ends, normally or by an injected crash. A failed write
// is reported by the handle's next call.
void SyncOpenFiles();
// Whether an open file's write-behind buffer holds bytes.
bool WritesWaiting();

// Starts a new process: no machine, no open handles or memory, no fault
// plan, no answers, no transcript, an empty registry. Tests call it before
// loading their machine.
void ResetEmulatedProcess();

}  // namespace w95

#endif
