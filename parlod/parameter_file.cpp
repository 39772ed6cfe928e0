// The command line and the parameter file: the switch scans and the reader
// that sets up the tables for discovery and the settings writer.
#include "parameter_file.h"

#include <cstring>

#include "channel_settings.h"
#include "controller_discovery.h"
#include "text_stream.h"

namespace {

// What the reader makes for the parameter lines; freed when reading ends.
ChannelSelectionRow *ChannelSelection = NULL;
char **ParameterSlots = NULL;  // 2N references into SlotTexts
char *SlotTexts = NULL;        // 2N texts of TEXT_SIZE characters

TextStream *ParameterFile = NULL;
char LineBuffer[TEXT_SIZE];
bool ReadFailed = false;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Reads the run of decimal digits at `position` (none gives 0) and moves
// past it. A value that does not fit a LONG comes back as the largest LONG,
// which no count admits.
LONG ReadDecimal(const char *&position) {
    LONG value = 0;
    for (; IsDigit(*position); ++position) {
        LONG digit = *position - '0';
        value = (value > (0x7FFFFFFF - digit) / 10) ? 0x7FFFFFFF
                                                    : value * 10 + digit;
    }
    return value;
}

// A quoted value of /C, /DP, /DS or /I, at the character after the switch
// letters. That character is taken as the opening quote whatever it is; the
// value runs to the next double quote (taken too) or to the end of the line.
const char *TakeQuotedValue(const char *position, char *buffer) {
    if (*position == '\0') return position;
    const char *start = ++position;
    while (*position != '\0' && *position != '"') ++position;
    size_t length = size_t(position - start);
    if (length > TEXT_SIZE - 1) length = TEXT_SIZE - 1;
    std::memcpy(buffer, start, length);
    buffer[length] = '\0';
    if (*position == '"') ++position;
    return position;
}

// /O, at the character after the O.
const char *TakeSelectSwitch(const char *position) {
    char next = *position;
    if (next == '\0' || next == ' ' || next == '/') {
        for (LONG k = 0; k < ControllerCount; ++k) {
            ChannelSelection[k].PrimarySelected = 1;
            ChannelSelection[k].SecondarySelected = 1;
        }
        return next == '\0' ? position : position + 1;
    }
    LONG controller = ReadDecimal(position);
    char which = *position;
    if (which != '\0') ++position;
    if (controller >= ControllerCount) return position;
    ChannelSelectionRow &row = ChannelSelection[controller];
    // /O n at the very end of a line selects both channels, as /O n before
    // a blank does.
    if (which == '\0' || which == ' ' || which == '/') {
        row.PrimarySelected = 1;
        row.SecondarySelected = 1;
    } else if (Upper(which) == 'P') {
        row.PrimarySelected = 1;
    } else if (Upper(which) == 'S') {
        row.SecondarySelected = 1;
    }
    return position;
}

// /S, at the character after the S.
const char *TakeChannelOptionsSwitch(const char *position) {
    BYTE mode;
    switch (Upper(*position)) {
        case 'N':
            mode = 0x00;
            break;
        case 'P':
            mode = 0x01;
            break;
        case 'S':
            mode = 0x02;
            break;
        case 'B':
            mode = 0x03;
            break;
        case '\0':
            return position;
        default:
            return position + 1;
    }
    ++position;
    if (*position != '\0') {
        if (Upper(*position) == 'O') ChannelOptionsOverride = 1;
        ++position;
    }
    WriteChannelOptions(mode);
    return position;
}

// The look at the header of a count-0 file: only /V counts there.
void ScanForVerbose(const char *position) {
    while (*position != '\0') {
        if (*position++ != '/') continue;
        if (*position == '\0') break;
        if (Upper(*position++) == 'V') RunOptions |= OPT_VERBOSE;
    }
}

// One read of at most 255 characters into LineBuffer. TRUE when this read
// ran into the end of the file. A read error ends the file as well and is
// remembered; its line is not used.
bool ReadPiece() {
    if (ReadTextLine(LineBuffer, TEXT_SIZE, ParameterFile) == NULL)
        LineBuffer[0] = '\0';
    if (StreamFailed(ParameterFile)) {
        ReadFailed = true;
        LineBuffer[0] = '\0';
        return true;
    }
    return AtEndOfStream(ParameterFile) != FALSE;
}

// Reads on to the next parameter line and cuts it. FALSE when the end of
// the file came first. *atEnd tells whether the end has been reached.
bool ReadParameterLine(bool *atEnd) {
    for (;;) {
        *atEnd = ReadPiece();
        if (LineBuffer[0] == '*') {
            CutAtNewline(LineBuffer);
            return true;
        }
        if (*atEnd) return false;
    }
}

// Allocates the channel lists, ChannelSelection and ParameterSlots for
// ControllerCount controllers. FALSE when memory ran out.
bool MakeTables() {
    SIZE_T count = SIZE_T(ControllerCount);
    ChannelListBlock = static_cast<ControllerEntry **>(
        LocalAlloc(LPTR, 2 * count * sizeof(ControllerEntry *)));
    if (ChannelListBlock == NULL) return false;
    PrimaryList = ChannelListBlock;
    SecondaryList = ChannelListBlock + count;
    ChannelSelection = static_cast<ChannelSelectionRow *>(
        LocalAlloc(LPTR, count * sizeof(ChannelSelectionRow)));
    if (ChannelSelection == NULL) return false;
    ParameterSlots =
        static_cast<char **>(LocalAlloc(LPTR, 2 * count * sizeof(char *)));
    if (ParameterSlots == NULL) return false;
    SlotTexts = static_cast<char *>(LocalAlloc(LPTR, 2 * count * TEXT_SIZE));
    if (SlotTexts == NULL) return false;
    for (SIZE_T slot = 0; slot < 2 * count; ++slot) {
        ParameterSlots[slot] = SlotTexts + slot * TEXT_SIZE;
        lstrcpyA(ParameterSlots[slot], "*");
    }
    return true;
}

void FreeTables() {
    if (ChannelSelection != NULL) LocalFree(ChannelSelection);
    if (ParameterSlots != NULL) LocalFree(ParameterSlots);
    if (SlotTexts != NULL) LocalFree(SlotTexts);
    ChannelSelection = NULL;
    ParameterSlots = NULL;
    SlotTexts = NULL;
}

// Reads the parameter lines into the slots: one line a slot, or in repeat
// mode the first two lines for all controllers. `atEnd` tells whether the
// read of the first parameter line ran into the end of the file.
void ReadParameterLines(bool atEnd) {
    LONG slotCount = 2 * ControllerCount;
    lstrcpyA(ParameterSlots[0], LineBuffer);
    if ((RunOptions & OPT_REPEAT) == 0) {
        for (LONG slot = 1; slot < slotCount && !atEnd; ++slot) {
            if (!ReadParameterLine(&atEnd)) return;
            lstrcpyA(ParameterSlots[slot], LineBuffer);
        }
        return;
    }
    if (!atEnd && ReadParameterLine(&atEnd))
        lstrcpyA(ParameterSlots[1], LineBuffer);
    for (LONG k = 1; k < ControllerCount; ++k) {
        lstrcpyA(ParameterSlots[2 * k], ParameterSlots[0]);
        lstrcpyA(ParameterSlots[2 * k + 1], ParameterSlots[1]);
    }
}

// Everything between the open and the close of the parameter file.
void ReadOpenFile() {
    // The first header or parameter line.
    for (;;) {
        if (ReadPiece()) {
            LoadStatus |= ST_NO_VALID_INFO;
            return;
        }
        if (LineBuffer[0] == '#' || LineBuffer[0] == '*') break;
    }
    CutAtNewline(LineBuffer);
    if (LineBuffer[0] == '*') {
        // No header: lists of capacity 0 can take no channel.
        LoadStatus |= ST_NO_DEVICE_FOUND;
        return;
    }

    const char *position = LineBuffer + 1;
    LONG count = IsDigit(*position) ? ReadDecimal(position) : 1;
    ControllerCount = count;
    if (count == 0) {
        LoadStatus |= ST_ZERO_DEVICES;
        ScanForVerbose(position);
        while (!ReadPiece() && LineBuffer[0] == '#')
            ScanForVerbose(LineBuffer + 1);
        return;
    }
    if (count > MAX_CONTROLLER_COUNT || !MakeTables()) {
        LoadStatus |= ST_OUT_OF_MEMORY;
        return;
    }

    // The header: the first line and every "#" line up to the first
    // parameter line.
    ScanHeaderSwitches(position);
    bool atEnd = false;
    bool haveParameterLine = false;
    while (!atEnd) {
        atEnd = ReadPiece();
        if (LineBuffer[0] == '#') {
            CutAtNewline(LineBuffer);
            ScanHeaderSwitches(LineBuffer + 1);
        } else if (LineBuffer[0] == '*') {
            CutAtNewline(LineBuffer);
            haveParameterLine = true;
            break;
        }
    }
    if (haveParameterLine) ReadParameterLines(atEnd);
    // A file that could not be read to its end gives no settings.
    if (ReadFailed) return;

    if (!FindControllerChannels(DeviceClass, "DeviceDesc", PrimaryDescription,
                                SecondaryDescription, ChannelSelection)) {
        LoadStatus |= ST_NO_DEVICE_FOUND;
        return;
    }
    CopyParameterTexts(ParameterSlots);
    for (LONG k = 0; k < PrimaryCount; ++k)
        if (PrimaryList[k] != NULL) LoadStatus &= ~ST_NOTHING_TO_SET;
    for (LONG k = 0; k < SecondaryCount; ++k)
        if (SecondaryList[k] != NULL) LoadStatus &= ~ST_NOTHING_TO_SET;
}

}  // namespace

