// The registry snapshot taken before anything changes, and the removal of
// older registrations of the controller under Enum\PCI and Enum\MF (or, in
// a removal of the driver, of the driver's own ones).
#include <windows.h>

#include <cstring>

#include "prefix_compare.h"
#include "setup_state.h"

char SnapshotPath[PATH_SIZE];

namespace {

const char MakerPrefix[] = "QVR Technology";
const char DevicePrefix[] = "PCI&VEN_7A3C&DEV_052";
const char *const PciDevicePrefix = DevicePrefix + 4;  // "VEN_7A3C&DEV_052"
const char ClassRoot[] = "System\\CurrentControlSet\\Services\\Class";

constexpr DWORD NAME_SIZE = 256;
constexpr DWORD VALUE_SIZE = 256;

enum class Walk { Pci, Mf };

// What a walk does with the registrations it visits: an install removes
// other makers' and dates the driver's own; a removal removes the driver's
// own; a count only counts them.
enum class Purpose { Install, Remove, Count };
Purpose WalkPurpose = Purpose::Install;
int OwnRegistrations;

// Reads a value of any type as a text; one that does not fit 256 bytes
// counts as unreadable. The byte behind the data ends the text.
bool ReadValueText(HKEY key, const char *name, char (&text)[VALUE_SIZE + 1]) {
    DWORD size = VALUE_SIZE;
    if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE *>(text),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    text[size <= VALUE_SIZE ? size : VALUE_SIZE] = '\0';
    return true;
}

bool EnumSubkey(HKEY key, DWORD index, char (&name)[NAME_SIZE]) {
    DWORD size = NAME_SIZE;
    return RegEnumKeyExA(key, index, name, &size, NULL, NULL, NULL, NULL) ==
           ERROR_SUCCESS;
}

// Walks the instances of one open device key. True when the walk removed its
// last instance, so that the device key itself is to go.
bool WalkInstances(HKEY deviceKey, Walk walk) {
    char name[NAME_SIZE];
    DWORD index = 0;
    while (EnumSubkey(deviceKey, index, name)) {
        if (walk == Walk::Mf && PrefixCompare(DevicePrefix, name) != 0) {
            ++index;
            continue;
        }
        HKEY instanceKey;
        if (RegOpenKeyExA(deviceKey, name, 0, KEY_ALL_ACCESS, &instanceKey) !=
            ERROR_SUCCESS) {
            ++index;
            continue;
        }
        char maker[VALUE_SIZE + 1];
        if (!ReadValueText(instanceKey, "Mfg", maker)) {
            RegCloseKey(instanceKey);
            ++index;
            continue;
        }
        bool own = PrefixCompare(MakerPrefix, maker) == 0;
        if (own) ++OwnRegistrations;
        bool keep = WalkPurpose == Purpose::Install  ? own && !OverrideFlag
                    : WalkPurpose == Purpose::Remove ? !own
                                                     : true;
        if (keep) {
            if (WalkPurpose == Purpose::Install) UpdateDriverDate(instanceKey);
            RegCloseKey(instanceKey);
            ++index;
            continue;
        }
        DeleteClassDriverKey(instanceKey);
        RegCloseKey(instanceKey);
        if (RegDeleteKeyA(deviceKey, name) != ERROR_SUCCESS) {
            ++index;  // it stays in place: pass over it
            continue;
        }
        // The next instance has moved up into the deleted one's place.
        DWORD subkeys = 0;
        if (RegQueryInfoKeyA(deviceKey, NULL, NULL, NULL, &subkeys, NULL, NULL,
                             NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS &&
            subkeys == 0) {
            return true;
        }
    }
    return false;
}

void WalkEnumerator(HKEY enumKey, Walk walk) {
    char name[NAME_SIZE];
    DWORD index = 0;
    while (EnumSubkey(enumKey, index, name)) {
        if (walk == Walk::Pci && PrefixCompare(PciDevicePrefix, name) != 0) {
            ++index;
            continue;
        }
        HKEY deviceKey;
        if (RegOpenKeyExA(enumKey, name, 0, KEY_ALL_ACCESS, &deviceKey) !=
            ERROR_SUCCESS) {
            ++index;
            continue;
        }
        bool emptied = WalkInstances(deviceKey, walk);
        RegCloseKey(deviceKey);
        if (!emptied || RegDeleteKeyA(enumKey, name) != ERROR_SUCCESS) {
            ++index;
        }
    }
}

void WalkEnumeratorKey(const char *path, Walk walk) {
    HKEY enumKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &enumKey) !=
        ERROR_SUCCESS) {
        return;
    }
    WalkEnumerator(enumKey, walk);
    RegCloseKey(enumKey);
}

