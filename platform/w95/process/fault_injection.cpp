// The fault plans of W95_FAIL and W95_HOST_FAIL: parsing them and failing
// or crashing calls by them, and the names of the Win32 error codes and
// errnos they take.
#include "fault_injection.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "emulated_process.h"
#include "emulator_error.h"
#include "host_calls.h"
#include "memory_disk.h"
#include "path_resolve.h"
#include "platform_fault.h"
#include "text_helpers.h"
#include "transcript.h"

namespace w95 {

namespace {

struct ErrorName {
    std::string_view name;
    DWORD code;
};

// The Win32 error codes by name: every code that the emulation gives or the
// programs look for, and the other common ones of file, disk, memory,
// registry and window calls.
constexpr ErrorName kErrorNames[] = {
    {"ERROR_INVALID_FUNCTION", 1},
    {"ERROR_FILE_NOT_FOUND", 2},
    {"ERROR_PATH_NOT_FOUND", 3},
    {"ERROR_TOO_MANY_OPEN_FILES", 4},
    {"ERROR_ACCESS_DENIED", 5},
    {"ERROR_INVALID_HANDLE", 6},
    {"ERROR_ARENA_TRASHED", 7},
    {"ERROR_NOT_ENOUGH_MEMORY", 8},
    {"ERROR_INVALID_BLOCK", 9},
    {"ERROR_BAD_ENVIRONMENT", 10},
    {"ERROR_BAD_FORMAT", 11},
    {"ERROR_INVALID_ACCESS", 12},
    {"ERROR_INVALID_DATA", 13},
    {"ERROR_OUTOFMEMORY", 14},
    {"ERROR_INVALID_DRIVE", 15},
    {"ERROR_CURRENT_DIRECTORY", 16},
    {"ERROR_NOT_SAME_DEVICE", 17},
    {"ERROR_NO_MORE_FILES", 18},
    {"ERROR_WRITE_PROTECT", 19},
    {"ERROR_BAD_UNIT", 20},
    {"ERROR_NOT_READY", 21},
    {"ERROR_BAD_COMMAND", 22},
    {"ERROR_CRC", 23},
    {"ERROR_BAD_LENGTH", 24},
    {"ERROR_SEEK", 25},
    {"ERROR_NOT_DOS_DISK", 26},
    {"ERROR_SECTOR_NOT_FOUND", 27},
    {"ERROR_OUT_OF_PAPER", 28},
    {"ERROR_WRITE_FAULT", 29},
    {"ERROR_READ_FAULT", 30},
    {"ERROR_GEN_FAILURE", 31},
    {"ERROR_SHARING_VIOLATION", 32},
    {"ERROR_LOCK_VIOLATION", 33},
    {"ERROR_WRONG_DISK", 34},
    {"ERROR_SHARING_BUFFER_EXCEEDED", 36},
    {"ERROR_HANDLE_EOF", 38},
    {"ERROR_HANDLE_DISK_FULL", 39},
    {"ERROR_NOT_SUPPORTED", 50},
    {"ERROR_BAD_NETPATH", 53},
    {"ERROR_NETWORK_BUSY", 54},
    {"ERROR_DEV_NOT_EXIST", 55},
    {"ERROR_UNEXP_NET_ERR", 59},
    {"ERROR_NETNAME_DELETED", 64},
    {"ERROR_NETWORK_ACCESS_DENIED", 65},
    {"ERROR_BAD_NET_NAME", 67},
    {"ERROR_FILE_EXISTS", 80},
    {"ERROR_CANNOT_MAKE", 82},
    {"ERROR_INVALID_PARAMETER", 87},
    {"ERROR_NET_WRITE_FAULT", 88},
    {"ERROR_DISK_CHANGE", 107},
    {"ERROR_DRIVE_LOCKED", 108},
    {"ERROR_BROKEN_PIPE", 109},
    {"ERROR_OPEN_FAILED", 110},
    {"ERROR_BUFFER_OVERFLOW", 111},
    {"ERROR_DISK_FULL", 112},
    {"ERROR_INVALID_TARGET_HANDLE", 114},
    {"ERROR_CALL_NOT_IMPLEMENTED", 120},
    {"ERROR_SEM_TIMEOUT", 121},
    {"ERROR_INSUFFICIENT_BUFFER", 122},
    {"ERROR_INVALID_NAME", 123},
    {"ERROR_INVALID_LEVEL", 124},
    {"ERROR_MOD_NOT_FOUND", 126},
    {"ERROR_PROC_NOT_FOUND", 127},
    {"ERROR_NEGATIVE_SEEK", 131},
    {"ERROR_SEEK_ON_DEVICE", 132},
    {"ERROR_DIR_NOT_ROOT", 144},
    {"ERROR_DIR_NOT_EMPTY", 145},
    {"ERROR_PATH_BUSY", 148},
    {"ERROR_NOT_LOCKED", 158},
    {"ERROR_BAD_ARGUMENTS", 160},
    {"ERROR_BAD_PATHNAME", 161},
    {"ERROR_BUSY", 170},
    {"ERROR_ALREADY_EXISTS", 183},
    {"ERROR_ENVVAR_NOT_FOUND", 203},
    {"ERROR_FILENAME_EXCED_RANGE", 206},
    {"ERROR_LOCKED", 212},
    {"ERROR_FILE_TOO_LARGE", 223},
    {"ERROR_MORE_DATA", 234},
    {"ERROR_NO_MORE_ITEMS", 259},
    {"ERROR_DIRECTORY", 267},
    {"ERROR_NOT_OWNER", 288},
    {"ERROR_PARTIAL_COPY", 299},
    {"ERROR_DELETE_PENDING", 303},
    {"ERROR_INVALID_ADDRESS", 487},
    {"ERROR_ARITHMETIC_OVERFLOW", 534},
    {"ERROR_OPERATION_ABORTED", 995},
    {"ERROR_NOACCESS", 998},
    {"ERROR_INVALID_FLAGS", 1004},
    {"ERROR_UNRECOGNIZED_VOLUME", 1005},
    {"ERROR_FILE_INVALID", 1006},
    {"ERROR_BADDB", 1009},
    {"ERROR_BADKEY", 1010},
    {"ERROR_CANTOPEN", 1011},
    {"ERROR_CANTREAD", 1012},
    {"ERROR_CANTWRITE", 1013},
    {"ERROR_REGISTRY_RECOVERED", 1014},
    {"ERROR_REGISTRY_CORRUPT", 1015},
    {"ERROR_REGISTRY_IO_FAILED", 1016},
    {"ERROR_NOT_REGISTRY_FILE", 1017},
    {"ERROR_KEY_DELETED", 1018},
    {"ERROR_DLL_INIT_FAILED", 1114},
    {"ERROR_IO_DEVICE", 1117},
    {"ERROR_DISK_OPERATION_FAILED", 1127},
    {"ERROR_DEVICE_NOT_CONNECTED", 1167},
    {"ERROR_NOT_FOUND", 1168},
    {"ERROR_BAD_DEVICE", 1200},
    {"ERROR_CANCELLED", 1223},
    {"ERROR_PRIVILEGE_NOT_HELD", 1314},
    {"ERROR_FILE_CORRUPT", 1392},
    {"ERROR_DISK_CORRUPT", 1393},
    {"ERROR_INVALID_WINDOW_HANDLE", 1400},
    {"ERROR_INVALID_MENU_HANDLE", 1401},
    {"ERROR_CONTROL_ID_NOT_FOUND", 1421},
    {"ERROR_INVALID_MSGBOX_STYLE", 1438},
    {"ERROR_NO_SYSTEM_RESOURCES", 1450},
    {"ERROR_COMMITMENT_LIMIT", 1455},
    {"ERROR_TIMEOUT", 1460},
    {"ERROR_INVALID_USER_BUFFER", 1784},
    {"ERROR_RESOURCE_DATA_NOT_FOUND", 1812},
    {"ERROR_RESOURCE_TYPE_NOT_FOUND", 1813},
    {"ERROR_RESOURCE_NAME_NOT_FOUND", 1814},
    {"ERROR_RESOURCE_LANG_NOT_FOUND", 1815},
    {"ERROR_NOT_ENOUGH_QUOTA", 1816},
};

struct ErrnoName {
    std::string_view name;
    int error;
};

// The errnos that file calls give.
constexpr ErrnoName kErrnoNames[] = {
    {"EPERM", EPERM},
    {"ENOENT", ENOENT},
    {"EINTR", EINTR},
    {"EIO", EIO},
    {"ENXIO", ENXIO},
    {"EBADF", EBADF},
    {"EAGAIN", EAGAIN},
    {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},
    {"EBUSY", EBUSY},
    {"EEXIST", EEXIST},
    {"EXDEV", EXDEV},
    {"ENODEV", ENODEV},
    {"ENOTDIR", ENOTDIR},
    {"EISDIR", EISDIR},
    {"EINVAL", EINVAL},
    {"ENFILE", ENFILE},
    {"EMFILE", EMFILE},
    {"ETXTBSY", ETXTBSY},
    {"EFBIG", EFBIG},
    {"ENOSPC", ENOSPC},
    {"ESPIPE", ESPIPE},
    {"EROFS", EROFS},
    {"EMLINK", EMLINK},
    {"ENAMETOOLONG", ENAMETOOLONG},
    {"ENOTEMPTY", ENOTEMPTY},
    {"ELOOP", ELOOP},
    {"EDQUOT", EDQUOT},
    {"ESTALE", ESTALE},
    {"ENOTSUP", ENOTSUP},
    {"ECANCELED", ECANCELED},
};

// One entry of a fault plan taken apart: CALL, N (0 without @N) and ERROR.
// `variable` and `errorWord` name the plan and its error in the messages.
struct RuleParts {
    std::string_view call;
    unsigned long nth = 0;
    std::string_view error;
};

RuleParts SplitRule(std::string_view entry, const char *variable,
                    const char *errorWord) {
    auto fail = [&](const std::string &why) {
        throw EmulatorFailure(std::string(variable) + ": '" +
                              std::string(entry) + "': " + why);
    };
    std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        fail(std::string("expected CALL=") + errorWord +
             " or CALL@N=" + errorWord);
    RuleParts parts;
    parts.call = TrimBlanks(entry.substr(0, equals));
    parts.error = TrimBlanks(entry.substr(equals + 1));
    std::size_t at = parts.call.find('@');
    if (at != std::string_view::npos) {
        if (!ParsePositiveDecimal(TrimBlanks(parts.call.substr(at + 1)),
                                  &parts.nth))
            fail("N must be a call number from 1");
        parts.call = TrimBlanks(parts.call.substr(0, at));
    }
    return parts;
}

HostFaultRule ParseHostRule(std::string_view entry) {
    auto fail = [&](const std::string &why) -> HostFaultRule {
        throw EmulatorFailure("W95_HOST_FAIL: '" + std::string(entry) +
                              "': " + why);
    };
    RuleParts parts = SplitRule(entry, "W95_HOST_FAIL", "ERRNO");
    std::string_view call = parts.call;
    std::string_view error = parts.error;
    HostFaultRule rule{HostCall{}, parts.nth, 0};
    std::optional<HostCall> known = HostCallNamedIgnoringCase(call);
    if (!known)
        return fail("no host call is named '" + std::string(call) + "'");
    rule.call = *known;
    unsigned long code;
    if (std::optional<int> named = ErrnoNamed(error))
        rule.error = *named;
    else if (ParsePositiveDecimal(error, &code) && code <= 4095)
        rule.error = static_cast<int>(code);
    else
        return fail(
            "ERRNO must be an errno name (EIO, ENOSPC) or a number "
            "from 1 to 4095");
    return rule;
}

// Splits a comma-separated plan into its entries; `variable` names it in
// the error of an empty entry.
std::vector<std::string_view> PlanEntries(const std::string &list,
                                          const char *variable) {
    std::vector<std::string_view> entries;
    std::string_view rest(list);
    auto empty = [&] {
        throw EmulatorFailure(std::string(variable) + ": empty entry in '" +
                              list + "'");
    };
    while (!TrimBlanks(rest).empty()) {
        std::size_t comma = rest.find(',');
        std::string_view entry = TrimBlanks(rest.substr(0, comma));
        if (entry.empty()) empty();
        entries.push_back(entry);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
        if (TrimBlanks(rest).empty()) empty();
    }
    return entries;
}

void RecordHostFault(HostCall call, unsigned long n, int error) {
    nlohmann::ordered_json event = {
        {"event", "HostFault"}, {"call", std::string(NameOf(call))}, {"n", n}};
    std::string_view name = ErrnoNameOf(error);
    if (name.empty())
        event["errno"] = error;
    else
        event["errno"] = std::string(name);
    RecordEvent(event);
}

// The fault that ends the process with this name, in any case.
std::optional<FaultKind> EndingFaultNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kEndingFaultNames); ++i)
        if (EqualsIgnoringAsciiCase(kEndingFaultNames[i], name))
            return static_cast<FaultKind>(static_cast<int>(FaultKind::Crash) +
                                          static_cast<int>(i));
    return std::nullopt;
}

