// kernel32 string calls on single-byte ANSI text. As on Windows, a NULL
// string compares as the empty string and a NULL argument makes the copying
// calls return NULL instead of faulting.
#include <windows.h>

#include <cstring>

#include "fault_injection.h"
#include "file_names.h"

namespace {

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

}  // namespace

extern "C" {

// The comparisons have no failure result: only a planned crash reaches them.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    w95::InjectedFault("lstrcmpA");
    const unsigned char *a =
        reinterpret_cast<const unsigned char *>(lpString1 ? lpString1 : "");
    const unsigned char *b =
        reinterpret_cast<const unsigned char *>(lpString2 ? lpString2 : "");
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return Sign(static_cast<int>(*a) - static_cast<int>(*b));
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    w95::InjectedFault("lstrcmpiA");
    return Sign(w95::CompareNames(lpString1 ? lpString1 : "",
                                  lpString2 ? lpString2 : ""));
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    if (DWORD e = w95::InjectedFault("lstrcpyA")) {
        SetLastError(e);
        return nullptr;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
    std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
    return lpString1;
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
    if (DWORD e = w95::InjectedFault("lstrcpynA")) {
        SetLastError(e);
        return nullptr;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
    if (iMaxLength <= 0) return lpString1;
    size_t limit = static_cast<size_t>(iMaxLength) - 1;
    size_t length = 0;
    while (length < limit && lpString2[length] != 0) ++length;
    std::memmove(lpString1, lpString2, length);
    lpString1[length] = 0;
    return lpString1;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2) {
    if (DWORD e = w95::InjectedFault("lstrcatA")) {
        SetLastError(e);
        return nullptr;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
    std::memmove(lpString1 + std::strlen(lpString1), lpString2,
                 std::strlen(lpString2) + 1);
    return lpString1;
}

int WINAPI lstrlenA(LPCSTR lpString) {
    if (DWORD e = w95::InjectedFault("lstrlenA")) {
        SetLastError(e);
        return 0;
    }
    return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

}  // extern "C"
