#include "fault_injection.h"

#include <csignal>
#include <cstdio>
#include <map>
#include <set>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "emulator_error.h"
#include "platform_fault.h"
#include "transcript.h"

namespace w95 {

namespace {

// Every call that can be failed by name: the emulated Win32 functions and
// the calls that the platform layer serves itself.
const std::set<std::string_view> &KnownCalls() {
    static const std::set<std::string_view> calls = {
        // advapi32
        "RegOpenKeyA",
        "RegOpenKeyExA",
        "RegCreateKeyA",
        "RegCreateKeyExA",
        "RegCloseKey",
        "RegDeleteKeyA",
        "RegDeleteValueA",
        "RegQueryInfoKeyA",
        "RegEnumKeyA",
        "RegEnumKeyExA",
        "RegEnumValueA",
        "RegQueryValueExA",
        "RegSetValueExA",
        "RegSaveKeyA",
        "RegRestoreKeyA",
        // kernel32
        "CreateFileA",
        "ReadFile",
        "WriteFile",
        "SetFilePointer",
        "FlushFileBuffers",
        "GetFileSize",
        "GetFileTime",
        "FileTimeToDosDateTime",
        "DosDateTimeToFileTime",
        "FileTimeToSystemTime",
        "CloseHandle",
        "CopyFileA",
        "DeleteFileA",
        "MoveFileA",
        "SetFileAttributesA",
        "GetFileAttributesA",
        "FindFirstFileA",
        "FindNextFileA",
        "FindClose",
        "GetWindowsDirectoryA",
        "GetSystemDirectoryA",
        "GetTempPathA",
        "GetCurrentDirectoryA",
        "SetCurrentDirectoryA",
        "CreateDirectoryA",
        "RemoveDirectoryA",
        "LocalAlloc",
        "LocalLock",
        "LocalUnlock",
        "LocalFree",
        "LocalSize",
        "lstrcmpA",
        "lstrcmpiA",
        "lstrcpyA",
        "lstrcpynA",
        "lstrcatA",
        "lstrlenA",
        "GetTickCount",
        "GetVersion",
        "Sleep",
        // user32
        "MessageBoxA",
        "CreateDialogParamA",
        "GetDlgItem",
        "SetWindowTextA",
        "GetWindowTextA",
        "DestroyWindow",
        "ExitWindowsEx",
        "wsprintfA",
        "wvsprintfA",
        // text streams
        "OpenTextStream",
        "ReadTextLine",
        "WriteText",
        "CloseTextStream",
    };
    return calls;
}

// Calls that have no way to report a failure: they can only crash.
bool CanOnlyCrash(std::string_view call) {
    return call == "GetTickCount" || call == "GetVersion" || call == "Sleep" ||
           call == "lstrcmpA" || call == "lstrcmpiA" || call == "lstrlenA" ||
           call == "wsprintfA" || call == "wvsprintfA";
}

constexpr DWORD kCrash = 0xFFFFFFFF;

struct Rule {
    std::string call;
    unsigned long nth;  // 0: every call
    DWORD error;        // kCrash: end the process
};

std::vector<Rule> plan;
std::map<std::string, unsigned long, std::less<>> counts;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A positive decimal number that fits 32 bits.
bool ParseCount(std::string_view text, unsigned long *value) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v == 0 || v > 0xFFFFFFFEull) return false;
    *value = static_cast<unsigned long>(v);
    return true;
}

Rule ParseRule(std::string_view entry) {
    auto fail = [&](const std::string &why) -> Rule {
        throw EmulatorFailure("W95_FAIL: '" + std::string(entry) + "': " + why);
    };
    std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos)
        return fail("expected CALL=ERROR or CALL@N=ERROR");
    std::string_view call = Trim(entry.substr(0, equals));
    std::string_view error = Trim(entry.substr(equals + 1));
    Rule rule{"", 0, 0};
    std::size_t at = call.find('@');
    if (at != std::string_view::npos) {
        if (!ParseCount(Trim(call.substr(at + 1)), &rule.nth))
            return fail("N must be a call number from 1");
        call = Trim(call.substr(0, at));
    }
    if (!KnownCalls().count(call))
        return fail("no emulated call is named '" + std::string(call) + "'");
    rule.call = call;
    if (error == "crash") {
        rule.error = kCrash;
    } else {
        unsigned long code;
        if (CanOnlyCrash(call))
            return fail(std::string(call) + " cannot fail; only crash fits");
        if (!ParseCount(error, &code))
            return fail("ERROR must be a Win32 error code from 1, or crash");
        rule.error = static_cast<DWORD>(code);
    }
    return rule;
}

}  // namespace

void SetFaultPlan(const std::string &list) {
    std::vector<Rule> rules;
    std::string_view rest(list);
    while (!Trim(rest).empty()) {
        std::size_t comma = rest.find(',');
        std::string_view entry = Trim(rest.substr(0, comma));
        if (entry.empty())
            throw EmulatorFailure("W95_FAIL: empty entry in '" + list + "'");
        rules.push_back(ParseRule(entry));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
        if (Trim(rest).empty())
            throw EmulatorFailure("W95_FAIL: empty entry in '" + list + "'");
    }
    plan = std::move(rules);
    counts.clear();
}

void ResetFaults() {
    plan.clear();
    counts.clear();
}

DWORD InjectedFault(const char *call) {
    if (plan.empty()) return 0;
    auto it = counts.find(std::string_view(call));
    if (it == counts.end()) it = counts.emplace(call, 0).first;
    unsigned long n = ++it->second;
    for (const Rule &rule : plan) {
        if (rule.call != call || (rule.nth != 0 && rule.nth != n)) continue;
        nlohmann::ordered_json event = {
            {"event", "Fault"}, {"call", call}, {"n", n}};
        if (rule.error == kCrash) {
            event["error"] = "crash";
            RecordEvent(event);
            std::fflush(nullptr);
            // As at a power loss: no exit handlers, no write-back.
            std::fprintf(stderr, "w95: crash injected at %s call %lu\n", call,
                         n);
            _exit(128 + SIGKILL);
        }
        event["error"] = rule.error;
        RecordEvent(event);
        return rule.error;
    }
    return 0;
}

}  // namespace w95

DWORD PlatformInjectedFault(LPCSTR call) { return w95::InjectedFault(call); }
