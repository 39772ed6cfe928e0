// A registry key tree: keys, values and their names, which compare without
// regard to case, and the names of the roots. It knows nothing of files,
// handles or changes; a Registry (registry_store.h) is built on it.
#ifndef W95_REGISTRY_TREE_H
#define W95_REGISTRY_TREE_H

#include <windows.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "code_page.h"

namespace w95 {

struct RegValue {
    std::string name;  // "" is the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One key. Subkeys and values keep their creation order, which is the
// enumeration order; lookups by name go through an index once a key has
// more than a handful of entries. Names compare as SameName does and keep
// the case they were created with.
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
// "HKEY_USERS\.DEFAULT" for HKEY_CURRENT_USER, ...
std::string RegRootPath(RegRoot root);

// Where a key named from a root lies once aliases are expanded: below
// HKEY_USERS or below HKEY_LOCAL_MACHINE.
struct CanonicalKeyPath {
    bool users = false;
    std::vector<std::string_view> parts;
};
CanonicalKeyPath Canonical(RegRoot root,
                           const std::vector<std::string_view> &path);

// Splits a key path at "\"; empty parts (doubled or trailing backslashes)
// are skipped.
std::vector<std::string_view> SplitKeyPath(std::string_view path);

}  // namespace w95

#endif