std::string_view NameOf(FaultKind kind) {
    return kEndingFaultNames[static_cast<std::size_t>(kind) -
                             static_cast<std::size_t>(FaultKind::Crash)];
}

// "crash, powerloss, powerloss-meta or powerloss-torn", for the messages.
std::string EndingFaultList() {
    std::string list;
    const std::size_t count = std::size(kEndingFaultNames);
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += i + 1 == count ? " or " : ", ";
        list += kEndingFaultNames[i];
    }
    return list;
}

// Ends the process before call `n` of `call` as `kind` says: what the
// program wrote goes to the host files, and for a power loss the machine's
// drive folders are then made to hold what the disk would have kept. No
// exit handlers run, so the registry is not written back.
[[noreturn]] void EndProcess(FaultKind kind, const std::string &callName,
                             unsigned long n) {
    // What the program wrote lies in the system's cache, which outlives the
    // process (a crash), or is what the disk model sorts out (a power loss).
    SyncOpenFiles();
    std::fflush(nullptr);
    if (DiskCache *disk = TrackedDisk()) {
        if (kind != FaultKind::Crash) {
            const PowerLossKind loss =
                kind == FaultKind::PowerLossMeta   ? PowerLossKind::Meta
                : kind == FaultKind::PowerLossTorn ? PowerLossKind::Torn
                                                   : PowerLossKind::DataOnly;
            disk->LosePower(loss, MachineRoot());
        }
    }
    const std::string kindName(NameOf(kind));
    std::fprintf(stderr, "w95: %s injected at %s call %lu\n", kindName.c_str(),
                 callName.c_str(), n);
    std::fflush(stderr);
    WriteImageOut();
    _exit(128 + SIGKILL);
}

