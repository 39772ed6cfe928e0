// advapi32: the registry calls, served from the in-memory registry.
//
// Windows 95 behaviour kept here: RegDeleteKeyA takes the whole subtree
// with it, a NULL subkey name makes it fail with ERROR_BADKEY, and there is
// no security, so access masks and security attributes are accepted and
// ignored. Opening a key with an empty subkey name gives a new handle to
// the same key; a subkey name that begins with a backslash opens nothing.
// RegSetValueExA stores a REG_SZ value as the text up to its first NUL and
// that NUL, whatever size it was given.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "emulated_process.h"
#include "emulator_error.h"
#include "fault_injection.h"
#include "host_calls.h"
#include "host_files.h"
#include "machine.h"
#include "path_resolve.h"
#include "registry_store.h"

namespace fs = std::filesystem;

namespace {

using w95::RegKey;

// What an alias stands for while its key does not exist: a key without
// values or subkeys. Never changed.
std::shared_ptr<RegKey> EmptyKey() {
    static const std::shared_ptr<RegKey> empty = std::make_shared<RegKey>("");
    return empty;
}

// The key of a handle. A predefined alias whose key does not exist yet
// gives the empty key, or, with `create`, has its key made. A handle that
// names no open key, NULL among them, is a bad key to Windows 95's
// registry.
LONG Resolve(HKEY handle, bool create, std::shared_ptr<RegKey> *key) {
    if (std::optional<w95::RegRoot> root = w95::RegRootOfHandle(handle)) {
        RegKey *k = w95::MachineRegistry().RootKey(*root, create);
        *key = k ? k->shared_from_this() : EmptyKey();
        return ERROR_SUCCESS;
    }
    LONG error;
    *key = w95::MachineRegistry().KeyOfHandle(handle, &error);
    return error == ERROR_INVALID_HANDLE ? ERROR_BADKEY : error;
}

// A new handle to the key of `handle` (an empty subkey name). An alias
// whose key does not exist yet has nothing to refer to: its predefined
// handle is given back instead, which closing leaves valid.
HKEY SameKeyHandle(HKEY handle, RegKey &key) {
    if (&key == EmptyKey().get()) return handle;
    return w95::MachineRegistry().OpenHandle(key);
}

// Key and value names that a line of registry.reg could not hold.
bool IsStorableName(std::string_view name) {
    return name.find_first_of("\r\n") == std::string_view::npos;
}

RegKey *FindPath(RegKey *key, const std::vector<std::string_view> &parts) {
    for (std::string_view part : parts)
        if (!(key = key->FindChild(part))) return nullptr;
    return key;
}

// Runs a call's body, turning an exhausted heap into its error code.
template <typename Body>
LONG Guarded(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return ERROR_OUTOFMEMORY;
    } catch (const std::length_error &) {
        return ERROR_OUTOFMEMORY;
    }
}

// A subkey path that begins with a backslash names no key to open or
// delete; creating a key skips one such backslash.
bool StartsWithSeparator(LPCSTR lpSubKey) {
    return lpSubKey && lpSubKey[0] == '\\';
}

LONG OpenKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> base;
        if (LONG e = Resolve(hKey, false, &base)) return e;
        if (StartsWithSeparator(lpSubKey)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::string_view> parts =
            w95::SplitKeyPath(lpSubKey ? lpSubKey : "");
        if (parts.empty()) {
            *phkResult = SameKeyHandle(hKey, *base);
            return ERROR_SUCCESS;
        }
        RegKey *k = FindPath(base.get(), parts);
        if (!k) return ERROR_FILE_NOT_FOUND;
        *phkResult = w95::MachineRegistry().OpenHandle(*k);
        return ERROR_SUCCESS;
    });
}

