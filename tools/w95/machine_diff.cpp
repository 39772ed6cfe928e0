// w95 diff A B: what differs between two machines, the registry key by key
// and value by value, then the files of the drives (and machine.ini): as
// text, as one JSON document, or as the REGEDIT4 file that turns the first
// registry into the second.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "code_page.h"
#include "regedit4.h"
#include "registry_store.h"
#include "text_helpers.h"
#include "tool.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace tool {

namespace {

// ------------------------------------------------------------- registry

struct RegChange {
    enum Kind { KeyRemoved, KeyAdded, ValueRemoved, ValueAdded, ValueChanged };
    Kind kind;
    const w95::RegKey *key;  // A's key for KeyRemoved, B's otherwise
    const w95::RegValue *before = nullptr;
    const w95::RegValue *after = nullptr;
    bool top = false;  // a key change whose parent both machines have
};

// A value's REGEDIT4 line, hex data unwrapped, in Windows-1252.
std::string ValueLine(const w95::RegValue &value) {
    std::string line;
    w95::regedit4::AppendValue(line, value, false);
    return line;
}

// The keys of a tree in export order (each key before its subkeys), each
// with its counterpart in the other registry or nullptr, and whether its
// parent has one.
template <typename Visit>
void WalkWithCounterparts(const w95::RegKey &root, const w95::RegKey &otherRoot,
                          Visit visit) {
    struct Frame {
        const w95::RegKey *key;
        const w95::RegKey *other;
        std::size_t next;
    };
    visit(root, &otherRoot, true);
    std::vector<Frame> stack{{&root, &otherRoot, 0}};
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.next == f.key->Children().size()) {
            stack.pop_back();
            continue;
        }
        const w95::RegKey &child = *f.key->Children()[f.next++];
        const w95::RegKey *parentOther = f.other;
        const w95::RegKey *other =
            parentOther ? parentOther->FindChild(child.name) : nullptr;
        visit(child, other, parentOther != nullptr);
        stack.push_back({&child, other, 0});
    }
}

// Keys only in A, values that differ in keys of both (removed, changed,
// added; the whole line compares, the name's case included), in A's order,
// then keys only in B, in B's order.
std::vector<RegChange> CompareRegistries(const w95::Registry &a,
                                         const w95::Registry &b) {
    std::vector<RegChange> changes;
    auto roots = {std::make_pair(&a.LocalMachine(), &b.LocalMachine()),
                  std::make_pair(&a.Users(), &b.Users())};
    for (auto [ra, rb] : roots)
        WalkWithCounterparts(
            *ra, *rb,
            [&](const w95::RegKey &ka, const w95::RegKey *kb, bool top) {
                if (!kb) {
                    changes.push_back({RegChange::KeyRemoved, &ka});
                    changes.back().top = top;
                    return;
                }
                for (const w95::RegValue &va : ka.Values()) {
                    const w95::RegValue *vb = kb->FindValue(va.name);
                    if (!vb)
                        changes.push_back(
                            {RegChange::ValueRemoved, kb, &va, nullptr});
                    else if (ValueLine(va) != ValueLine(*vb))
                        changes.push_back(
                            {RegChange::ValueChanged, kb, &va, vb});
                }
                for (const w95::RegValue &vb : kb->Values())
                    if (!ka.FindValue(vb.name))
                        changes.push_back(
                            {RegChange::ValueAdded, kb, nullptr, &vb});
            });
    for (auto [ra, rb] : roots)
        WalkWithCounterparts(
            *rb, *ra,
            [&](const w95::RegKey &kb, const w95::RegKey *ka, bool top) {
                if (ka) return;
                changes.push_back({RegChange::KeyAdded, &kb});
                changes.back().top = top;
            });
    return changes;
}

void ShowRegistry(const std::vector<RegChange> &changes) {
    if (changes.empty()) return;
    std::printf("Registry:\n");
    const w95::RegKey *shown = nullptr;  // key whose heading was printed
    for (const RegChange &c : changes) {
        std::string path = w95::AnsiToUtf8(c.key->Path());
        if (c.kind == RegChange::KeyRemoved || c.kind == RegChange::KeyAdded) {
            char mark = c.kind == RegChange::KeyAdded ? '+' : '-';
            std::printf("%c [%s]\n", mark, path.c_str());
            for (const w95::RegValue &v : c.key->Values())
                std::printf("%c     %s\n", mark,
                            w95::AnsiToUtf8(ValueLine(v)).c_str());
            shown = nullptr;
            continue;
        }
        if (shown != c.key) std::printf("  [%s]\n", path.c_str());
        shown = c.key;
        if (c.before)
            std::printf("-     %s\n",
                        w95::AnsiToUtf8(ValueLine(*c.before)).c_str());
        if (c.after)
            std::printf("+     %s\n",
                        w95::AnsiToUtf8(ValueLine(*c.after)).c_str());
    }
}