FaultRule ParseRule(std::string_view entry) {
    auto fail = [&](const std::string &why) -> FaultRule {
        throw EmulatorFailure("W95_FAIL: '" + std::string(entry) + "': " + why);
    };
    RuleParts parts = SplitRule(entry, "W95_FAIL", "ERROR");
    std::string_view call = parts.call;
    std::string_view error = parts.error;
    FaultRule rule{Call{}, parts.nth, FaultKind::Error, 0};
    std::optional<Call> known = CallNamedIgnoringCase(call);
    if (!known)
        return fail("no emulated call is named '" + std::string(call) + "'");
    rule.call = *known;
    if (std::optional<FaultKind> ending = EndingFaultNamed(error)) {
        rule.kind = *ending;
        return rule;
    }
    const std::string_view name = InfoOf(*known).name;
    if (InfoOf(*known).kind == CallKind::OnlyCrash)
        return fail(std::string(name) + " cannot fail; only " +
                    EndingFaultList() + " fit");
    unsigned long code;
    if (std::optional<DWORD> named = ErrorCodeNamed(error))
        rule.error = *named;
    else if (ParsePositiveDecimal(error, &code) && code <= 0xFFFFFFFEul)
        rule.error = static_cast<DWORD>(code);
    else if (EqualsIgnoringAsciiCase(error.substr(0, 6), "ERROR_"))
        return fail("no Win32 error is named '" + std::string(error) + "'");
    else
        return fail(
            "ERROR must be a Win32 error code from 1 or its name "
            "(ERROR_ACCESS_DENIED), or " +
            EndingFaultList());
    return rule;
}

}  // namespace

