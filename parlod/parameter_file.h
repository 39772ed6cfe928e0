// The command line and the parameter file.
#ifndef PARLOD_PARAMETER_FILE_H
#define PARLOD_PARAMETER_FILE_H

#include "parlod_state.h"

// Controller counts above this are refused as out of memory: the tables for
// them could not be sized on a 32-bit machine anyway.
constexpr LONG MAX_CONTROLLER_COUNT = 65536;

// Scans the command-line tail for /V and /F"path". A path longer than 255
// characters is refused: ParameterFilePath is emptied, so that the file
// cannot be opened and the run ends with the file-not-found report.
void ScanCommandLine(LPCSTR tail);

// Scans one header line from `position` for the header switches.
void ScanHeaderSwitches(const char *position);

// Ends `text` at its first line feed.
void CutAtNewline(char *text);

// Scans the command line, reads the parameter file, runs discovery and
// leaves the outcome in LoadStatus, RunOptions and the channel lists.
void ReadParameterFile(LPCSTR tail);

#endif
