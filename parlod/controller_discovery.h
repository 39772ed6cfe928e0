// Discovery of the controller's channel devices under HKLM\Enum.
#ifndef PARLOD_CONTROLLER_DISCOVERY_H
#define PARLOD_CONTROLLER_DISCOVERY_H

#include "parlod_state.h"

// Files every instance of class `classText` whose `descValueName` value
// names a primary or secondary channel, at most ControllerCount of each,
// then sorts and prunes both lists. TRUE when at least one entry was filed
// (and memory did not run out).
BOOL FindControllerChannels(LPCSTR classText, LPCSTR descValueName,
                            LPCSTR primaryDescription,
                            LPCSTR secondaryDescription,
                            const ChannelSelectionRow *selection);

// Orders both lists by instance name and drops the entries that are neither
// selected nor without settings.
void SortAndPruneChannels(const ChannelSelectionRow *selection);

#endif
