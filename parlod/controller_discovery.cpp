// Discovery: the walk over HKEY_LOCAL_MACHINE\Enum that files the
// controller's channel instances in PrimaryList and SecondaryList, then the
// sort that makes a list position the controller number, and the prune.
#include "controller_discovery.h"

namespace {

// Names that are this long or shorter make a list sort on whole names;
// longer ones share the controller's PCI identifier in their first 22.
constexpr int SHARED_PREFIX_LENGTH = 22;

// Reads a value into a buffer of TEXT_SIZE + 1 characters, at most TEXT_SIZE
// bytes of data, and ends the text there: a value stored without its NUL
// still gives a terminated text.
bool QueryText(HKEY key, LPCSTR name, char *buffer) {
    DWORD size = TEXT_SIZE;
    if (RegQueryValueExA(key, name, NULL, NULL,
                         reinterpret_cast<LPBYTE>(buffer), &size) != 0)
        return false;
    buffer[size < TEXT_SIZE ? size : TEXT_SIZE] = '\0';
    return true;
}

// Calls `visit` with each subkey of `key` that opens, by index from 0 until
// the enumeration returns anything but success (registry key names fit the
// 256-byte buffer). `visit` takes over the opened key and returns FALSE to
// stop the walk; the result tells whether the walk ran to its end.
template <typename Visit>
bool ForEachSubkey(HKEY key, Visit visit) {
    char name[TEXT_SIZE];
    for (DWORD index = 0;; ++index) {
        if (RegEnumKeyA(key, index, name, TEXT_SIZE) != 0) return true;
        HKEY subkey;
        if (RegOpenKeyA(key, name, &subkey) != 0) continue;
        if (!visit(subkey, name)) return false;
    }
}

struct Criteria {
    LPCSTR classText;
    LPCSTR descValueName;
    LPCSTR primaryDescription;
    LPCSTR secondaryDescription;
};

// Files one instance key or closes it. FALSE when memory ran out.
bool FileInstance(const Criteria &criteria, HKEY instanceKey,
                  const char *instanceName) {
    char value[TEXT_SIZE + 1];
    ControllerEntry **list = NULL;
    LONG *count = NULL;
    if (QueryText(instanceKey, "Class", value) &&
        lstrcmpiA(value, criteria.classText) == 0 &&
        QueryText(instanceKey, criteria.descValueName, value)) {
        if (PrimaryCount < ControllerCount &&
            lstrcmpiA(value, criteria.primaryDescription) == 0) {
            list = PrimaryList;
            count = &PrimaryCount;
        } else if (SecondaryCount < ControllerCount &&
                   lstrcmpiA(value, criteria.secondaryDescription) == 0) {
            list = SecondaryList;
            count = &SecondaryCount;
        }
    }
    if (list == NULL) {
        RegCloseKey(instanceKey);
        return true;
    }
    ControllerEntry *entry =
        static_cast<ControllerEntry *>(LocalAlloc(LPTR, sizeof *entry));
    if (entry == NULL) {
        RegCloseKey(instanceKey);
        LoadStatus |= ST_OUT_OF_MEMORY;
        return false;
    }
    entry->InstanceKey = instanceKey;
    lstrcpyA(entry->InstanceName, instanceName);
    entry->NeedsSettings =
        QueryText(instanceKey, "AdapterSettings", value) ? 0 : 1;
    list[*count] = entry;
    ++*count;
    return true;
}

void SortList(ControllerEntry **list, LONG count) {
    int skip = SHARED_PREFIX_LENGTH;
    for (LONG k = 0; k < count; ++k)
        if (lstrlenA(list[k]->InstanceName) <= SHARED_PREFIX_LENGTH) skip = 0;
    for (LONG j = 0; j < count; ++j) {
        for (LONG k = j + 1; k < count; ++k) {
            if (lstrcmpiA(list[j]->InstanceName + skip,
                          list[k]->InstanceName + skip) > 0) {
                ControllerEntry *swap = list[j];
                list[j] = list[k];
                list[k] = swap;
            }
        }
    }
}

void DropEntry(ControllerEntry *&entry) {
    RegCloseKey(entry->InstanceKey);
    LocalFree(entry);
    entry = NULL;
}

}  // namespace

BOOL FindControllerChannels(LPCSTR classText, LPCSTR descValueName,
                            LPCSTR primaryDescription,
                            LPCSTR secondaryDescription,
                            const ChannelSelectionRow *selection) {
    const Criteria criteria = {classText, descValueName, primaryDescription,
                               secondaryDescription};
    bool complete = true;
    HKEY enumKey;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum", &enumKey) == 0) {
        complete =
            ForEachSubkey(enumKey, [&](HKEY enumeratorKey, const char *) {
                bool done = ForEachSubkey(enumeratorKey, [&](HKEY deviceKey,
                                                             const char *) {
                    bool done = ForEachSubkey(
                        deviceKey, [&](HKEY instanceKey, const char *name) {
                            return FileInstance(criteria, instanceKey, name);
                        });
                    RegCloseKey(deviceKey);
                    return done;
                });
                RegCloseKey(enumeratorKey);
                return done;
            });
        RegCloseKey(enumKey);
    }
    if (!complete) return FALSE;  // out of memory
    if (PrimaryCount == 0 && SecondaryCount == 0) return FALSE;
    SortAndPruneChannels(selection);
    return TRUE;
}

void SortAndPruneChannels(const ChannelSelectionRow *selection) {
    SortList(PrimaryList, PrimaryCount);
    SortList(SecondaryList, SecondaryCount);
    for (LONG k = 0; k < PrimaryCount; ++k)
        if (selection[k].PrimarySelected == 0 &&
            PrimaryList[k]->NeedsSettings == 0)
            DropEntry(PrimaryList[k]);
    for (LONG k = 0; k < SecondaryCount; ++k)
        if (selection[k].SecondarySelected == 0 &&
            SecondaryList[k]->NeedsSettings == 0)
            DropEntry(SecondaryList[k]);
}
