// kernel32: the last-error value, the clock, the version, the process end.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "fault_injection.h"
#include "machine.h"

namespace w95 {

namespace {

DWORD lastError = 0;

// The tick counter. A real clock counts host milliseconds from the start of
// the run; a virtual one moves only when the program waits or asks.
struct Clock {
    DWORD startTicks = 0;
    bool isVirtual = false;
    DWORD virtualTicks = 0;
    std::chrono::steady_clock::time_point start =
        std::chrono::steady_clock::now();
} clock;

}  // namespace

void StartClock(DWORD ticks, bool virtualClock) {
    clock.startTicks = ticks;
    clock.isVirtual = virtualClock;
    clock.virtualTicks = ticks;
    clock.start = std::chrono::steady_clock::now();
}

}  // namespace w95

extern "C" {

DWORD WINAPI GetLastError(void) { return w95::lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { w95::lastError = dwErrCode; }

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    w95::InjectedFault("GetTickCount");  // cannot fail; a crash may be planned
    auto &clock = w95::clock;
    if (clock.isVirtual) return clock.virtualTicks++;  // wraps at 2^32
    auto elapsed =
        duration_cast<milliseconds>(steady_clock::now() - clock.start).count();
    return clock.startTicks + static_cast<DWORD>(elapsed);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    w95::InjectedFault("Sleep");
    auto &clock = w95::clock;
    if (clock.isVirtual) {
        clock.virtualTicks += dwMilliseconds;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

DWORD WINAPI GetVersion(void) {
    w95::InjectedFault("GetVersion");
    return w95::TheMachine().settings.version;
}

void WINAPI ExitProcess(UINT uExitCode) {
    // A normal end: the exit handlers write the machine back.
    std::exit(static_cast<int>(uExitCode));
}

}  // extern "C"
