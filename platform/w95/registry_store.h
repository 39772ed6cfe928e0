// The machine's registry, held in memory for the run and kept in the
// machine directory as REGEDIT4 text (registry.reg).
#ifndef W95_REGISTRY_STORE_H
#define W95_REGISTRY_STORE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace w95 {

// Loads registry.reg; a missing file is an empty registry. Throws
// EmulatorFailure naming the file and line of a malformed entry.
void LoadRegistry(const std::filesystem::path &file);

// Writes the registry back when the run changed it, replacing the file
// atomically; a registry that nothing changed leaves the file untouched.
void WriteBackRegistry(const std::filesystem::path &file);

// REGEDIT4 text of the key "HKEY_LOCAL_MACHINE\Enum" (any root name,
// aliases included) with its whole subtree, or of the whole registry for "".
// Throws EmulatorFailure when the key does not exist.
std::string ExportRegistryText(const std::string &keyPath);

// Merges REGEDIT4 text into the registry as an import does: sections create
// keys, values are set, "[-KEY]" deletes a key with its subtree and
// "name"=- deletes a value. Malformed text throws EmulatorFailure
// ("<source> line N: ...") before anything is changed.
void ImportRegistryText(const std::string &text, const std::string &source);

// An empty registry, no open handles, nothing changed (tests).
void ResetRegistry();

// ------------------------------------------------------------------ tree
// Names compare without regard to case (ASCII and the Windows-1252
// letters); they keep the case they were created with.
bool SameRegistryName(std::string_view a, std::string_view b);

struct FoldedHash {
    std::size_t operator()(std::string_view s) const;
};
struct FoldedEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return SameRegistryName(a, b);
    }
};

struct RegValue {
    std::string name;  // "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One key. Subkeys and values keep their creation order, which is the
// enumeration order; lookups by name go through an index once a key has
// more than a handful of entries.
class RegKey : public std::enable_shared_from_this<RegKey> {
  public:
    explicit RegKey(std::string keyName) : name(std::move(keyName)) {}
    ~RegKey();
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    std::string name;
    RegKey *parent = nullptr;

    const std::vector<std::shared_ptr<RegKey>> &Children() const {
        return children_;
    }
    const std::vector<RegValue> &Values() const { return values_; }

    RegKey *FindChild(std::string_view childName) const;
    // Appends a new subkey; the caller has made sure that none has the name.
    RegKey &AddChild(std::string childName);
    // Finds or appends a subkey.
    RegKey &Child(std::string_view childName, bool *created = nullptr);
    // Takes a subkey out of the tree; later subkeys move up by one index.
    void RemoveChild(const RegKey *child);

    const RegValue *FindValue(std::string_view valueName) const;
    // Sets a value (a new one is appended, an existing one keeps its place
    // and the case of its name). Returns whether anything changed.
    bool SetValue(std::string_view valueName, DWORD type, const BYTE *data,
                  std::size_t size);
    bool RemoveValue(std::string_view valueName);

    // Gives this key the values and subkeys of `other` (whose old ones
    // are dropped); `other` is left empty.
    void TakeContentOf(RegKey &other);
    // Drops all values and subkeys.
    void Clear();

    // Full path "HKEY_LOCAL_MACHINE\Enum\PCI" of an attached key.
    std::string Path() const;

  private:
    using ChildIndex =
        std::unordered_map<std::string_view, RegKey *, FoldedHash, FoldedEqual>;
    using ValueIndex = std::unordered_map<std::string_view, std::size_t,
                                          FoldedHash, FoldedEqual>;
    std::ptrdiff_t ValuePosition(std::string_view valueName) const;

    std::vector<std::shared_ptr<RegKey>> children_;
    std::unique_ptr<ChildIndex> childIndex_;
    std::vector<RegValue> values_;
    mutable std::unique_ptr<ValueIndex> valueIndex_;  // rebuilt on demand
};

// The two real roots and the aliases that Windows 95 has on them.
enum class RegRoot {
    LocalMachine,
    Users,
    CurrentUser,    // HKEY_USERS\.DEFAULT
    ClassesRoot,    // HKEY_LOCAL_MACHINE\SOFTWARE\Classes
    CurrentConfig,  // HKEY_LOCAL_MACHINE\Config\0001
};

// "HKEY_LOCAL_MACHINE" ... (any case) to its root.
std::optional<RegRoot> RegRootByName(std::string_view name);
// The root of a predefined handle (HKEY_LOCAL_MACHINE ...).
std::optional<RegRoot> RegRootOfHandle(HKEY key);
// The key a root stands for. An alias whose key does not exist yet gives
// nullptr, unless `create` is set, which makes it.
RegKey *RegRootKey(RegRoot root, bool create);
// "HKEY_USERS\.DEFAULT" for HKEY_CURRENT_USER, ...
std::string RegRootPath(RegRoot root);

// Splits a key path at "\"; empty parts (doubled or trailing backslashes)
// are skipped.
std::vector<std::string_view> SplitKeyPath(std::string_view path);

// Counts changes of the tree; write-back happens only when the count moved
// since the registry was loaded or last written.
void NoteRegistryChange();

// Open key handles. A handle refers to its key without keeping it alive: a
// deleted key's handles report ERROR_KEY_DELETED.
HKEY OpenKeyHandle(RegKey &key);
// The key of an open handle; nullptr with *error set to ERROR_INVALID_HANDLE
// or ERROR_KEY_DELETED otherwise. Predefined handles are not handled here.
std::shared_ptr<RegKey> KeyOfHandle(HKEY handle, LONG *error);
bool CloseKeyHandle(HKEY handle);

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
