// Windows paths to host paths inside the machine directory.
#include "path_resolve.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <string_view>
#include <system_error>

#include "file_names.h"
#include "emulated_process.h"
#include "host_calls.h"

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

// An entry of a directory as found: its host name and what lstat saw.
struct FoundEntry {
    std::string name;
    struct stat st {};
};

// The entry of the directory `dir` (a host path) whose name matches `name`
// without regard to case; an exact match wins over others, and among others
// the first in host byte order. The exact name costs one lstat; the
// directory is read only when that name is absent.
std::optional<FoundEntry> FindEntry(std::string &dir, const std::string &name) {
    FoundEntry found;
    const std::string hostName = AnsiToHost(name);
    const std::size_t length = dir.size();
    dir += '/';
    dir += hostName;
    int exact = RawLstat(dir.c_str(), &found.st);
    dir.resize(length);
    if (exact == 0) {
        found.name = hostName;
        return found;
    }
    DIR *listing = RawOpendir(dir.c_str());
    if (listing == nullptr) return std::nullopt;
    std::optional<std::string> best;
    while (const struct dirent *entry = RawReaddir(listing)) {
        std::string_view entryName(entry->d_name);
        if (entryName == "." || entryName == "..") continue;
        if (best && entryName >= *best) continue;
        std::optional<std::string> ansi = HostToAnsi(entryName);
        if (!ansi || !SameName(*ansi, name)) continue;
        best = std::string(entryName);
    }
    RawClosedir(listing);
    if (!best) return std::nullopt;
    dir += '/';
    dir += *best;
    int seen = RawLstat(dir.c_str(), &found.st);
    dir.resize(length);
    if (seen != 0) return std::nullopt;  // gone since the directory was read
    found.name = std::move(*best);
    return found;
}

// Whether the host entry at `path`, seen by lstat as `st`, is a directory,
// following a link.
bool IsDirectoryEntry(const std::string &path, const struct stat &st) {
    if (S_ISDIR(st.st_mode)) return true;
    if (!S_ISLNK(st.st_mode)) return false;
    struct stat target {};
    return RawStat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

}  // namespace

const fs::path &MachineRoot() {
    EmulatedProcess &process = Process();
    fs::path &cachedFor = process.machineRootFor;
    fs::path &canonical = process.machineRoot;
    const fs::path &dir = process.machine.directory;
    if (canonical.empty() || dir.native() != cachedFor.native()) {
        std::error_code ec;
        // A memory disk's root is no host folder, and holds no links.
        canonical = OnMemoryDisk() ? dir.lexically_normal()
                                   : fs::weakly_canonical(dir, ec);
        if (ec) canonical = dir.lexically_normal();
        cachedFor = dir;
    }
    return canonical;
}

char DriveOfHostPath(const fs::path &host) {
    const std::string &root = MachineRoot().native();
    const std::string &path = host.native();
    const std::string drive = "/drive_";
    if (root.empty() || path.size() < root.size() + drive.size() + 1 ||
        path.compare(0, root.size(), root) != 0 ||
        path.compare(root.size(), drive.size(), drive) != 0)
        return 0;
    const std::size_t after = root.size() + drive.size() + 1;
    if (path.size() > after && path[after] != '/') return 0;
    const char letter = UpperDrive(path[root.size() + drive.size()]);
    return IsDriveLetter(letter) ? letter : 0;
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

// Whether `path` (lexically normal) lies in a drive folder of the machine
// at `root`: the machine's own files (registry.reg, machine.ini, its lock)
// are no file of any drive.
bool WithinDriveFolders(const fs::path &path, const fs::path &root) {
    if (!IsWithin(path, root)) return false;
    fs::path inside = path.lexically_relative(root);
    if (inside.empty()) return false;
    std::string folder = inside.begin()->string();
    return folder.size() == 7 && folder.compare(0, 6, "drive_") == 0 &&
           folder[6] >= 'a' && folder[6] <= 'z';
}

bool InsideDriveFolders(const fs::path &path) {
    const fs::path &root = MachineRoot();
    if (root.empty()) return false;
    if (OnMemoryDisk())
        return WithinDriveFolders(path.lexically_normal(), root);
    // weakly_canonical follows every link that leads somewhere, but keeps a
    // dangling link as it stands; its target is where a new file would be
    // created, so it is followed by hand.
    fs::path real = path;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        real = fs::weakly_canonical(real, ec);
        if (ec) return false;
        if (!fs::is_symlink(fs::symlink_status(real, ec))) {
            return WithinDriveFolders(real, root);
        }
        fs::path target = fs::read_symlink(real, ec);
        if (ec) return false;
        real = target.is_absolute() ? target : real.parent_path() / target;
    }
    return false;  // a loop of links
}

std::optional<fs::path> ResolveWindowsPath(const WindowsPath &path,
                                           DWORD *error) {
    // What is found by path shows what the open files have written.
    SyncOpenFiles();
    DWORD ignored = 0;
    if (error == nullptr) error = &ignored;
    const fs::path &root = MachineRoot();
    // The root is canonical, so an entry below it that is no link lies
    // inside the machine; only links are followed to see where they lead.
    std::string host = root.native();
    if (host.empty() || host.back() != '/') host += '/';
    host += "drive_";
    host += FoldCase(path.drive);
    struct stat st {};
    if (root.empty() || RawLstat(host.c_str(), &st) != 0 ||
        !IsDirectoryEntry(host, st) ||
        (S_ISLNK(st.st_mode) && !InsideDriveFolders(host))) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    for (size_t i = 0; i < path.parts.size(); ++i) {
        bool last = i + 1 == path.parts.size();
        std::optional<FoundEntry> entry = FindEntry(host, path.parts[i]);
        if (!entry) {
            if (!last) {
                *error = ERROR_PATH_NOT_FOUND;
                return std::nullopt;
            }
            host += '/';
            host += AnsiToHost(path.parts[i]);  // a new name, as given
            break;
        }
        host += '/';
        host += entry->name;
        if (S_ISLNK(entry->st.st_mode) && !InsideDriveFolders(host)) {
            *error = last ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        if (!last && !IsDirectoryEntry(host, entry->st)) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
    }
    return fs::path(std::move(host));
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
