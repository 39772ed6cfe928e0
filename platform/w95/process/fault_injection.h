// W95_FAIL: "CALL=ERROR" or "CALL@N=ERROR", comma-separated. CALL is an
// emulated call's name in any case; ERROR is a decimal Win32 error code, its
// name (ERROR_ACCESS_DENIED), or a fault that ends the process: "crash",
// "powerloss", "powerloss-meta" or "powerloss-torn" (disk_cache.h).
// W95_HOST_FAIL, the same beneath the emulation: "CALL=ERRNO" or
// "CALL@N=ERRNO", where CALL is a host call of W95_HOST_CALLS (host_calls.h)
// and ERRNO an errno name (EIO, ENOSPC) or a decimal errno.
#ifndef W95_FAULT_INJECTION_H
#define W95_FAULT_INJECTION_H

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "emulated_calls.h"
#include "emulated_process.h"

namespace w95 {

// The emulated call with this name, in any case; nullopt for none.
std::optional<Call> CallNamedIgnoringCase(std::string_view name);

// The Win32 error code of a name ("ERROR_ACCESS_DENIED", in any case);
// nullopt for a name the table does not hold.
std::optional<DWORD> ErrorCodeNamed(std::string_view name);

// The name of a Win32 error code ("ERROR_ACCESS_DENIED"); empty for a code
// the table does not hold.
std::string_view ErrorNameOf(DWORD code);

// The faults that end the process, by the names W95_FAIL takes, in the
// order of FaultKind from FaultKind::Crash on.
inline constexpr std::string_view kEndingFaultNames[] = {
    "crash", "powerloss", "powerloss-meta", "powerloss-torn"};

// Replaces the fault plan; throws EmulatorFailure naming the bad entry.
void SetFaultPlan(const std::string &list);

// The failure that the plan makes of call number `n` of `call`, a call
// that the plan names: the error code (recorded as a Fault event), or 0.
// A planned crash or power loss ends the process here, at once, with no
// write-back.
DWORD PlannedFault(Call call, unsigned long n);

// W95_CUT_EVERY=KINDS and W95_CUT_OUT=DIR: the cuts of a whole run at once.
// KINDS is a comma-separated list of "crash", "powerloss", "powerloss-meta"
// and "powerloss-torn". Before every call that the fault plan does not name,
// the run forks once for each kind, and the child ends as the planned cut
// CALL@N=KIND would end the run, leaving the machine's image in
// DIR/CALL@N=KIND.img and no events; the run itself goes on as if nothing
// happened. Each cut adds a line "CALL@N=KIND CODE" to DIR/cuts.txt, CODE
// being the child's exit code (137 for a cut, 3 for an emulator error), or
// "CALL@N=KIND OTHER" when no child was needed and the cut OTHER leaves
// this machine: either CALL2@M=KIND, when nothing that a cut leaves changed
// since that cut, or CALL@N=KIND2, when nothing of the disk is waiting that
// the power loss of one kind would take back and the other would keep.
// The machine must be held in memory (memory_disk.h). Empty KINDS: none.
// Throws EmulatorFailure naming a bad kind or a folder it cannot write.
void SetCutEvery(const std::string &kinds, const std::string &folder);

// Makes the cuts of W95_CUT_EVERY before call number `n` of `call`.
void CutBefore(Call call, unsigned long n);

// Counts this call of `call` and tells whether it must fail. Returns the
// error code to fail with (recorded as a Fault event), or 0 to run the call.
// A planned crash or power loss ends the process here, at once, with no
// write-back.
//
// Every emulated function starts with it, for example
//     if (DWORD e = w95::InjectedFault("CopyFileA")) {
//         SetLastError(e);
//         return FALSE;
//     }
// and registry functions return the code itself. The name is checked when
// the call compiles: it must be one of W95_CALLS (emulated_calls.h). Every
// call counts, so that CALL@N means the same whatever else the plan holds;
// a call that the plan does not name costs no more than the count.
inline DWORD InjectedFault(CallName name) {
    Faults &faults = Process().faults;
    const std::size_t index = static_cast<std::size_t>(name.call());
    const unsigned long n = ++faults.counts[index];
    if (faults.planned[index]) return PlannedFault(name.call(), n);
    if (!faults.cutKinds.empty()) CutBefore(name.call(), n);
    return 0;
}

// The errno of a name ("EIO", in any case); nullopt for a name the table
// does not hold.
std::optional<int> ErrnoNamed(std::string_view name);

// The name of an errno ("EIO"); empty for one the table does not hold.
std::string_view ErrnoNameOf(int error);

// Replaces the plan of the host calls (host_calls.h), whose failures are
// recorded as HostFault events; throws EmulatorFailure naming the bad entry.
void SetHostFaultPlan(const std::string &list);

// Forgets both plans and the call counts (tests).
void ResetFaults();

}  // namespace w95

#endif
