// The registry of a machine: roots and aliases, counted and logged changes,
// open key handles, and registry.reg (with its change log) in and out.
#include "registry_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "emulator_error.h"
#include "host_calls.h"
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
        CanonicalInto(root, path, &canonical_);
        const CanonicalKeyPath &c = canonical_;
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
    CanonicalKeyPath canonical_;
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

// A change log record is a first line naming its kind, then REGEDIT4 text:
//     edit CR LF <REGEDIT4 text>          applied as an import is
//     restore <key path> CR LF <text of a saved key>
//                                         the key's content replaced by it
// so that the log reads like the registry itself.
constexpr std::string_view kEditRecord = "edit\r\nREGEDIT4\r\n\r\n";
constexpr std::string_view kRestoreRecord = "restore ";

void AppendSection(std::string &out, std::string_view path, bool remove) {
    out += remove ? "[-" : "[";
    out += path;
    out += "]\r\n";
}

// "name"=- (or @=-) with the escapes of a quoted REGEDIT4 name.
void AppendValueRemoval(std::string &out, std::string_view name) {
    if (name.empty()) {
        out += "@";
    } else {
        out.push_back('"');
        for (char c : name) {
            if (c == '\\' || c == '"') out.push_back('\\');
            out.push_back(c);
        }
        out.push_back('"');
    }
    out += "=-\r\n";
}

std::string ReadRegistryFile(const fs::path &file) {
    std::optional<std::string> text = ReadWholeHostFile(file);
    if (!text) throw EmulatorFailure(file.string() + ": cannot be read");
    return std::move(*text);
}

}  // namespace

// ---------------------------------------------------------------- registry

Registry::Registry()
    : localMachine_(RegKey::NewRoot("HKEY_LOCAL_MACHINE")),
      users_(RegKey::NewRoot("HKEY_USERS")) {}

RegKey *Registry::RootKey(RegRoot root, bool create) {
    unsigned long long before = changes_;
    RegKey *key = nullptr;
    switch (root) {
        case RegRoot::LocalMachine:
            return localMachine_.get();
        case RegRoot::Users:
            return users_.get();
        case RegRoot::CurrentUser:
            key = AliasTarget(*users_, {".DEFAULT"}, create, &changes_);
            break;
        case RegRoot::ClassesRoot:
            key = AliasTarget(*localMachine_, {"SOFTWARE", "Classes"}, create,
                              &changes_);
            break;
        case RegRoot::CurrentConfig:
            key = AliasTarget(*localMachine_, {"Config", "0001"}, create,
                              &changes_);
            break;
    }
    // An alias's key made just now is logged like any key made.
    if (changes_ != before && Logging()) LogKeySection(*key);
    return key;
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
    if (*created && Logging()) LogKeySection(*k);
    return *k;
}

void Registry::DeleteKey(RegKey &key) {
    if (!key.parent) return;
    std::string path = Logging() ? key.Path() : std::string();
    key.parent->RemoveChild(&key);
    Changed();
    if (Logging()) {
        std::string record(kEditRecord);
        AppendSection(record, path, true);
        Log(record);
    }
}

bool Registry::SetValue(RegKey &key, std::string_view name, DWORD type,
                        const BYTE *data, std::size_t size) {
    if (!key.SetValue(name, type, data, size)) return false;
    Changed();
    if (Logging()) {
        std::string record(kEditRecord);
        AppendSection(record, key.Path(), false);
        regedit4::AppendValue(record, *key.FindValue(name));
        Log(record);
    }
    return true;
}

bool Registry::DeleteValue(RegKey &key, std::string_view name) {
    if (!key.RemoveValue(name)) return false;
    Changed();
    if (Logging()) {
        std::string record(kEditRecord);
        AppendSection(record, key.Path(), false);
        AppendValueRemoval(record, name);
        Log(record);
    }
    return true;
}

void Registry::ReplaceContent(RegKey &key, RegKey &from) {
    key.TakeContentOf(from);
    Changed();
    if (Logging()) {
        std::string path = key.Path();
        std::string record(kRestoreRecord);
        record += path;
        record += "\r\n";
        record += SavedKeyText(path, key);
        Log(record);
    }
}

// ------------------------------------------------------------- change log

void Registry::LogKeySection(const RegKey &key) {
    std::string record(kEditRecord);
    AppendSection(record, key.Path(), false);
    Log(record);
}

const std::string &Registry::Base() {
    if (base_.empty()) {
        base_ = RegistryFileIdentity(baseText_ ? &*baseText_ : nullptr);
        baseText_.reset();
    }
    return base_;
}

void Registry::Log(const std::string &record) {
    try {
        if (!log_.IsOpen()) {
            // From here on a log lies there, whatever happens below.
            logOnDisk_ = true;
            if (logCurrent_)
                log_.Continue(logFile_, logWholeSize_);
            else
                log_.Start(logFile_, Base());
            logCurrent_ = true;
        }
        log_.Append(record);
    } catch (const EmulatorFailure &e) {
        // The log now holds the changes up to the one before: a state the
        // registry was really in. Later changes are kept in memory only,
        // and written back at the end of the run.
        logFailure_ = e.what();
        log_.Close();
    }
}