std::optional<Call> CallNamedIgnoringCase(std::string_view name) {
    for (std::size_t i = 0; i < kCallCount; ++i)
        if (EqualsIgnoringAsciiCase(kCalls[i].name, name))
            return static_cast<Call>(i);
    return std::nullopt;
}

std::optional<DWORD> ErrorCodeNamed(std::string_view name) {
    for (const ErrorName &e : kErrorNames)
        if (EqualsIgnoringAsciiCase(e.name, name)) return e.code;
    return std::nullopt;
}

std::string_view ErrorNameOf(DWORD code) {
    for (const ErrorName &e : kErrorNames)
        if (e.code == code) return e.name;
    return {};
}

std::optional<int> ErrnoNamed(std::string_view name) {
    for (const ErrnoName &e : kErrnoNames)
        if (EqualsIgnoringAsciiCase(e.name, name)) return e.error;
    return std::nullopt;
}

std::string_view ErrnoNameOf(int error) {
    for (const ErrnoName &e : kErrnoNames)
        if (e.error == error) return e.name;
    return {};
}

void SetFaultPlan(const std::string &list) {
    std::vector<FaultRule> rules;
    for (std::string_view entry : PlanEntries(list, "W95_FAIL"))
        rules.push_back(ParseRule(entry));
    Faults &faults = Process().faults;
    faults.planned = {};
    faults.counts = {};
    bool powerLoss = false;
    for (const FaultRule &rule : rules) {
        faults.planned[static_cast<std::size_t>(rule.call)] = true;
        powerLoss = powerLoss || (rule.kind != FaultKind::Error &&
                                  rule.kind != FaultKind::Crash);
    }
    for (FaultKind kind : faults.cutKinds)
        powerLoss = powerLoss || kind != FaultKind::Crash;
    faults.plan = std::move(rules);
    // What the disk keeps is worked out only when a power loss needs it.
    Process().disk.SetOn(powerLoss);
}

