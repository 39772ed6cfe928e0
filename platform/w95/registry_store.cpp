// The in-memory registry: the key tree, its two roots and their aliases,
// open key handles, and registry.reg in and out.
#include "registry_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "emulator_error.h"
#include "host_files.h"
#include "regedit4.h"

namespace fs = std::filesystem;

namespace w95 {

namespace {

// Keys with more entries than this look names up through a hash index.
constexpr std::size_t kIndexThreshold = 8;

// Upper case of each byte: ASCII letters and the Windows-1252 letters.
struct FoldTable {
    unsigned char upper[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) upper[c] = static_cast<unsigned char>(c);
        for (int c = 'a'; c <= 'z'; ++c)
            upper[c] = static_cast<unsigned char>(c - 32);
        for (int c = 0xE0; c <= 0xFE; ++c)
            if (c != 0xF7) upper[c] = static_cast<unsigned char>(c - 32);
        upper[0x9A] = 0x8A;
        upper[0x9C] = 0x8C;
        upper[0x9E] = 0x8E;
        upper[0xFF] = 0x9F;
    }
};
const FoldTable kFold;

unsigned char Fold(char c) {
    return kFold.upper[static_cast<unsigned char>(c)];
}

struct Registry {
    std::shared_ptr<RegKey> localMachine =
        std::make_shared<RegKey>("HKEY_LOCAL_MACHINE");
    std::shared_ptr<RegKey> users = std::make_shared<RegKey>("HKEY_USERS");
    unsigned long long changes = 0;
    unsigned long long writtenChanges = 0;  // `changes` at load or write
    std::unordered_map<std::uintptr_t, std::weak_ptr<RegKey>> handles;
    std::uintptr_t nextHandle = 0x1000;
};

Registry &TheRegistry() {
    static Registry registry;
    return registry;
}

// Where a section or a path lies once aliases are expanded: under
// HKEY_USERS or under HKEY_LOCAL_MACHINE.
struct CanonicalPath {
    bool users = false;
    std::vector<std::string_view> parts;
};

CanonicalPath Canonical(RegRoot root,
                        const std::vector<std::string_view> &path) {
    CanonicalPath c;
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

// Applies REGEDIT4 sections and values to a tree (the live one or one being
// loaded). Consecutive sections share their common path prefix, so loading
// a file in regedit's order walks the tree only once.
class TreeBuilder : public regedit4::Handler {
  public:
    TreeBuilder(RegKey &localMachine, RegKey &users, const std::string &source,
                bool countChanges)
        : localMachine_(localMachine),
          users_(users),
          source_(source),
          countChanges_(countChanges) {}

    void Key(RegRoot root, const std::vector<std::string_view> &path,
             bool remove, int line) override {
        CanonicalPath c = Canonical(root, path);
        RegKey *base = c.users ? &users_ : &localMachine_;
        if (remove) {
            if (path.empty())
                regedit4::ThrowMalformed(source_, line,
                                         "a root key cannot be deleted");
            cacheKeys_.clear();
            cacheParts_.clear();
            current_ = nullptr;
            RegKey *k = base;
            for (std::string_view part : c.parts)
                if (!(k = k->FindChild(part))) return;
            k->parent->RemoveChild(k);
            Changed();
            return;
        }
        std::size_t common = 0;
        if (cacheUsers_ != c.users) {
            cacheKeys_.clear();
            cacheParts_.clear();
        }
        while (common < cacheParts_.size() && common < c.parts.size() &&
               SameRegistryName(cacheParts_[common], c.parts[common]))
            ++common;
        cacheParts_.resize(common);
        cacheKeys_.resize(common);
        RegKey *k = common ? cacheKeys_.back() : base;
        for (std::size_t i = common; i < c.parts.size(); ++i) {
            bool created = false;
            k = &k->Child(c.parts[i], &created);
            if (created) Changed();
            cacheParts_.push_back(c.parts[i]);
            cacheKeys_.push_back(k);
        }
        cacheUsers_ = c.users;
        current_ = k;
    }

    void Value(std::string_view name, DWORD type, const std::vector<BYTE> &data,
               int) override {
        if (current_ &&
            current_->SetValue(name, type, data.data(), data.size()))
            Changed();
    }

    void RemoveValue(std::string_view name, int) override {
        if (current_ && current_->RemoveValue(name)) Changed();
    }

  private:
    void Changed() {
        if (countChanges_) NoteRegistryChange();
    }

    RegKey &localMachine_;
    RegKey &users_;
    const std::string &source_;
    bool countChanges_;
    RegKey *current_ = nullptr;
    bool cacheUsers_ = false;
    std::vector<std::string_view> cacheParts_;
    std::vector<RegKey *> cacheKeys_;
};

// Checks what TreeBuilder would refuse, so that an import changes nothing
// when any part of its text is wrong.
class ImportChecker : public regedit4::Handler {
  public:
    explicit ImportChecker(const std::string &source) : source_(source) {}
    void Key(RegRoot, const std::vector<std::string_view> &path, bool remove,
             int line) override {
        if (remove && path.empty())
            regedit4::ThrowMalformed(source_, line,
                                     "a root key cannot be deleted");
    }
    void Value(std::string_view, DWORD, const std::vector<BYTE> &,
               int) override {}
    void RemoveValue(std::string_view, int) override {}

  private:
    const std::string &source_;
};

// Reads a file that RegSaveKeyA wrote: its first section names the saved
// key, every later one must lie below it and lands at the same place below
// `into`.
class SavedKeyBuilder : public regedit4::Handler {
  public:
    SavedKeyBuilder(RegKey &into, const std::string &source)
        : into_(into), source_(source) {}

    void Key(RegRoot root, const std::vector<std::string_view> &path,
             bool remove, int line) override {
        if (remove)
            regedit4::ThrowMalformed(source_, line,
                                     "a deletion in a saved key file");
        CanonicalPath c = Canonical(root, path);
        if (!haveBase_) {
            base_ = c;
            haveBase_ = true;
            current_ = &into_;
            return;
        }
        bool below =
            c.users == base_.users && c.parts.size() > base_.parts.size();
        for (std::size_t i = 0; below && i < base_.parts.size(); ++i)
            below = SameRegistryName(c.parts[i], base_.parts[i]);
        if (!below)
            regedit4::ThrowMalformed(source_, line,
                                     "a key outside the saved key");
        RegKey *k = &into_;
        for (std::size_t i = base_.parts.size(); i < c.parts.size(); ++i)
            k = &k->Child(c.parts[i]);
        current_ = k;
    }
    void Value(std::string_view name, DWORD type, const std::vector<BYTE> &data,
               int) override {
        current_->SetValue(name, type, data.data(), data.size());
    }
    void RemoveValue(std::string_view, int line) override {
        regedit4::ThrowMalformed(source_, line,
                                 "a deletion in a saved key file");
    }
    bool HaveBase() const { return haveBase_; }

  private:
    RegKey &into_;
    const std::string &source_;
    bool haveBase_ = false;
    CanonicalPath base_;
    RegKey *current_ = nullptr;
};

RegKey *AliasTarget(RegKey &base, std::initializer_list<std::string_view> path,
                    bool create) {
    RegKey *k = &base;
    for (std::string_view part : path) {
        RegKey *next = k->FindChild(part);
        if (!next) {
            if (!create) return nullptr;
            next = &k->AddChild(std::string(part));
            NoteRegistryChange();
        }
        k = next;
    }
    return k;
}

std::string WholeRegistryText() {
    Registry &r = TheRegistry();
    std::string out;
    regedit4::AppendHeader(out);
    regedit4::AppendTree(out, r.localMachine->name, *r.localMachine);
    regedit4::AppendTree(out, r.users->name, *r.users);
    return out;
}

}  // namespace

// ----------------------------------------------------------------- names

bool SameRegistryName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

std::size_t FoldedHash::operator()(std::string_view s) const {
    std::uint64_t h = 1469598103934665603ull;
    for (char c : s) {
        h ^= Fold(c);
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
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
        if (SameRegistryName(c->name, childName)) return c.get();
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
            if (SameRegistryName(values_[i].name, valueName))
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

// ----------------------------------------------------------------- roots

std::optional<RegRoot> RegRootByName(std::string_view name) {
    static const std::pair<std::string_view, RegRoot> kRoots[] = {
        {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
        {"HKEY_USERS", RegRoot::Users},
        {"HKEY_CURRENT_USER", RegRoot::CurrentUser},
        {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
        {"HKEY_CURRENT_CONFIG", RegRoot::CurrentConfig},
    };
    for (const auto &[n, root] : kRoots)
        if (SameRegistryName(n, name)) return root;
    return std::nullopt;
}

std::optional<RegRoot> RegRootOfHandle(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return RegRoot::LocalMachine;
    if (key == HKEY_USERS) return RegRoot::Users;
    if (key == HKEY_CURRENT_USER) return RegRoot::CurrentUser;
    if (key == HKEY_CLASSES_ROOT) return RegRoot::ClassesRoot;
    if (key == HKEY_CURRENT_CONFIG) return RegRoot::CurrentConfig;
    return std::nullopt;
}

RegKey *RegRootKey(RegRoot root, bool create) {
    Registry &r = TheRegistry();
    switch (root) {
        case RegRoot::LocalMachine:
            return r.localMachine.get();
        case RegRoot::Users:
            return r.users.get();
        case RegRoot::CurrentUser:
            return AliasTarget(*r.users, {".DEFAULT"}, create);
        case RegRoot::ClassesRoot:
            return AliasTarget(*r.localMachine, {"SOFTWARE", "Classes"},
                               create);
        case RegRoot::CurrentConfig:
            return AliasTarget(*r.localMachine, {"Config", "0001"}, create);
    }
    return nullptr;
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

void NoteRegistryChange() { ++TheRegistry().changes; }

// --------------------------------------------------------------- handles

HKEY OpenKeyHandle(RegKey &key) {
    Registry &r = TheRegistry();
    std::uintptr_t value = r.nextHandle;
    r.nextHandle += 4;
    r.handles.emplace(value, key.weak_from_this());
    return reinterpret_cast<HKEY>(value);
}

std::shared_ptr<RegKey> KeyOfHandle(HKEY handle, LONG *error) {
    Registry &r = TheRegistry();
    auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == r.handles.end()) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    std::shared_ptr<RegKey> key = it->second.lock();
    if (!key || (!key->parent && key != r.localMachine && key != r.users)) {
        *error = ERROR_KEY_DELETED;
        return nullptr;
    }
    *error = ERROR_SUCCESS;
    return key;
}

bool CloseKeyHandle(HKEY handle) {
    return TheRegistry().handles.erase(
               reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

// ------------------------------------------------------------ text forms

std::string SavedKeyText(const std::string &path, const RegKey &key) {
    std::string out;
    regedit4::AppendHeader(out);
    regedit4::AppendTree(out, path, key);
    return out;
}

void ParseSavedKey(std::string_view text, const std::string &source,
                   RegKey &into) {
    SavedKeyBuilder builder(into, source);
    regedit4::Parse(text, source, builder);
    if (!builder.HaveBase())
        regedit4::ThrowMalformed(source, 1,
                                 "no key section in a saved key file");
}

std::string ExportRegistryText(const std::string &keyPath) {
    if (keyPath.empty()) return WholeRegistryText();
    std::string_view p(keyPath);
    std::size_t slash = p.find('\\');
    std::optional<RegRoot> root = RegRootByName(p.substr(0, slash));
    RegKey *k = root ? RegRootKey(*root, false) : nullptr;
    if (k && slash != std::string_view::npos)
        for (std::string_view part : SplitKeyPath(p.substr(slash + 1)))
            if (!(k = k->FindChild(part))) break;
    if (!k) throw EmulatorFailure("no registry key " + keyPath);
    return SavedKeyText(k->Path(), *k);
}

void ImportRegistryText(const std::string &text, const std::string &source) {
    ImportChecker checker(source);
    regedit4::Parse(text, source, checker);
    Registry &r = TheRegistry();
    TreeBuilder builder(*r.localMachine, *r.users, source, true);
    regedit4::Parse(text, source, builder);
}

void ResetRegistry() {
    Registry &r = TheRegistry();
    r.handles.clear();
    r.localMachine = std::make_shared<RegKey>("HKEY_LOCAL_MACHINE");
    r.users = std::make_shared<RegKey>("HKEY_USERS");
    r.changes = r.writtenChanges = 0;
}

// -------------------------------------------------------- registry.reg

void LoadRegistry(const fs::path &file) {
    std::string source = file.string();
    auto localMachine = std::make_shared<RegKey>("HKEY_LOCAL_MACHINE");
    auto users = std::make_shared<RegKey>("HKEY_USERS");
    std::error_code ec;
    if (fs::exists(file, ec)) {
        std::ifstream in(file, std::ios::binary);
        std::string text;
        if (in) {
            in.seekg(0, std::ios::end);
            std::streamoff size = in.tellg();
            in.seekg(0, std::ios::beg);
            if (size > 0) {
                text.resize(static_cast<std::size_t>(size));
                in.read(text.data(), size);
            }
        }
        if (!in || fs::is_directory(file, ec))
            throw EmulatorFailure(source + ": cannot be read");
        TreeBuilder builder(*localMachine, *users, source, false);
        regedit4::Parse(text, source, builder);
    } else if (ec) {
        throw EmulatorFailure(source + ": " + ec.message());
    }
    ResetRegistry();
    Registry &r = TheRegistry();
    r.localMachine = std::move(localMachine);
    r.users = std::move(users);
}

void WriteBackRegistry(const fs::path &file) {
    Registry &r = TheRegistry();
    if (r.changes == r.writtenChanges) return;
    std::string text = WholeRegistryText();
    if (std::optional<ReplaceFailure> failure =
            ReplaceFileAtomically(file, text))
        throw EmulatorFailure(file.string() + ": cannot " + failure->step +
                              ": " + std::strerror(failure->error));
    r.writtenChanges = r.changes;
}

}  // namespace w95