void CutAtNewline(char *text) {
    char *lineFeed = std::strchr(text, '\n');
    if (lineFeed != NULL) *lineFeed = '\0';
}

void ScanCommandLine(LPCSTR tail) {
    if (tail == NULL) return;
    const char *position = tail;
    while (*position != '\0') {
        if (*position++ != '/') continue;
        char letter = Upper(*position);
        if (letter == '\0') break;
        ++position;
        if (letter == 'V') {
            RunOptions |= OPT_VERBOSE;
        } else if (letter == 'F') {
            if (*position == '\0') break;
            if (*position++ != '"') continue;
            const char *start = position;
            while (*position != '\0' && *position != '"') ++position;
            size_t length = size_t(position - start);
            if (*position == '"') ++position;
            if (length < TEXT_SIZE) {
                std::memcpy(ParameterFilePath, start, length);
                ParameterFilePath[length] = '\0';
            } else {
                ParameterFilePath[0] = '\0';  // names no file
            }
        }
    }
}

void ScanHeaderSwitches(const char *position) {
    while (*position != '\0') {
        if (*position++ != '/') continue;
        char letter = Upper(*position);
        if (letter == '\0') break;
        ++position;
        switch (letter) {
            case 'C':
                position = TakeQuotedValue(position, DeviceClass);
                break;
            case 'D': {
                char which = Upper(*position);
                if (which == '\0') break;
                ++position;
                if (which == 'P')
                    position = TakeQuotedValue(position, PrimaryDescription);
                else if (which == 'S')
                    position = TakeQuotedValue(position, SecondaryDescription);
                break;
            }
            case 'I':
                position = TakeQuotedValue(position, StartupEntry);
                break;
            case 'O':
                position = TakeSelectSwitch(position);
                break;
            case 'P':
                RunOptions |= OPT_PROMPT_REBOOT;
                break;
            case 'R':
                RunOptions |= OPT_REPEAT;
                break;
            case 'S':
                position = TakeChannelOptionsSwitch(position);
                break;
            case 'V':
                RunOptions |= OPT_VERBOSE;
                break;
            default:
                break;
        }
    }
}

void ReadParameterFile(LPCSTR tail) {
    ScanCommandLine(tail);
    ParameterFile = ParameterFilePath[0] != '\0'
                        ? OpenTextStream(ParameterFilePath, TEXT_READ)
                        : NULL;
    LoadStatus = ST_FILE_NOT_FOUND | ST_NOTHING_TO_SET;
    if (ParameterFile == NULL) return;
    LoadStatus &= ~ST_FILE_NOT_FOUND;
    ReadFailed = false;
    ReadOpenFile();
    if (ReadFailed) LoadStatus |= ST_FILE_NOT_FOUND;
    FreeTables();
    CloseTextStream(ParameterFile);
    ParameterFile = NULL;
}
