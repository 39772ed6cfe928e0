// W95_FAIL: "CALL=ERROR" or "CALL@N=ERROR", comma-separated. ERROR is a
// decimal Win32 error code or "crash".
#ifndef W95_FAULT_INJECTION_H
#define W95_FAULT_INJECTION_H

#include <windows.h>

#include <string>

#include "emulated_calls.h"

namespace w95 {

// Replaces the fault plan; throws EmulatorFailure naming the bad entry.
void SetFaultPlan(const std::string &list);

// Counts this call of `call` and tells whether it must fail. Returns the
// error code to fail with (recorded as a Fault event), or 0 to run the call.
// A planned crash ends the process here, at once, with no write-back.
//
// Every emulated function starts with it, for example
//     if (DWORD e = w95::InjectedFault("CopyFileA")) {
//         SetLastError(e);
//         return FALSE;
//     }
// and registry functions return the code itself. The name is checked when
// the call compiles: it must be one of W95_CALLS (emulated_calls.h).
DWORD InjectedFault(CallName call);

// Forgets the plan and the call counts (tests).
void ResetFaults();

}  // namespace w95

#endif
