// The command-line tail that a Windows program's WinMain receives: the
// command line after the program's name and the blanks behind it.
#ifndef PLATFORM_COMMAND_LINE_H
#define PLATFORM_COMMAND_LINE_H

#include <windows.h>

// As the C runtime's start-up finds it: a name in double quotes ends at the
// closing quote, any other name at the first blank or control character.
LPSTR CommandLineTail(LPSTR line);

#endif
