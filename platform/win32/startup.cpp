// The Windows build's process entry, in place of the C runtime's: the
// programs import nothing but kernel32, user32 and advapi32, which every
// Windows 95 has. It runs the static constructors, hands WinMain the
// command-line tail and ends the process with WinMain's result.
#include <windows.h>

#include "command_line.h"

extern "C" {

// The linker's table of static constructors: a count (or -1), the
// constructors, and a null entry. They run from the last to the first.
extern void (*__CTOR_LIST__[])();

// Windows enters with the stack aligned to 4 bytes only.
#if defined(__i386__)
__attribute__((force_align_arg_pointer))
#endif
[[noreturn]] void
WinMainCRTStartup() {
    int count = 0;
    while (__CTOR_LIST__[count + 1] != nullptr) ++count;
    for (int i = count; i >= 1; --i) __CTOR_LIST__[i]();
    int result = WinMain(GetModuleHandleA(NULL), NULL,
                         CommandLineTail(GetCommandLineA()), SW_SHOWDEFAULT);
    // The programs register no exit handlers and hold no buffered output:
    // ending the process is their normal end.
    ExitProcess(static_cast<UINT>(result));
}

}  // extern "C"