void SetHostFaultPlan(const std::string &list) {
    std::vector<HostFaultRule> rules;
    for (std::string_view entry : PlanEntries(list, "W95_HOST_FAIL"))
        rules.push_back(ParseHostRule(entry));
    SetHostFaultRules(std::move(rules), RecordHostFault);
}

void SetCutEvery(const std::string &kinds, const std::string &folder) {
    Faults &faults = Process().faults;
    if (faults.cutIndex >= 0) ::close(faults.cutIndex);
    faults.cutKinds.clear();
    faults.cutIndex = -1;
    for (std::string_view entry : PlanEntries(kinds, "W95_CUT_EVERY")) {
        std::optional<FaultKind> kind = EndingFaultNamed(entry);
        if (!kind)
            throw EmulatorFailure("W95_CUT_EVERY: '" + std::string(entry) +
                                  "': a kind of cut must be " +
                                  EndingFaultList());
        faults.cutKinds.push_back(*kind);
    }
    if (faults.cutKinds.empty()) return;
    if (!ActiveMemoryDisk())
        throw EmulatorFailure("W95_CUT_EVERY needs a machine held in memory");
    if (folder.empty())
        throw EmulatorFailure("W95_CUT_EVERY needs W95_CUT_OUT, a folder");
    faults.cutFolder = folder;
    const std::string index = folder + "/cuts.txt";
    faults.cutIndex =
        ::open(index.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (faults.cutIndex < 0)
        throw EmulatorFailure("W95_CUT_OUT: cannot write " + index);
    for (FaultKind kind : faults.cutKinds)
        if (kind != FaultKind::Crash) Process().disk.SetOn(true);
}

namespace {

// Which kinds of cut leave one machine, now: a power loss takes back only
// what is not durable. Without bytes waiting in a handle or in the cache,
// a power loss leaves what a crash leaves; without directory operations
// that are not durable, Meta leaves what DataOnly leaves. Torn is taken
// apart from DataOnly whenever bytes wait, though half of them may round
// down to none.
struct CutClasses {
    int powerLoss = 0;  // DataOnly's class
    int torn = 0;
    int meta = 0;

    int Of(FaultKind kind) const {
        switch (kind) {
            case FaultKind::PowerLoss:
                return powerLoss;
            case FaultKind::PowerLossTorn:
                return torn;
            case FaultKind::PowerLossMeta:
                return meta;
            default:
                return 0;
        }
    }
};

// Adds lines to the W95_CUT_OUT index.
void WriteCutLines(const std::string &lines) {
    const Faults &faults = Process().faults;
    if (::write(faults.cutIndex, lines.data(), lines.size()) !=
        static_cast<ssize_t>(lines.size()))
        EmulatorError("W95_CUT_OUT: cannot write " + faults.cutFolder +
                      "/cuts.txt");
}

CutClasses ClassesOfCuts() {
    CutClasses classes;
    const DiskCache *disk = TrackedDisk();
    if (!disk) return {1, 2, 3};  // no model: nothing is known alike
    const bool dataPending = WritesWaiting() || disk->DataPending();
    classes.powerLoss = dataPending ? 1 : 0;
    classes.torn = dataPending ? 2 : 0;
    classes.meta = disk->DirectoryOpsPending() ? 3 : classes.powerLoss;
    return classes;
}

}  // namespace

void CutBefore(Call call, unsigned long n) {
    Faults &faults = Process().faults;
    const std::string callName(InfoOf(call).name);
    const std::string where = callName + "@" + std::to_string(n);
    // A cut leaves what the disk holds, what of it is durable, and what the
    // program wrote that still waits in its handles; when none of them
    // changed since the last cuts, neither does the machine a cut leaves,
    // and the line names those cuts instead of a child.
    // (This call is counted already, and has not run.)
    const std::uint64_t mark =
        ActiveMemoryDisk()->Changes() +
        faults.counts[static_cast<std::size_t>(Call::WriteFile)] -
        (call == Call::WriteFile ? 1 : 0);
    if (faults.cutMark == mark) {
        std::string lines;
        for (FaultKind kind : faults.cutKinds) {
            const std::string name(NameOf(kind));
            lines +=
                where + "=" + name + " " + faults.lastCut + "=" + name + "\n";
        }
        WriteCutLines(lines);
        return;
    }
    faults.cutMark = mark;
    faults.lastCut = where;
    // Nothing buffered of the run may be written a second time by a child.
    std::fflush(nullptr);
    const CutClasses classes = ClassesOfCuts();
    std::vector<FaultKind> forked;
    for (FaultKind kind : faults.cutKinds) {
        const std::string cut = where + "=" + std::string(NameOf(kind));
        // A kind that leaves what a kind forked here leaves is named.
        auto same = std::find_if(forked.begin(), forked.end(), [&](auto k) {
            return classes.Of(k) == classes.Of(kind);
        });
        if (same != forked.end()) {
            WriteCutLines(cut + " " + where + "=" + std::string(NameOf(*same)) +
                          "\n");
            continue;
        }
        forked.push_back(kind);
        const pid_t child = ::fork();
        if (child == 0) {
            // The cut leaves its image and nothing else: the run's
            // transcript and standard error stay the run's.
            (void)Process().transcript.release();
            faults.cutKinds.clear();
            if (int null = ::open("/dev/null", O_WRONLY); null >= 0)
                ::dup2(null, STDERR_FILENO);
            try {
                SetImageOut(faults.cutFolder + "/" + cut + ".img");
                EndProcess(kind, callName, n);
            } catch (...) {
                _exit(3);
            }
        }
        int status = 0;
        int code = 3;
        if (child > 0) {
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            code = WIFEXITED(status)     ? WEXITSTATUS(status)
                   : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                         : 3;
        }
        WriteCutLines(cut + " " + std::to_string(code) + "\n");
    }
}

void ResetFaults() {
    if (Process().faults.cutIndex >= 0) ::close(Process().faults.cutIndex);
    Process().faults = Faults{};
    SetHostFaultRules({}, nullptr);
}

DWORD PlannedFault(Call call, unsigned long n) {
    for (const FaultRule &rule : Process().faults.plan) {
        if (rule.call != call || (rule.nth != 0 && rule.nth != n)) continue;
        const std::string callName(InfoOf(call).name);
        nlohmann::ordered_json event = {
            {"event", "Fault"}, {"call", callName}, {"n", n}};
        if (rule.kind != FaultKind::Error) {
            event["error"] = std::string(NameOf(rule.kind));
            RecordEvent(event);
            EndProcess(rule.kind, callName, n);
        }
        event["error"] = rule.error;
        RecordEvent(event);
        return rule.error;
    }
    return 0;
}

}  // namespace w95

DWORD PlatformInjectedFault(PlatformCallName call) {
    return w95::InjectedFault(w95::CallOf(call.call()));
}
