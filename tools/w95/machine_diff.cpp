// w95 diff A B: what differs between two machines, the registry key by key
// and value by value, then the files of the drives (and machine.ini).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>

#include "file_names.h"
#include "registry_store.h"
#include "tool.h"
#include "transcript.h"

namespace fs = std::filesystem;

namespace tool {

void LoadMachineRegistry(const fs::path &machine);  // registry_commands.cpp

}  // namespace tool

namespace tool {

namespace {

// Names of keys, values and files compare without regard to case.
std::string Fold(std::string s) {
    for (char &c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 'a' && u <= 'z')
            c = static_cast<char>(u - 32);
        else if (u >= 0xE0 && u <= 0xFE && u != 0xF7)
            c = static_cast<char>(u - 32);
    }
    return s;
}

struct Key {
    std::string path;
    std::vector<std::string> lines;             // value lines, in order
    std::map<std::string, std::string> byName;  // folded name -> line
};

struct Registry {
    std::vector<Key> keys;
    std::map<std::string, std::size_t> index;  // folded path -> position
};

// The value name of a REGEDIT4 value line ("@" for the default value).
std::string ValueName(const std::string &line) {
    if (line.rfind("@=", 0) == 0) return "@";
    std::string name;
    for (std::size_t i = 1; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            name += line[++i];
        } else if (line[i] == '"') {
            break;
        } else {
            name += line[i];
        }
    }
    return "\"" + name;
}

// Reads the export text of the store, which is regular: one [KEY] line a
// key, value lines below it, hex data continued with a trailing backslash.
Registry ReadRegistry(const fs::path &machine) {
    LoadMachineRegistry(machine);
    std::string text = w95::ExportRegistryText("");
    Registry r;
    std::string pending;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!pending.empty()) {
            std::size_t first = line.find_first_not_of(' ');
            line = pending +
                   (first == std::string::npos ? "" : line.substr(first));
            pending.clear();
        }
        if (!line.empty() && line.back() == '\\' && line[0] != '[') {
            line.pop_back();
            pending = line;
            continue;
        }
        if (line.empty() || line == "REGEDIT4") continue;
        if (line[0] == '[' && line.back() == ']') {
            Key key;
            key.path = line.substr(1, line.size() - 2);
            r.index[Fold(key.path)] = r.keys.size();
            r.keys.push_back(std::move(key));
        } else if (!r.keys.empty()) {
            Key &key = r.keys.back();
            key.lines.push_back(line);
            key.byName[Fold(ValueName(line))] = line;
        }
    }
    return r;
}

int CompareRegistries(const Registry &a, const Registry &b) {
    int differences = 0;
    bool heading = false;
    auto head = [&] {
        if (!heading) std::printf("Registry:\n");
        heading = true;
    };
    for (const Key &ka : a.keys) {
        auto it = b.index.find(Fold(ka.path));
        if (it == b.index.end()) {
            head();
            std::printf("- [%s]\n", w95::AnsiToUtf8(ka.path).c_str());
            for (const std::string &l : ka.lines)
                std::printf("-     %s\n", w95::AnsiToUtf8(l).c_str());
            ++differences;
            continue;
        }
        const Key &kb = b.keys[it->second];
        bool keyShown = false;
        auto showKey = [&] {
            head();
            if (!keyShown)
                std::printf("  [%s]\n", w95::AnsiToUtf8(kb.path).c_str());
            keyShown = true;
            ++differences;
        };
        for (const std::string &l : ka.lines) {
            auto v = kb.byName.find(Fold(ValueName(l)));
            if (v == kb.byName.end()) {
                showKey();
                std::printf("-     %s\n", w95::AnsiToUtf8(l).c_str());
            } else if (v->second != l) {
                showKey();
                std::printf("-     %s\n+     %s\n", w95::AnsiToUtf8(l).c_str(),
                            w95::AnsiToUtf8(v->second).c_str());
            }
        }
        for (const std::string &l : kb.lines) {
            if (!ka.byName.count(Fold(ValueName(l)))) {
                showKey();
                std::printf("+     %s\n", w95::AnsiToUtf8(l).c_str());
            }
        }
    }
    for (const Key &kb : b.keys) {
        if (a.index.count(Fold(kb.path))) continue;
        head();
        std::printf("+ [%s]\n", w95::AnsiToUtf8(kb.path).c_str());
        for (const std::string &l : kb.lines)
            std::printf("+     %s\n", w95::AnsiToUtf8(l).c_str());
        ++differences;
    }
    return differences;
}

struct Entry {
    std::string windowsPath;  // "C:\WINDOWS\WIN.INI", "machine.ini"; UTF-8
    fs::path host;
    bool directory = false;
};

