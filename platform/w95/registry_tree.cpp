// The registry key tree: keys with their subkeys and values, name lookups,
// and the roots' names and aliases.
#include "registry_tree.h"

#include <algorithm>
#include <cstring>

namespace w95 {

namespace {

// Keys with more entries than this look names up through a hash index.
constexpr std::size_t kIndexThreshold = 8;

}  // namespace

// ------------------------------------------------------------------- key

RegKey::~RegKey() {
    // Deep trees are taken apart without recursion.
    childIndex_.reset();
    std::vector<std::shared_ptr<RegKey>> pending = std::move(children_);
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

RegKey *RegKey::FindChild(std::string_view childName) const {
    if (childIndex_) {
        auto it = childIndex_->find(childName);
        return it == childIndex_->end() ? nullptr : it->second;
    }
    for (const auto &c : children_)
        if (SameName(c->name, childName)) return c.get();
    return nullptr;
}

RegKey &RegKey::AddChild(std::string childName) {
    auto child = std::make_shared<RegKey>(std::move(childName));
    child->parent = this;
    RegKey *raw = child.get();
    children_.push_back(std::move(child));
    if (childIndex_) {
        childIndex_->emplace(raw->name, raw);
    } else if (children_.size() > kIndexThreshold) {
        childIndex_ = std::make_unique<ChildIndex>();
        childIndex_->reserve(children_.size() * 2);
        for (const auto &c : children_) childIndex_->emplace(c->name, c.get());
    }
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
    if (childIndex_) childIndex_->erase(keep->name);
    children_.erase(it);
    keep->parent = nullptr;
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
    RegValue v;
    v.name.assign(valueName);
    v.type = type;
    v.data.assign(data, data + size);
    values_.push_back(std::move(v));
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
    children_ = std::move(other.children_);
    childIndex_ = std::move(other.childIndex_);
    for (auto &c : children_) c->parent = this;
    values_ = std::move(other.values_);
    valueIndex_ = std::move(other.valueIndex_);
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
    switch (root) {
        case RegRoot::LocalMachine:
            break;
        case RegRoot::Users:
            c.users = true;
            break;
        case RegRoot::CurrentUser:
            c.users = true;
            c.parts = {".DEFAULT"};
            break;
        case RegRoot::ClassesRoot:
            c.parts = {"SOFTWARE", "Classes"};
            break;
        case RegRoot::CurrentConfig:
            c.parts = {"Config", "0001"};
            break;
    }
    c.parts.insert(c.parts.end(), path.begin(), path.end());
    return c;
}

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace w95
