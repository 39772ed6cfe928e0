// The registry key tree: keys with their subkeys and values, name lookups,
// and the roots' names and aliases.
#include "registry_tree.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <cstdint>
#include <cstring>

namespace w95 {

namespace {

// Keys with more entries than this look names up through a hash index.
constexpr std::size_t kIndexThreshold = 8;

// Arena blocks: the size of a large page, and aligned to it, so that the
// system can back a large registry with few large pages instead of many
// small ones (each first touch of a small page costs a fault).
constexpr std::size_t kArenaBlock = 2 << 20;

// The allocator through which a key and its shared_ptr control block are
// made in an arena. It holds the arena, so the memory stays while any
// pointer to the key does; giving back is left to the arena's end.
template <class T>
struct ArenaAllocator {
    using value_type = T;
    std::shared_ptr<RegArena> arena;

    explicit ArenaAllocator(std::shared_ptr<RegArena> a)
        : arena(std::move(a)) {}
    template <class U>
    ArenaAllocator(const ArenaAllocator<U> &other) : arena(other.arena) {}

    T *allocate(std::size_t n) {
        return static_cast<T *>(arena->Allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T *p, std::size_t n) {
        arena->Release(p, n * sizeof(T), alignof(T));
    }

    template <class U>
    bool operator==(const ArenaAllocator<U> &other) const {
        return arena == other.arena;
    }
};

std::shared_ptr<RegKey> MakeKey(std::string name, RegArena *arena) {
    if (!arena) return std::make_shared<RegKey>(std::move(name));
    return std::allocate_shared<RegKey>(
        ArenaAllocator<RegKey>(arena->shared_from_this()), std::move(name),
        arena);
}

}  // namespace

// ----------------------------------------------------------------- arena

void *RegArena::Allocate(std::size_t size, std::size_t align) {
    if (size == 0) size = 1;
    if (size <= kReusedSize && align <= kGrain) {
        std::size_t unit = (size + kGrain - 1) / kGrain;
        if (void *p = reused_[unit]) {
            std::memcpy(&reused_[unit], p, sizeof(void *));
            return p;
        }
        size = unit * kGrain;
        align = kGrain;
    }
    auto at = reinterpret_cast<std::uintptr_t>(next_);
    std::uintptr_t aligned = (at + align - 1) & ~(std::uintptr_t(align) - 1);
    if (!next_ || aligned + size > reinterpret_cast<std::uintptr_t>(end_)) {
        // Blocks grow from small to large, so that a small registry (a
        // saved key, one read by a tool) does not touch a large block; the
        // large ones ask for large pages, which a big registry fills.
        std::size_t step = blockSize_ < kArenaBlock ? 4096 : kArenaBlock;
        std::size_t blockSize =
            (std::max(blockSize_, size + align) + step - 1) / step * step;
        auto *block =
            static_cast<std::byte *>(std::aligned_alloc(step, blockSize));
        if (!block) throw std::bad_alloc();
        blocks_.emplace_back(block);
        // Only advice: where large pages are not to be had, small ones do.
        if (step == kArenaBlock) ::madvise(block, blockSize, MADV_HUGEPAGE);
        blockSize_ = std::min(blockSize_ * 2, kArenaBlock);
        next_ = block;
        end_ = next_ + blockSize;
        at = reinterpret_cast<std::uintptr_t>(next_);
        aligned = (at + align - 1) & ~(std::uintptr_t(align) - 1);
    }
    next_ = reinterpret_cast<std::byte *>(aligned + size);
    return reinterpret_cast<void *>(aligned);
}

void RegArena::Release(void *p, std::size_t size, std::size_t align) {
    if (size == 0) size = 1;
    if (size > kReusedSize || align > kGrain) return;  // kept until the end
    std::size_t unit = (size + kGrain - 1) / kGrain;
    std::memcpy(p, &reused_[unit], sizeof(void *));
    reused_[unit] = p;
}

// ------------------------------------------------------------------- key

RegKey::RegKey(std::string keyName, RegArena *arena)
    : name(std::move(keyName)),
      arena_(arena),
      nameHash_(FoldedHash()(name)),
      children_(RegAllocator<std::shared_ptr<RegKey>>(arena)),
      values_(RegAllocator<RegValue>(arena)) {}

std::shared_ptr<RegKey> RegKey::NewRoot(std::string rootName) {
    auto arena = std::make_shared<RegArena>();
    return MakeKey(std::move(rootName), arena.get());
}

RegKey::~RegKey() {
    // Deep trees are taken apart without recursion.
    childIndex_.reset();
    std::vector<std::shared_ptr<RegKey>> pending(
        std::make_move_iterator(children_.begin()),
        std::make_move_iterator(children_.end()));
    children_.clear();
    while (!pending.empty()) {
        std::shared_ptr<RegKey> k = std::move(pending.back());
        pending.pop_back();
        k->parent = nullptr;
        if (k.use_count() == 1) {
            k->childIndex_.reset();
            for (auto &c : k->children_) pending.push_back(std::move(c));
            k->children_.clear();
        }
    }
}

void RegKey::ChildIndex::Insert(RegKey *key) {
    std::size_t mask = slots.size() - 1;
    std::size_t i = key->nameHash_ & mask;
    while (slots[i]) i = (i + 1) & mask;
    slots[i] = key;
}

RegKey *RegKey::ChildIndex::Find(std::string_view childName,
                                 std::size_t hash) const {
    std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask; slots[i]; i = (i + 1) & mask)
        if (slots[i]->nameHash_ == hash && SameName(slots[i]->name, childName))
            return slots[i];
    return nullptr;
}

void RegKey::IndexChildren() {
    if (children_.size() <= kIndexThreshold) {
        childIndex_.reset();
        return;
    }
    std::size_t size = 16;
    while (size < children_.size() * 2) size *= 2;
    if (!childIndex_) childIndex_ = std::make_unique<ChildIndex>(arena_);
    childIndex_->slots.assign(size, nullptr);
    for (const auto &c : children_) childIndex_->Insert(c.get());
}

RegKey *RegKey::FindChild(std::string_view childName) const {
    if (childIndex_)
        return childIndex_->Find(childName, FoldedHash()(childName));
    for (const auto &c : children_)
        if (SameName(c->name, childName)) return c.get();
    return nullptr;
}

RegKey &RegKey::AddChild(std::string childName) {
    auto child = MakeKey(std::move(childName), arena_);
    child->parent = this;
    RegKey *raw = child.get();
    children_.push_back(std::move(child));
    if (childIndex_ && children_.size() * 2 <= childIndex_->slots.size())
        childIndex_->Insert(raw);
    else if (children_.size() > kIndexThreshold)
        IndexChildren();
    return *raw;
}

RegKey &RegKey::Child(std::string_view childName, bool *created) {
    RegKey *k = FindChild(childName);
    if (created) *created = k == nullptr;
    return k ? *k : AddChild(std::string(childName));
}

void RegKey::RemoveChild(const RegKey *child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const auto &c) { return c.get() == child; });
    if (it == children_.end()) return;
    std::shared_ptr<RegKey> keep = std::move(*it);
    children_.erase(it);
    keep->parent = nullptr;
    // Rebuilt from the names' kept hashes: cheaper than it looks, and
    // removals are rare next to lookups.
    if (childIndex_) IndexChildren();
}

