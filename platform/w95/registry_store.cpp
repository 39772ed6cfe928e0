// The registry of a machine: roots and aliases, counted changes, open key
// handles, and registry.reg in and out.
#include "registry_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "emulator_error.h"
#include "host_files.h"
#include "regedit4.h"

namespace fs = std::filesystem;

namespace w95 {

namespace {

// Applies REGEDIT4 sections and values to a tree (a live registry or one
// being loaded), counting what changed into *changes when it is given.
// Consecutive sections share their common path prefix, so loading a file
// in regedit's order walks the tree only once.
class TreeBuilder : public regedit4::Handler {
  public:
    TreeBuilder(RegKey &localMachine, RegKey &users, const std::string &source,
                unsigned long long *changes)
        : localMachine_(localMachine),
          users_(users),
          source_(source),
          changes_(changes) {}

    void Key(RegRoot root, const std::vector<std::string_view> &path,
             bool remove, int line) override {
        CanonicalKeyPath c = Canonical(root, path);
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
               SameName(cacheParts_[common], c.parts[common]))
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
        if (changes_) ++*changes_;
    }

    RegKey &localMachine_;
    RegKey &users_;
    const std::string &source_;
    unsigned long long *changes_;
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
        CanonicalKeyPath c = Canonical(root, path);
        if (!haveBase_) {
            base_ = c;
            haveBase_ = true;
            current_ = &into_;
            return;
        }
        bool below =
            c.users == base_.users && c.parts.size() > base_.parts.size();
        for (std::size_t i = 0; below && i < base_.parts.size(); ++i)
            below = SameName(c.parts[i], base_.parts[i]);
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
    CanonicalKeyPath base_;
    RegKey *current_ = nullptr;
};

// The key below `base` that an alias stands for; made when `create` is set
// and it is missing, with each key made counted into *changes.
RegKey *AliasTarget(RegKey &base, std::initializer_list<std::string_view> path,
                    bool create, unsigned long long *changes) {
    RegKey *k = &base;
    for (std::string_view part : path) {
        RegKey *next = k->FindChild(part);
        if (!next) {
            if (!create) return nullptr;
            next = &k->AddChild(std::string(part));
            ++*changes;
        }
        k = next;
    }
    return k;
}

std::string ReadRegistryFile(const fs::path &file) {
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
    std::error_code ec;
    if (!in || fs::is_directory(file, ec))
        throw EmulatorFailure(file.string() + ": cannot be read");
    return text;
}

}  // namespace

// ---------------------------------------------------------------- registry

Registry::Registry()
    : localMachine_(std::make_shared<RegKey>("HKEY_LOCAL_MACHINE")),
      users_(std::make_shared<RegKey>("HKEY_USERS")) {}

RegKey *Registry::RootKey(RegRoot root, bool create) {
    switch (root) {
        case RegRoot::LocalMachine:
            return localMachine_.get();
        case RegRoot::Users:
            return users_.get();
        case RegRoot::CurrentUser:
            return AliasTarget(*users_, {".DEFAULT"}, create, &changes_);
        case RegRoot::ClassesRoot:
            return AliasTarget(*localMachine_, {"SOFTWARE", "Classes"}, create,
                               &changes_);
        case RegRoot::CurrentConfig:
            return AliasTarget(*localMachine_, {"Config", "0001"}, create,
                               &changes_);
    }
    return nullptr;
}

const RegKey *Registry::RootKey(RegRoot root) const {
    // Without `create` nothing is changed.
    return const_cast<Registry *>(this)->RootKey(root, false);
}

RegKey &Registry::CreateKey(RegKey &base,
                            const std::vector<std::string_view> &parts,
                            bool *created) {
    *created = false;
    RegKey *k = &base;
    for (std::string_view part : parts) {
        bool made = false;
        k = &k->Child(part, &made);
        if (made) {
            *created = true;
            Changed();
        }
    }
    return *k;
}

void Registry::DeleteKey(RegKey &key) {
    if (!key.parent) return;
    key.parent->RemoveChild(&key);
    Changed();
}

