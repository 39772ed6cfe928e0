// kernel32 file search: FindFirstFileA, FindNextFileA, FindClose.
//
// A search takes its matches at FindFirstFileA, sorted by name without
// regard to case, and hands them out one by one.
#include <dirent.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fault_injection.h"
#include "file_names.h"
#include "path_resolve.h"
#include "emulated_process.h"
#include "find_pattern.h"
#include "host_calls.h"
#include "host_files.h"
#include "short_names.h"

namespace fs = std::filesystem;

namespace {

using w95::Search;

w95::Searches &Searches() { return w95::Process().searches; }

struct CloseDir {
    void operator()(DIR *dir) const { w95::HostClosedir(dir); }
};

// What a search shows of `host` under `name`: false for an entry it leaves
// out (a dangling link, a name too long), or with `*error` set for one that
// could not be looked at.
bool Describe(const fs::path &host, const std::string &name,
              WIN32_FIND_DATAA *data, DWORD *error) {
    struct stat st {};
    if (w95::HostStat(host.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ELOOP)
            *error = w95::ErrorFromErrno(errno);
        return false;
    }
    if (name.size() >= sizeof data->cFileName) return false;
    std::memset(data, 0, sizeof *data);
    data->dwFileAttributes = w95::AttributesOf(st);
    data->ftCreationTime = w95::CreationTime(host, st);
    data->ftLastAccessTime = w95::LastAccessTime(st);
    data->ftLastWriteTime = w95::LastWriteTime(st);
    if (!S_ISDIR(st.st_mode)) {
        std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    }
    std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
    return true;
}

// Hands out the first match of a search that found something and keeps
// the search for FindNextFileA.
HANDLE Found(Search search, WIN32_FIND_DATAA *first) {
    *first = search.found[0];
    search.next = 1;
    w95::Searches &table = Searches();
    HANDLE h = reinterpret_cast<HANDLE>(table.next);
    table.next += 4;
    table.searches.emplace(h, std::move(search));
    // Success leaves the last error as it was, as Windows does.
    return h;
}

}  // namespace

extern "C" {

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName,
                             LPWIN32_FIND_DATAA lpFindFileData) {
    if (DWORD e = w95::InjectedFault("FindFirstFileA")) {
        SetLastError(e);
        return INVALID_HANDLE_VALUE;
    }
    if (lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    std::optional<w95::WindowsPath> path =
        w95::ParseWindowsPath(lpFileName, &error, true);
    if (!path) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (path->parts.empty() || path->trailingSeparator) {
        // "C:\" or "C:\WINDOWS\": no name to look for.
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string pattern = path->parts.back();
    path->parts.pop_back();
    std::optional<fs::path> dir = w95::ResolveWindowsPath(*path, &error);
    if (!dir) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<DIR, CloseDir> listing(w95::HostOpendir(dir->c_str()));
    if (!listing) {
        // "C:\A.TXT\*": a file's name is no folder's.
        const int failure = errno;
        struct stat st {};
        if (failure == ENOTDIR && w95::HostStat(dir->c_str(), &st) == 0 &&
            !S_ISDIR(st.st_mode))
            SetLastError(ERROR_INVALID_NAME);
        else
            SetLastError(failure == ENOENT || failure == ENOTDIR
                             ? ERROR_PATH_NOT_FOUND
                             : w95::ErrorFromErrno(failure));
        return INVALID_HANDLE_VALUE;
    }

    error = ERROR_SUCCESS;
    Search search;
    WIN32_FIND_DATAA data;
    // A device name is found in every folder, as the device itself.
    if (std::size_t length = w95::DeviceNameLength(pattern)) {
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = FILE_ATTRIBUTE_DEVICE;
        std::memcpy(data.cFileName, pattern.data(), length);
        search.found.push_back(data);
        return Found(std::move(search), lpFindFileData);
    }
    // Every entry first: the short names of the long ones depend on the
    // whole folder, and a pattern matches the long name or the short one.
    struct Entry {
        std::string hostName;
        std::string name;
        unsigned char type;
    };
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        struct dirent *entry = w95::HostReaddir(listing.get());
        if (entry == nullptr) {
            if (errno == 0) break;
            SetLastError(errno == EIO ? ERROR_READ_FAULT
                                      : w95::ErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
        std::string_view hostName = entry->d_name;
        if (hostName == "." || hostName == "..") continue;
        std::optional<std::string> name =
            w95::HostToAnsi(std::string(hostName));
        if (name)
            entries.push_back({std::string(hostName), *name, entry->d_type});
    }
    std::vector<std::string> longNames;
    longNames.reserve(entries.size());
    for (const Entry &e : entries) longNames.push_back(e.name);
    const std::vector<std::string> shortNames = w95::ShortNames(longNames);

    std::vector<WIN32_FIND_DATAA> names;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        const std::string &alias = shortNames[i];
        if (!w95::MatchesPattern(pattern, entry.name) &&
            (alias.empty() || !w95::MatchesPattern(pattern, alias)))
            continue;
        fs::path host = *dir / entry.hostName;
        bool link = entry.type == DT_LNK;
        if (entry.type == DT_UNKNOWN) {
            struct stat st {};
            link =
                w95::HostLstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        }
        if (link && !w95::InsideDriveFolders(host)) continue;
        if (Describe(host, entry.name, &data, &error)) {
            std::memcpy(data.cAlternateFileName, alias.c_str(),
                        alias.size() + 1);
            names.push_back(data);
        }
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    std::sort(names.begin(), names.end(),
              [](const WIN32_FIND_DATAA &a, const WIN32_FIND_DATAA &b) {
                  int c = w95::CompareNames(a.cFileName, b.cFileName);
                  return c != 0 ? c < 0
                                : std::strcmp(a.cFileName, b.cFileName) < 0;
              });
    // Directories below the root list themselves and their parent first.
    if (!path->parts.empty()) {
        for (const char *dots : {".", ".."}) {
            fs::path host =
                std::string(dots) == "." ? *dir : dir->parent_path();
            if (w95::MatchesPattern(pattern, dots) &&
                Describe(host, dots, &data, &error)) {
                search.found.push_back(data);
            }
            if (error != ERROR_SUCCESS) {
                SetLastError(error);
                return INVALID_HANDLE_VALUE;
            }
        }
    }
    search.found.insert(search.found.end(), names.begin(), names.end());
    if (search.found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return Found(std::move(search), lpFindFileData);
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    if (DWORD e = w95::InjectedFault("FindNextFileA")) {
        SetLastError(e);
        return FALSE;
    }
    auto &searches = Searches().searches;
    auto it = searches.find(hFindFile);
    if (it == searches.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Search &search = it->second;
    if (search.next >= search.found.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *lpFindFileData = search.found[search.next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (DWORD e = w95::InjectedFault("FindClose")) {
        SetLastError(e);
        return FALSE;
    }
    if (Searches().searches.erase(hFindFile) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
