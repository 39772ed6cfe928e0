// The Windows build's fault injection: a real machine never injects a fault.
#include "platform_fault.h"

DWORD PlatformInjectedFault(PlatformCallName) { return 0; }