// Both walks, Enum\MF only when Enum\PCI is there.
void WalkBothEnumerators(Purpose purpose) {
    WalkPurpose = purpose;
    HKEY pciKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\PCI", 0, KEY_ALL_ACCESS,
                      &pciKey) != ERROR_SUCCESS) {
        return;  // not even the MF walk
    }
    WalkEnumerator(pciKey, Walk::Pci);
    RegCloseKey(pciKey);
    WalkEnumeratorKey("Enum\\MF", Walk::Mf);
}

}  // namespace

bool NamesOneDriverKey(const char *driver) {
    const char *slash = std::strchr(driver, '\\');
    return slash != NULL && slash != driver && slash[1] != '\0' &&
           std::strchr(slash + 1, '\\') == NULL;
}

void RemoveOldDrivers() {
    ShowProgress("Saving the Windows 95 registry.");
    SaveRegistrySnapshot();
    ShowProgress("Removing old drivers from the Windows 95 registry.");
    WalkBothEnumerators(Purpose::Install);
}

void RemoveDriverRegistrations() {
    ShowProgress("Saving the Windows 95 registry.");
    SaveRegistrySnapshot();
    ShowProgress("Removing the driver from the Windows 95 registry.");
    WalkBothEnumerators(Purpose::Remove);
}

int CountDriverRegistrations() {
    OwnRegistrations = 0;
    WalkBothEnumerators(Purpose::Count);
    WalkPurpose = Purpose::Install;
    return OwnRegistrations;
}

void SaveRegistrySnapshot() {
    // The snapshot is journalled before it is written, so that an
    // interrupted run's partial file is removed; its name is one where no
    // file stands (RegSaveKeyA refuses to overwrite one, and a file not made
    // by this run is not this run's to remove). Without a snapshot (no name
    // to be had, a failed save or flush) the removal still goes on; it
    // cannot be undone then.
    if (!ComposeSavedPath(SnapshotPath, "REGSAVE", NULL)) return;
    JournalRecord("REG", {SnapshotPath});
    SnapshotIsOurs = 1;
    if (RegSaveKeyA(HKEY_LOCAL_MACHINE, SnapshotPath, NULL) != ERROR_SUCCESS) {
        return;
    }
    // The snapshot is on disk before the journal vouches for it. The file
    // may carry attributes that keep it from being opened for writing.
    SetFileAttributesA(SnapshotPath, FILE_ATTRIBUTE_NORMAL);
    if (!FlushFile(SnapshotPath)) return;
    JournalRecord("REG+");
    StepFlags |= STEP_REGISTRY_SAVED;
}

void RestoreRegistrySnapshot() {
    ShowProgress("Restoring the Windows 95 registry.");
    // The snapshot goes only once the restored registry is written out.
    if (RegRestoreKeyA(HKEY_LOCAL_MACHINE, SnapshotPath, 0) == ERROR_SUCCESS &&
        RegFlushKey(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS) {
        DeleteRegistrySnapshot();
    } else if (!SavedCopyGone(SnapshotPath)) {
        // Gone means restored already, by an undo that was cut short.
        ReportKeptCopy("the Windows 95 registry", SnapshotPath);
    }
}

void DeleteRegistrySnapshot() {
    if (SnapshotPath[0] == '\0' || !SnapshotIsOurs) return;
    SetFileAttributesA(SnapshotPath, FILE_ATTRIBUTE_NORMAL);
    DeleteWorkFile(SnapshotPath);
}

void DeleteClassDriverKey(HKEY instanceKey) {
    char driver[VALUE_SIZE + 1];
    // An empty or odd value would name the class root or a whole class.
    if (!ReadValueText(instanceKey, "Driver", driver) ||
        !NamesOneDriverKey(driver)) {
        return;
    }
    HKEY classKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ClassRoot, 0, KEY_ALL_ACCESS,
                      &classKey) != ERROR_SUCCESS) {
        return;
    }
    RegDeleteKeyA(classKey, driver);
    RegCloseKey(classKey);
}

void UpdateDriverDate(HKEY instanceKey) {
    if (!HaveDriverDate) return;
    char driver[VALUE_SIZE + 1];
    if (!ReadValueText(instanceKey, "Driver", driver)) return;
    char path[sizeof ClassRoot + 1 + VALUE_SIZE + 1];
    wsprintfA(path, "%s\\%s", ClassRoot, driver);
    HKEY driverKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS,
                      &driverKey) != ERROR_SUCCESS) {
        return;
    }
    char oldDate[VALUE_SIZE + 1];
    if (ReadValueText(driverKey, "DriverDate", oldDate)) {
        RegSetValueExA(driverKey, "DriverDate", 0, REG_SZ,
                       reinterpret_cast<const BYTE *>(DriverDateText),
                       (DWORD)std::strlen(DriverDateText) + 1);
    }
    RegCloseKey(driverKey);
}
