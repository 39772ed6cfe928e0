// What Windows does at a start after a driver was installed: it finds the
// hardware again, installs its driver from the best INF in its INF folder,
// and carries out the INF's UpdateInis lines, which is how a driver's
// start-up program gets into win.ini. The emulation has no hardware but
// the registry's: a device is present when a HardwareID under
// HKEY_LOCAL_MACHINE\Enum names it. An UpdateInis line is carried out when
// the ini file's section has no entry of its key yet, so that a program
// that takes its entry out again (parlod leaves "load=") is not put back at
// the next start.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

#include "code_page.h"
#include "host_files.h"
#include "machine.h"
#include "path_resolve.h"
#include "regedit4.h"
#include "registry_log.h"
#include "text_helpers.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

using Sections = std::map<std::string, std::vector<std::string>>;

// An INF's sections by upper-cased name, each with its lines, comments and
// blank lines left out.
Sections ReadInf(const std::string &text) {
    Sections sections;
    std::vector<std::string> *current = nullptr;
    for (std::string_view raw : w95::SplitLines(text)) {
        std::string line(w95::TrimSpace(raw));
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            std::size_t close = line.find(']');
            current = &sections[w95::UpperCase(std::string(w95::TrimSpace(
                line.substr(1, close == std::string::npos ? std::string::npos
                                                          : close - 1))))];
            continue;
        }
        if (current) current->push_back(line);
    }
    return sections;
}

// The fields of an INF line, split at commas outside quotes, trimmed and
// unquoted.
std::vector<std::string> Fields(const std::string &text) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    for (std::string &f : fields) f = std::string(w95::TrimSpace(f));
    return fields;
}

std::pair<std::string, std::string> KeyAndValue(const std::string &line) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) return {"", ""};
    return {std::string(w95::TrimSpace(line.substr(0, eq))),
            std::string(w95::TrimSpace(line.substr(eq + 1)))};
}

// Adds the IDs of one HardwareID value's text (up to its first NUL).
void AddHardwareIds(std::string_view data, std::set<std::string> &ids) {
    std::string text(data.substr(0, data.find('\0')));
    for (const std::string &id : Fields(text))
        if (!id.empty()) ids.insert(w95::UpperCase(id));
}

// The hardware the registry knows: every ID of every HardwareID value
// under Enum, upper-cased.
void CollectHardware(const w95::RegKey &key, std::set<std::string> &ids) {
    if (const w95::RegValue *v = key.FindValue("HardwareID"))
        AddHardwareIds(
            std::string_view(reinterpret_cast<const char *>(v->data.data()),
                             v->data.size()),
            ids);
    for (const auto &child : key.Children()) CollectHardware(*child, ids);
}

// Where `word` (lower case) first occurs in `text` from `from` on, in any
// ASCII case; npos for nowhere. Skips ahead as Horspool's search does.
std::size_t FindIgnoringCase(std::string_view text, std::string_view word,
                             std::size_t from = 0) {
    auto lower = [](char c) {
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a'
                                                               : c);
    };
    const std::size_t n = word.size();
    if (n == 0 || text.size() < n) return std::string_view::npos;
    std::array<std::size_t, 256> skip;
    skip.fill(n);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        skip[lower(word[i])] = n - 1 - i;
        skip[static_cast<unsigned char>(std::toupper(word[i]))] = n - 1 - i;
    }
    for (std::size_t at = from; at + n <= text.size();
         at += skip[static_cast<unsigned char>(text[at + n - 1])]) {
        std::size_t i = n;
        while (i > 0 && lower(text[at + i - 1]) == lower(word[i - 1])) --i;
        if (i == 0) return at;
    }
    return std::string_view::npos;
}

// A host file's bytes, mapped rather than read: most of what boot looks at
// in large files (the registry's text, INF files) is only searched.
class MappedFile {
  public:
    explicit MappedFile(const fs::path &file) {
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            size_ = static_cast<std::size_t>(st.st_size);
            if (size_ == 0) {
                ok_ = true;
            } else {
                void *at =
                    ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
                if (at != MAP_FAILED) {
                    data_ = static_cast<const char *>(at);
                    ok_ = true;
                }
            }
        }
        ::close(fd);
    }
    ~MappedFile() {
        if (data_) ::munmap(const_cast<char *>(data_), size_);
    }
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;
    bool Ok() const { return ok_; }
    std::string_view View() const { return {data_ ? data_ : "", size_}; }

  private:
    const char *data_ = nullptr;
    std::size_t size_ = 0;
    bool ok_ = false;
};

