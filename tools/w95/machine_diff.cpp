// w95 diff A B: what differs between two machines, the registry key by key
// and value by value, then the files of the drives (and machine.ini).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <optional>

#include "code_page.h"
#include "regedit4.h"
#include "registry_store.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

// A value as the diff shows it: its REGEDIT4 line, hex data unwrapped.
std::string ValueLine(const w95::RegValue &value) {
    std::string line;
    w95::regedit4::AppendValue(line, value, false);
    return w95::AnsiToUtf8(line);
}

void ShowKey(char mark, const w95::RegKey &key) {
    std::printf("%c [%s]\n", mark, w95::AnsiToUtf8(key.Path()).c_str());
    for (const w95::RegValue &v : key.Values())
        std::printf("%c     %s\n", mark, ValueLine(v).c_str());
}

// The keys of a tree in export order (each key before its subkeys), each
// with its counterpart in the other registry, or nullptr.
template <typename Visit>
void WalkWithCounterparts(const w95::RegKey &root, const w95::RegKey &otherRoot,
                          Visit visit) {
    struct Frame {
        const w95::RegKey *key;
        const w95::RegKey *other;
        std::size_t next;
    };
    visit(root, &otherRoot);
    std::vector<Frame> stack{{&root, &otherRoot, 0}};
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.next == f.key->Children().size()) {
            stack.pop_back();
            continue;
        }
        const w95::RegKey &child = *f.key->Children()[f.next++];
        const w95::RegKey *other =
            f.other ? f.other->FindChild(child.name) : nullptr;
        visit(child, other);
        stack.push_back({&child, other, 0});
    }
}

// The values of a key that differ from those of the same key in the other
// registry: removed, changed (the whole line compares, the name's case
// included) and added.
int CompareKeys(const w95::RegKey &a, const w95::RegKey &b,
                const std::function<void()> &head) {
    int differences = 0;
    bool keyShown = false;
    auto showKey = [&] {
        head();
        if (!keyShown)
            std::printf("  [%s]\n", w95::AnsiToUtf8(b.Path()).c_str());
        keyShown = true;
        ++differences;
    };
    for (const w95::RegValue &va : a.Values()) {
        const w95::RegValue *vb = b.FindValue(va.name);
        std::string la = ValueLine(va);
        if (!vb) {
            showKey();
            std::printf("-     %s\n", la.c_str());
        } else if (std::string lb = ValueLine(*vb); lb != la) {
            showKey();
            std::printf("-     %s\n+     %s\n", la.c_str(), lb.c_str());
        }
    }
    for (const w95::RegValue &vb : b.Values()) {
        if (!a.FindValue(vb.name)) {
            showKey();
            std::printf("+     %s\n", ValueLine(vb).c_str());
        }
    }
    return differences;
}

// Keys only in A, keys in both whose values differ (in A's order), then
// keys only in B (in B's order).
int CompareRegistries(const w95::Registry &a, const w95::Registry &b) {
    int differences = 0;
    bool heading = false;
    std::function<void()> head = [&] {
        if (!heading) std::printf("Registry:\n");
        heading = true;
    };
    auto roots = {std::make_pair(&a.LocalMachine(), &b.LocalMachine()),
                  std::make_pair(&a.Users(), &b.Users())};
    for (auto [ra, rb] : roots)
        WalkWithCounterparts(*ra, *rb,
                             [&](const w95::RegKey &ka, const w95::RegKey *kb) {
                                 if (kb) {
                                     differences += CompareKeys(ka, *kb, head);
                                 } else {
                                     head();
                                     ShowKey('-', ka);
                                     ++differences;
                                 }
                             });
    for (auto [ra, rb] : roots)
        WalkWithCounterparts(*rb, *ra,
                             [&](const w95::RegKey &kb, const w95::RegKey *ka) {
                                 if (ka) return;
                                 head();
                                 ShowKey('+', kb);
                                 ++differences;
                             });
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
            out[w95::UpperCase(name)] = {name, top.path(), false};
            continue;
        }
        if (!(name.size() == 7 && name.rfind("drive_", 0) == 0 &&
              top.is_directory()))
            continue;
        std::string drive(1, w95::UpperCase(name[6]));
        for (const auto &e : fs::recursive_directory_iterator(top.path())) {
            std::string path = drive + ":";
            for (const auto &part : fs::relative(e.path(), top.path()))
                path += "\\" + part.string();
            bool dir = e.is_directory(ec);
            if (!dir && !e.is_regular_file(ec)) continue;
            // Host names are UTF-8; names compare in the machine's ANSI.
            std::optional<std::string> ansi = w95::Utf8ToAnsi(path);
            out[w95::UpperCase(ansi ? *ansi : path)] = {path, e.path(), dir};
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
    int differences =
        CompareRegistries(LoadMachineRegistry(a), LoadMachineRegistry(b));
    differences += CompareFiles(a, b);
    if (differences == 0) {
        std::printf("No differences.\n");
        return kOk;
    }
    return kDifferent;
}

}  // namespace tool