std::ptrdiff_t RegKey::ValuePosition(std::string_view valueName) const {
    if (values_.size() <= kIndexThreshold) {
        for (std::size_t i = 0; i < values_.size(); ++i)
            if (SameName(values_[i].name, valueName))
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }
    if (!valueIndex_) {
        valueIndex_ = std::make_unique<ValueIndex>();
        valueIndex_->reserve(values_.size() * 2);
        for (std::size_t i = 0; i < values_.size(); ++i)
            valueIndex_->emplace(values_[i].name, i);
    }
    auto it = valueIndex_->find(valueName);
    return it == valueIndex_->end() ? -1
                                    : static_cast<std::ptrdiff_t>(it->second);
}

const RegValue *RegKey::FindValue(std::string_view valueName) const {
    std::ptrdiff_t i = ValuePosition(valueName);
    return i < 0 ? nullptr : &values_[static_cast<std::size_t>(i)];
}

bool RegKey::SetValue(std::string_view valueName, DWORD type, const BYTE *data,
                      std::size_t size) {
    std::ptrdiff_t i = ValuePosition(valueName);
    if (i >= 0) {
        RegValue &v = values_[static_cast<std::size_t>(i)];
        if (v.type == type && v.data.size() == size &&
            (size == 0 || std::memcmp(v.data.data(), data, size) == 0))
            return false;
        v.type = type;
        v.data.assign(data, data + size);
        return true;
    }
    std::size_t capacity = values_.capacity();
    values_.push_back(
        RegValue{std::string(valueName), type,
                 RegBytes(data, data + size, RegAllocator<BYTE>(arena_))});
    if (values_.capacity() != capacity)
        valueIndex_.reset();  // the names moved
    else if (valueIndex_)
        valueIndex_->emplace(values_.back().name, values_.size() - 1);
    return true;
}

