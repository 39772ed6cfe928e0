// The emulated calls, listed once: every Win32 function of the emulation
// that W95_FAIL can name. The fault names, the calls that can only crash and
// the typed fault check are all made from this list.
#ifndef W95_EMULATED_CALLS_H
#define W95_EMULATED_CALLS_H

#include <cstddef>
#include <optional>
#include <string_view>

#include "platform_fault.h"

// X(name, kind): kind is CanFail, or OnlyCrash for a call that has no way to
// report a failure (a fault plan may only crash it). The platform layer's
// own calls (PLATFORM_CALLS) follow these.
#define W95_CALLS(X)                  \
    /* advapi32 */                    \
    X(RegOpenKeyA, CanFail)           \
    X(RegOpenKeyExA, CanFail)         \
    X(RegCreateKeyA, CanFail)         \
    X(RegCreateKeyExA, CanFail)       \
    X(RegCloseKey, CanFail)           \
    X(RegFlushKey, CanFail)           \
    X(RegDeleteKeyA, CanFail)         \
    X(RegDeleteValueA, CanFail)       \
    X(RegQueryInfoKeyA, CanFail)      \
    X(RegEnumKeyA, CanFail)           \
    X(RegEnumKeyExA, CanFail)         \
    X(RegEnumValueA, CanFail)         \
    X(RegQueryValueExA, CanFail)      \
    X(RegSetValueExA, CanFail)        \
    X(RegSaveKeyA, CanFail)           \
    X(RegRestoreKeyA, CanFail)        \
    /* kernel32 */                    \
    X(CreateFileA, CanFail)           \
    X(ReadFile, CanFail)              \
    X(WriteFile, CanFail)             \
    X(SetFilePointer, CanFail)        \
    X(FlushFileBuffers, CanFail)      \
    X(GetFileSize, CanFail)           \
    X(GetFileTime, CanFail)           \
    X(FileTimeToDosDateTime, CanFail) \
    X(DosDateTimeToFileTime, CanFail) \
    X(FileTimeToSystemTime, CanFail)  \
    X(CloseHandle, CanFail)           \
    X(CopyFileA, CanFail)             \
    X(DeleteFileA, CanFail)           \
    X(MoveFileA, CanFail)             \
    X(SetFileAttributesA, CanFail)    \
    X(GetFileAttributesA, CanFail)    \
    X(FindFirstFileA, CanFail)        \
    X(FindNextFileA, CanFail)         \
    X(FindClose, CanFail)             \
    X(GetWindowsDirectoryA, CanFail)  \
    X(GetSystemDirectoryA, CanFail)   \
    X(GetTempPathA, CanFail)          \
    X(GetCurrentDirectoryA, CanFail)  \
    X(SetCurrentDirectoryA, CanFail)  \
    X(CreateDirectoryA, CanFail)      \
    X(RemoveDirectoryA, CanFail)      \
    X(LocalAlloc, CanFail)            \
    X(LocalLock, CanFail)             \
    X(LocalUnlock, CanFail)           \
    X(LocalFree, CanFail)             \
    X(LocalSize, CanFail)             \
    X(lstrcmpA, OnlyCrash)            \
    X(lstrcmpiA, OnlyCrash)           \
    X(lstrcpyA, CanFail)              \
    X(lstrcpynA, CanFail)             \
    X(lstrcatA, CanFail)              \
    X(lstrlenA, OnlyCrash)            \
    X(GetTickCount, OnlyCrash)        \
    X(GetVersion, OnlyCrash)          \
    X(Sleep, OnlyCrash)               \
    /* user32 */                      \
    X(MessageBoxA, CanFail)           \
    X(CreateDialogParamA, CanFail)    \
    X(GetDlgItem, CanFail)            \
    X(SetWindowTextA, CanFail)        \
    X(GetWindowTextA, CanFail)        \
    X(UpdateWindow, CanFail)          \
    X(DestroyWindow, CanFail)         \
    X(ExitWindowsEx, CanFail)         \
    X(wsprintfA, OnlyCrash)           \
    X(wvsprintfA, OnlyCrash)          \
    /* end */

namespace w95 {

enum class CallKind { CanFail, OnlyCrash };

enum class Call {
#define W95_CALL_ENUM(name, kind) name,
#define W95_PLATFORM_CALL_ENUM(name) name,
    W95_CALLS(W95_CALL_ENUM) PLATFORM_CALLS(W95_PLATFORM_CALL_ENUM)
#undef W95_CALL_ENUM
#undef W95_PLATFORM_CALL_ENUM
};

struct CallInfo {
    std::string_view name;
    CallKind kind;
};

// Indexed by Call.
inline constexpr CallInfo kCalls[] = {
#define W95_CALL_INFO(name, kind) {#name, CallKind::kind},
#define W95_PLATFORM_CALL_INFO(name) {#name, CallKind::CanFail},
    W95_CALLS(W95_CALL_INFO) PLATFORM_CALLS(W95_PLATFORM_CALL_INFO)
#undef W95_CALL_INFO
#undef W95_PLATFORM_CALL_INFO
};

inline constexpr std::size_t kCallCount = std::size(kCalls);

constexpr const CallInfo &InfoOf(Call call) {
    return kCalls[static_cast<std::size_t>(call)];
}

// The call with this exact name, or nullopt.
constexpr std::optional<Call> CallNamed(std::string_view name) {
    for (std::size_t i = 0; i < kCallCount; ++i)
        if (kCalls[i].name == name) return static_cast<Call>(i);
    return std::nullopt;
}

// The emulation's Call for a call of the platform layer.
constexpr Call CallOf(PlatformCall call) {
    switch (call) {
#define W95_PLATFORM_CALL_CASE(name) \
    case PlatformCall::name:         \
        return Call::name;
        PLATFORM_CALLS(W95_PLATFORM_CALL_CASE)
#undef W95_PLATFORM_CALL_CASE
    }
    return Call::OpenTextStream;
}

// A call given as Call::CopyFileA or as a string literal ("CopyFileA"); a
// literal that names no emulated call does not compile.
class CallName {
  public:
    constexpr CallName(Call call) : call_(call) {}
    consteval CallName(const char *name) : call_(Checked(name)) {}
    constexpr Call call() const { return call_; }

  private:
    static consteval Call Checked(std::string_view name) {
        std::optional<Call> call = CallNamed(name);
        if (!call) throw "no emulated call has this name";
        return *call;
    }
    Call call_;
};

}  // namespace w95

#endif