// The drives' files and folders and machine.ini, by folded Windows path.
std::map<std::string, Entry> Files(const fs::path &machine) {
    std::map<std::string, Entry> out;
    std::error_code ec;
    for (const auto &top : fs::directory_iterator(machine)) {
        std::string name = top.path().filename().string();
        if (name == "machine.ini" && top.is_regular_file()) {
            out[Fold(name)] = {name, top.path(), false};
            continue;
        }
        if (!(name.size() == 7 && name.rfind("drive_", 0) == 0 &&
              top.is_directory()))
            continue;
        std::string drive(1, static_cast<char>(std::toupper(
                                 static_cast<unsigned char>(name[6]))));
        for (const auto &e : fs::recursive_directory_iterator(top.path())) {
            std::string path = drive + ":";
            for (const auto &part : fs::relative(e.path(), top.path()))
                path += "\\" + part.string();
            bool dir = e.is_directory(ec);
            if (!dir && !e.is_regular_file(ec)) continue;
            // Host names are UTF-8; names compare in the machine's ANSI.
            std::optional<std::string> ansi = w95::HostToAnsi(path);
            out[Fold(ansi ? *ansi : path)] = {path, e.path(), dir};
        }
    }
    return out;
}

std::string TimeText(std::time_t t) {
    char buffer[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
    return buffer;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The lines that differ between two texts, by a longest common subsequence;
// false when the files are too big or not text.
bool ShowLineDifferences(const std::string &a, const std::string &b) {
    constexpr std::size_t kMaxCells = 4'000'000;
    if (a.find('\0') != std::string::npos || b.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> x = Lines(a), y = Lines(b);
    if ((x.size() + 1) * (y.size() + 1) > kMaxCells) return false;
    std::size_t n = x.size(), m = y.size();
    std::vector<std::vector<unsigned>> lcs(n + 1,
                                           std::vector<unsigned>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            lcs[i][j] = x[i] == y[j] ? lcs[i + 1][j + 1] + 1
                                     : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && x[i] == y[j]) {
            ++i;
            ++j;
        } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
            std::printf("    - %s\n", w95::AnsiToUtf8(x[i++]).c_str());
        } else {
            std::printf("    + %s\n", w95::AnsiToUtf8(y[j++]).c_str());
        }
    }
    if (x == y) std::printf("    (line ends differ)\n");
    return true;
}

int CompareFiles(const fs::path &machineA, const fs::path &machineB) {
    std::map<std::string, Entry> a = Files(machineA), b = Files(machineB);
    std::map<std::string, int> all;  // folded path -> 1 A, 2 B, 3 both
    for (const auto &[k, v] : a) all[k] |= 1;
    for (const auto &[k, v] : b) all[k] |= 2;
    int differences = 0;
    bool heading = false;
    auto head = [&] {
        if (!heading) std::printf("Files:\n");
        heading = true;
        ++differences;
    };
    auto show = [](char mark, const Entry &e) {
        std::printf("%c %s%s\n", mark, e.windowsPath.c_str(),
                    e.directory ? "\\" : "");
    };
    for (const auto &[key, where] : all) {
        if (where == 1) {
            head();
            show('-', a.at(key));
            continue;
        }
        if (where == 2) {
            head();
            show('+', b.at(key));
            continue;
        }
        const Entry &ea = a.at(key), &eb = b.at(key);
        if (ea.directory != eb.directory) {
            head();
            show('-', ea);
            show('+', eb);
            continue;
        }
        if (ea.directory) continue;
        std::string ta = ReadWholeFile(ea.host), tb = ReadWholeFile(eb.host);
        if (ta != tb) {
            head();
            std::printf("~ %s\n", eb.windowsPath.c_str());
            if (!ShowLineDifferences(ta, tb))
                std::printf("    (%zu bytes -> %zu bytes)\n", ta.size(),
                            tb.size());
            continue;
        }
        struct stat sa, sb;
        if (stat(ea.host.c_str(), &sa) == 0 &&
            stat(eb.host.c_str(), &sb) == 0 && sa.st_mtime != sb.st_mtime) {
            head();
            std::printf("~ %s (same content, last written %s -> %s UTC)\n",
                        eb.windowsPath.c_str(), TimeText(sa.st_mtime).c_str(),
                        TimeText(sb.st_mtime).c_str());
        }
    }
    return differences;
}

}  // namespace

int DiffMachines(const Arguments &args) {
    if (args.size() != 2)
        throw UsageError("diff takes two machine directories");
    fs::path a = ExistingMachine(args[0]), b = ExistingMachine(args[1]);
    Registry ra = ReadRegistry(a), rb = ReadRegistry(b);
    int differences = CompareRegistries(ra, rb);
    differences += CompareFiles(a, b);
    if (differences == 0) {
        std::printf("No differences.\n");
        return kOk;
    }
    return kDifferent;
}

}  // namespace tool
