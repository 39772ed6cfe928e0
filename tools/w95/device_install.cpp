// What Windows does at a start after a driver was installed: it finds the
// hardware again, installs its driver from the best INF in its INF folder,
// and carries out the INF's UpdateInis lines, which is how a driver's
// start-up program gets into win.ini. The emulation has no hardware but
// the registry's: a device is present when a HardwareID under
// HKEY_LOCAL_MACHINE\Enum names it. An UpdateInis line is carried out when
// the ini file's section has no entry of its key yet, so that a program
// that takes its entry out again (parlod leaves "load=") is not put back at
// the next start.
#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "code_page.h"
#include "machine.h"
#include "path_resolve.h"
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

// The hardware the registry knows: every ID of every HardwareID value
// under Enum, upper-cased.
void CollectHardware(const w95::RegKey &key, std::set<std::string> &ids) {
    if (const w95::RegValue *v = key.FindValue("HardwareID")) {
        std::string text(v->data.begin(), v->data.end());
        text = text.substr(0, text.find('\0'));
        for (const std::string &id : Fields(text))
            if (!id.empty()) ids.insert(w95::UpperCase(id));
    }
    for (const auto &child : key.Children()) CollectHardware(*child, ids);
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
    std::vector<fs::path> infs;
    for (const auto &e : fs::directory_iterator(*folder, ec)) {
        std::string name = e.path().filename().string();
        if (e.is_regular_file(ec) && name.size() > 4 &&
            w95::SameName(std::string_view(name).substr(name.size() - 4),
                          ".inf"))
            infs.push_back(e.path());
    }
    if (infs.empty()) return;
    std::sort(infs.begin(), infs.end());
    std::set<std::string> ids;
    w95::Registry registry = LoadMachineRegistry(machine);
    if (const w95::RegKey *en = registry.LocalMachine().FindChild("Enum"))
        CollectHardware(*en, ids);

    for (const fs::path &path : infs) {
        Sections inf = ReadInf(ReadWholeFile(path));
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
