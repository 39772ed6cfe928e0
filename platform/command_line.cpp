// The command-line tail for WinMain, taken from the whole command line.
#include "command_line.h"

LPSTR CommandLineTail(LPSTR line) {
    unsigned char *p = reinterpret_cast<unsigned char *>(line);
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p != '\0' && *p <= ' ') ++p;
    return reinterpret_cast<LPSTR>(p);
}
