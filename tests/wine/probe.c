/* Reports what a Wine prefix tells a Windows program about itself: the
   version GetVersion gives and the directories the kit's programs ask for,
   as one line "version|windows|system|temp|current". */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char windows[MAX_PATH], system[MAX_PATH], temp[MAX_PATH], current[MAX_PATH];
    if (!GetWindowsDirectoryA(windows, MAX_PATH) ||
        !GetSystemDirectoryA(system, MAX_PATH) ||
        !GetTempPathA(MAX_PATH, temp) ||
        !GetCurrentDirectoryA(MAX_PATH, current)) {
        fprintf(stderr, "probe: error %lu\n", (unsigned long)GetLastError());
        return 1;
    }
    printf("0x%08lX|%s|%s|%s|%s\n", (unsigned long)GetVersion(), windows,
           system, temp, current);
    return 0;
}
