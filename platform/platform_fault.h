// Fault injection for calls that the platform layer serves itself (text
// streams). The emulation answers from W95_FAIL; a real Windows build never
// injects anything.
#ifndef PLATFORM_FAULT_H
#define PLATFORM_FAULT_H

#include <windows.h>

#include <string_view>

// The calls of the platform layer that can be failed by name, as
// X(name) entries; the emulation lists them among its own calls.
#define PLATFORM_CALLS(X) \
    X(OpenTextStream)     \
    X(ReadTextLine)       \
    X(WriteText)          \
    X(CloseTextStream)

enum class PlatformCall {
#define PLATFORM_CALL_ENUM(name) name,
    PLATFORM_CALLS(PLATFORM_CALL_ENUM)
#undef PLATFORM_CALL_ENUM
};

// Never defined and not constexpr: a name check that reaches it cannot be
// evaluated at compile time, so the build stops there (the Windows build has
// no exceptions to throw instead).
void NoPlatformCallHasThisName();

// A platform call named by a string literal that must be one of
// PLATFORM_CALLS: a misspelt name does not compile.
class PlatformCallName {
  public:
    consteval PlatformCallName(const char *name) : call_(Named(name)) {}
    constexpr PlatformCall call() const { return call_; }

  private:
    static consteval PlatformCall Named(std::string_view name) {
#define PLATFORM_CALL_MATCH(n) \
    if (name == #n) return PlatformCall::n;
        PLATFORM_CALLS(PLATFORM_CALL_MATCH)
#undef PLATFORM_CALL_MATCH
        NoPlatformCallHasThisName();
        return PlatformCall{};
    }
    PlatformCall call_;
};

// The Win32 error code to fail this call of `call` with, or 0 to run it.
DWORD PlatformInjectedFault(PlatformCallName call);

#endif
