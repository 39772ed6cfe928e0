// kernel32 directory calls: the Windows, system, temporary and current
// directories, and creating and removing directories.
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "emulated_process.h"
#include "fault_injection.h"
#include "host_calls.h"
#include "host_files.h"
#include "machine.h"
#include "path_resolve.h"

namespace fs = std::filesystem;

namespace {

using w95::FailWithLastError;

// The Win32 rule for returning a text into a caller's buffer: the length
// without the NUL when it fits, else the size needed with the NUL, and the
// buffer untouched.
DWORD ReturnText(const std::string &text, LPSTR buffer, DWORD size) {
    DWORD length = static_cast<DWORD>(text.size());
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return length;
}

// The parsed and resolved form of a directory name, for the calls below.
struct DirectoryName {
    w95::WindowsPath windows;
    fs::path host;
    bool exists = false;
    struct stat st {};
};

// "" names no directory to enter or remove (CreateDirectoryA takes it as
// a path that is not found).
bool IsEmptyName(LPCSTR name) { return name != nullptr && *name == '\0'; }

std::optional<DirectoryName> LookupDirectory(LPCSTR name, DWORD *error) {
    std::optional<w95::WindowsPath> parsed = w95::ParseWindowsPath(name, error);
    if (!parsed) return std::nullopt;
    std::optional<fs::path> host = w95::ResolveWindowsPath(*parsed, error);
    if (!host) return std::nullopt;
    DirectoryName dir;
    dir.windows = *parsed;
    dir.host = *host;
    dir.exists = w95::HostStat(host->c_str(), &dir.st) == 0;
    if (!dir.exists && errno != ENOENT && errno != ENOTDIR) {
        *error = w95::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    return dir;
}

}  // namespace

extern "C" {

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (DWORD e = w95::InjectedFault("GetWindowsDirectoryA")) {
        SetLastError(e);
        return 0;
    }
    return ReturnText(w95::TheMachine().settings.windowsDirectory, lpBuffer,
                      uSize);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    if (DWORD e = w95::InjectedFault("GetSystemDirectoryA")) {
        SetLastError(e);
        return 0;
    }
    return ReturnText(w95::TheMachine().settings.systemDirectory, lpBuffer,
                      uSize);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    if (DWORD e = w95::InjectedFault("GetTempPathA")) {
        SetLastError(e);
        return 0;
    }
    std::string path = w95::TheMachine().settings.tempPath;
    if (path.empty() || (path.back() != '\\' && path.back() != '/')) {
        path += '\\';  // the temporary path always ends in a backslash
    }
    return ReturnText(path, lpBuffer, nBufferLength);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    if (DWORD e = w95::InjectedFault("GetCurrentDirectoryA")) {
        SetLastError(e);
        return 0;
    }
    return ReturnText(w95::TheMachine().currentDirectory, lpBuffer,
                      nBufferLength);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
    if (DWORD e = w95::InjectedFault("SetCurrentDirectoryA"))
        return FailWithLastError(e);
    if (IsEmptyName(lpPathName)) return FailWithLastError(ERROR_INVALID_NAME);
    DWORD error = ERROR_SUCCESS;
    std::optional<DirectoryName> dir = LookupDirectory(lpPathName, &error);
    if (!dir) return FailWithLastError(error);
    if (!dir->exists) return FailWithLastError(ERROR_FILE_NOT_FOUND);
    if (!S_ISDIR(dir->st.st_mode)) return FailWithLastError(ERROR_DIRECTORY);
    w95::TheMachine().currentDirectory = dir->windows.Text();
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName,
                             LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    if (DWORD e = w95::InjectedFault("CreateDirectoryA"))
        return FailWithLastError(e);
    (void)lpSecurityAttributes;
    DWORD error = ERROR_SUCCESS;
    std::optional<DirectoryName> dir = LookupDirectory(lpPathName, &error);
    if (!dir) return FailWithLastError(error);
    // A drive's root always exists.
    if (dir->windows.parts.empty())
        return FailWithLastError(ERROR_ALREADY_EXISTS);
    struct stat link {};
    if (dir->exists || w95::HostLstat(dir->host.c_str(), &link) == 0) {
        return FailWithLastError(ERROR_ALREADY_EXISTS);
    }
    if (w95::HostMkdir(dir->host.c_str(), 0777) != 0) {
        return FailWithLastError(
            w95::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
    }
    if (w95::DiskCache *disk = w95::TrackedDisk())
        disk->MadeDirectory(dir->host, dir->windows.drive);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    if (DWORD e = w95::InjectedFault("RemoveDirectoryA"))
        return FailWithLastError(e);
    if (IsEmptyName(lpPathName)) return FailWithLastError(ERROR_INVALID_NAME);
    DWORD error = ERROR_SUCCESS;
    std::optional<DirectoryName> dir = LookupDirectory(lpPathName, &error);
    if (!dir) return FailWithLastError(error);
    // A drive's root is the drive itself, always in use.
    if (dir->windows.parts.empty())
        return FailWithLastError(ERROR_SHARING_VIOLATION);
    if (!dir->exists) return FailWithLastError(ERROR_FILE_NOT_FOUND);
    if (!S_ISDIR(dir->st.st_mode)) return FailWithLastError(ERROR_DIRECTORY);
    if (w95::IsReadOnly(dir->st)) return FailWithLastError(ERROR_ACCESS_DENIED);
    // The current directory is in use and cannot go.
    DWORD ignored = 0;
    std::optional<fs::path> current =
        w95::ResolvePath(w95::TheMachine().currentDirectory.c_str(), &ignored);
    struct stat cst {};
    if (current && w95::HostStat(current->c_str(), &cst) == 0 &&
        cst.st_dev == dir->st.st_dev && cst.st_ino == dir->st.st_ino) {
        return FailWithLastError(ERROR_SHARING_VIOLATION);
    }
    struct stat link {};
    if (w95::HostLstat(dir->host.c_str(), &link) == 0 &&
        S_ISLNK(link.st_mode)) {
        return FailWithLastError(
            ERROR_DIRECTORY);  // a link is no directory to remove
    }
    if (w95::HostRmdir(dir->host.c_str()) != 0) {
        return FailWithLastError(w95::ErrorFromErrno(errno));
    }
    if (w95::DiskCache *disk = w95::TrackedDisk())
        disk->RemovedDirectory(dir->host, dir->st.st_mode, dir->windows.drive);
    return TRUE;
}

}  // extern "C"
