// kernel32: the last-error value, the clock, the version, the process end.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "fault_injection.h"
#include "emulated_process.h"

extern "C" {

DWORD WINAPI GetLastError(void) { return w95::Process().lastError; }

void WINAPI SetLastError(DWORD dwErrCode) {
    w95::Process().lastError = dwErrCode;
}

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    w95::InjectedFault("GetTickCount");  // cannot fail; a crash may be planned
    w95::Clock &clock = w95::Process().clock;
    if (clock.isVirtual) return clock.virtualTicks++;  // wraps at 2^32
    auto elapsed =
        duration_cast<milliseconds>(steady_clock::now() - clock.start).count();
    return clock.startTicks + static_cast<DWORD>(elapsed);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    w95::InjectedFault("Sleep");
    w95::Clock &clock = w95::Process().clock;
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
