// The registry writes: each channel's "AdapterSettings" and the chip's
// "ChannelOptions".
#ifndef PARLOD_CHANNEL_SETTINGS_H
#define PARLOD_CHANNEL_SETTINGS_H

#include "parlod_state.h"

// Gives each listed entry its parameter string: slot 2i for primary
// position i, slot 2i+1 for secondary position i, without the leading '*'.
void CopyParameterTexts(char *const *slots);

// Writes every listed channel, alternating between the lists, with a
// confirmation first in verbose mode.
void ApplyChannelSettings();

// Writes the entry's ParameterText into its "AdapterSettings" value;
// list 0 is PrimaryList, 1 SecondaryList.
void WriteAdapterSettings(int position, int list);

// Writes the one-byte "ChannelOptions" into every QVR instance under
// Enum\PCI that has none (or into all of them with the override).
void WriteChannelOptions(BYTE mode);

#endif
