// w95 reg: the machine's registry as REGEDIT4 text out and in (export,
// import) and single keys and values in the manner of reg.exe (query, add,
// delete). Keys are given with full or short root names, on a UTF-8
// terminal; the registry keeps Windows-1252.
#include <cstdio>
#include <iostream>
#include <iterator>

#include "code_page.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

fs::path RegistryFile(const fs::path &machine) {
    return machine / "registry.reg";
}

// A key as typed: its root and its parts in Windows-1252.
struct TypedKey {
    std::string typed;  // as given, for messages
    w95::RegRoot root;
    std::vector<std::string> parts;

    std::vector<std::string_view> Views() const {
        return {parts.begin(), parts.end()};
    }
    // The full name with the root's alias expanded.
    std::string Canonical() const {
        std::string path = w95::RegRootPath(root);
        for (const std::string &p : parts) path += "\\" + p;
        return path;
    }
};

TypedKey ParseKey(const std::string &typed) {
    std::string ansi = MachineText(typed, "the key");
    std::size_t slash = ansi.find('\\');
    std::optional<w95::RegRoot> root = RootByAnyName(ansi.substr(0, slash));
    if (!root)
        throw UsageError("'" + typed +
                         "' does not start with a root key: HKEY_LOCAL_MACHINE "
                         "(HKLM), HKEY_USERS (HKU), HKEY_CURRENT_USER (HKCU), "
                         "HKEY_CLASSES_ROOT (HKCR) or HKEY_CURRENT_CONFIG "
                         "(HKCC)");
    TypedKey key{typed, *root, {}};
    if (slash != std::string::npos)
        for (std::string_view part :
             w95::SplitKeyPath(std::string_view(ansi).substr(slash + 1)))
            key.parts.emplace_back(part);
    return key;
}

const w95::RegKey *FindKey(const w95::Registry &registry, const TypedKey &key) {
    const w95::RegKey *k = registry.RootKey(key.root);
    for (const std::string &part : key.parts) {
        if (!k) break;
        k = k->FindChild(part);
    }
    return k;
}

// Registry types as reg.exe names them.
constexpr DWORD kNone = 0, kSz = 1, kExpandSz = 2, kBinary = 3, kDword = 4,
                kDwordBigEndian = 5, kLink = 6, kMultiSz = 7;

std::string TypeName(DWORD type) {
    switch (type) {
        case kNone:
            return "REG_NONE";
        case kSz:
            return "REG_SZ";
        case kExpandSz:
            return "REG_EXPAND_SZ";
        case kBinary:
            return "REG_BINARY";
        case kDword:
            return "REG_DWORD";
        case kDwordBigEndian:
            return "REG_DWORD_BIG_ENDIAN";
        case kLink:
            return "REG_LINK";
        case kMultiSz:
            return "REG_MULTI_SZ";
    }
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%lx", (unsigned long)type);
    return buffer;
}

// The data as reg query shows it: text up to its first NUL, the parts of
// a REG_MULTI_SZ joined by \0, a dword in hex, anything else as hex bytes.
std::string DataText(const w95::RegValue &v) {
    const auto &d = v.data;
    std::string bytes(d.begin(), d.end());
    if (v.type == kSz || v.type == kExpandSz)
        return w95::AnsiToUtf8(bytes.substr(0, bytes.find('\0')));
    if (v.type == kMultiSz) {
        while (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
        std::string out;
        for (char c : bytes)
            out += c == '\0' ? std::string("\\0") : std::string(1, c);
        return w95::AnsiToUtf8(out);
    }
    if (v.type == kDword && d.size() == 4) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0x%lx",
                      (unsigned long)(d[0] | d[1] << 8 | d[2] << 16 |
                                      static_cast<DWORD>(d[3]) << 24));
        return buffer;
    }
    std::string out;
    for (BYTE b : d) {
        char buffer[4];
        std::snprintf(buffer, sizeof buffer, "%02X", b);
        out += buffer;
    }
    return out;
}