LONG CreateKey(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult,
               LPDWORD lpdwDisposition) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (StartsWithSeparator(lpSubKey)) ++lpSubKey;
    return Guarded([&]() -> LONG {
        std::vector<std::string_view> parts =
            w95::SplitKeyPath(lpSubKey ? lpSubKey : "");
        for (std::string_view part : parts)
            if (!IsStorableName(part)) return ERROR_INVALID_PARAMETER;
        std::shared_ptr<RegKey> base;
        if (LONG e = Resolve(hKey, !parts.empty(), &base)) return e;
        bool created = false;
        if (parts.empty())
            *phkResult = SameKeyHandle(hKey, *base);
        else
            *phkResult = w95::MachineRegistry().OpenHandle(
                w95::MachineRegistry().CreateKey(*base, parts, &created));
        if (lpdwDisposition)
            *lpdwDisposition =
                created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

// Copies a name with its NUL into a buffer of `size` characters.
bool CopyName(const std::string &name, LPSTR buffer, DWORD size) {
    if (name.size() >= size) return false;
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    return true;
}

// The empty class name of a key, into an optional class buffer. A buffer
// of no characters is too small for it, except where `emptyFits`.
bool CopyEmptyClass(LPSTR lpClass, LPDWORD lpcchClass, bool emptyFits) {
    if (!lpClass || !lpcchClass) return true;
    if (*lpcchClass < 1) return emptyFits;
    lpClass[0] = '\0';
    *lpcchClass = 0;
    return true;
}

// What RegSaveKeyA and RegRestoreKeyA start with: the key of `hKey` and
// the host path of the file `lpFile`.
LONG KeyAndFile(HKEY hKey, LPCSTR lpFile, std::shared_ptr<RegKey> *key,
                fs::path *file) {
    if (LONG e = Resolve(hKey, false, key)) return e;
    if (!lpFile) return ERROR_INVALID_PARAMETER;
    DWORD error = 0;
    std::optional<fs::path> resolved = w95::ResolvePath(lpFile, &error);
    if (!resolved) return error ? (LONG)error : ERROR_PATH_NOT_FOUND;
    *file = std::move(*resolved);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (DWORD e = w95::InjectedFault("RegOpenKeyA")) return (LONG)e;
    return OpenKey(hKey, lpSubKey, phkResult);
}

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                          REGSAM samDesired, PHKEY phkResult) {
    if (DWORD e = w95::InjectedFault("RegOpenKeyExA")) return (LONG)e;
    (void)ulOptions;
    (void)samDesired;
    return OpenKey(hKey, lpSubKey, phkResult);
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (DWORD e = w95::InjectedFault("RegCreateKeyA")) return (LONG)e;
    return CreateKey(hKey, lpSubKey, phkResult, nullptr);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved,
                            LPSTR lpClass, DWORD dwOptions, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                            PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (DWORD e = w95::InjectedFault("RegCreateKeyExA")) return (LONG)e;
    (void)Reserved;
    (void)lpClass;
    (void)dwOptions;
    (void)samDesired;
    (void)lpSecurityAttributes;
    return CreateKey(hKey, lpSubKey, phkResult, lpdwDisposition);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (DWORD e = w95::InjectedFault("RegCloseKey")) return (LONG)e;
    if (w95::RegRootOfHandle(hKey)) return ERROR_SUCCESS;
    // Closing a handle again does no harm on Windows 95.
    w95::Registry &registry = w95::MachineRegistry();
    return registry.CloseHandle(hKey) || registry.WasGivenOut(hKey)
               ? ERROR_SUCCESS
               : ERROR_BADKEY;
}

// Puts the whole registry on disk, as a flush of the hive does: registry.reg
// is replaced atomically when anything changed since it was last written.
// A write-back that fails gives its error. A change log that failed earlier
// in the run is put right by the write-back, so the flush succeeds, but the
// run still ends reporting it, as it would without the flush.
LONG WINAPI RegFlushKey(HKEY hKey) {
    if (DWORD e = w95::InjectedFault("RegFlushKey")) return (LONG)e;
    std::shared_ptr<RegKey> key;
    if (LONG e = Resolve(hKey, false, &key)) return e;
    try {
        w95::WriteBackMachine();
    } catch (const w95::WriteFailure &e) {
        return (LONG)w95::ErrorFromErrno(e.error, ERROR_PATH_NOT_FOUND,
                                         ERROR_REGISTRY_IO_FAILED);
    } catch (const w95::EmulatorFailure &e) {
        w95::ReportRunError(e.what());
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (DWORD e = w95::InjectedFault("RegDeleteKeyA")) return (LONG)e;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> base;
        if (LONG e = Resolve(hKey, false, &base)) return e;
        if (!lpSubKey) return ERROR_BADKEY;
        if (StartsWithSeparator(lpSubKey)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::string_view> parts = w95::SplitKeyPath(lpSubKey);
        RegKey *k;
        if (parts.empty()) {
            // The key itself; never a root or an alias of one.
            if (w95::RegRootOfHandle(hKey) || !base->parent)
                return ERROR_ACCESS_DENIED;
            k = base.get();
        } else {
            k = FindPath(base.get(), parts);
            if (!k) return ERROR_FILE_NOT_FOUND;
        }
        w95::MachineRegistry().DeleteKey(*k);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (DWORD e = w95::InjectedFault("RegDeleteValueA")) return (LONG)e;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> key;
        if (LONG e = Resolve(hKey, false, &key)) return e;
        if (key == EmptyKey() || !w95::MachineRegistry().DeleteValue(
                                     *key, lpValueName ? lpValueName : ""))
            return ERROR_FILE_NOT_FOUND;
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                             LPDWORD lpReserved, LPDWORD lpcSubKeys,
                             LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen,
                             LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
    if (DWORD e = w95::InjectedFault("RegQueryInfoKeyA")) return (LONG)e;
    (void)lpReserved;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> key;
        if (LONG e = Resolve(hKey, false, &key)) return e;
        if (!CopyEmptyClass(lpClass, lpcchClass, true)) return ERROR_MORE_DATA;
        if (lpcSubKeys) *lpcSubKeys = (DWORD)key->Children().size();
        if (lpcbMaxSubKeyLen) {
            std::size_t longest = 0;
            for (const auto &c : key->Children())
                longest = std::max(longest, c->name.size());
            *lpcbMaxSubKeyLen = (DWORD)longest;
        }
        if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
        if (lpcValues) *lpcValues = (DWORD)key->Values().size();
        std::size_t longestName = 0, longestData = 0;
        for (const w95::RegValue &v : key->Values()) {
            longestName = std::max(longestName, v.name.size());
            longestData = std::max(longestData, v.data.size());
        }
        if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = (DWORD)longestName;
        if (lpcbMaxValueLen) *lpcbMaxValueLen = (DWORD)longestData;
        if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
        if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    if (DWORD e = w95::InjectedFault("RegEnumKeyA")) return (LONG)e;
    std::shared_ptr<RegKey> key;
    if (LONG e = Resolve(hKey, false, &key)) return e;
    if (dwIndex >= key->Children().size()) return ERROR_NO_MORE_ITEMS;
    if (!lpName) return ERROR_INVALID_PARAMETER;
    if (!CopyName(key->Children()[dwIndex]->name, lpName, cchName))
        return ERROR_MORE_DATA;
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName,
                          LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                          LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (DWORD e = w95::InjectedFault("RegEnumKeyExA")) return (LONG)e;
    (void)lpReserved;
    std::shared_ptr<RegKey> key;
    if (LONG e = Resolve(hKey, false, &key)) return e;
    if (dwIndex >= key->Children().size()) return ERROR_NO_MORE_ITEMS;
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    const std::string &name = key->Children()[dwIndex]->name;
    if (lpClass && lpcchClass && *lpcchClass < 1) return ERROR_MORE_DATA;
    if (!CopyName(name, lpName, *lpcchName)) return ERROR_MORE_DATA;
    *lpcchName = (DWORD)name.size();
    CopyEmptyClass(lpClass, lpcchClass, false);
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                          LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (DWORD e = w95::InjectedFault("RegEnumValueA")) return (LONG)e;
    (void)lpReserved;
    std::shared_ptr<RegKey> key;
    if (LONG e = Resolve(hKey, false, &key)) return e;
    if (dwIndex >= key->Values().size()) return ERROR_NO_MORE_ITEMS;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    const w95::RegValue &v = key->Values()[dwIndex];
    const DWORD size = (DWORD)v.data.size();
    // Data that does not fit leaves the name buffer and its count alone;
    // a name that does not fit is cut to the buffer, its count then being
    // what was stored. Either way the type and the data's size are given.
    LONG result = ERROR_SUCCESS;
    if (lpData && size > *lpcbData) {
        result = ERROR_MORE_DATA;
    } else {
        if (lpData && size) std::memcpy(lpData, v.data.data(), size);
        if (CopyName(v.name, lpValueName, *lpcchValueName)) {
            *lpcchValueName = (DWORD)v.name.size();
        } else {
            result = ERROR_MORE_DATA;
            if (*lpcchValueName > 0) {
                DWORD kept = *lpcchValueName - 1;
                std::memcpy(lpValueName, v.name.data(), kept);
                lpValueName[kept] = '\0';
                *lpcchValueName = kept;
            }
        }
    }
    if (lpType) *lpType = v.type;
    if (lpcbData) *lpcbData = size;
    return result;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (DWORD e = w95::InjectedFault("RegQueryValueExA")) return (LONG)e;
    (void)lpReserved;
    std::shared_ptr<RegKey> key;
    if (LONG e = Resolve(hKey, false, &key)) return e;
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    const w95::RegValue *v = key->FindValue(lpValueName ? lpValueName : "");
    if (!v) {
        if (lpType) *lpType = REG_NONE;
        if (lpcbData && !lpData) *lpcbData = 0;
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType) *lpType = v->type;
    if (!lpcbData) return ERROR_SUCCESS;
    DWORD size = (DWORD)v->data.size();
    if (lpData && size > *lpcbData) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size) std::memcpy(lpData, v->data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                           DWORD dwType, const BYTE *lpData, DWORD cbData) {
    if (DWORD e = w95::InjectedFault("RegSetValueExA")) return (LONG)e;
    (void)Reserved;
    return Guarded([&]() -> LONG {
        std::string_view name = lpValueName ? lpValueName : "";
        if (!IsStorableName(name)) return ERROR_INVALID_PARAMETER;
        if (dwType == REG_SZ) {
            // The text up to its first NUL, and that NUL, whatever cbData
            // says.
            if (!lpData) return ERROR_INVALID_PARAMETER;
            cbData =
                DWORD(std::strlen(reinterpret_cast<const char *>(lpData)) + 1);
        } else if (!lpData && cbData) {
            return ERROR_INVALID_PARAMETER;
        }
        std::shared_ptr<RegKey> key;
        if (LONG e = Resolve(hKey, true, &key)) return e;
        w95::MachineRegistry().SetValue(*key, name, dwType, lpData, cbData);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegSaveKeyA(HKEY hKey, LPCSTR lpFile,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    if (DWORD e = w95::InjectedFault("RegSaveKeyA")) return (LONG)e;
    (void)lpSecurityAttributes;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> key;
        fs::path file;
        if (LONG e = KeyAndFile(hKey, lpFile, &key, &file)) return e;
        std::optional<w95::RegRoot> root = w95::RegRootOfHandle(hKey);
        std::string text = w95::SavedKeyText(
            root ? w95::RegRootPath(*root) : key->Path(), *key);
        int fd = w95::HostOpen(file.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return (LONG)w95::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND,
                                             ERROR_REGISTRY_IO_FAILED);
        const w95::FileId id =
            w95::TrackedDisk() ? w95::DiskCache::Opened(fd) : w95::FileId{};
        // On disk before the call succeeds: a power loss after it leaves
        // the whole file, one before it at worst a part that no success
        // vouched for.
        int failure = w95::WriteAll(fd, text.data(), text.size());
        if (!failure && w95::HostFsync(fd) != 0) failure = errno;
        if (w95::HostClose(fd) != 0 && !failure) failure = errno;
        if (failure) {
            w95::HostUnlink(file.c_str());
            return failure == ENOSPC ? ERROR_DISK_FULL
                                     : ERROR_REGISTRY_IO_FAILED;
        }
        // The host fsync above is the emulation's own care: in the disk
        // cache the new file and its bytes are pending like any other.
        if (w95::DiskCache *disk = w95::TrackedDisk()) {
            disk->CreatedFile(id, file, w95::DriveOfHostPath(file));
            disk->Wrote(id, 0, text.data(), text.size());
        }
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegRestoreKeyA(HKEY hKey, LPCSTR lpFile, DWORD dwFlags) {
    if (DWORD e = w95::InjectedFault("RegRestoreKeyA")) return (LONG)e;
    (void)dwFlags;
    return Guarded([&]() -> LONG {
        std::shared_ptr<RegKey> key;
        fs::path file;
        if (LONG e = KeyAndFile(hKey, lpFile, &key, &file)) return e;
        int error = 0;
        std::optional<std::string> read = w95::ReadWholeHostFile(file, &error);
        if (!read) {
            if (error == ENOENT) return ERROR_FILE_NOT_FOUND;
            if (error == EISDIR) return ERROR_ACCESS_DENIED;
            return ERROR_REGISTRY_IO_FAILED;
        }
        const std::string &text = *read;
        auto restored = RegKey::NewRoot("");
        try {
            w95::ParseSavedKey(text, lpFile, *restored);
        } catch (const w95::EmulatorFailure &) {
            return ERROR_REGISTRY_CORRUPT;
        }
        if (LONG e = Resolve(hKey, true, &key)) return e;
        w95::MachineRegistry().ReplaceContent(*key, *restored);
        return ERROR_SUCCESS;
    });
}

}  // extern "C"