void Registry::ReplayLog(const std::vector<std::string> &records,
                         const std::string &source) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::string where = source + " record " + std::to_string(i + 1);
        std::string_view r = records[i];
        std::size_t end = r.find("\r\n");
        std::string_view kind = r.substr(0, end);
        std::string_view body =
            end == std::string_view::npos ? "" : r.substr(end + 2);
        if (kind == "edit") {
            TreeBuilder builder(*localMachine_, *users_, where, nullptr);
            regedit4::Parse(body, where, builder);
        } else if (kind.substr(0, kRestoreRecord.size()) == kRestoreRecord) {
            std::string_view path = kind.substr(kRestoreRecord.size());
            std::size_t slash = path.find('\\');
            std::optional<RegRoot> root = RegRootByName(path.substr(0, slash));
            if (!root)
                throw EmulatorFailure(where + ": no root key in '" +
                                      std::string(path) + "'");
            std::vector<std::string_view> parts;
            if (slash != std::string_view::npos)
                parts = SplitKeyPath(path.substr(slash + 1));
            CanonicalKeyPath c = Canonical(*root, parts);
            RegKey *key = c.users ? users_.get() : localMachine_.get();
            for (std::string_view part : c.parts) key = &key->Child(part);
            auto restored = RegKey::NewRoot("");
            ParseSavedKey(body, where, *restored);
            key->TakeContentOf(*restored);
        } else {
            throw EmulatorFailure(where + ": not a registry change");
        }
    }
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
    out.reserve(16 + regedit4::TreeTextBound(path.size(), key));
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
    WholeTextInto(out);
    return out;
}

void Registry::WholeTextInto(std::string &out) const {
    // One buffer for the whole text, sized from the last one read or
    // written so that it is rarely grown.
    out.clear();
    out.reserve(textSize_ + textSize_ / 8 + 4096);
    regedit4::AppendHeader(out);
    regedit4::AppendTree(out, localMachine_->name, *localMachine_);
    regedit4::AppendTree(out, users_->name, *users_);
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
    unsigned long long before = changes_;
    TreeBuilder builder(*localMachine_, *users_, source, &changes_);
    regedit4::Parse(text, source, builder);
    if (changes_ != before && Logging()) Log("edit\r\n" + text);
}

// ------------------------------------------------------------ registry.reg

void Registry::Load(const fs::path &file, RegistryWrite write) {
    std::string source = file.string();
    Registry loaded;
    std::optional<std::string> text;
    struct stat st {};
    if (RawStat(file.c_str(), &st) == 0) {
        text = ReadRegistryFile(file);
        TreeBuilder builder(*loaded.localMachine_, *loaded.users_, source,
                            nullptr);
        regedit4::Parse(*text, source, builder);
    } else if (errno != ENOENT) {
        throw EmulatorFailure(source + ": " + std::strerror(errno));
    }
    loaded.logFile_ = ChangeLogFileOf(file);
    if (text) {
        loaded.textSize_ = text->size();
        loaded.baseText_ = std::move(text);
    }
    std::optional<ChangeLogContents> none;
    if (RawLstat(loaded.logFile_.c_str(), &st) != 0) {
        if (errno != ENOENT)
            throw EmulatorFailure(loaded.logFile_.string() + ": " +
                                  std::strerror(errno));
        none.emplace();  // no log: nothing to check the base against
    }
    ChangeLogContents log =
        none ? *none : ReadChangeLog(loaded.logFile_, loaded.Base());
    loaded.ReplayLog(log.records, loaded.logFile_.string());
    loaded.changes_ = log.records.size();
    loaded.logOnDisk_ = log.exists;
    loaded.logCurrent_ = log.current;
    loaded.logWholeSize_ = log.wholeSize;
    loaded.write_ = write;
    loaded.nextHandle_ = nextHandle_;
    *this = std::move(loaded);
}

void Registry::Reset() {
    Registry empty;
    empty.nextHandle_ = nextHandle_;
    *this = std::move(empty);
}

// The order is what keeps a power loss harmless (registry_log.h): the file
// is replaced first, then the log removed. Until the new file is on disk
// the old one and its log hold every change; from then on the log names a
// file that is no longer there and is ignored. Should the new text be the
// old one byte for byte, the log still applies to it and gives the same
// tree again, as it logged every change made since; only a log cut short by
// a write failure (reported below) would give the registry as of that
// failure instead.
void Registry::WriteBack(const fs::path &file) {
    // A copy written elsewhere leaves this registry's own files alone.
    bool own = ChangeLogFileOf(file) == logFile_;
    if (HasUnsavedChanges()) {
        std::string text;
        // Without a change log the text last read or written is never
        // hashed: its memory, already touched, takes the new text.
        if (write_ == RegistryWrite::AtExit && baseText_) {
            text = std::move(*baseText_);
            baseText_.reset();
        }
        WholeTextInto(text);
        if (std::optional<ReplaceFailure> failure =
                ReplaceFileAtomically(file, text))
            throw WriteFailure(file.string() + ": cannot " + failure->step +
                                   ": " + std::strerror(failure->error),
                               failure->error);
        writtenChanges_ = changes_;
        textSize_ = text.size();
        if (own) {
            base_.clear();
            baseText_ = std::move(text);
            logCurrent_ = false;
        }
    }
    if (own && logOnDisk_) {
        log_.Close();
        logCurrent_ = false;
        RemoveChangeLog(logFile_);
        logOnDisk_ = false;
    }
    if (!logFailure_.empty()) {
        std::string failure = std::move(logFailure_);
        logFailure_.clear();
        throw EmulatorFailure(failure +
                              "; later registry changes were kept only "
                              "until the end of the run");
    }
}

}  // namespace w95