std::string TypeJson(DWORD type) {
    switch (type) {
        case REG_NONE:
            return "REG_NONE";
        case REG_SZ:
            return "REG_SZ";
        case REG_EXPAND_SZ:
            return "REG_EXPAND_SZ";
        case REG_BINARY:
            return "REG_BINARY";
        case REG_DWORD:
            return "REG_DWORD";
        case REG_MULTI_SZ:
            return "REG_MULTI_SZ";
    }
    return "REG_TYPE_" + std::to_string(type);
}

std::string HexJson(const w95::RegBytes &bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (BYTE b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
    }
    return out;
}

// The data as a program reads it: text up to its NUL, the strings of a
// REG_MULTI_SZ (without the empty one that ends the list), a dword as a
// number, anything else as hex.
json DataJson(const w95::RegValue &v) {
    std::string bytes(v.data.begin(), v.data.end());
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ)
        return w95::AnsiToUtf8(bytes.substr(0, bytes.find('\0')));
    if (v.type == REG_MULTI_SZ) {
        json strings = json::array();
        std::vector<std::string> parts;
        for (std::size_t start = 0; start < bytes.size();) {
            std::size_t nul = std::min(bytes.find('\0', start), bytes.size());
            parts.push_back(bytes.substr(start, nul - start));
            start = nul + 1;
        }
        while (!parts.empty() && parts.back().empty())
            parts.pop_back();  // the empty string that ends the list
        for (const std::string &p : parts)
            strings.push_back(w95::AnsiToUtf8(p));
        return strings;
    }
    if (v.type == REG_DWORD && v.data.size() == 4)
        return static_cast<std::uint32_t>(
            v.data[0] | v.data[1] << 8 | v.data[2] << 16 |
            static_cast<std::uint32_t>(v.data[3]) << 24);
    return HexJson(v.data);
}

json ValueJson(const w95::RegValue &v) {
    return {{"type", TypeJson(v.type)}, {"data", DataJson(v)}};
}

json RegistryJson(const std::vector<RegChange> &changes) {
    static const char *const kKinds[] = {
        "keyRemoved", "keyAdded", "valueRemoved", "valueAdded", "valueChanged"};
    json out = json::array();
    for (const RegChange &c : changes) {
        json item = {{"change", kKinds[c.kind]},
                     {"key", w95::AnsiToUtf8(c.key->Path())}};
        if (c.kind == RegChange::KeyRemoved || c.kind == RegChange::KeyAdded) {
            json values = json::array();
            for (const w95::RegValue &v : c.key->Values()) {
                json value = ValueJson(v);
                value["name"] = w95::AnsiToUtf8(v.name);
                values.push_back(value);
            }
            item["values"] = values;
        } else {
            const w95::RegValue *v = c.before ? c.before : c.after;
            item["name"] = w95::AnsiToUtf8(v->name);
            if (c.before) item["before"] = ValueJson(*c.before);
            if (c.after) item["after"] = ValueJson(*c.after);
        }
        out.push_back(item);
    }
    return out;
}

// The REGEDIT4 file that, imported into A, gives A B's registry: a removed
// key as [-KEY] (its subkeys go with it), a removed value as "name"=-, a
// changed or added value as its line, an added key with all its values.
std::string RegistryPatch(const std::vector<RegChange> &changes) {
    std::string out;
    w95::regedit4::AppendHeader(out);
    const w95::RegKey *section = nullptr;
    auto open = [&](const w95::RegKey &key, bool remove) {
        if (section) out += "\r\n";
        out += remove ? "[-" : "[";
        out += key.Path();
        out += "]\r\n";
        section = remove ? nullptr : &key;
        if (remove) out += "\r\n";
    };
    for (const RegChange &c : changes) {
        switch (c.kind) {
            case RegChange::KeyRemoved:
                if (c.top) open(*c.key, true);
                break;
            case RegChange::KeyAdded:
                open(*c.key, false);
                for (const w95::RegValue &v : c.key->Values())
                    w95::regedit4::AppendValue(out, v);
                break;
            case RegChange::ValueRemoved: {
                if (section != c.key) open(*c.key, false);
                w95::RegValue unnamed{c.before->name, REG_SZ, {0}};
                std::string line = ValueLine(unnamed);
                out += line.substr(0, line.size() - 2) + "-\r\n";
                break;
            }
            case RegChange::ValueAdded:
            case RegChange::ValueChanged:
                if (section != c.key) open(*c.key, false);
                w95::regedit4::AppendValue(out, *c.after);
                break;
        }
    }
    if (section) out += "\r\n";
    return out;
}

