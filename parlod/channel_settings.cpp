// The registry writes of parlod: "AdapterSettings" for each kept channel and
// the one-byte "ChannelOptions" of the chip's PCI function.
#include "channel_settings.h"

#include <cstring>

#include "prefix_compare.h"

namespace {

const char CONFIRM_CAPTION[] = "Parlod";
const char ELLIPSIS[] = "...";

// Composes the confirmation for one channel in TextBuffer. A parameter
// string too long for the buffer is shown cut, with "..." in place of the
// closing full stop; the value written is still the whole string.
void ComposeConfirmation(const char *channel, int position,
                         const char *parameterText) {
    int head = wsprintfA(TextBuffer,
                         "Setting %s channel options on controller #%d "
                         "to \n  ",
                         channel, position);
    if (head < 0 || head >= TEXT_SIZE) return;
    size_t room = size_t(TEXT_SIZE - 1 - head);
    size_t length = std::strlen(parameterText);
    char *tail = TextBuffer + head;
    if (length + 1 <= room) {
        std::memcpy(tail, parameterText, length);
        std::memcpy(tail + length, ".", 2);
    } else {
        size_t shown = room - (sizeof ELLIPSIS - 1);
        std::memcpy(tail, parameterText, shown);
        std::memcpy(tail + shown, ELLIPSIS, sizeof ELLIPSIS);
    }
}

// One turn of the apply loop: the channel at `position` of list 0 or 1.
void ApplyChannel(int position, int list) {
    LONG count = list == 0 ? PrimaryCount : SecondaryCount;
    ControllerEntry **entries = list == 0 ? PrimaryList : SecondaryList;
    if (position >= count || entries[position] == NULL) return;
    ComposeConfirmation(list == 0 ? "primary" : "secondary", position,
                        entries[position]->ParameterText);
    if ((RunOptions & OPT_VERBOSE) != 0 &&
        MessageBoxA(NULL, TextBuffer, CONFIRM_CAPTION,
                    MB_OKCANCEL | MB_ICONWARNING) != IDOK)
        return;
    WriteAdapterSettings(position, list);
    RunOptions |= OPT_SETTINGS_WRITTEN;
}

// A value read into a small buffer; FALSE when it is missing or too long.
bool QueryValue(HKEY key, LPCSTR name, BYTE *buffer, DWORD size,
                DWORD *length) {
    *length = size;
    return RegQueryValueExA(key, name, NULL, NULL, buffer, length) == 0;
}

// The name of subkey `index` of `key`, into a buffer of TEXT_SIZE
// characters. 0 on success; anything else ends the walk.
LONG EnumSubkeyName(HKEY key, DWORD index, char *name) {
    DWORD size = TEXT_SIZE;
    return RegEnumKeyExA(key, index, name, &size, NULL, NULL, NULL, NULL);
}

void WriteInstanceOptions(HKEY instanceKey, BYTE mode) {
    BYTE manufacturer[TEXT_SIZE + 1];
    DWORD length;
    if (!QueryValue(instanceKey, "Mfg", manufacturer, TEXT_SIZE, &length))
        return;
    manufacturer[length < TEXT_SIZE ? length : TEXT_SIZE] = '\0';
    if (PrefixCompare("QVR Technology",
                      reinterpret_cast<char *>(manufacturer)) != 0)
        return;
    BYTE present;
    if (!QueryValue(instanceKey, "ChannelOptions", &present, 1, &length) ||
        ChannelOptionsOverride != 0)
        RegSetValueExA(instanceKey, "ChannelOptions", 0, REG_BINARY, &mode, 1);
}

void WriteDeviceOptions(HKEY deviceKey, BYTE mode) {
    char name[TEXT_SIZE];
    for (DWORD index = 0;; ++index) {
        if (EnumSubkeyName(deviceKey, index, name) != 0) return;
        HKEY instanceKey;
        if (RegOpenKeyExA(deviceKey, name, 0, KEY_ALL_ACCESS, &instanceKey) !=
            0)
            continue;
        WriteInstanceOptions(instanceKey, mode);
        RegCloseKey(instanceKey);
    }
}

}  // namespace

void CopyParameterTexts(char *const *slots) {
    for (LONG i = 0; i < PrimaryCount; ++i)
        if (PrimaryList[i] != NULL)
            lstrcpyA(PrimaryList[i]->ParameterText, slots[2 * i] + 1);
    for (LONG i = 0; i < SecondaryCount; ++i)
        if (SecondaryList[i] != NULL)
            lstrcpyA(SecondaryList[i]->ParameterText, slots[2 * i + 1] + 1);
}

void ApplyChannelSettings() {
    LONG primaryPosition = 0;
    LONG secondaryPosition = 0;
    LONG secondaryTurn = 0;
    while (primaryPosition < PrimaryCount ||
           secondaryPosition < SecondaryCount) {
        if (secondaryTurn == 0) {
            ApplyChannel(primaryPosition, 0);
            ++primaryPosition;
            if (secondaryPosition < SecondaryCount) secondaryTurn = 1;
        } else {
            ApplyChannel(secondaryPosition, 1);
            ++secondaryPosition;
            if (primaryPosition < PrimaryCount) secondaryTurn = 0;
        }
    }
}

void WriteAdapterSettings(int position, int list) {
    ControllerEntry **entries;
    LONG count;
    if (list == 0) {
        entries = PrimaryList;
        count = PrimaryCount;
    } else if (list == 1) {
        entries = SecondaryList;
        count = SecondaryCount;
    } else {
        return;
    }
    if (position < 0 || position >= count || entries[position] == NULL) return;
    const ControllerEntry *entry = entries[position];
    RegSetValueExA(entry->InstanceKey, "AdapterSettings", 0, REG_SZ,
                   reinterpret_cast<const BYTE *>(entry->ParameterText),
                   DWORD(lstrlenA(entry->ParameterText) + 1));
}

void WriteChannelOptions(BYTE mode) {
    HKEY pciKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_ALL_ACCESS,
                      &pciKey) != 0)
        return;
    char name[TEXT_SIZE];
    for (DWORD index = 0;; ++index) {
        if (EnumSubkeyName(pciKey, index, name) != 0) break;
        if (PrefixCompare("VEN_7A3C&DEV_052", name) != 0) continue;
        HKEY deviceKey;
        if (RegOpenKeyExA(pciKey, name, 0, KEY_ALL_ACCESS, &deviceKey) != 0)
            continue;
        WriteDeviceOptions(deviceKey, mode);
        RegCloseKey(deviceKey);
    }
    RegCloseKey(pciKey);
}
