// The registry of a machine: its two root trees and their aliases, open key
// handles, and the REGEDIT4 file (registry.reg) that it is loaded from and
// written back to. The process has one, the machine's (MachineRegistry).
#ifndef W95_REGISTRY_STORE_H
#define W95_REGISTRY_STORE_H

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry_log.h"
#include "registry_tree.h"

namespace w95 {

// When registry changes reach the disk (machine.ini RegistryWrite).
enum class RegistryWrite {
    AtExit,      // "exit": registry.reg written back when the run ends
    EachChange,  // "each": also every change logged as it is made
};

// A registry. Its operations that change the tree count the changes they
// make, so that write-back happens only when something changed, and, with
// RegistryWrite::EachChange, log each change to registry.log
// (registry_log.h) before they return. Changes made directly on a RegKey
// are neither counted nor logged.
class Registry {
  public:
    Registry();  // empty: the two roots without values or subkeys
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;
    Registry(Registry &&) = default;
    Registry &operator=(Registry &&) = default;

    // Replaces the whole registry by registry.reg and the changes that
    // its change log (registry.log beside it) holds for exactly that file;
    // a missing file is an empty registry, a stale log is ignored. Open
    // handles are dropped; the logged changes count as changes, so that
    // write-back folds them into registry.reg. `write` says whether later
    // changes are logged. Throws EmulatorFailure naming the file (or log
    // record) and line of a malformed entry, leaving the registry as it
    // was. Loading writes nothing.
    void Load(const std::filesystem::path &file,
              RegistryWrite write = RegistryWrite::AtExit);

    // Makes the registry empty: no values or subkeys, no open handles,
    // nothing changed. Handle values are not given out again.
    void Reset();

    // Writes the registry to `file` when it changed since it was loaded or
    // last written, replacing the file atomically; a registry that nothing
    // changed leaves the file untouched. Then removes the change log beside
    // `file`, so that the file alone is the whole registry again. Throws
    // EmulatorFailure when the file cannot be written or the log removed,
    // and also, once the file is written, when logging a change failed
    // during the run.
    void WriteBack(const std::filesystem::path &file);

    // Whether anything changed since the registry was loaded or written.
    bool HasUnsavedChanges() const { return changes_ != writtenChanges_; }
    // Changes made since the registry was made or loaded.
    unsigned long long ChangeCount() const { return changes_; }

    // REGEDIT4 text of the key "HKEY_LOCAL_MACHINE\Enum" (any root name,
    // aliases included) with its whole subtree, or of the whole registry
    // for "". Throws EmulatorFailure when the key does not exist.
    std::string ExportText(const std::string &keyPath) const;

    // Merges REGEDIT4 text as an import does: sections create keys, values
    // are set, "[-KEY]" deletes a key with its subtree and "name"=- deletes
    // a value. Malformed text throws EmulatorFailure ("<source> line N:
    // ...") before anything is changed.
    void ImportText(const std::string &text, const std::string &source);

    // ------------------------------------------------------------- tree
    const RegKey &LocalMachine() const { return *localMachine_; }
    const RegKey &Users() const { return *users_; }

    // The key a root stands for. An alias whose key does not exist yet
    // gives nullptr, unless `create` is set, which makes it.
    RegKey *RootKey(RegRoot root, bool create);
    const RegKey *RootKey(RegRoot root) const;

    // The key at `parts` below `base`, made where missing; *created tells
    // whether any key was made.
    RegKey &CreateKey(RegKey &base, const std::vector<std::string_view> &parts,
                      bool *created);
    // Takes a key (not a root) with its subtree out of the tree.
    void DeleteKey(RegKey &key);
    // Sets a value; returns whether anything changed.
    bool SetValue(RegKey &key, std::string_view name, DWORD type,
                  const BYTE *data, std::size_t size);
    // Deletes a value; returns whether there was one.
    bool DeleteValue(RegKey &key, std::string_view name);
    // Gives `key` the values and subkeys of `from` in place of its own;
    // `from` is left empty.
    void ReplaceContent(RegKey &key, RegKey &from);