// Reads the HardwareID value of a small REGEDIT4 text (one section).
class HardwareValue : public w95::regedit4::Handler {
  public:
    void Key(w95::RegRoot, const std::vector<std::string_view> &, bool,
             int) override {}
    void Value(std::string_view name, DWORD, const std::vector<BYTE> &bytes,
               int) override {
        if (w95::EqualsIgnoringAsciiCase(name, "HardwareID"))
            data = std::string(bytes.begin(), bytes.end());
    }
    void RemoveValue(std::string_view, int) override { removes = true; }

    std::string data;
    bool removes = false;
};

// The HardwareID values under HKEY_LOCAL_MACHINE\Enum, found in the text
// of registry.reg without reading the rest of it: a large registry costs
// the start of Windows one search through its text, where loading it
// would build every key. nullopt for text that removes keys or values,
// which is left to the full load.
std::optional<std::set<std::string>> ScanHardware(std::string_view text) {
    static constexpr std::string_view kEnum = "HKEY_LOCAL_MACHINE\\Enum";
    if (text.find("\n[-") != std::string_view::npos) return std::nullopt;
    std::map<std::string, std::string> values;  // the last of each key
    for (std::size_t found = FindIgnoringCase(text, "\n\"hardwareid\"=");
         found != std::string_view::npos;
         found = FindIgnoringCase(text, "\n\"hardwareid\"=", found + 1)) {
        const std::size_t at = found;
        const std::size_t start = at + 1;
        // The value's lines: continued while a line ends with '\'.
        std::size_t end = start;
        for (;;) {
            std::size_t lineEnd = text.find('\n', end);
            if (lineEnd == std::string_view::npos) lineEnd = text.size();
            std::string_view line = text.substr(end, lineEnd - end);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            end = std::min(lineEnd + 1, text.size());
            if (line.empty() || line.back() != '\\' || end >= text.size())
                break;
        }
        const std::size_t header = text.rfind("\n[", at);
        if (header == std::string_view::npos) continue;
        std::string_view key = text.substr(header + 2);
        key = key.substr(0, key.find(']'));
        if (key.size() < kEnum.size() ||
            !w95::EqualsIgnoringAsciiCase(key.substr(0, kEnum.size()), kEnum) ||
            (key.size() > kEnum.size() && key[kEnum.size()] != '\\'))
            continue;
        values[w95::UpperCase(key)] =
            "REGEDIT4\r\n\r\n[" + std::string(key) + "]\r\n" +
            std::string(text.substr(start, end - start));
    }
    std::set<std::string> ids;
    for (const auto &[key, section] : values) {
        HardwareValue value;
        w95::regedit4::Parse(section, key, value);
        if (value.removes) return std::nullopt;
        AddHardwareIds(value.data, ids);
    }
    return ids;
}

// The hardware the machine's registry knows (see CollectHardware).
std::set<std::string> MachineHardware(const fs::path &machine) {
    const fs::path file = machine / "registry.reg";
    std::error_code ec;
    if (!fs::exists(w95::ChangeLogFileOf(file), ec) && !ec) {
        MappedFile text(file);
        std::optional<std::set<std::string>> ids;
        if (text.Ok()) ids = ScanHardware(text.View());
        if (ids) return *ids;
    }
    std::set<std::string> ids;
    w95::Registry registry = LoadMachineRegistry(machine);
    if (const w95::RegKey *en = registry.LocalMachine().FindChild("Enum"))
        CollectHardware(*en, ids);
    return ids;
}

// Whether an INF's text has an UpdateInis line at all: only such INFs can
// change an ini file, and most INFs are read no further.
bool MentionsUpdateInis(std::string_view text) {
    return FindIgnoringCase(text, "updateinis") != std::string_view::npos;
}

// The install sections of an INF whose models name present hardware.
std::vector<std::string> InstallSections(const Sections &inf,
                                         const std::set<std::string> &ids) {
    std::vector<std::string> installs;
    auto manufacturers = inf.find("MANUFACTURER");
    if (manufacturers == inf.end()) return installs;
    for (const std::string &maker : manufacturers->second) {
        auto models = inf.find(w95::UpperCase(KeyAndValue(maker).second));
        if (models == inf.end()) continue;
        for (const std::string &model : models->second) {
            std::vector<std::string> fields = Fields(KeyAndValue(model).second);
            bool present = std::any_of(
                fields.begin() + 1, fields.end(), [&](const std::string &id) {
                    return ids.count(w95::UpperCase(id)) > 0;
                });
            std::string install = w95::UpperCase(fields[0]);
            if (present && std::find(installs.begin(), installs.end(),
                                     install) == installs.end())
                installs.push_back(install);
        }
    }
    return installs;
}

