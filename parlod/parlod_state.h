// Process-wide state of one parlod run: the option and status words, the
// settings taken from the parameter file and the channel lists.
#ifndef PARLOD_PARLOD_STATE_H
#define PARLOD_PARLOD_STATE_H

#include <windows.h>

// RunOptions bits.
constexpr WORD OPT_VERBOSE = 0x0001;
constexpr WORD OPT_PROMPT_REBOOT = 0x0002;
constexpr WORD OPT_REPEAT = 0x0004;
constexpr WORD OPT_SETTINGS_WRITTEN = 0x8000;

// LoadStatus bits, in the order in which the status report tests them.
constexpr DWORD ST_FILE_NOT_FOUND = 0x01;
constexpr DWORD ST_NO_VALID_INFO = 0x02;
constexpr DWORD ST_ZERO_DEVICES = 0x04;
constexpr DWORD ST_OUT_OF_MEMORY = 0x08;
constexpr DWORD ST_NO_DEVICE_FOUND = 0x10;
constexpr DWORD ST_NOTHING_TO_SET = 0x20;

// Registry names, values, text lines and the settings buffers.
constexpr int TEXT_SIZE = 256;

extern WORD RunOptions;
extern DWORD LoadStatus;

extern char ParameterFilePath[TEXT_SIZE];
extern char TextBuffer[TEXT_SIZE];
extern const char AppCaption[];

// Settings from the parameter file's header.
extern char DeviceClass[TEXT_SIZE];
extern char PrimaryDescription[TEXT_SIZE];
extern char SecondaryDescription[TEXT_SIZE];
extern char StartupEntry[TEXT_SIZE];
extern LONG ControllerCount;
extern LONG ChannelOptionsOverride;

// One row of ChannelSelection per controller: non-zero means that the
// channel gets its parameter string even when it already has settings.
struct ChannelSelectionRow {
    LONG PrimarySelected;
    LONG SecondarySelected;
};

// One discovered channel device. The entry owns its open InstanceKey.
struct ControllerEntry {
    char InstanceName[TEXT_SIZE];
    char ParameterText[TEXT_SIZE];
    HKEY InstanceKey;
    LONG NeedsSettings;
};

// One block of 2 x ControllerCount references: PrimaryList is its first
// half, SecondaryList its second. NULL until the controller count is known.
extern ControllerEntry **ChannelListBlock;
extern ControllerEntry **PrimaryList;
extern ControllerEntry **SecondaryList;
extern LONG PrimaryCount;
extern LONG SecondaryCount;

#endif