bool RegKey::RemoveValue(std::string_view valueName) {
    std::ptrdiff_t i = ValuePosition(valueName);
    if (i < 0) return false;
    valueIndex_.reset();
    values_.erase(values_.begin() + i);
    return true;
}

void RegKey::TakeContentOf(RegKey &other) {
    Clear();
    if (other.arena_ == arena_) {
        children_ = std::move(other.children_);
        childIndex_ = std::move(other.childIndex_);
        values_ = std::move(other.values_);
        valueIndex_ = std::move(other.valueIndex_);
    } else {
        // A key's own lists and values stay in its own storage, which
        // lasts as long as the key does; the subkeys themselves move as
        // they are, each in its own.
        for (auto &c : other.children_) children_.push_back(std::move(c));
        for (RegValue &v : other.values_)
            values_.push_back(RegValue{std::move(v.name), v.type,
                                       RegBytes(v.data.begin(), v.data.end(),
                                                RegAllocator<BYTE>(arena_))});
        other.children_.clear();
        IndexChildren();
    }
    for (auto &c : children_) c->parent = this;
    other.Clear();
}

void RegKey::Clear() {
    childIndex_.reset();
    for (auto &c : children_) c->parent = nullptr;
    children_.clear();
    valueIndex_.reset();
    values_.clear();
}

std::string RegKey::Path() const {
    std::vector<const RegKey *> chain;
    for (const RegKey *k = this; k; k = k->parent) chain.push_back(k);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (!path.empty()) path.push_back('\\');
        path += (*it)->name;
    }
    return path;
}

// ----------------------------------------------------------------- names

std::optional<RegRoot> RegRootByName(std::string_view name) {
    static const std::pair<std::string_view, RegRoot> kRoots[] = {
        {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
        {"HKEY_USERS", RegRoot::Users},
        {"HKEY_CURRENT_USER", RegRoot::CurrentUser},
        {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
        {"HKEY_CURRENT_CONFIG", RegRoot::CurrentConfig},
    };
    for (const auto &[n, root] : kRoots)
        if (SameName(n, name)) return root;
    return std::nullopt;
}

std::string RegRootPath(RegRoot root) {
    switch (root) {
        case RegRoot::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case RegRoot::Users:
            return "HKEY_USERS";
        case RegRoot::CurrentUser:
            return "HKEY_USERS\\.DEFAULT";
        case RegRoot::ClassesRoot:
            return "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
        case RegRoot::CurrentConfig:
            return "HKEY_LOCAL_MACHINE\\Config\\0001";
    }
    return {};
}

CanonicalKeyPath Canonical(RegRoot root,
                           const std::vector<std::string_view> &path) {
    CanonicalKeyPath c;
    CanonicalInto(root, path, &c);
    return c;
}

void CanonicalInto(RegRoot root, const std::vector<std::string_view> &path,
                   CanonicalKeyPath *out) {
    out->users = false;
    out->parts.clear();
    switch (root) {
        case RegRoot::LocalMachine:
            break;
        case RegRoot::Users:
            out->users = true;
            break;
        case RegRoot::CurrentUser:
            out->users = true;
            out->parts.push_back(".DEFAULT");
            break;
        case RegRoot::ClassesRoot:
            out->parts.push_back("SOFTWARE");
            out->parts.push_back("Classes");
            break;
        case RegRoot::CurrentConfig:
            out->parts.push_back("Config");
            out->parts.push_back("0001");
            break;
    }
    out->parts.insert(out->parts.end(), path.begin(), path.end());
}

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    SplitKeyPathInto(path, &parts);
    return parts;
}

void SplitKeyPathInto(std::string_view path,
                      std::vector<std::string_view> *parts) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts->push_back(path.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace w95
