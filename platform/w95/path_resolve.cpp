// Windows paths to host paths inside the machine directory.
#include "path_resolve.h"

#include <cstring>
#include <system_error>

#include "file_names.h"
#include "emulated_process.h"

namespace fs = std::filesystem;

namespace w95 {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Characters that no Windows file name may hold (wildcards aside).
bool IsInvalidNameChar(unsigned char c) {
    return c < 0x20 || std::strchr("<>\":|", c) != nullptr;
}

char UpperDrive(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDriveLetter(char c) {
    c = UpperDrive(c);
    return c >= 'A' && c <= 'Z';
}

// Windows-1252 code points 0x80..0x9F; 0 where the code page has a hole.
const char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string &out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The Windows-1252 byte of a code point, or -1.
int AnsiByte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] != 0 && kHighControls[i] == cp) return 0x80 + i;
    }
    return -1;
}

// Whether `inner` is `outer` or lies below it (both lexically normal).
bool IsWithin(const fs::path &inner, const fs::path &outer) {
    auto o = outer.begin();
    auto i = inner.begin();
    for (; o != outer.end(); ++o, ++i) {
        if (o->empty() && std::next(o) == outer.end()) break;  // trailing "/"
        if (i == inner.end() || *i != *o) return false;
    }
    return true;
}

const fs::path &MachineRoot() {
    EmulatedProcess &process = Process();
    fs::path &cachedFor = process.machineRootFor;
    fs::path &canonical = process.machineRoot;
    const fs::path &dir = process.machine.directory;
    if (dir != cachedFor || canonical.empty()) {
        std::error_code ec;
        canonical = fs::weakly_canonical(dir, ec);
        if (ec) canonical = dir.lexically_normal();
        cachedFor = dir;
    }
    return canonical;
}

// The entry of `dir` whose name matches `name` without regard to case; an
// exact match wins over others, and among others the first in host order.
std::optional<std::string> FindEntry(const fs::path &dir,
                                     const std::string &name) {
    std::error_code ec;
    const std::string hostName = AnsiToHost(name);
    if (fs::symlink_status(dir / hostName, ec).type() !=
            fs::file_type::not_found &&
        !ec) {
        return hostName;
    }
    std::optional<std::string> best;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::string entry = it->path().filename().string();
        std::optional<std::string> ansi = HostToAnsi(entry);
        if (!ansi || !SameName(*ansi, name)) continue;
        if (!best || entry < *best) best = entry;
    }
    return best;
}

}  // namespace

char FoldCase(char ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char>(c + 32);
    switch (c) {
        case 0x8A:
        case 0x8C:
        case 0x8E:
            return static_cast<char>(c + 16);
        case 0x9F:
            return static_cast<char>(0xFF);
        default:
            return ch;
    }
}

