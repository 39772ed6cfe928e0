// Fault injection for calls that the platform layer serves itself (text
// streams). The emulation answers from W95_FAIL; a real Windows build never
// injects anything.
#ifndef PLATFORM_FAULT_H
#define PLATFORM_FAULT_H

#include <windows.h>

// The Win32 error code to fail this call of `call` with, or 0 to run it.
DWORD PlatformInjectedFault(LPCSTR call);

#endif