// ---------------------------------------------------------------- files

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
    for (std::string_view line : w95::SplitLines(text))
        lines.emplace_back(line);
    return lines;
}

// One hunk of a unified diff: where it starts in each file (1-based; the
// line before it for an empty side) and how many lines of each it covers,
// and its lines, each marked ' ', '-' or '+', in UTF-8.
struct Hunk {
    std::size_t aStart, aCount, bStart, bCount;
    std::vector<std::string> lines;
};

struct TextDifference {
    std::vector<Hunk> hunks;
    bool lineEndsOnly = false;  // the same lines, ended differently
};

constexpr std::size_t kContext = 3;

// The hunks that turn text a into text b, by a longest common subsequence
// of their lines; nullopt when the files are too big or not text.
std::optional<TextDifference> CompareText(const std::string &a,
                                          const std::string &b) {
    constexpr std::size_t kMaxCells = 4'000'000;
    if (a.find('\0') != std::string::npos || b.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> x = Lines(a), y = Lines(b);
    if ((x.size() + 1) * (y.size() + 1) > kMaxCells) return std::nullopt;
    TextDifference result;
    if (x == y) {
        result.lineEndsOnly = true;
        return result;
    }
    std::size_t n = x.size(), m = y.size();
    std::vector<std::vector<unsigned>> lcs(n + 1,
                                           std::vector<unsigned>(m + 1, 0));
    for (std::size_t i = n; i-- > 0;)
        for (std::size_t j = m; j-- > 0;)
            lcs[i][j] = x[i] == y[j] ? lcs[i + 1][j + 1] + 1
                                     : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    struct Op {
        char mark;         // ' ', '-', '+'
        std::size_t i, j;  // lines of a and b before this one
    };
    std::vector<Op> ops;
    for (std::size_t i = 0, j = 0; i < n || j < m;) {
        if (i < n && j < m && x[i] == y[j]) {
            ops.push_back({' ', i++, j++});
        } else if (i < n && (j == m || lcs[i + 1][j] >= lcs[i][j + 1])) {
            ops.push_back({'-', i++, j});
        } else {
            ops.push_back({'+', i, j++});
        }
    }
    std::size_t k = 0;
    while (k < ops.size()) {
        if (ops[k].mark == ' ') {
            ++k;
            continue;
        }
        std::size_t start = k > kContext ? k - kContext : 0;
        std::size_t last = k, j = k;
        while (j < ops.size()) {
            if (ops[j].mark != ' ') {
                last = j++;
                continue;
            }
            std::size_t run = j;
            while (run < ops.size() && ops[run].mark == ' ') ++run;
            if (run == ops.size() || run - j > 2 * kContext) break;
            j = run;
        }
        std::size_t end = std::min(last + 1 + kContext, ops.size());
        Hunk h{ops[start].i, 0, ops[start].j, 0, {}};
        for (std::size_t q = start; q < end; ++q) {
            const Op &op = ops[q];
            const std::string &text = op.mark == '+' ? y[op.j] : x[op.i];
            if (op.mark != '+') ++h.aCount;
            if (op.mark != '-') ++h.bCount;
            h.lines.push_back(op.mark + w95::AnsiToUtf8(text));
        }
        if (h.aCount) ++h.aStart;
        if (h.bCount) ++h.bStart;
        result.hunks.push_back(std::move(h));
        k = end;
    }
    return result;
}

struct FileChange {
    enum Kind { Removed, Added, Changed, TimesOnly };
    Kind kind;
    const Entry *entry;  // A's for Removed, B's otherwise
    std::size_t bytesBefore = 0, bytesAfter = 0;
    std::optional<TextDifference> text = std::nullopt;  // Changed text files
    std::time_t timeBefore = 0, timeAfter = 0;
};

struct FileComparison {
    std::map<std::string, Entry> a, b;
    std::vector<FileChange> changes;
};

void CompareFiles(const fs::path &machineA, const fs::path &machineB,
                  bool times, FileComparison &out) {
    out.a = Files(machineA);
    out.b = Files(machineB);
    std::map<std::string, int> all;  // folded path -> 1 A, 2 B, 3 both
    for (const auto &[k, v] : out.a) all[k] |= 1;
    for (const auto &[k, v] : out.b) all[k] |= 2;
    for (const auto &[key, where] : all) {
        const Entry *ea = where & 1 ? &out.a.at(key) : nullptr;
        const Entry *eb = where & 2 ? &out.b.at(key) : nullptr;
        if (ea && eb && ea->directory != eb->directory) {
            out.changes.push_back({FileChange::Removed, ea});
            out.changes.push_back({FileChange::Added, eb});
            continue;
        }
        if (!eb) {
            out.changes.push_back({FileChange::Removed, ea});
            continue;
        }
        if (!ea) {
            out.changes.push_back({FileChange::Added, eb});
            continue;
        }
        if (ea->directory) continue;
        std::string ta = ReadWholeFile(ea->host), tb = ReadWholeFile(eb->host);
        if (ta != tb) {
            FileChange c{FileChange::Changed, eb, ta.size(), tb.size()};
            c.text = CompareText(ta, tb);
            out.changes.push_back(std::move(c));
            continue;
        }
        struct stat sa, sb;
        if (times && stat(ea->host.c_str(), &sa) == 0 &&
            stat(eb->host.c_str(), &sb) == 0 && sa.st_mtime != sb.st_mtime) {
            FileChange c{FileChange::TimesOnly, eb};
            c.timeBefore = sa.st_mtime;
            c.timeAfter = sb.st_mtime;
            out.changes.push_back(c);
        }
    }
}

void ShowFiles(const std::vector<FileChange> &changes) {
    if (changes.empty()) return;
    std::printf("Files:\n");
    for (const FileChange &c : changes) {
        const char *path = c.entry->windowsPath.c_str();
        const char *slash = c.entry->directory ? "\\" : "";
        switch (c.kind) {
            case FileChange::Removed:
            case FileChange::Added:
                std::printf("%c %s%s\n",
                            c.kind == FileChange::Added ? '+' : '-', path,
                            slash);
                break;
            case FileChange::TimesOnly:
                std::printf("~ %s (same content, last written %s -> %s UTC)\n",
                            path, TimeText(c.timeBefore).c_str(),
                            TimeText(c.timeAfter).c_str());
                break;
            case FileChange::Changed:
                std::printf("~ %s\n", path);
                if (!c.text) {
                    std::printf("    (%zu bytes -> %zu bytes)\n", c.bytesBefore,
                                c.bytesAfter);
                } else if (c.text->lineEndsOnly) {
                    std::printf("    (line ends differ)\n");
                }
                if (c.text)
                    for (const Hunk &h : c.text->hunks) {
                        std::printf("    @@ -%zu,%zu +%zu,%zu @@\n", h.aStart,
                                    h.aCount, h.bStart, h.bCount);
                        for (const std::string &line : h.lines)
                            std::printf("    %s\n", line.c_str());
                    }
                break;
        }
    }
}

json FilesJson(const std::vector<FileChange> &changes) {
    static const char *const kKinds[] = {"removed", "added", "changed",
                                         "times"};
    json out = json::array();
    for (const FileChange &c : changes) {
        json item = {{"change", kKinds[c.kind]},
                     {"path", c.entry->windowsPath},
                     {"directory", c.entry->directory}};
        if (c.kind == FileChange::TimesOnly) {
            item["before"] = TimeText(c.timeBefore) + " UTC";
            item["after"] = TimeText(c.timeAfter) + " UTC";
        }
        if (c.kind == FileChange::Changed) {
            item["bytes"] = {c.bytesBefore, c.bytesAfter};
            item["text"] = c.text.has_value();
            if (c.text) {
                item["lineEndsOnly"] = c.text->lineEndsOnly;
                json hunks = json::array();
                for (const Hunk &h : c.text->hunks)
                    hunks.push_back({{"before", {h.aStart, h.aCount}},
                                     {"after", {h.bStart, h.bCount}},
                                     {"lines", h.lines}});
                item["hunks"] = hunks;
            }
        }
        out.push_back(item);
    }
    return out;
}

}  // namespace