    // ---------------------------------------------------------- handles
    // A handle refers to its key without keeping it alive: a deleted
    // key's handles report ERROR_KEY_DELETED. Predefined handles
    // (HKEY_LOCAL_MACHINE ...) are not handled here.
    HKEY OpenHandle(RegKey &key);
    // The key of an open handle; nullptr with *error set to
    // ERROR_INVALID_HANDLE or ERROR_KEY_DELETED otherwise.
    std::shared_ptr<RegKey> KeyOfHandle(HKEY handle, LONG *error) const;
    bool CloseHandle(HKEY handle);
    // Whether `handle` was given out by OpenHandle, open or closed since.
    bool WasGivenOut(HKEY handle) const {
        std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
        return value >= kFirstHandle && value < nextHandle_ &&
               (value - kFirstHandle) % 4 == 0;
    }

  private:
    void Changed() { ++changes_; }
    std::string WholeText() const;
    void WholeTextInto(std::string &out) const;
    // Whether changes go to the change log now.
    bool Logging() const {
        return write_ == RegistryWrite::EachChange && logFailure_.empty();
    }
    // Logs one change (a record of registry_store.cpp's forms), opening
    // the log first when needed. A failure is kept for WriteBack to report
    // and ends logging for the run.
    void Log(const std::string &record);
    void LogKeySection(const RegKey &key);
    void ReplayLog(const std::vector<std::string> &records,
                   const std::string &source);

    std::shared_ptr<RegKey> localMachine_;
    std::shared_ptr<RegKey> users_;
    unsigned long long changes_ = 0;
    unsigned long long writtenChanges_ = 0;  // changes_ at load or write
    std::size_t textSize_ = 0;  // of registry.reg as last read or written
    std::unordered_map<std::uintptr_t, std::weak_ptr<RegKey>> handles_;
    static constexpr std::uintptr_t kFirstHandle = 0x1000;
    std::uintptr_t nextHandle_ = kFirstHandle;

    RegistryWrite write_ = RegistryWrite::AtExit;
    std::filesystem::path logFile_;  // empty until loaded from a file
    // RegistryFileIdentity of that file, worked out from its text only
    // when a log is first started or read: hashing 20 MB is no small cost.
    std::string base_;
    std::optional<std::string> baseText_;  // the text, until then
    const std::string &Base();
    bool logOnDisk_ = false;   // a log file lies there, current or not
    bool logCurrent_ = false;  // and it holds base_; goes on from:
    std::uint64_t logWholeSize_ = 0;
    ChangeLogWriter log_;
    std::string logFailure_;
};

// The registry of this process's machine, held by the emulated process
// (emulated_process.cpp).
Registry &MachineRegistry();

// Shorthands for the machine's registry (see Registry).
inline void LoadRegistry(const std::filesystem::path &file,
                         RegistryWrite write = RegistryWrite::AtExit) {
    MachineRegistry().Load(file, write);
}
inline void WriteBackRegistry(const std::filesystem::path &file) {
    MachineRegistry().WriteBack(file);
}
inline std::string ExportRegistryText(const std::string &keyPath) {
    return MachineRegistry().ExportText(keyPath);
}
inline void ImportRegistryText(const std::string &text,
                               const std::string &source) {
    MachineRegistry().ImportText(text, source);
}
inline void ResetRegistry() { MachineRegistry().Reset(); }

// The root of a predefined handle (HKEY_LOCAL_MACHINE ...).
std::optional<RegRoot> RegRootOfHandle(HKEY key);

// The file that RegSaveKeyA writes for `key`: REGEDIT4 with the key's own
// section under its full name `path` first, then its subtree. Restoring
// reads the first section as the saved key and puts every later section at
// the same place below the key restored into, so a file saved from one key
// can be restored onto any other, and a save of HKEY_LOCAL_MACHINE restored
// onto HKEY_LOCAL_MACHINE gives the same tree back.
std::string SavedKeyText(const std::string &path, const RegKey &key);
// Reads such a file into `into`, an empty key outside the tree. Throws
// EmulatorFailure for malformed text, a deletion, a section outside the
// first one's key or a file without any section.
void ParseSavedKey(std::string_view text, const std::string &source,
                   RegKey &into);

}  // namespace w95

#endif
