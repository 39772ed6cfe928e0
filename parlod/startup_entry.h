// Removal of the start-up entry from win.ini.
#ifndef PARLOD_STARTUP_ENTRY_H
#define PARLOD_STARTUP_ENTRY_H

// Rewrites win.ini without the first occurrence of StartupEntry in each
// line. Ends the process with exit code 1 when its path buffers cannot be
// allocated.
void RemoveStartupEntry();

#endif
