// ExitWindowsEx: the emulated machine notes that a restart (or shutdown) was
// asked for and lets the program run on, as Windows does until it gets
// round to ending it; `w95 boot` reads the request from the transcript.
#include <windows.h>

#include <cstdio>

#include "fault_injection.h"
#include "machine.h"
#include "transcript.h"

extern "C" BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
    (void)dwReason;
    if (DWORD e = w95::InjectedFault("ExitWindowsEx")) {
        SetLastError(e);
        w95::RecordEvent(
            {{"event", "ExitWindowsEx"}, {"flags", uFlags}, {"result", false}});
        return FALSE;
    }
    w95::TheMachine().restartRequested = true;
    w95::RecordEvent(
        {{"event", "ExitWindowsEx"}, {"flags", uFlags}, {"result", true}});
    std::fflush(stdout);
    std::fprintf(stderr, "(Windows is shutting down%s.)\n",
                 (uFlags & EWX_REBOOT) ? " to restart" : "");
    std::fflush(stderr);
    return TRUE;
}
