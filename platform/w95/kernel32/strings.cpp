// kernel32 string calls on single-byte ANSI (Windows-1252) text.
//
// lstrcmpA and lstrcmpiA compare as the system locale sorts words, not by
// byte value: letters by their base letter first (accented letters beside
// theirs, "\xe6" as "ae"), then by accent, then by case (lower case first,
// not for lstrcmpiA); punctuation and blanks before digits before letters;
// hyphens and apostrophes count only when all else is equal ("coop" before
// "co-op"). A NULL string sorts before every other, the empty one included.
//
// As on Windows, a NULL argument makes the copying calls and lstrlenA fail
// with ERROR_INVALID_PARAMETER instead of faulting.
#include <windows.h>

#include <cstring>
#include <vector>

#include "fault_injection.h"

namespace {

// What one character weighs at each level of the comparison.
struct Weight {
    int primary;  // the letter, digit or symbol
    int accent;   // 0 for none
    int upper;    // 1 for a capital letter
};

// Characters that a word sort sets aside: hyphens (and the dashes and soft
// hyphen of Windows-1252) and the apostrophe.
bool SetAside(unsigned char c) {
    return c == '-' || c == '\'' || c == 0xAD || c == 0x96 || c == 0x97;
}

constexpr int kSymbol = 0x100;  // symbols keep their byte order
constexpr int kDigit = 0x300;
constexpr int kLetter = 0x400;

int Letter(char base) { return kLetter + (base - 'a'); }

// The base letters of Windows-1252's letters from 0xC0 on (lower and upper
// case share a row): 0 for the two signs among them.
const char kLatin1Base[] = "aaaaaaaceeeeiiiidnooooo\0ouuuuyts";

// Appends the weights of `c` (two for the letters written as two).
void Weigh(unsigned char c, std::vector<Weight> &out) {
    if (c >= 'a' && c <= 'z') return out.push_back({Letter(char(c)), 0, 0});
    if (c >= 'A' && c <= 'Z')
        return out.push_back({Letter(char(c - 'A' + 'a')), 0, 1});
    if (c >= '0' && c <= '9') return out.push_back({kDigit + (c - '0'), 0, 0});
    switch (c) {
        case 0x8A:
            return out.push_back({Letter('s'), c, 1});  // S caron
        case 0x9A:
            return out.push_back({Letter('s'), 0x8A, 0});
        case 0x8E:
            return out.push_back({Letter('z'), c, 1});  // Z caron
        case 0x9E:
            return out.push_back({Letter('z'), 0x8E, 0});
        case 0x9F:
            return out.push_back({Letter('y'), 0x9F, 1});  // Y diaeresis
        case 0xFF:
            return out.push_back({Letter('y'), 0x9F, 0});
        case 0x8C:  // OE
        case 0x9C:
            out.push_back({Letter('o'), 0x8C, c == 0x8C});
            return out.push_back({Letter('e'), 0x8C, c == 0x8C});
        case 0xC6:  // AE
        case 0xE6:
            out.push_back({Letter('a'), 0xC6, c == 0xC6});
            return out.push_back({Letter('e'), 0xC6, c == 0xC6});
        case 0xDF:  // sharp s
            out.push_back({Letter('s'), 0xDF, 0});
            return out.push_back({Letter('s'), 0xDF, 0});
        case 0xD7:  // multiplication and division signs
        case 0xF7:
            return out.push_back({kSymbol + c, 0, 0});
        default:
            break;
    }
    if (c >= 0xC0) {
        int row = (c & 0x1F);
        char base = kLatin1Base[row];
        // Thorn sorts after z.
        int primary = row == 0x1E ? Letter('z') + 1 : Letter(base);
        return out.push_back({primary, 0xC0 + row, c < 0xE0});
    }
    out.push_back({kSymbol + c, 0, 0});
}

struct SortKey {
    std::vector<Weight> weights;
    std::vector<int> setAside;  // position * 256 + character
};

SortKey KeyOf(const char *text) {
    SortKey key;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (int i = 0; p[i] != 0; ++i) {
        if (SetAside(p[i]))
            key.setAside.push_back(i * 256 + p[i]);
        else
            Weigh(p[i], key.weights);
    }
    return key;
}

template <typename T, typename Get>
int CompareLevel(const std::vector<T> &a, const std::vector<T> &b, Get get) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        int x = get(a[i]), y = get(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
}

int CompareWords(LPCSTR a, LPCSTR b, bool ignoreCase) {
    if (a == nullptr || b == nullptr) return a == b ? 0 : (a ? 1 : -1);
    SortKey x = KeyOf(a), y = KeyOf(b);
    if (int c = CompareLevel(x.weights, y.weights,
                             [](const Weight &w) { return w.primary; }))
        return c;
    if (int c = CompareLevel(x.weights, y.weights,
                             [](const Weight &w) { return w.accent; }))
        return c;
    if (!ignoreCase) {
        if (int c = CompareLevel(x.weights, y.weights,
                                 [](const Weight &w) { return w.upper; }))
            return c;
    }
    // The set-aside characters last: none sorts first, then by place.
    if (x.setAside.empty() != y.setAside.empty())
        return x.setAside.empty() ? -1 : 1;
    return CompareLevel(x.setAside, y.setAside, [](int v) { return v; });
}

LPSTR InvalidArgument() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

}  // namespace

extern "C" {

// The comparisons have no failure result: only a planned crash reaches them.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
    w95::InjectedFault("lstrcmpA");
    return CompareWords(lpString1, lpString2, false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    w95::InjectedFault("lstrcmpiA");
    return CompareWords(lpString1, lpString2, true);
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2) {
    if (DWORD e = w95::InjectedFault("lstrcpyA")) {
        SetLastError(e);
        return nullptr;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) return InvalidArgument();
    std::memmove(lpString1, lpString2, std::strlen(lpString2) + 1);
    return lpString1;
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength) {
    if (DWORD e = w95::InjectedFault("lstrcpynA")) {
        SetLastError(e);
        return nullptr;
    }
    if (lpString1 == nullptr || lpString2 == nullptr) return InvalidArgument();
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
    if (lpString1 == nullptr || lpString2 == nullptr) return InvalidArgument();
    std::memmove(lpString1 + std::strlen(lpString1), lpString2,
                 std::strlen(lpString2) + 1);
    return lpString1;
}

int WINAPI lstrlenA(LPCSTR lpString) {
    if (DWORD e = w95::InjectedFault("lstrlenA")) {
        SetLastError(e);
        return 0;
    }
    if (lpString == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return static_cast<int>(std::strlen(lpString));
}

}  // extern "C"