// Adds `entry` to `section` of the ini file unless the section has an entry
// of its key; returns whether it did.
bool AddIniEntry(const fs::path &file, const std::string &section,
                 const std::string &entry) {
    std::string key = w95::UpperCase(KeyAndValue(entry).first);
    std::string text = ReadWholeFile(file);
    std::vector<std::string_view> lines = w95::SplitLines(text);
    std::string out;
    bool inSection = false, added = false;
    for (std::string_view line : lines) {
        std::string trimmed(w95::TrimSpace(line));
        if (!trimmed.empty() && trimmed[0] == '[') {
            std::size_t close = trimmed.find(']');
            inSection = w95::EqualsIgnoringAsciiCase(
                w95::TrimSpace(std::string_view(trimmed).substr(
                    1, close == std::string::npos ? std::string::npos
                                                  : close - 1)),
                section);
            out += std::string(line) + "\r\n";
            if (inSection && !added) {
                out += entry + "\r\n";
                added = true;
            }
            continue;
        }
        if (inSection && !key.empty() && trimmed[0] != ';' &&
            w95::UpperCase(KeyAndValue(trimmed).first) == key)
            return false;  // the section has the entry's key already
        out += std::string(line) + "\r\n";
    }
    if (!added) out += "[" + section + "]\r\n" + entry + "\r\n";
    WriteWholeFile(file, out);
    return true;
}

}  // namespace

void InstallPendingDrivers(const fs::path &machine, std::FILE *report) {
    const w95::MachineSettings &settings = w95::TheMachine().settings;
    std::string infFolder = settings.windowsDirectory + "\\INF";
    DWORD error = 0;
    auto folder = w95::ResolvePath(infFolder.c_str(), &error);
    std::error_code ec;
    if (!folder || !fs::is_directory(*folder, ec)) return;
    std::vector<std::pair<fs::path, std::string>> infs;
    for (const auto &e : fs::directory_iterator(*folder, ec)) {
        std::string name = e.path().filename().string();
        if (!e.is_regular_file(ec) || name.size() <= 4 ||
            !w95::SameName(std::string_view(name).substr(name.size() - 4),
                           ".inf"))
            continue;
        MappedFile mapped(e.path());
        std::string read;
        if (!mapped.Ok()) read = ReadWholeFile(e.path());
        std::string_view text = mapped.Ok() ? mapped.View() : read;
        if (MentionsUpdateInis(text))
            infs.emplace_back(e.path(), std::string(text));
    }
    if (infs.empty()) return;
    std::sort(infs.begin(), infs.end());
    const std::set<std::string> ids = MachineHardware(machine);

    for (const auto &[path, text] : infs) {
        Sections inf = ReadInf(text);
        for (const std::string &install : InstallSections(inf, ids)) {
            auto section = inf.find(install);
            if (section == inf.end()) continue;
            for (const std::string &line : section->second) {
                auto [key, value] = KeyAndValue(line);
                if (!w95::EqualsIgnoringAsciiCase(key, "UpdateInis")) continue;
                for (const std::string &name : Fields(value)) {
                    auto updates = inf.find(w95::UpperCase(name));
                    if (updates == inf.end()) continue;
                    for (const std::string &update : updates->second) {
                        std::vector<std::string> f = Fields(update);
                        if (f.size() < 4 || f[3].empty()) continue;
                        std::string ini = f[0];
                        for (auto [id, dir] :
                             {std::pair{"%10%", settings.windowsDirectory},
                              {"%11%", settings.systemDirectory}})
                            if (w95::StartsWithIgnoringAsciiCase(ini, id))
                                ini = dir + ini.substr(4);
                        auto host = w95::ResolvePath(ini.c_str(), &error);
                        if (!host || !fs::is_regular_file(*host, ec)) continue;
                        if (AddIniEntry(*host, f[1], f[3]))
                            std::fprintf(
                                report,
                                "Installing the driver from %s: %s in [%s] "
                                "of %s.\n",
                                (infFolder + "\\" + path.filename().string())
                                    .c_str(),
                                f[3].c_str(), f[1].c_str(), ini.c_str());
                    }
                }
            }
        }
    }
}

}  // namespace tool