void ShowValue(const w95::RegValue &v) {
    std::string name = v.name.empty() ? "(Default)" : w95::AnsiToUtf8(v.name);
    std::printf("    %s    %s    %s\n", name.c_str(), TypeName(v.type).c_str(),
                DataText(v).c_str());
}

std::optional<DWORD> TypeNamed(const std::string &name) {
    for (DWORD t : {kNone, kSz, kExpandSz, kBinary, kDword, kMultiSz})
        if (w95::SameName(TypeName(t), name)) return t;
    return std::nullopt;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes of a value given as /t TYPE /d DATA.
std::vector<BYTE> ValueData(DWORD type,
                            const std::optional<std::string> &data) {
    std::string d = data.value_or("");
    std::vector<BYTE> out;
    if (type == kSz || type == kExpandSz) {
        std::string ansi = MachineText(d, "the data");
        out.assign(ansi.begin(), ansi.end());
        out.push_back(0);
    } else if (type == kMultiSz) {
        std::size_t start = 0;
        while (start <= d.size() && !d.empty()) {
            std::size_t sep = d.find("\\0", start);
            std::string part = MachineText(
                d.substr(start, sep == std::string::npos ? std::string::npos
                                                         : sep - start),
                "the data");
            out.insert(out.end(), part.begin(), part.end());
            out.push_back(0);
            if (sep == std::string::npos) break;
            start = sep + 2;
        }
        out.push_back(0);
    } else if (type == kDword) {
        std::size_t used = 0;
        unsigned long long v = 0;
        bool ok = !d.empty() && d[0] != '-' && d[0] != '+';
        if (ok) {
            try {
                v = std::stoull(d, &used, 0);
            } catch (const std::exception &) {
                ok = false;
            }
        }
        if (!ok || used != d.size() || v > 0xFFFFFFFFull)
            throw UsageError(
                "REG_DWORD data must be a number from 0 to "
                "4294967295 (decimal or 0x hex), not '" +
                d + "'");
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<BYTE>(v >> (8 * i)));
    } else {
        if (d.size() % 2)
            throw UsageError("binary data must be pairs of hex digits, not '" +
                             d + "'");
        for (std::size_t i = 0; i < d.size(); i += 2) {
            int hi = HexDigit(d[i]), lo = HexDigit(d[i + 1]);
            if (hi < 0 || lo < 0)
                throw UsageError(
                    "binary data must be pairs of hex digits, "
                    "not '" +
                    d + "'");
            out.push_back(static_cast<BYTE>(hi * 16 + lo));
        }
    }
    return out;
}

// "KEY has no default value", "KEY has no value 'NAME'".
std::string NoValueText(const std::string &key, const std::string &name) {
    return key + " has no " +
           (name.empty() ? std::string("default value")
                         : "value '" + name + "'");
}

// Whether a word starts with a root key's name (HKLM, HKEY_USERS\...), so
// that `reg export DIR WORD` names a key rather than a file.
bool NamesAKey(const std::string &word) {
    return RootByAnyName(std::string_view(word).substr(0, word.find('\\')))
        .has_value();
}

}  // namespace

w95::Registry LoadMachineRegistry(const fs::path &machine) {
    w95::Registry registry;
    registry.Load(RegistryFile(machine));
    return registry;
}

int RegExport(const std::string &machineDir, const std::string &keyArgument,
              const std::string &fileArgument) {
    std::string keyName = keyArgument, file = fileArgument;
    if (file.empty() && !keyName.empty() && !NamesAKey(keyName))
        std::swap(keyName, file);  // reg export DIR FILE: the whole registry
    fs::path machine = ExistingMachine(machineDir);
    w95::Registry registry = LoadMachineRegistry(machine);
    std::string text;
    if (keyName.empty()) {
        text = registry.ExportText("");
    } else {
        TypedKey key = ParseKey(keyName);
        if (!FindKey(registry, key))
            throw Failure("no registry key " + keyName);
        text = registry.ExportText(key.Canonical());
    }
    if (file.empty() || file == "-")
        std::fwrite(text.data(), 1, text.size(), stdout);
    else
        WriteWholeFile(file, text);
    return kOk;
}

