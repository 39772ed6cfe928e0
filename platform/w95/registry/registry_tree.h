// A registry key tree: keys, values and their names, which compare without
// regard to case, and the names of the roots. It knows nothing of files,
// handles or changes; a Registry (registry_store.h) is built on it.
#ifndef W95_REGISTRY_TREE_H
#define W95_REGISTRY_TREE_H

#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "code_page.h"

namespace w95 {

// Memory for the keys of one registry, handed out from large blocks and
// given back to the system all at once. Each key taken from it holds it
// (through its allocation), so it lasts until the last key and handle are
// gone. Pieces given back (a list that grew, a value that changed) are kept
// by size and handed out again, so the tree takes little more memory than
// it holds. Making and dropping a tree of hundreds of thousands of keys
// costs little more than touching its memory.
class RegArena : public std::enable_shared_from_this<RegArena> {
  public:
    RegArena() = default;
    RegArena(const RegArena &) = delete;
    RegArena &operator=(const RegArena &) = delete;

    void *Allocate(std::size_t size, std::size_t align);
    void Release(void *p, std::size_t size, std::size_t align);

  private:
    // Pieces given back, by size in units of kGrain up to kReusedSize; a
    // piece holds the next of its size in its first bytes.
    static constexpr std::size_t kGrain = 16;
    static constexpr std::size_t kReusedSize = 4096;
    void *reused_[kReusedSize / kGrain + 1] = {};

    struct FreeBlock {
        void operator()(std::byte *block) const { std::free(block); }
    };
    std::vector<std::unique_ptr<std::byte, FreeBlock>> blocks_;
    std::byte *next_ = nullptr;
    std::byte *end_ = nullptr;
    std::size_t blockSize_ = 64 << 10;  // of the next block, doubling
};

// Storage of a key's lists and values: its registry's arena, or the heap
// (no arena). A copy of such a container is always made on the heap, so
// that what a caller copies out never depends on the arena.
template <class T>
struct RegAllocator {
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;

    RegArena *arena = nullptr;

    RegAllocator() noexcept = default;
    explicit RegAllocator(RegArena *a) noexcept : arena(a) {}
    template <class U>
    RegAllocator(const RegAllocator<U> &other) noexcept : arena(other.arena) {}

    T *allocate(std::size_t n) {
        if (arena)
            return static_cast<T *>(arena->Allocate(n * sizeof(T), alignof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T *p, std::size_t n) {
        if (arena)
            arena->Release(p, n * sizeof(T), alignof(T));
        else
            std::allocator<T>().deallocate(p, n);
    }
    RegAllocator select_on_container_copy_construction() const { return {}; }
    template <class U>
    bool operator==(const RegAllocator<U> &other) const {
        return arena == other.arena;
    }
};

using RegBytes = std::vector<BYTE, RegAllocator<BYTE>>;

struct RegValue {
    std::string name;  // "" is the key's default value
    DWORD type = REG_NONE;
    RegBytes data;
};

// One key. Subkeys and values keep their creation order, which is the
// enumeration order; lookups by name go through an index once a key has
// more than a handful of entries. Names compare as SameName does and keep
// the case they were created with. A key made by a registry has its
// subkeys made in that registry's arena; one made on its own (make_shared)
// has them on the heap.
class RegKey : public std::enable_shared_from_this<RegKey> {
  public:
    explicit RegKey(std::string keyName, RegArena *arena = nullptr);
    ~RegKey();
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    const std::string name;
    RegKey *parent = nullptr;

    using KeyList = std::vector<std::shared_ptr<RegKey>,
                                RegAllocator<std::shared_ptr<RegKey>>>;
    using ValueList = std::vector<RegValue, RegAllocator<RegValue>>;

    const KeyList &Children() const { return children_; }
    const ValueList &Values() const { return values_; }

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

    // A root key whose subtree is made in a new arena of its own.
    static std::shared_ptr<RegKey> NewRoot(std::string rootName);

  private:
    // Subkeys by name: an open-addressing table of the children, sized to a
    // power of two at least twice their number; one allocation, not one per
    // entry.
    struct ChildIndex {
        explicit ChildIndex(RegArena *arena)
            : slots(RegAllocator<RegKey *>(arena)) {}
        std::vector<RegKey *, RegAllocator<RegKey *>> slots;
        void Insert(RegKey *key);
        RegKey *Find(std::string_view childName, std::size_t hash) const;
    };
    void IndexChildren();
    using ValueIndex = std::unordered_map<std::string_view, std::size_t,
                                          FoldedHash, FoldedEqual>;
    std::ptrdiff_t ValuePosition(std::string_view valueName) const;

    RegArena *arena_;       // where subkeys are made; nullptr: the heap
    std::size_t nameHash_;  // FoldedHash of name
    KeyList children_;
    std::unique_ptr<ChildIndex> childIndex_;
    ValueList values_;
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
// The same into *out, whose storage is reused.
void CanonicalInto(RegRoot root, const std::vector<std::string_view> &path,
                   CanonicalKeyPath *out);

// Splits a key path at "\"; empty parts (doubled or trailing backslashes)
// are skipped.
std::vector<std::string_view> SplitKeyPath(std::string_view path);
// The same, appended to *parts.
void SplitKeyPathInto(std::string_view path,
                      std::vector<std::string_view> *parts);

}  // namespace w95

#endif