int CompareNames(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(FoldCase(a[i]));
        unsigned char y = static_cast<unsigned char>(FoldCase(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string AnsiToHost(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else if (c < 0xA0) {
            char16_t cp = kHighControls[c - 0x80];
            AppendUtf8(out, cp != 0 ? cp : c);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::optional<std::string> HostToAnsi(std::string_view host) {
    std::string out;
    out.reserve(host.size());
    for (size_t i = 0; i < host.size();) {
        unsigned char c = static_cast<unsigned char>(host[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            return std::nullopt;
        }
        if (i + len > host.size()) return std::nullopt;
        for (size_t k = 1; k < len; ++k) {
            unsigned char t = static_cast<unsigned char>(host[i + k]);
            if ((t & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (t & 0x3F);
        }
        // Holes of the code page stand for themselves (see AnsiToHost).
        int b = (cp >= 0x80 && cp < 0xA0 && kHighControls[cp - 0x80] == 0)
                    ? static_cast<int>(cp)
                    : AnsiByte(cp);
        if (b < 0 || b == 0) return std::nullopt;
        out += static_cast<char>(b);
        i += len;
    }
    return out;
}

std::string WindowsPath::Text() const {
    std::string text;
    text += drive;
    text += ":\\";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += '\\';
        text += parts[i];
    }
    return text;
}

std::optional<WindowsPath> ParseWindowsPath(const char *text, DWORD *error,
                                            bool allowWildcards) {
    DWORD ignored = 0;
    if (error == nullptr) error = &ignored;
    if (text == nullptr) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    size_t length = std::strlen(text);
    if (length >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    if (length == 0) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }

    // Where the path starts from: the current directory unless it names a
    // drive or the root.
    WindowsPath path;
    const std::string &cwd = TheMachine().currentDirectory;
    bool cwdUsable = cwd.size() >= 2 && IsDriveLetter(cwd[0]) && cwd[1] == ':';
    std::string_view rest(text, length);
    char drive = cwdUsable ? UpperDrive(cwd[0]) : 'C';
    bool fromRoot = false;
    if (rest.size() >= 2 && rest[1] == ':') {
        if (!IsDriveLetter(rest[0])) {
            *error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        drive = UpperDrive(rest[0]);
        rest.remove_prefix(2);
        // "X:NAME" is relative to the current directory when that is on X,
        // else to the root of X (there is one current directory, not one
        // per drive).
        fromRoot = !cwdUsable || UpperDrive(cwd[0]) != drive;
    }
    if (!rest.empty() && IsSeparator(rest[0])) {
        if (rest.size() >= 2 && IsSeparator(rest[1]) &&
            text[1] != ':') {  // "\\server\share": no network here
            *error = ERROR_BAD_PATHNAME;
            return std::nullopt;
        }
        fromRoot = true;
    }
    path.drive = drive;
    if (!fromRoot && cwdUsable) {
        std::string_view c(cwd);
        c.remove_prefix(2);
        size_t start = 0;
        while (start <= c.size()) {
            size_t end = start;
            while (end < c.size() && !IsSeparator(c[end])) ++end;
            std::string part(c.substr(start, end - start));
            if (part == "..") {
                if (!path.parts.empty()) path.parts.pop_back();
            } else if (!part.empty() && part != ".") {
                path.parts.push_back(part);
            }
            start = end + 1;
        }
    }

    path.trailingSeparator = IsSeparator(rest.empty() ? '\0' : rest.back());
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        std::string part(rest.substr(start, end - start));
        bool last = end >= rest.size() ||
                    rest.find_first_not_of("\\/", end) == std::string::npos;
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!path.parts.empty()) path.parts.pop_back();
            continue;
        }
        for (char ch : part) {
            unsigned char c = static_cast<unsigned char>(ch);
            bool wildcard = c == '*' || c == '?';
            if (IsInvalidNameChar(c) ||
                (wildcard && !(allowWildcards && last))) {
                *error = ERROR_INVALID_NAME;
                return std::nullopt;
            }
        }
        // Windows drops trailing dots and blanks of a name ("FOO." is FOO);
        // in a pattern a trailing dot means something ("*." matches names
        // without an extension).
        if (part.find_first_of("*?") == std::string::npos) {
            size_t keep = part.find_last_not_of(". ");
            if (keep == std::string::npos) continue;
            part.erase(keep + 1);
        }
        if (part.size() > 255) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            return std::nullopt;
        }
        path.parts.push_back(part);
    }
    if (path.Text().size() >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    return path;
}

bool InsideMachine(const fs::path &path) {
    const fs::path &root = MachineRoot();
    if (root.empty()) return false;
    // weakly_canonical follows every link that leads somewhere, but keeps a
    // dangling link as it stands; its target is where a new file would be
    // created, so it is followed by hand.
    fs::path real = path;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        real = fs::weakly_canonical(real, ec);
        if (ec) return false;
        if (!fs::is_symlink(fs::symlink_status(real, ec))) {
            return IsWithin(real, root);
        }
        fs::path target = fs::read_symlink(real, ec);
        if (ec) return false;
        real = target.is_absolute() ? target : real.parent_path() / target;
    }
    return false;  // a loop of links
}

std::optional<fs::path> ResolveWindowsPath(const WindowsPath &path,
                                           DWORD *error) {
    DWORD ignored = 0;
    if (error == nullptr) error = &ignored;
    const fs::path &root = MachineRoot();
    std::error_code ec;
    fs::path host = root / (std::string("drive_") + FoldCase(path.drive));
    if (root.empty() || !fs::is_directory(host, ec) || !InsideMachine(host)) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    for (size_t i = 0; i < path.parts.size(); ++i) {
        bool last = i + 1 == path.parts.size();
        std::optional<std::string> entry = FindEntry(host, path.parts[i]);
        if (!entry) {
            if (!last) {
                *error = ERROR_PATH_NOT_FOUND;
                return std::nullopt;
            }
            host /= AnsiToHost(path.parts[i]);  // a new name, as given
            break;
        }
        host /= *entry;
        fs::file_status st = fs::symlink_status(host, ec);
        if (fs::is_symlink(st) && !InsideMachine(host)) {
            *error = last ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        if (!last && !fs::is_directory(host, ec)) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
    }
    return host;
}

std::optional<fs::path> ResolvePath(const char *windowsPath, DWORD *error) {
    std::optional<WindowsPath> parsed = ParseWindowsPath(windowsPath, error);
    if (!parsed) return std::nullopt;
    return ResolveWindowsPath(*parsed, error);
}

std::string FullWindowsPath(const char *windowsPath) {
    DWORD error = 0;
    std::optional<WindowsPath> parsed = ParseWindowsPath(windowsPath, &error);
    if (!parsed) return windowsPath != nullptr ? windowsPath : "";
    return parsed->Text();
}

}  // namespace w95