int RegImport(const std::string &machineDir, const std::string &file) {
    fs::path machine = WritableMachine(machineDir);
    std::string bytes;
    if (file == "-")
        bytes.assign(std::istreambuf_iterator<char>(std::cin),
                     std::istreambuf_iterator<char>());
    else
        bytes = ReadWholeFile(file);
    std::string source = file == "-" ? "standard input" : file;
    std::string text = RegistryFileAsRegedit4(bytes, source);
    w95::Registry registry = LoadMachineRegistry(machine);
    registry.ImportText(text, source);
    registry.WriteBack(RegistryFile(machine));
    return kOk;
}

int RegQuery(const RegOptions &o) {
    fs::path machine = ExistingMachine(o.machine);
    TypedKey key = ParseKey(o.key);
    w95::Registry registry = LoadMachineRegistry(machine);
    // What is missing is said on standard error alone: nothing is shown.
    auto missing = [](const std::string &what) {
        std::fprintf(stderr, "w95: %s\n", what.c_str());
        return kFailed;
    };
    const w95::RegKey *k = FindKey(registry, key);
    if (!k) return missing("no registry key " + o.key);
    if (o.value) {
        std::string name = MachineText(*o.value, "the value name");
        const w95::RegValue *v = k->FindValue(name);
        if (!v) return missing(NoValueText(o.key, *o.value));
        std::printf("%s\n", w95::AnsiToUtf8(k->Path()).c_str());
        ShowValue(*v);
        return kOk;
    }
    std::printf("%s\n", w95::AnsiToUtf8(k->Path()).c_str());
    for (const w95::RegValue &v : k->Values()) ShowValue(v);
    if (!k->Children().empty()) std::printf("\n");
    for (const auto &child : k->Children())
        std::printf("%s\n", w95::AnsiToUtf8(child->Path()).c_str());
    return kOk;
}

int RegAdd(const RegOptions &o) {
    fs::path machine = WritableMachine(o.machine);
    TypedKey key = ParseKey(o.key);
    std::optional<std::string> valueName = o.value;
    if (!valueName && (o.type || o.data)) valueName = "";  // the default value
    DWORD type = kSz;
    if (o.type) {
        std::optional<DWORD> t = TypeNamed(*o.type);
        if (!t)
            throw UsageError("unknown type '" + *o.type +
                             "': REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, "
                             "REG_DWORD, REG_BINARY or REG_NONE");
        type = *t;
    }
    if (type == kDword && !o.data) throw UsageError("REG_DWORD needs /d DATA");
    std::vector<BYTE> data = ValueData(type, o.data);
    std::string name =
        valueName ? MachineText(*valueName, "the value name") : std::string();

    w95::Registry registry = LoadMachineRegistry(machine);
    bool created = false;
    w95::RegKey &k = registry.CreateKey(*registry.RootKey(key.root, true),
                                        key.Views(), &created);
    if (valueName) registry.SetValue(k, name, type, data.data(), data.size());
    registry.WriteBack(RegistryFile(machine));
    return kOk;
}

int RegDelete(const RegOptions &o) {
    fs::path machine = WritableMachine(o.machine);
    TypedKey key = ParseKey(o.key);
    w95::Registry registry = LoadMachineRegistry(machine);
    w95::RegKey *k = const_cast<w95::RegKey *>(FindKey(registry, key));
    if (!k) throw Failure("no registry key " + o.key);
    if (o.value) {
        std::string name = MachineText(*o.value, "the value name");
        if (!registry.DeleteValue(*k, name))
            throw Failure(NoValueText(o.key, *o.value));
    } else {
        if (key.parts.empty())
            throw Failure("a root key cannot be deleted: " + o.key);
        registry.DeleteKey(*k);
    }
    registry.WriteBack(RegistryFile(machine));
    return kOk;
}

}  // namespace tool