bool Registry::SetValue(RegKey &key, std::string_view name, DWORD type,
                        const BYTE *data, std::size_t size) {
    if (!key.SetValue(name, type, data, size)) return false;
    Changed();
    return true;
}

bool Registry::DeleteValue(RegKey &key, std::string_view name) {
    if (!key.RemoveValue(name)) return false;
    Changed();
    return true;
}

void Registry::ReplaceContent(RegKey &key, RegKey &from) {
    key.TakeContentOf(from);
    Changed();
}

// ----------------------------------------------------------------- handles

HKEY Registry::OpenHandle(RegKey &key) {
    std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(value, key.weak_from_this());
    return reinterpret_cast<HKEY>(value);
}

std::shared_ptr<RegKey> Registry::KeyOfHandle(HKEY handle, LONG *error) const {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end()) {
        *error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    std::shared_ptr<RegKey> key = it->second.lock();
    if (!key || (!key->parent && key != localMachine_ && key != users_)) {
        *error = ERROR_KEY_DELETED;
        return nullptr;
    }
    *error = ERROR_SUCCESS;
    return key;
}

bool Registry::CloseHandle(HKEY handle) {
    return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

std::optional<RegRoot> RegRootOfHandle(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return RegRoot::LocalMachine;
    if (key == HKEY_USERS) return RegRoot::Users;
    if (key == HKEY_CURRENT_USER) return RegRoot::CurrentUser;
    if (key == HKEY_CLASSES_ROOT) return RegRoot::ClassesRoot;
    if (key == HKEY_CURRENT_CONFIG) return RegRoot::CurrentConfig;
    return std::nullopt;
}

// -------------------------------------------------------------- text forms

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

std::string Registry::WholeText() const {
    std::string out;
    regedit4::AppendHeader(out);
    regedit4::AppendTree(out, localMachine_->name, *localMachine_);
    regedit4::AppendTree(out, users_->name, *users_);
    return out;
}

std::string Registry::ExportText(const std::string &keyPath) const {
    if (keyPath.empty()) return WholeText();
    std::string_view p(keyPath);
    std::size_t slash = p.find('\\');
    std::optional<RegRoot> root = RegRootByName(p.substr(0, slash));
    const RegKey *k = root ? RootKey(*root) : nullptr;
    if (k && slash != std::string_view::npos)
        for (std::string_view part : SplitKeyPath(p.substr(slash + 1)))
            if (!(k = k->FindChild(part))) break;
    if (!k) throw EmulatorFailure("no registry key " + keyPath);
    return SavedKeyText(k->Path(), *k);
}

void Registry::ImportText(const std::string &text, const std::string &source) {
    ImportChecker checker(source);
    regedit4::Parse(text, source, checker);
    TreeBuilder builder(*localMachine_, *users_, source, &changes_);
    regedit4::Parse(text, source, builder);
}

// ------------------------------------------------------------ registry.reg

void Registry::Load(const fs::path &file) {
    std::string source = file.string();
    Registry loaded;
    std::error_code ec;
    if (fs::exists(file, ec)) {
        std::string text = ReadRegistryFile(file);
        TreeBuilder builder(*loaded.localMachine_, *loaded.users_, source,
                            nullptr);
        regedit4::Parse(text, source, builder);
    } else if (ec) {
        throw EmulatorFailure(source + ": " + ec.message());
    }
    loaded.nextHandle_ = nextHandle_;
    *this = std::move(loaded);
}

void Registry::Reset() {
    Registry empty;
    empty.nextHandle_ = nextHandle_;
    *this = std::move(empty);
}

void Registry::WriteBack(const fs::path &file) {
    if (!HasUnsavedChanges()) return;
    std::string text = WholeText();
    if (std::optional<ReplaceFailure> failure =
            ReplaceFileAtomically(file, text))
        throw EmulatorFailure(file.string() + ": cannot " + failure->step +
                              ": " + std::strerror(failure->error));
    writtenChanges_ = changes_;
}

}  // namespace w95
