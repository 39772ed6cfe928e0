// The run's spine: the status report and the final clean-up.
#ifndef PARLOD_PROGRAM_FLOW_H
#define PARLOD_PROGRAM_FLOW_H

// Shows the first LoadStatus bit set. Returns for the quiet statuses; for
// the others it cleans win.ini and ends the process with exit code 1.
void ReportLoadStatus();

// Closes the instance keys of the channel entries, frees the entries and
// the list block.
void ReleaseChannelEntries();

// ReleaseChannelEntries, then cleans win.ini.
void CleanUpRun();

#endif