int DiffMachines(const DiffOptions &options) {
    if (options.json && options.regFile == "-")
        throw UsageError(
            "--json and --reg - both write to standard output: give --reg a "
            "file");
    fs::path a = ExistingMachine(options.a), b = ExistingMachine(options.b);
    w95::Registry ra = LoadMachineRegistry(a), rb = LoadMachineRegistry(b);
    std::vector<RegChange> registry = CompareRegistries(ra, rb);
    FileComparison files;
    CompareFiles(a, b, options.times, files);
    bool differ = !registry.empty() || !files.changes.empty();

    bool patchToStdout = options.regFile == "-";
    if (!options.regFile.empty()) {
        std::string patch = RegistryPatch(registry);
        if (patchToStdout)
            std::fwrite(patch.data(), 1, patch.size(), stdout);
        else
            WriteWholeFile(options.regFile, patch);
    }
    if (options.json && !patchToStdout) {
        json doc = {{"differ", differ},
                    {"registry", RegistryJson(registry)},
                    {"files", FilesJson(files.changes)}};
        std::string text =
            doc.dump(2, ' ', false, json::error_handler_t::replace);
        std::printf("%s\n", text.c_str());
    } else if (!patchToStdout) {
        ShowRegistry(registry);
        ShowFiles(files.changes);
        if (!differ) std::printf("No differences.\n");
    }
    return differ ? kDifferent : kOk;
}

}  // namespace tool
