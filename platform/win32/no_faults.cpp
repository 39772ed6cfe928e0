#include <platform_fault.h>

DWORD PlatformInjectedFault(LPCSTR) { return 0; }
