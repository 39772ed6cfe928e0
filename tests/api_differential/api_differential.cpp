// Calls every function of the kit's Win32 subset over a grid of ordinary and
// edge inputs and writes one line per call to C:\APIDIFF.LOG: a case id, the
// result, the last error (set to a sentinel before the call, so that a call
// that leaves it alone shows "unset") and every output argument. The same
// source runs on the emulated machine and under Wine in Windows 95 mode, and
// tests/wine/run-api-differential compares the two logs line by line.
//
// Nothing that legitimately differs between two machines is printed as it
// stands: handles and pointers show as NULL, INVALID or valid; directory
// texts are upper-cased and lengths are given relative to the text's own;
// times show only whether they are set and plausible.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr BYTE kFill = 0xCC;

HANDLE logFile = INVALID_HANDLE_VALUE;
DWORD lastError = 0;

// The last error right after the call of `value`.
template <typename T>
T Captured(T value) {
    lastError = GetLastError();
    return value;
}
#define TRY(expr) (SetLastError(kSentinel), Captured(expr))

// One line of the log, built up and written when it goes out of scope.
class Line {
  public:
    explicit Line(const char *id) { Add("%s:", id); }
    Line(const char *group, const char *id) { Add("%s.%s:", group, id); }
    Line(const Line &) = delete;
    Line &operator=(const Line &) = delete;
    ~Line() {
        text_[length_++] = '\r';
        text_[length_++] = '\n';
        DWORD written;
        WriteFile(logFile, text_, static_cast<DWORD>(length_), &written,
                  nullptr);
    }

    __attribute__((format(printf, 2, 3))) Line &Add(const char *format, ...) {
        va_list args;
        va_start(args, format);
        int room = static_cast<int>(sizeof text_) - length_ - 3;
        int n = std::vsnprintf(text_ + length_, static_cast<size_t>(room),
                               format, args);
        va_end(args);
        if (n > 0) length_ += n < room ? n : room - 1;
        return *this;
    }
    Line &Ret(long value) { return Add(" ret=%ld", value); }
    Line &Err() {
        if (lastError == kSentinel) return Add(" err=unset");
        return Add(" err=%lu", static_cast<unsigned long>(lastError));
    }
    Line &RetErr(long value) { return Ret(value).Err(); }
    // Where a string call's result points: at `buffer`, elsewhere or NULL.
    Line &RetIn(const char *result, const char *buffer) {
        return Add(" ret=%s", result == buffer ? "dst"
                              : result         ? "other"
                                               : "NULL");
    }
    // A result and its last error as one word: name=result/error.
    Line &Outcome(const char *name, long value) {
        if (lastError == kSentinel) return Add(" %s=%ld/unset", name, value);
        return Add(" %s=%ld/%lu", name, value,
                   static_cast<unsigned long>(lastError));
    }
    Line &Handle(const char *name, const void *h) {
        const char *shown = h == nullptr                ? "NULL"
                            : h == INVALID_HANDLE_VALUE ? "INVALID"
                                                        : "valid";
        return Add(" %s=%s", name, shown);
    }
    Line &Num(const char *name, unsigned long value) {
        return Add(" %s=%lu", name, value);
    }
    Line &Hex(const char *name, unsigned long value) {
        return Add(" %s=0x%lX", name, value);
    }
    // Bytes in an escaped form: printable ASCII as it is, '\\' doubled,
    // anything else as \xHH. Trailing fill bytes (never written) are
    // counted, not shown.
    Line &Bytes(const char *name, const void *data, size_t size) {
        const BYTE *p = static_cast<const BYTE *>(data);
        size_t used = size;
        while (used > 0 && p[used - 1] == kFill) --used;
        Add(" %s=\"", name);
        for (size_t i = 0; i < used; ++i) {
            if (p[i] == '\\')
                Add("\\\\");
            else if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '"')
                Add("%c", p[i]);
            else
                Add("\\x%02x", p[i]);
        }
        Add("\"");
        if (used < size) Add("+%lu", static_cast<unsigned long>(size - used));
        return *this;
    }
    // A text up to its NUL, or "NULL".
    Line &Text(const char *name, const char *text) {
        if (text == nullptr) return Add(" %s=NULL", name);
        return Bytes(name, text, std::strlen(text));
    }

  private:
    char text_[4096];
    int length_ = 0;
};

void Fill(void *buffer, size_t size) { std::memset(buffer, kFill, size); }

const char *TimeState(const FILETIME &ft) {
    return ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0 ? "zero" : "set";
}

// ------------------------------------------------------------ version, time

void VersionAndClock() {
    DWORD version = TRY(GetVersion());
    Line("ver.family")
        .Num("win9x", (version & 0x80000000) ? 1 : 0)
        .Num("major", LOBYTE(LOWORD(version)))
        .Num("minor", HIBYTE(LOWORD(version)))
        .Err();
    Line("ver.build").Hex("high-word", HIWORD(version));

    DWORD before = GetTickCount();
    TRY((Sleep(120), 0));
    DWORD after = GetTickCount();
    Line("time.sleep")
        .Num("advanced", after - before >= 100 && after - before < 5000)
        .Err();
    TRY((Sleep(0), 0));
    Line("time.sleep0").Err();
    DWORD ticks = TRY(GetTickCount());
    Line("time.tickcount").Num("nonzero", ticks != 0).Err();
}

void DosTimes() {
    struct Dos {
        const char *id;
        WORD date, time;
    };
    const Dos grid[] = {
        {"1980-01-01", 0x0021, 0x0000},
        {"2000-02-29_23.59.58", (20 << 9) | (2 << 5) | 29,
         (23 << 11) | (59 << 5) | 29},
        {"2001-02-29", (21 << 9) | (2 << 5) | 29, 0},
        {"day0", (10 << 9) | (1 << 5) | 0, 0},
        {"month0", (10 << 9) | (0 << 5) | 1, 0},
        {"month13", (10 << 9) | (13 << 5) | 1, 0},
        {"hour24", 0x0021, 24 << 11},
        {"minute60", 0x0021, 60 << 5},
        {"second60", 0x0021, 30},
        {"2107-12-31", (127 << 9) | (12 << 5) | 31,
         (23 << 11) | (59 << 5) | 29},
    };
    for (const Dos &d : grid) {
        FILETIME ft = {kSentinel, kSentinel};
        BOOL ok = TRY(DosDateTimeToFileTime(d.date, d.time, &ft));
        Line("dos2ft", d.id)
            .RetErr(ok)
            .Hex("high", ft.dwHighDateTime)
            .Hex("low", ft.dwLowDateTime);
    }

    struct Ticks {
        const char *id;
        DWORD high, low;
    };
    const Ticks times[] = {
        {"zero", 0, 0},
        {"1979-12-31", 0x01A8E79F, 0xE1D58000 - 1},
        {"1980-01-01", 0x01A8E79F, 0xE1D58000},
        {"odd-second", 0x01A8E7A0, 0x00000000},
        {"2000-01-01", 0x01BF53EB, 0x256D4000},
        {"2107-12-31", 0x0235A5E5, 0x00000000},
        {"2108-01-01", 0x0237D0BC, 0x00000000},
        {"2^63-1", 0x7FFFFFFF, 0xFFFFFFFF},
        {"2^63", 0x80000000, 0x00000000},
    };
    for (const Ticks &t : times) {
        FILETIME ft = {t.low, t.high};
        WORD date = 0xCCCC, time = 0xCCCC;
        BOOL ok = TRY(FileTimeToDosDateTime(&ft, &date, &time));
        Line("ft2dos", t.id).RetErr(ok).Hex("date", date).Hex("time", time);
        SYSTEMTIME st;
        Fill(&st, sizeof st);
        ok = TRY(FileTimeToSystemTime(&ft, &st));
        Line("ft2st", t.id)
            .RetErr(ok)
            .Add(" %u-%u-%u dow=%u %u:%u:%u.%u", st.wYear, st.wMonth, st.wDay,
                 st.wDayOfWeek, st.wHour, st.wMinute, st.wSecond,
                 st.wMilliseconds);
    }
}

// ------------------------------------------------------------------ strings

void Strings() {
    struct Pair {
        const char *id, *a, *b;
    };
    const Pair pairs[] = {
        {"equal", "abc", "abc"},
        {"less", "abc", "abd"},
        {"prefix", "ab", "abc"},
        {"case", "a", "A"},
        {"case-order", "a", "B"},
        {"upper-lower", "B", "a"},
        {"empty", "", "a"},
        {"null-left", nullptr, "a"},
        {"null-both", nullptr, nullptr},
        {"null-empty", nullptr, ""},
        {"underscore", "_", "a"},
        {"digit-letter", "1", "a"},
        {"hyphen", "co-op", "coop"},
        {"apostrophe", "it's", "its"},
        {"space", "a b", "ab"},
        {"accent", "\xe9", "f"},
        {"accent-case", "\xe9", "E"},
        {"high-byte", "\xff", "z"},
        {"bracket", "[", "a"},
    };
    for (const Pair &p : pairs) {
        int r = TRY(lstrcmpA(p.a, p.b));
        Line("lstrcmp", p.id).RetErr(r);
        r = TRY(lstrcmpiA(p.a, p.b));
        Line("lstrcmpi", p.id).RetErr(r);
    }

    char buffer[16];
    Fill(buffer, sizeof buffer);
    LPSTR r = TRY(lstrcpyA(buffer, "hello"));
    Line("lstrcpy.plain")
        .RetIn(r, buffer)
        .Err()
        .Bytes("buf", buffer, sizeof buffer);
    r = TRY(lstrcpyA(buffer, nullptr));
    Line("lstrcpy.null-src").RetIn(r, buffer).Err();
    r = TRY(lstrcpyA(nullptr, "x"));
    Line("lstrcpy.null-dst").Add(" ret=%s", r ? "other" : "NULL").Err();

    const int lengths[] = {0, 1, 2, 5, 6, 10};
    for (int n : lengths) {
        Fill(buffer, sizeof buffer);
        r = TRY(lstrcpynA(buffer, "hello", n));
        char id[32];
        std::snprintf(id, sizeof id, "lstrcpyn.%d", n);
        Line(id).RetIn(r, buffer).Err().Bytes("buf", buffer, sizeof buffer);
    }
    r = TRY(lstrcpynA(buffer, nullptr, 4));
    Line("lstrcpyn.null-src").RetIn(r, buffer).Err();
    r = TRY(lstrcpynA(nullptr, "x", 4));
    Line("lstrcpyn.null-dst").Add(" ret=%s", r ? "other" : "NULL").Err();

    Fill(buffer, sizeof buffer);
    lstrcpyA(buffer, "ab");
    r = TRY(lstrcatA(buffer, "cd"));
    Line("lstrcat.plain")
        .RetIn(r, buffer)
        .Err()
        .Bytes("buf", buffer, sizeof buffer);
    r = TRY(lstrcatA(buffer, ""));
    Line("lstrcat.empty")
        .Add(" ret=%s", r == buffer ? "dst" : "other")
        .Err()
        .Bytes("buf", buffer, sizeof buffer);
    r = TRY(lstrcatA(buffer, nullptr));
    Line("lstrcat.null-src").RetIn(r, buffer).Err();
    r = TRY(lstrcatA(nullptr, "x"));
    Line("lstrcat.null-dst").Add(" ret=%s", r ? "other" : "NULL").Err();

    Line("lstrlen.abc").RetErr(TRY(lstrlenA("abc")));
    Line("lstrlen.empty").RetErr(TRY(lstrlenA("")));
    Line("lstrlen.null").RetErr(TRY(lstrlenA(nullptr)));
    Line("lstrlen.high").RetErr(TRY(lstrlenA("\xe9\xff")));
}

int Format(char *out, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int n = TRY(wvsprintfA(out, format, args));
    va_end(args);
    return n;
}

void Formatting() {
    static char out[1100];
    struct Case {
        const char *id;
        int n;
    };
#define FORMAT(id, ...)                                   \
    do {                                                  \
        Fill(out, 64);                                    \
        int n = Format(out, __VA_ARGS__);                 \
        Line("wvsprintf", id).RetErr(n).Text("out", out); \
    } while (0)
    FORMAT("d", "%d|%i|%d", 42, -7, 0);
    FORMAT("u", "%u|%u", 42u, 0xFFFFFFFFu);
    FORMAT("x", "%x|%X|%#x|%#X|%x", 0xBEEFu, 0xBEEFu, 255u, 255u, 0u);
    FORMAT("width", "[%5d][%-5d][%05d][%-05d]", 42, 42, 42, 42);
    FORMAT("neg-zero", "[%05d][%5d]", -42, -42);
    FORMAT("precision", "[%.3d][%.0d][%8.3d]", 7, 0, -7);
    FORMAT("l", "%ld|%lu|%lx|%li", -5L, 5UL, 0xABCDEFUL, 123456L);
    FORMAT("h", "%hd|%hu|%hx", 0x12345, 0x1FFFF, 0x1ABCD);
    FORMAT("s", "[%s][%10s][%-10s][%.2s]", "abc", "abc", "abc", "abc");
    FORMAT("null-s", "[%s]", static_cast<const char *>(nullptr));
    FORMAT("c", "[%c][%3c][%-3c]", 'x', 'y', 'z');
    FORMAT("percent", "100%% %q %");
    FORMAT("empty", "");
    FORMAT("hs", "%hs|%hc", "narrow", 'n');
    FORMAT("prefix-zero", "[%#08x]", 0xABu);
    FORMAT("big-width", "[%40d]", 1);
    FORMAT("star", "[%*d]", 5, 1);
    FORMAT("plus-space", "[%+d][% d]", 5, 5);
#undef FORMAT
    char longText[1100];
    std::memset(longText, 'a', sizeof longText - 1);
    longText[sizeof longText - 1] = 0;
    Fill(out, sizeof out);
    int n = Format(out, "%s", longText);
    Line("wvsprintf.overflow")
        .RetErr(n)
        .Num("len", static_cast<unsigned long>(strnlen(out, sizeof out)))
        .Bytes("tail", out + 1020, 8);

    char small[64];
    Fill(small, sizeof small);
    n = TRY(wsprintfA(small, "%s-%d-%c", "w", 5, 'q'));
    Line("wsprintf.plain").RetErr(n).Text("out", small);
}

// ------------------------------------------------------------------- memory

void Memory() {
    HLOCAL fixed = TRY(LocalAlloc(LMEM_FIXED, 16));
    Line("local.fixed16").Handle("ret", fixed).Err();
    Line("local.fixed16.size").RetErr(static_cast<long>(TRY(LocalSize(fixed))));
    LPVOID p = TRY(LocalLock(fixed));
    Line("local.fixed16.lock")
        .Add(" ret=%s", p == fixed ? "same"
                        : p        ? "other"
                                   : "NULL")
        .Err();
    BOOL ok = TRY(LocalUnlock(fixed));
    Line("local.fixed16.unlock").RetErr(ok);
    HLOCAL freed = TRY(LocalFree(fixed));
    Line("local.fixed16.free").Handle("ret", freed).Err();

    HLOCAL zeroed = TRY(LocalAlloc(LPTR, 12));
    Line("local.lptr12").Handle("ret", zeroed).Err().Bytes("data", zeroed, 12);
    LocalFree(zeroed);

    HLOCAL empty = TRY(LocalAlloc(LMEM_FIXED, 0));
    Line("local.fixed0").Handle("ret", empty).Err();
    Line("local.fixed0.size").RetErr(static_cast<long>(TRY(LocalSize(empty))));
    LocalFree(empty);

    HLOCAL moveable = TRY(LocalAlloc(LHND, 20));
    Line("local.moveable20").Handle("ret", moveable).Err();
    Line("local.moveable20.size")
        .RetErr(static_cast<long>(TRY(LocalSize(moveable))));
    p = TRY(LocalLock(moveable));
    Line("local.moveable20.lock1")
        .Add(" ret=%s", p == nullptr    ? "NULL"
                        : p == moveable ? "handle"
                                        : "pointer")
        .Err()
        .Bytes("data", p, p ? 20 : 0);
    LPVOID q = TRY(LocalLock(moveable));
    Line("local.moveable20.lock2")
        .Add(" ret=%s", q == p ? "same" : "other")
        .Err();
    ok = TRY(LocalUnlock(moveable));
    Line("local.moveable20.unlock1").RetErr(ok);
    ok = TRY(LocalUnlock(moveable));
    Line("local.moveable20.unlock2").RetErr(ok);
    ok = TRY(LocalUnlock(moveable));
    Line("local.moveable20.unlock3").RetErr(ok);
    freed = TRY(LocalFree(moveable));
    Line("local.moveable20.free").Handle("ret", freed).Err();
    freed = TRY(LocalFree(moveable));
    Line("local.moveable20.free-again")
        .Add(" ret=%s", freed == moveable ? "handle"
                        : freed           ? "other"
                                          : "NULL")
        .Err();
    Line("local.moveable20.size-freed")
        .RetErr(static_cast<long>(TRY(LocalSize(moveable))));
    p = TRY(LocalLock(moveable));
    Line("local.moveable20.lock-freed").Handle("ret", p).Err();

    HLOCAL discarded = TRY(LocalAlloc(LMEM_MOVEABLE, 0));
    Line("local.moveable0").Handle("ret", discarded).Err();
    Line("local.moveable0.size")
        .RetErr(static_cast<long>(TRY(LocalSize(discarded))));
    p = TRY(LocalLock(discarded));
    Line("local.moveable0.lock").Handle("ret", p).Err();
    LocalFree(discarded);

    freed = TRY(LocalFree(nullptr));
    Line("local.free-null").Handle("ret", freed).Err();
    p = TRY(LocalLock(nullptr));
    Line("local.lock-null").Handle("ret", p).Err();
    Line("local.size-null").RetErr(static_cast<long>(TRY(LocalSize(nullptr))));
    HLOCAL huge = TRY(LocalAlloc(LMEM_FIXED, static_cast<SIZE_T>(-64)));
    Line("local.huge").Handle("ret", huge).Err();
}

// -------------------------------------------------------------- directories

// The result of a call that returns a text's length, relative to the length
// L of the text itself.
void Relative(Line &line, long ret, long length) {
    if (ret == length)
        line.Add(" ret=L");
    else if (ret == length + 1)
        line.Add(" ret=L+1");
    else
        line.Add(" ret=%ld", ret);
}

void UpperCase(char *text) {
    for (; *text; ++text)
        if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 32);
}

// GetWindowsDirectoryA and its kin with buffers of every interesting size.
template <typename Call>
void DirectoryText(const char *group, Call call) {
    char full[MAX_PATH];
    long length = static_cast<long>(call(full, MAX_PATH));
    {
        Line line(group, "full");
        Relative(line, static_cast<long>(length),
                 static_cast<long>(std::strlen(full)));
        line.Err();
    }
    char buffer[MAX_PATH + 8];
    const struct {
        const char *id;
        long size;
    } sizes[] = {{"null0", -1},     {"size0", 0},
                 {"size1", 1},      {"sizeL-1", length - 1},
                 {"sizeL", length}, {"sizeL+1", length + 1}};
    for (const auto &s : sizes) {
        Fill(buffer, sizeof buffer);
        long ret = s.size < 0 ? TRY(static_cast<long>(call(nullptr, 0)))
                              : TRY(static_cast<long>(
                                    call(buffer, static_cast<DWORD>(s.size))));
        Line line(group, s.id);
        Relative(line, ret, length);
        line.Err();
        if (s.size >= 0) {
            // The buffer as a shape: text, NUL, untouched.
            size_t used = sizeof buffer;
            while (used > 0 && static_cast<BYTE>(buffer[used - 1]) == kFill)
                --used;
            size_t text = strnlen(buffer, used);
            line.Add(" written=%s", used == 0 ? "none"
                                    : text == static_cast<size_t>(length)
                                        ? "text+NUL"
                                    : text < used ? "part+NUL"
                                                  : "part");
            if (used)
                line.Num("wrote", static_cast<unsigned long>(used)).Add("/L");
        }
    }
}

void Directories() {
    char windows[MAX_PATH], text[MAX_PATH + 8];
    GetWindowsDirectoryA(windows, MAX_PATH);
    UpperCase(windows);
    DirectoryText("windir",
                  [](LPSTR b, DWORD n) { return GetWindowsDirectoryA(b, n); });
    DirectoryText("sysdir",
                  [](LPSTR b, DWORD n) { return GetSystemDirectoryA(b, n); });
    DirectoryText("temppath",
                  [](LPSTR b, DWORD n) { return GetTempPathA(n, b); });
    DirectoryText("curdir",
                  [](LPSTR b, DWORD n) { return GetCurrentDirectoryA(n, b); });
    Line("windir.text")
        .Num("is-c-windows", std::strcmp(windows, "C:\\WINDOWS") == 0);
    GetSystemDirectoryA(text, MAX_PATH);
    UpperCase(text);
    size_t w = std::strlen(windows);
    Line("sysdir.text")
        .Num("below-windir",
             std::strncmp(text, windows, w) == 0 && text[w] == '\\')
        .Text("rest", std::strncmp(text, windows, w) == 0 ? text + w : text);
    GetTempPathA(MAX_PATH, text);
    UpperCase(text);
    Line("temppath.text")
        .Num("below-windir", std::strncmp(text, windows, w) == 0)
        .Text("rest", std::strncmp(text, windows, w) == 0 ? text + w : text);
    GetCurrentDirectoryA(MAX_PATH, text);
    Line("curdir.text").Text("cwd", text);
}

void CurrentDirectory() {
    const struct {
        const char *id, *path;
    } grid[] = {
        {"scratch", "C:\\APIDIFF"},
        {"relative-sub", "SUB"},
        {"dotdot", ".."},
        {"dot", "."},
        {"trailing-slash", "C:\\APIDIFF\\SUB\\"},
        {"forward-slash", "C:/APIDIFF/SUB"},
        {"missing", "C:\\APIDIFF\\NONE"},
        {"missing-parent", "C:\\NONE\\SUB"},
        {"file", "C:\\APIDIFF\\A.TXT"},
        {"empty", ""},
        {"root-relative", "\\APIDIFF"},
        {"drive-only", "C:"},
        {"root", "C:\\"},
        {"wildcard", "C:\\APIDIF*"},
        {"dotdot-above-root", "C:\\..\\.."},
        {"dotdot-inside", "C:\\APIDIFF\\SUB\\..\\SUB"},
        {"lower-case", "c:\\apidiff"},
    };
    char cwd[MAX_PATH];
    for (const auto &c : grid) {
        BOOL ok = TRY(SetCurrentDirectoryA(c.path));
        Fill(cwd, sizeof cwd);
        GetCurrentDirectoryA(MAX_PATH, cwd);
        Line("setcwd", c.id).RetErr(ok).Text("cwd", cwd);
    }
    SetCurrentDirectoryA("C:\\");
}

void MakeFile(const char *name, const char *content) {
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Line("fixture").Text("could-not-make", name);
        return;
    }
    DWORD written;
    WriteFile(h, content, static_cast<DWORD>(std::strlen(content)), &written,
              nullptr);
    CloseHandle(h);
}

void CreateAndRemoveDirectories() {
    const struct {
        const char *id, *path;
    } creates[] = {
        {"new", "C:\\APIDIFF\\D1"},
        {"existing", "C:\\APIDIFF\\D1"},
        {"existing-case", "c:\\apidiff\\d1"},
        {"trailing-slash", "C:\\APIDIFF\\D2\\"},
        {"missing-parent", "C:\\APIDIFF\\NONE\\D3"},
        {"on-file", "C:\\APIDIFF\\A.TXT"},
        {"root", "C:\\"},
        {"drive", "C:"},
        {"dot", "C:\\APIDIFF\\."},
        {"dotdot", "C:\\APIDIFF\\D1\\.."},
        {"wildcard", "C:\\APIDIFF\\D*"},
        {"question", "C:\\APIDIFF\\D?"},
        {"bad-char", "C:\\APIDIFF\\D<"},
        {"relative", "D4"},
        {"empty", ""},
        {"trailing-dot", "C:\\APIDIFF\\D5."},
    };
    SetCurrentDirectoryA("C:\\APIDIFF");
    for (const auto &c : creates) {
        BOOL ok = TRY(CreateDirectoryA(c.path, nullptr));
        DWORD attributes = GetFileAttributesA(c.path);
        Line("mkdir", c.id).RetErr(ok).Hex("attr", attributes);
    }
    SetCurrentDirectoryA("C:\\");
    SetCurrentDirectoryA("C:\\APIDIFF\\D1");
    CreateDirectoryA("C:\\APIDIFF\\D6", nullptr);
    MakeFile("C:\\APIDIFF\\D6\\F.TXT", "f");
    CreateDirectoryA("C:\\APIDIFF\\RO", nullptr);
    SetFileAttributesA("C:\\APIDIFF\\RO", FILE_ATTRIBUTE_READONLY);
    const struct {
        const char *id, *path;
    } removes[] = {
        {"current", "C:\\APIDIFF\\D1"},
        {"not-empty", "C:\\APIDIFF\\D6"},
        {"missing", "C:\\APIDIFF\\NONE"},
        {"missing-parent", "C:\\APIDIFF\\NONE\\X"},
        {"file", "C:\\APIDIFF\\A.TXT"},
        {"root", "C:\\"},
        {"read-only", "C:\\APIDIFF\\RO"},
        {"trailing-slash", "C:\\APIDIFF\\D2\\"},
        {"wildcard", "C:\\APIDIFF\\D*"},
        {"empty", ""},
        {"relative", "..\\D4"},
    };
    for (const auto &c : removes) {
        BOOL ok = TRY(RemoveDirectoryA(c.path));
        DWORD attributes = GetFileAttributesA(c.path);
        Line("rmdir", c.id).RetErr(ok).Hex("attr", attributes);
    }
    SetCurrentDirectoryA("C:\\");
    BOOL ok = TRY(RemoveDirectoryA("C:\\APIDIFF\\D1"));
    Line("rmdir.no-longer-current").RetErr(ok);
    SetFileAttributesA("C:\\APIDIFF\\RO", FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA("C:\\APIDIFF\\RO");
    DeleteFileA("C:\\APIDIFF\\D6\\F.TXT");
    RemoveDirectoryA("C:\\APIDIFF\\D6");
    RemoveDirectoryA("C:\\APIDIFF\\D2");
    RemoveDirectoryA("C:\\APIDIFF\\D4");
    RemoveDirectoryA("C:\\APIDIFF\\D5");
    RemoveDirectoryA("C:\\APIDIFF\\D5.");
}

// -------------------------------------------------------------------- files

const char *kAccessName[] = {"-", "r", "w", "rw"};
const DWORD kAccess[] = {0, GENERIC_READ, GENERIC_WRITE,
                         GENERIC_READ | GENERIC_WRITE};
const char *kShareName[] = {"-", "R", "W", "RW"};
const DWORD kShare[] = {0, FILE_SHARE_READ, FILE_SHARE_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE};

void CreateFileGrid() {
    const struct {
        const char *id, *path;
        DWORD access, disposition, attributes;
    } grid[] = {
        {"new.create-new", "C:\\APIDIFF\\N1.TXT", GENERIC_WRITE, CREATE_NEW, 0},
        {"existing.create-new", "C:\\APIDIFF\\A.TXT", GENERIC_WRITE, CREATE_NEW,
         0},
        {"existing.create-always", "C:\\APIDIFF\\N1.TXT", GENERIC_WRITE,
         CREATE_ALWAYS, 0},
        {"new.create-always", "C:\\APIDIFF\\N2.TXT", GENERIC_WRITE,
         CREATE_ALWAYS, 0},
        {"existing.open-existing", "C:\\APIDIFF\\A.TXT", GENERIC_READ,
         OPEN_EXISTING, 0},
        {"missing.open-existing", "C:\\APIDIFF\\NONE.TXT", GENERIC_READ,
         OPEN_EXISTING, 0},
        {"missing-dir.open-existing", "C:\\NONE\\A.TXT", GENERIC_READ,
         OPEN_EXISTING, 0},
        {"missing-dir.create-always", "C:\\NONE\\A.TXT", GENERIC_WRITE,
         CREATE_ALWAYS, 0},
        {"existing.open-always", "C:\\APIDIFF\\A.TXT", GENERIC_READ,
         OPEN_ALWAYS, 0},
        {"new.open-always", "C:\\APIDIFF\\N3.TXT", GENERIC_READ, OPEN_ALWAYS,
         0},
        {"existing.truncate", "C:\\APIDIFF\\N1.TXT", GENERIC_WRITE,
         TRUNCATE_EXISTING, 0},
        {"existing.truncate-read", "C:\\APIDIFF\\N1.TXT", GENERIC_READ,
         TRUNCATE_EXISTING, 0},
        {"missing.truncate", "C:\\APIDIFF\\NONE.TXT", GENERIC_WRITE,
         TRUNCATE_EXISTING, 0},
        {"disposition0", "C:\\APIDIFF\\A.TXT", GENERIC_READ, 0, 0},
        {"disposition6", "C:\\APIDIFF\\A.TXT", GENERIC_READ, 6, 0},
        {"directory.read", "C:\\APIDIFF\\SUB", GENERIC_READ, OPEN_EXISTING, 0},
        {"directory.access0", "C:\\APIDIFF\\SUB", 0, OPEN_EXISTING, 0},
        {"root", "C:\\", GENERIC_READ, OPEN_EXISTING, 0},
        {"trailing-slash", "C:\\APIDIFF\\A.TXT\\", GENERIC_READ, OPEN_EXISTING,
         0},
        {"trailing-slash.create", "C:\\APIDIFF\\N4.TXT\\", GENERIC_WRITE,
         CREATE_ALWAYS, 0},
        {"trailing-dot", "C:\\APIDIFF\\A.TXT.", GENERIC_READ, OPEN_EXISTING, 0},
        {"trailing-space", "C:\\APIDIFF\\A.TXT ", GENERIC_READ, OPEN_EXISTING,
         0},
        {"wildcard", "C:\\APIDIFF\\*.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"wildcard.create", "C:\\APIDIFF\\?.TXT", GENERIC_WRITE, CREATE_ALWAYS,
         0},
        {"bad-char", "C:\\APIDIFF\\A|B.TXT", GENERIC_WRITE, CREATE_ALWAYS, 0},
        {"read-only.read", "C:\\APIDIFF\\RO.TXT", GENERIC_READ, OPEN_EXISTING,
         0},
        {"read-only.write", "C:\\APIDIFF\\RO.TXT", GENERIC_WRITE, OPEN_EXISTING,
         0},
        {"read-only.create-always", "C:\\APIDIFF\\RO.TXT", GENERIC_WRITE,
         CREATE_ALWAYS, 0},
        {"read-only.open-always-read", "C:\\APIDIFF\\RO.TXT", GENERIC_READ,
         OPEN_ALWAYS, 0},
        {"read-only.access0", "C:\\APIDIFF\\RO.TXT", 0, OPEN_EXISTING, 0},
        {"new-read-only-attr", "C:\\APIDIFF\\N5.TXT", GENERIC_WRITE, CREATE_NEW,
         FILE_ATTRIBUTE_READONLY},
        {"new-hidden-attr", "C:\\APIDIFF\\N6.TXT", GENERIC_WRITE, CREATE_NEW,
         FILE_ATTRIBUTE_HIDDEN},
        {"leading-slash", "\\APIDIFF\\A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"drive-relative", "C:APIDIFF\\A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"relative", "APIDIFF\\A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"dot-relative", ".\\APIDIFF\\A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"dotdot", "C:\\APIDIFF\\SUB\\..\\A.TXT", GENERIC_READ, OPEN_EXISTING,
         0},
        {"dotdot-above-root", "C:\\..\\APIDIFF\\A.TXT", GENERIC_READ,
         OPEN_EXISTING, 0},
        {"double-slash", "C:\\APIDIFF\\\\A.TXT", GENERIC_READ, OPEN_EXISTING,
         0},
        {"forward-slash", "C:/APIDIFF/A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
        {"lower-case", "c:\\apidiff\\a.txt", GENERIC_READ, OPEN_EXISTING, 0},
        {"empty", "", GENERIC_READ, OPEN_EXISTING, 0},
        {"nul", "NUL", GENERIC_WRITE, OPEN_EXISTING, 0},
        {"nul-create", "NUL", GENERIC_WRITE, CREATE_ALWAYS, 0},
        {"nul-in-dir", "C:\\APIDIFF\\NUL", GENERIC_WRITE, OPEN_EXISTING, 0},
        {"nul-extension", "C:\\APIDIFF\\NUL.TXT", GENERIC_WRITE, OPEN_EXISTING,
         0},
        {"c-nul", "C:\\NUL", GENERIC_READ, OPEN_EXISTING, 0},
        {"missing-drive", "Q:\\A.TXT", GENERIC_READ, OPEN_EXISTING, 0},
    };
    SetCurrentDirectoryA("C:\\");
    for (const auto &c : grid) {
        HANDLE h = TRY(CreateFileA(
            c.path, c.access, FILE_SHARE_READ, nullptr, c.disposition,
            c.attributes ? c.attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD error = lastError;
        DWORD size = 0xCCCC;
        if (h != INVALID_HANDLE_VALUE) {
            size = GetFileSize(h, nullptr);
            CloseHandle(h);
        }
        lastError = error;
        Line("create", c.id)
            .Handle("ret", h)
            .Err()
            .Hex("size", size)
            .Hex("attr", GetFileAttributesA(c.path));
    }
    SetFileAttributesA("C:\\APIDIFF\\N5.TXT", FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA("C:\\APIDIFF\\N6.TXT", FILE_ATTRIBUTE_NORMAL);
    for (const char *name :
         {"C:\\APIDIFF\\N1.TXT", "C:\\APIDIFF\\N2.TXT", "C:\\APIDIFF\\N3.TXT",
          "C:\\APIDIFF\\N4.TXT", "C:\\APIDIFF\\N5.TXT", "C:\\APIDIFF\\N6.TXT"})
        DeleteFileA(name);
}

// A second open of a file held open with each access and share mode.
void SharingMatrix() {
    const char *name = "C:\\APIDIFF\\SHARE.TXT";
    MakeFile(name, "share");
    for (int a1 = 0; a1 < 4; ++a1)
        for (int s1 = 0; s1 < 4; ++s1) {
            HANDLE first =
                CreateFileA(name, kAccess[a1], kShare[s1], nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            char row[48];
            std::snprintf(row, sizeof row, "share.%s%s", kAccessName[a1],
                          kShareName[s1]);
            if (first == INVALID_HANDLE_VALUE) {
                Line(row, "first").Add(" failed").Err();
                continue;
            }
            Line line(row, "second");
            for (int a2 = 0; a2 < 4; ++a2)
                for (int s2 = 0; s2 < 4; ++s2) {
                    HANDLE second = TRY(CreateFileA(
                        name, kAccess[a2], kShare[s2], nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr));
                    if (second != INVALID_HANDLE_VALUE) {
                        line.Add(" %s%s=ok", kAccessName[a2], kShareName[s2]);
                        CloseHandle(second);
                    } else {
                        line.Add(" %s%s=%lu", kAccessName[a2], kShareName[s2],
                                 static_cast<unsigned long>(lastError));
                    }
                }
            CloseHandle(first);
        }
    DeleteFileA(name);
}

// CopyFileA, MoveFileA and DeleteFileA on a file held open with each access
// and share mode.
void OpenFileOperations() {
    const char *source = "C:\\APIDIFF\\OPEN.TXT";
    const char *copy = "C:\\APIDIFF\\OPENCOPY.TXT";
    const char *moved = "C:\\APIDIFF\\OPENMOVE.TXT";
    for (int a = 0; a < 4; ++a)
        for (int s = 0; s < 4; ++s) {
            char row[48];
            std::snprintf(row, sizeof row, "openop.%s%s", kAccessName[a],
                          kShareName[s]);
            Line line(row);
            MakeFile(source, "open file");
            MakeFile(copy, "old copy");
            HANDLE h =
                CreateFileA(source, kAccess[a], kShare[s], nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                line.Add(" open-failed=%lu",
                         static_cast<unsigned long>(GetLastError()));
                continue;
            }
            BOOL ok = TRY(CopyFileA(source, "C:\\APIDIFF\\COPYNEW.TXT", FALSE));
            line.Outcome("copy-from", ok);
            ok = TRY(CopyFileA("C:\\APIDIFF\\A.TXT", source, FALSE));
            line.Outcome("copy-onto", ok);
            ok = TRY(CopyFileA(copy, source, TRUE));
            line.Outcome("copy-onto-fail-if-exists", ok);
            ok = TRY(MoveFileA(source, moved));
            line.Outcome("move", ok);
            ok = TRY(MoveFileA(moved, source));
            if (ok) line.Add(" moved-back");
            ok = TRY(MoveFileA(copy, source));
            line.Outcome("move-onto", ok);
            ok = TRY(DeleteFileA(source));
            line.Outcome("delete", ok);
            ok = TRY(SetFileAttributesA(source, FILE_ATTRIBUTE_READONLY));
            line.Outcome("set-ro", ok);
            SetFileAttributesA(source, FILE_ATTRIBUTE_NORMAL);
            ok = TRY(CloseHandle(h));
            line.Outcome("close", ok);
            ok = TRY(CloseHandle(h));
            line.Outcome("close-again", ok);
            DeleteFileA(source);
            DeleteFileA(moved);
            DeleteFileA(copy);
            DeleteFileA("C:\\APIDIFF\\COPYNEW.TXT");
        }
}

void ReadWriteSeek() {
    const char *name = "C:\\APIDIFF\\RW.TXT";
    HANDLE w = TRY(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Line("rw.create").Handle("ret", w).Err();
    DWORD done = 0xCCCC;
    BOOL ok = TRY(WriteFile(w, "0123456789", 10, &done, nullptr));
    Line("rw.write10").RetErr(ok).Num("done", done);
    done = 0xCCCC;
    ok = TRY(WriteFile(w, "", 0, &done, nullptr));
    Line("rw.write0").RetErr(ok).Num("done", done);
    char buffer[32];
    Fill(buffer, sizeof buffer);
    done = 0xCCCC;
    ok = TRY(ReadFile(w, buffer, 4, &done, nullptr));
    Line("rw.read-on-write-handle").RetErr(ok).Num("done", done);
    ok = TRY(FlushFileBuffers(w));
    Line("rw.flush-write").RetErr(ok);
    DWORD high = 0xCCCC;
    DWORD size = TRY(GetFileSize(w, &high));
    Line("rw.size").RetErr(static_cast<long>(size)).Num("high", high);
    size = TRY(GetFileSize(w, nullptr));
    Line("rw.size-nohigh").RetErr(static_cast<long>(size));

    HANDLE r = TRY(CreateFileA(name, GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Line("rw.open-read").Handle("ret", r).Err();
    done = 0xCCCC;
    ok = TRY(WriteFile(r, "x", 1, &done, nullptr));
    Line("rw.write-on-read-handle").RetErr(ok).Num("done", done);
    ok = TRY(FlushFileBuffers(r));
    Line("rw.flush-read").RetErr(ok);
    Fill(buffer, sizeof buffer);
    done = 0xCCCC;
    ok = TRY(ReadFile(r, buffer, 4, &done, nullptr));
    Line("rw.read4").RetErr(ok).Num("done", done).Bytes("buf", buffer, 8);
    struct Seek {
        const char *id;
        LONG distance;
        bool useHigh;
        LONG high;
        DWORD method;
    };
    const Seek seeks[] = {
        {"begin-2", 2, false, 0, FILE_BEGIN},
        {"current+3", 3, false, 0, FILE_CURRENT},
        {"end-1", -1, false, 0, FILE_END},
        {"end+5", 5, false, 0, FILE_END},
        {"begin-negative", -1, false, 0, FILE_BEGIN},
        {"current-negative", -100, false, 0, FILE_CURRENT},
        {"high-begin-0", 0, true, 0, FILE_BEGIN},
        {"high-end-negative", -20, true, -1, FILE_END},
        {"method3", 0, false, 0, 3},
        {"begin-7", 7, false, 0, FILE_BEGIN},
    };
    for (const Seek &s : seeks) {
        LONG h = s.high;
        DWORD pos = TRY(
            SetFilePointer(r, s.distance, s.useHigh ? &h : nullptr, s.method));
        Line line("seek", s.id);
        line.Hex("ret", pos).Err();
        if (s.useHigh) line.Add(" high=%ld", static_cast<long>(h));
    }
    Fill(buffer, sizeof buffer);
    done = 0xCCCC;
    ok = TRY(ReadFile(r, buffer, 10, &done, nullptr));
    Line("rw.read-at-7").RetErr(ok).Num("done", done).Bytes("buf", buffer, 12);
    done = 0xCCCC;
    ok = TRY(ReadFile(r, buffer, 10, &done, nullptr));
    Line("rw.read-at-eof").RetErr(ok).Num("done", done);
    SetFilePointer(r, 100, nullptr, FILE_BEGIN);
    done = 0xCCCC;
    ok = TRY(ReadFile(r, buffer, 10, &done, nullptr));
    Line("rw.read-past-eof").RetErr(ok).Num("done", done);
    done = 0xCCCC;
    ok = TRY(ReadFile(r, nullptr, 0, &done, nullptr));
    Line("rw.read0-null").RetErr(ok).Num("done", done);

    // Writes through one handle are seen through the other at once.
    SetFilePointer(w, 0, nullptr, FILE_END);
    WriteFile(w, "AB", 2, &done, nullptr);
    SetFilePointer(r, 9, nullptr, FILE_BEGIN);
    Fill(buffer, sizeof buffer);
    ok = TRY(ReadFile(r, buffer, 8, &done, nullptr));
    Line("rw.read-others-write")
        .RetErr(ok)
        .Num("done", done)
        .Bytes("buf", buffer, 8);
    size = TRY(GetFileSize(r, nullptr));
    Line("rw.size-others-write").RetErr(static_cast<long>(size));
    // Writing past the end fills the gap.
    SetFilePointer(w, 16, nullptr, FILE_BEGIN);
    WriteFile(w, "Z", 1, &done, nullptr);
    size = TRY(GetFileSize(w, nullptr));
    Line("rw.size-after-gap").RetErr(static_cast<long>(size));

    FILETIME created, accessed, written;
    Fill(&created, sizeof created);
    Fill(&accessed, sizeof accessed);
    Fill(&written, sizeof written);
    ok = TRY(GetFileTime(r, &created, &accessed, &written));
    WORD date = 0, time = 0;
    FileTimeToDosDateTime(&written, &date, &time);
    Line("rw.filetime")
        .RetErr(ok)
        .Add(" created=%s accessed=%s written=%s", TimeState(created),
             TimeState(accessed), TimeState(written))
        .Num("dos-year>=2020", 1980 + (date >> 9) >= 2020);
    ok = TRY(GetFileTime(r, nullptr, nullptr, nullptr));
    Line("rw.filetime-null").RetErr(ok);

    ok = TRY(CloseHandle(r));
    Line("rw.close-read").RetErr(ok);
    ok = TRY(CloseHandle(w));
    Line("rw.close-write").RetErr(ok);

    HANDLE closed = w;
    done = 0xCCCC;
    ok = TRY(ReadFile(closed, buffer, 1, &done, nullptr));
    Line("bad-handle.read-closed").RetErr(ok).Num("done", done);
    ok = TRY(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &done, nullptr));
    Line("bad-handle.write-invalid").RetErr(ok).Num("done", done);
    size = TRY(GetFileSize(INVALID_HANDLE_VALUE, nullptr));
    Line("bad-handle.size-invalid").Hex("ret", size).Err();
    DWORD pos =
        TRY(SetFilePointer(INVALID_HANDLE_VALUE, 0, nullptr, FILE_BEGIN));
    Line("bad-handle.seek-invalid").Hex("ret", pos).Err();
    ok = TRY(FlushFileBuffers(INVALID_HANDLE_VALUE));
    Line("bad-handle.flush-invalid").RetErr(ok);
    ok = TRY(GetFileTime(INVALID_HANDLE_VALUE, &created, nullptr, nullptr));
    Line("bad-handle.filetime-invalid").RetErr(ok);
    ok = TRY(CloseHandle(INVALID_HANDLE_VALUE));
    Line("bad-handle.close-invalid").RetErr(ok);
    ok = TRY(CloseHandle(nullptr));
    Line("bad-handle.close-null").RetErr(ok);
    DeleteFileA(name);
}

void CopyMoveDelete() {
    MakeFile("C:\\APIDIFF\\SRC.TXT", "source");
    MakeFile("C:\\APIDIFF\\DST.TXT", "target!");
    MakeFile("C:\\APIDIFF\\ROSRC.TXT", "read-only source");
    SetFileAttributesA("C:\\APIDIFF\\ROSRC.TXT", FILE_ATTRIBUTE_READONLY);
    struct Op {
        const char *id, *from, *to;
        BOOL failIfExists;
    };
    const Op copies[] = {
        {"new", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\C1.TXT", TRUE},
        {"existing.fail", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\DST.TXT", TRUE},
        {"existing.replace", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\DST.TXT",
         FALSE},
        {"missing", "C:\\APIDIFF\\NONE.TXT", "C:\\APIDIFF\\C2.TXT", FALSE},
        {"missing-dir-source", "C:\\NONE\\A.TXT", "C:\\APIDIFF\\C2.TXT", FALSE},
        {"missing-dir-target", "C:\\APIDIFF\\SRC.TXT", "C:\\NONE\\C2.TXT",
         FALSE},
        {"onto-read-only", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\RO.TXT",
         FALSE},
        {"read-only-source", "C:\\APIDIFF\\ROSRC.TXT", "C:\\APIDIFF\\C3.TXT",
         FALSE},
        {"directory-source", "C:\\APIDIFF\\SUB", "C:\\APIDIFF\\C4.TXT", FALSE},
        {"onto-directory", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\SUB", FALSE},
        {"onto-itself", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\SRC.TXT", FALSE},
        {"onto-itself-case", "C:\\APIDIFF\\SRC.TXT", "c:\\apidiff\\src.txt",
         FALSE},
        {"trailing-slash-target", "C:\\APIDIFF\\SRC.TXT",
         "C:\\APIDIFF\\C5.TXT\\", FALSE},
        {"wildcard-source", "C:\\APIDIFF\\S*.TXT", "C:\\APIDIFF\\C6.TXT",
         FALSE},
        {"wildcard-target", "C:\\APIDIFF\\SRC.TXT", "C:\\APIDIFF\\C*.TXT",
         FALSE},
        {"to-nul", "C:\\APIDIFF\\SRC.TXT", "NUL", FALSE},
        {"empty-source", "", "C:\\APIDIFF\\C7.TXT", FALSE},
    };
    for (const Op &c : copies) {
        BOOL ok = TRY(CopyFileA(c.from, c.to, c.failIfExists));
        char content[32];
        Fill(content, sizeof content);
        DWORD got = 0;
        HANDLE h = CreateFileA(c.to, GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            ReadFile(h, content, sizeof content, &got, nullptr);
            CloseHandle(h);
        }
        Line("copy", c.id)
            .RetErr(ok)
            .Hex("attr", GetFileAttributesA(c.to))
            .Bytes("content", content, got);
    }
    SetFileAttributesA("C:\\APIDIFF\\C3.TXT", FILE_ATTRIBUTE_NORMAL);
    for (const char *n :
         {"C:\\APIDIFF\\C1.TXT", "C:\\APIDIFF\\C3.TXT", "C:\\APIDIFF\\C5.TXT"})
        DeleteFileA(n);

    MakeFile("C:\\APIDIFF\\M1.TXT", "m1");
    CreateDirectoryA("C:\\APIDIFF\\MD", nullptr);
    const Op moves[] = {
        {"rename", "C:\\APIDIFF\\M1.TXT", "C:\\APIDIFF\\M2.TXT", FALSE},
        {"onto-existing", "C:\\APIDIFF\\M2.TXT", "C:\\APIDIFF\\DST.TXT", FALSE},
        {"missing", "C:\\APIDIFF\\NONE.TXT", "C:\\APIDIFF\\M3.TXT", FALSE},
        {"missing-dir-target", "C:\\APIDIFF\\M2.TXT", "C:\\NONE\\M3.TXT",
         FALSE},
        {"into-dir", "C:\\APIDIFF\\M2.TXT", "C:\\APIDIFF\\MD\\M2.TXT", FALSE},
        {"out-of-dir", "C:\\APIDIFF\\MD\\M2.TXT", "C:\\APIDIFF\\M2.TXT", FALSE},
        {"case-only", "C:\\APIDIFF\\M2.TXT", "C:\\APIDIFF\\m2.txt", FALSE},
        {"onto-itself", "C:\\APIDIFF\\m2.txt", "C:\\APIDIFF\\m2.txt", FALSE},
        {"directory", "C:\\APIDIFF\\MD", "C:\\APIDIFF\\MD2", FALSE},
        {"directory-into-itself", "C:\\APIDIFF\\MD2", "C:\\APIDIFF\\MD2\\X",
         FALSE},
        {"read-only", "C:\\APIDIFF\\RO.TXT", "C:\\APIDIFF\\RO2.TXT", FALSE},
        {"read-only-back", "C:\\APIDIFF\\RO2.TXT", "C:\\APIDIFF\\RO.TXT",
         FALSE},
        {"root", "C:\\", "C:\\X", FALSE},
        {"wildcard", "C:\\APIDIFF\\M*.TXT", "C:\\APIDIFF\\M4.TXT", FALSE},
        {"trailing-slash-target", "C:\\APIDIFF\\m2.txt",
         "C:\\APIDIFF\\M5.TXT\\", FALSE},
        {"other-drive", "C:\\APIDIFF\\m2.txt", "Q:\\M.TXT", FALSE},
    };
    for (const Op &m : moves) {
        BOOL ok = TRY(MoveFileA(m.from, m.to));
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA(m.to, &found);
        Line line("move", m.id);
        line.RetErr(ok).Hex("from-attr", GetFileAttributesA(m.from));
        if (h != INVALID_HANDLE_VALUE) {
            line.Text("found", found.cFileName);
            FindClose(h);
        } else {
            line.Add(" found=none");
        }
    }
    DeleteFileA("C:\\APIDIFF\\M5.TXT");
    RemoveDirectoryA("C:\\APIDIFF\\MD2");
    RemoveDirectoryA("C:\\APIDIFF\\MD");
    DeleteFileA("C:\\APIDIFF\\m2.txt");

    MakeFile("C:\\APIDIFF\\DEL.TXT", "del");
    const struct {
        const char *id, *path;
    } deletes[] = {
        {"existing", "C:\\APIDIFF\\DEL.TXT"},
        {"again", "C:\\APIDIFF\\DEL.TXT"},
        {"missing-dir", "C:\\NONE\\DEL.TXT"},
        {"read-only", "C:\\APIDIFF\\ROSRC.TXT"},
        {"directory", "C:\\APIDIFF\\SUB"},
        {"wildcard", "C:\\APIDIFF\\*.TXT"},
        {"trailing-slash", "C:\\APIDIFF\\DST.TXT\\"},
        {"root", "C:\\"},
        {"empty", ""},
        {"nul", "NUL"},
    };
    for (const auto &d : deletes) {
        BOOL ok = TRY(DeleteFileA(d.path));
        Line("delete", d.id).RetErr(ok).Hex("attr", GetFileAttributesA(d.path));
    }
    SetFileAttributesA("C:\\APIDIFF\\ROSRC.TXT", FILE_ATTRIBUTE_NORMAL);
    DeleteFileA("C:\\APIDIFF\\ROSRC.TXT");
    DeleteFileA("C:\\APIDIFF\\SRC.TXT");
    DeleteFileA("C:\\APIDIFF\\DST.TXT");
}

void Attributes() {
    MakeFile("C:\\APIDIFF\\ATTR.TXT", "attr");
    const struct {
        const char *id;
        DWORD attributes;
    } sets[] = {
        {"readonly", FILE_ATTRIBUTE_READONLY},
        {"normal", FILE_ATTRIBUTE_NORMAL},
        {"hidden", FILE_ATTRIBUTE_HIDDEN},
        {"system", FILE_ATTRIBUTE_SYSTEM},
        {"archive", FILE_ATTRIBUTE_ARCHIVE},
        {"zero", 0},
        {"readonly-archive", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
        {"directory-bit", FILE_ATTRIBUTE_DIRECTORY},
    };
    for (const auto &s : sets) {
        BOOL ok =
            TRY(SetFileAttributesA("C:\\APIDIFF\\ATTR.TXT", s.attributes));
        Line("setattr", s.id)
            .RetErr(ok)
            .Hex("attr", GetFileAttributesA("C:\\APIDIFF\\ATTR.TXT"));
    }
    SetFileAttributesA("C:\\APIDIFF\\ATTR.TXT", FILE_ATTRIBUTE_NORMAL);
    BOOL ok =
        TRY(SetFileAttributesA("C:\\APIDIFF\\NONE.TXT", FILE_ATTRIBUTE_NORMAL));
    Line("setattr.missing").RetErr(ok);
    ok = TRY(SetFileAttributesA("C:\\APIDIFF\\SUB", FILE_ATTRIBUTE_READONLY));
    Line("setattr.directory-readonly")
        .RetErr(ok)
        .Hex("attr", GetFileAttributesA("C:\\APIDIFF\\SUB"));
    SetFileAttributesA("C:\\APIDIFF\\SUB", FILE_ATTRIBUTE_NORMAL);
    Line("setattr.directory-normal")
        .Hex("attr", GetFileAttributesA("C:\\APIDIFF\\SUB"));

    const struct {
        const char *id, *path;
    } gets[] = {
        {"file", "C:\\APIDIFF\\ATTR.TXT"},
        {"directory", "C:\\APIDIFF\\SUB"},
        {"directory-trailing-slash", "C:\\APIDIFF\\SUB\\"},
        {"file-trailing-slash", "C:\\APIDIFF\\ATTR.TXT\\"},
        {"root", "C:\\"},
        {"drive", "C:"},
        {"dot", "C:\\APIDIFF\\."},
        {"dotdot", "C:\\APIDIFF\\SUB\\.."},
        {"missing", "C:\\APIDIFF\\NONE.TXT"},
        {"missing-dir", "C:\\NONE\\A.TXT"},
        {"missing-drive", "Q:\\"},
        {"wildcard", "C:\\APIDIFF\\*.TXT"},
        {"empty", ""},
        {"trailing-dot", "C:\\APIDIFF\\ATTR.TXT."},
        {"nul", "NUL"},
        {"c-nul", "C:\\NUL"},
        {"con", "CON"},
        {"lpt1", "LPT1"},
        {"long-name", "C:\\APIDIFF\\Long File Name.text"},
        {"short-alias", "C:\\APIDIFF\\LONGFI~1.TEX"},
    };
    for (const auto &g : gets) {
        DWORD attributes = TRY(GetFileAttributesA(g.path));
        Line("getattr", g.id).Hex("ret", attributes).Err();
    }
    DeleteFileA("C:\\APIDIFF\\ATTR.TXT");
}

// -------------------------------------------------------------------- find

void Find() {
    MakeFile("C:\\APIDIFF\\FIND\\B.TXT", "bb");
    MakeFile("C:\\APIDIFF\\FIND\\a.txt", "a");
    MakeFile("C:\\APIDIFF\\FIND\\C.DAT", "ccc");
    MakeFile("C:\\APIDIFF\\FIND\\NOEXT", "");
    MakeFile("C:\\APIDIFF\\FIND\\Long File Name.text", "long");
    CreateDirectoryA("C:\\APIDIFF\\FIND\\DIR", nullptr);
    SetFileAttributesA("C:\\APIDIFF\\FIND\\C.DAT", FILE_ATTRIBUTE_READONLY);
    const struct {
        const char *id, *pattern;
    } grid[] = {
        {"star", "C:\\APIDIFF\\FIND\\*"},
        {"star-dot-star", "C:\\APIDIFF\\FIND\\*.*"},
        {"txt", "C:\\APIDIFF\\FIND\\*.TXT"},
        {"txt-lower", "c:\\apidiff\\find\\*.txt"},
        {"question", "C:\\APIDIFF\\FIND\\?.TXT"},
        {"question-dot", "C:\\APIDIFF\\FIND\\??.*"},
        {"star-dot", "C:\\APIDIFF\\FIND\\*."},
        {"no-match", "C:\\APIDIFF\\FIND\\*.XYZ"},
        {"exact", "C:\\APIDIFF\\FIND\\B.TXT"},
        {"exact-case", "C:\\APIDIFF\\FIND\\b.txt"},
        {"directory-itself", "C:\\APIDIFF\\FIND"},
        {"directory-trailing-slash", "C:\\APIDIFF\\FIND\\"},
        {"subdirectory", "C:\\APIDIFF\\FIND\\DIR"},
        {"dot", "C:\\APIDIFF\\FIND\\."},
        {"dotdot", "C:\\APIDIFF\\FIND\\.."},
        {"inside-empty-dir", "C:\\APIDIFF\\FIND\\DIR\\*"},
        {"missing-dir", "C:\\APIDIFF\\NONE\\*"},
        {"missing-file", "C:\\APIDIFF\\FIND\\NONE.TXT"},
        {"root", "C:\\"},
        {"root-apidiff", "C:\\APIDIF?"},
        {"long-star", "C:\\APIDIFF\\FIND\\Long*"},
        {"long-short-alias", "C:\\APIDIFF\\FIND\\LONGFI~1.TEX"},
        {"ext-three", "C:\\APIDIFF\\FIND\\*.tex"},
        {"relative", "APIDIFF\\FIND\\*.DAT"},
        {"empty", ""},
        {"c-nul", "C:\\NUL"},
        {"nul", "NUL"},
        {"lpt1", "LPT1"},
        {"con", "CON"},
        {"dir-nul", "C:\\APIDIFF\\FIND\\NUL"},
        {"file-as-dir", "C:\\APIDIFF\\FIND\\B.TXT\\*"},
        {"forward-slash", "C:/APIDIFF/FIND/*.DAT"},
    };
    SetCurrentDirectoryA("C:\\");
    for (const auto &g : grid) {
        WIN32_FIND_DATAA data;
        Fill(&data, sizeof data);
        HANDLE h = TRY(FindFirstFileA(g.pattern, &data));
        Line line("find", g.id);
        line.Handle("ret", h).Err();
        if (h == INVALID_HANDLE_VALUE) continue;
        for (int n = 0; n < 20; ++n) {
            line.Add(" [").Bytes("name", data.cFileName,
                                 std::strlen(data.cFileName));
            // Short names are made differently everywhere: only whether
            // there is one.
            line.Add(" short=%s", data.cAlternateFileName[0] == 0 ? "none"
                                  : std::strchr(data.cAlternateFileName, '~')
                                      ? "mangled"
                                      : "other");
            line.Hex("attr", data.dwFileAttributes)
                .Num("size", data.nFileSizeLow)
                .Num("high", data.nFileSizeHigh)
                .Add(" times=%s/%s/%s]", TimeState(data.ftCreationTime),
                     TimeState(data.ftLastAccessTime),
                     TimeState(data.ftLastWriteTime));
            Fill(&data, sizeof data);
            BOOL more = TRY(FindNextFileA(h, &data));
            if (!more) {
                line.Add(" end").Err();
                break;
            }
        }
        BOOL ok = TRY(FindClose(h));
        line.Add(" close=%d", ok).Err();
    }
    WIN32_FIND_DATAA data;
    HANDLE h;
    BOOL ok = TRY(FindNextFileA(INVALID_HANDLE_VALUE, &data));
    Line("find.next-invalid").RetErr(ok);
    h = FindFirstFileA("C:\\APIDIFF\\FIND\\*", &data);
    FindClose(h);
    ok = TRY(FindClose(h));
    Line("find.close-again").RetErr(ok);
    ok = TRY(FindNextFileA(h, &data));
    Line("find.next-closed").RetErr(ok);
    ok = TRY(FindClose(INVALID_HANDLE_VALUE));
    Line("find.close-invalid").RetErr(ok);
    h = FindFirstFileA("C:\\APIDIFF\\FIND\\*", &data);
    // Files made and removed during a search.
    MakeFile("C:\\APIDIFF\\FIND\\ZZZ.TXT", "z");
    DeleteFileA("C:\\APIDIFF\\FIND\\NOEXT");
    {
        Line line("find.changed-during");
        line.Text("first", data.cFileName);
        while (FindNextFileA(h, &data)) line.Text("next", data.cFileName);
        FindClose(h);
    }
    SetFileAttributesA("C:\\APIDIFF\\FIND\\C.DAT", FILE_ATTRIBUTE_NORMAL);
    for (const char *n :
         {"B.TXT", "a.txt", "C.DAT", "Long File Name.text", "ZZZ.TXT"}) {
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "C:\\APIDIFF\\FIND\\%s", n);
        DeleteFileA(path);
    }
    RemoveDirectoryA("C:\\APIDIFF\\FIND\\DIR");
    RemoveDirectoryA("C:\\APIDIFF\\FIND");
}

// ----------------------------------------------------------------- registry

const char kKey[] = "Software\\ApiDiff";

void ShowValue(const char *id, HKEY key, const char *name) {
    BYTE data[64];
    Fill(data, sizeof data);
    DWORD type = kSentinel, size = sizeof data;
    LONG rc = TRY(RegQueryValueExA(key, name, nullptr, &type, data, &size));
    Line("regval", id)
        .RetErr(rc)
        .Num("type", type)
        .Num("size", size)
        .Bytes("data", data, sizeof data);
}

void RegistryValues(HKEY key) {
    struct Set {
        const char *id, *name;
        DWORD type;
        const void *data;
        DWORD size;
    };
    static const char text[] = "hello";
    static const char multi[] = "one\0two\0";
    static const DWORD number = 0x12345678;
    static const BYTE bytes[] = {1, 0, 0xFF, 0x80};
    // The default value first, then names in alphabetical order: creation
    // order is sorted order, so enumerations agree whichever a registry
    // keeps.
    const Set sets[] = {
        {"default", nullptr, REG_SZ, "dflt", 5},
        {"sz-exact", "A-sz-exact", REG_SZ, text, 6},
        {"sz-short", "B-sz-short", REG_SZ, text, 3},
        {"sz-long", "C-sz-long", REG_SZ, text, 20},
        {"sz-zero", "D-sz-zero", REG_SZ, text, 0},
        {"sz-no-nul", "E-sz-no-nul", REG_SZ, text, 5},
        {"sz-null", "F-sz-null", REG_SZ, nullptr, 0},
        {"sz-null-size", "G-sz-null-size", REG_SZ, nullptr, 4},
        {"expand-short", "H-expand-short", REG_EXPAND_SZ, "%PATH%x", 4},
        {"expand", "I-expand", REG_EXPAND_SZ, "%PATH%x", 8},
        {"binary", "J-binary", REG_BINARY, bytes, 4},
        {"binary-empty", "K-binary-empty", REG_BINARY, bytes, 0},
        {"binary-null", "L-binary-null", REG_BINARY, nullptr, 0},
        {"dword", "M-dword", REG_DWORD, &number, 4},
        {"dword-short", "N-dword-short", REG_DWORD, &number, 2},
        {"dword-long", "O-dword-long", REG_DWORD, bytes, 4},
        {"multi", "P-multi", REG_MULTI_SZ, multi, 9},
        {"none", "Q-none", REG_NONE, bytes, 3},
        {"none-empty", "R-none-empty", REG_NONE, nullptr, 0},
        {"type99", "S-type99", 99, bytes, 2},
    };
    for (const Set &s : sets) {
        LONG rc = TRY(RegSetValueExA(
            key, s.name, 0, s.type, static_cast<const BYTE *>(s.data), s.size));
        Line("regset", s.id).RetErr(rc);
        ShowValue(s.id, key, s.name);
    }
    LONG rc = TRY(RegSetValueExA(
        key, "", 0, REG_SZ, reinterpret_cast<const BYTE *>("empty-name"), 11));
    Line("regset.empty-name").RetErr(rc);
    ShowValue("default-via-empty", key, "");
    ShowValue("default-via-null", key, nullptr);
    ShowValue("missing", key, "NoSuchValue");
    ShowValue("case", key, "m-DWORD");

    // Queries of one value with every kind of buffer.
    const char *name = "A-sz-exact";
    struct Query {
        const char *id;
        bool type, data, size;
        DWORD bytes;
    };
    const Query queries[] = {
        {"size-only", false, false, true, 0},
        {"type-only", true, false, false, 0},
        {"nothing", false, false, false, 0},
        {"buf0", true, true, true, 0},
        {"buf1", true, true, true, 1},
        {"buf5", true, true, true, 5},
        {"buf6", true, true, true, 6},
        {"buf7", true, true, true, 7},
        {"data-null-size", true, true, false, 0},
    };
    for (const Query &q : queries) {
        BYTE data[16];
        Fill(data, sizeof data);
        DWORD type = kSentinel, size = q.bytes;
        rc = TRY(RegQueryValueExA(key, name, nullptr, q.type ? &type : nullptr,
                                  q.data ? data : nullptr,
                                  q.size ? &size : nullptr));
        Line("regquery", q.id)
            .RetErr(rc)
            .Num("type", type)
            .Num("size", size)
            .Bytes("data", data, sizeof data);
    }
    for (const char *n : {"J-binary", "M-dword", "P-multi"}) {
        BYTE data[16];
        Fill(data, sizeof data);
        DWORD type = kSentinel, size = 2;
        rc = TRY(RegQueryValueExA(key, n, nullptr, &type, data, &size));
        Line("regquery.small", n)
            .RetErr(rc)
            .Num("type", type)
            .Num("size", size)
            .Bytes("data", data, sizeof data);
    }
    DWORD type = kSentinel, size = 0xCCCC;
    rc = TRY(
        RegQueryValueExA(key, "NoSuchValue", nullptr, &type, nullptr, &size));
    Line("regquery.missing-size")
        .RetErr(rc)
        .Num("type", type)
        .Num("size", size);

    // The enumeration, in full and with small buffers.
    for (DWORD i = 0; i < 24; ++i) {
        char vname[64];
        BYTE data[64];
        Fill(vname, sizeof vname);
        Fill(data, sizeof data);
        DWORD nameSize = sizeof vname, dataSize = sizeof data;
        type = kSentinel;
        rc = TRY(RegEnumValueA(key, i, vname, &nameSize, nullptr, &type, data,
                               &dataSize));
        char id[24];
        std::snprintf(id, sizeof id, "regenumval.%lu",
                      static_cast<unsigned long>(i));
        Line(id)
            .RetErr(rc)
            .Text("name", rc == ERROR_SUCCESS ? vname : nullptr)
            .Num("namelen", nameSize)
            .Num("type", type)
            .Num("size", dataSize)
            .Bytes("data", data, rc == ERROR_SUCCESS ? dataSize : 0);
        if (rc == ERROR_NO_MORE_ITEMS) break;
    }
    struct Enum {
        const char *id;
        DWORD index, nameSize;
        bool type, data;
        DWORD dataSize;
        bool sizeNull;
    };
    // Index 0 is "" (the default value) in sorted order, "A-sz-exact" in
    // creation order: the cases use "A-sz-exact" by its own index.
    const Enum enums[] = {
        {"name-small", 1, 4, true, true, 64, false},
        {"name-exact", 1, 10, true, true, 64, false},
        {"name-exact+1", 1, 11, true, true, 64, false},
        {"name0", 1, 0, true, true, 64, false},
        {"data-small", 1, 64, true, true, 3, false},
        {"data-exact", 1, 64, true, true, 6, false},
        {"data-null", 1, 64, true, false, 0, false},
        {"data-size-null", 1, 64, true, false, 0, true},
        {"type-null", 1, 64, false, true, 64, false},
        {"both-small", 1, 2, true, true, 2, false},
    };
    for (const Enum &e : enums) {
        char vname[64];
        BYTE data[64];
        Fill(vname, sizeof vname);
        Fill(data, sizeof data);
        DWORD nameSize = e.nameSize, dataSize = e.dataSize;
        type = kSentinel;
        rc = TRY(RegEnumValueA(
            key, e.index, vname, &nameSize, nullptr, e.type ? &type : nullptr,
            e.data ? data : nullptr, e.sizeNull ? nullptr : &dataSize));
        Line("regenumval", e.id)
            .RetErr(rc)
            .Bytes("name", vname, 16)
            .Num("namelen", nameSize)
            .Num("type", type)
            .Num("size", dataSize)
            .Bytes("data", data, 16);
    }
    DWORD nameSize = 8;
    rc = TRY(RegEnumValueA(key, 1, nullptr, &nameSize, nullptr, nullptr,
                           nullptr, nullptr));
    Line("regenumval.name-null").RetErr(rc).Num("namelen", nameSize);

    rc = TRY(RegDeleteValueA(key, "B-sz-short"));
    Line("regdelval.existing").RetErr(rc);
    rc = TRY(RegDeleteValueA(key, "B-sz-short"));
    Line("regdelval.again").RetErr(rc);
    rc = TRY(RegDeleteValueA(key, nullptr));
    Line("regdelval.default").RetErr(rc);
    ShowValue("after-default-deleted", key, nullptr);
    rc = TRY(RegDeleteValueA(key, nullptr));
    Line("regdelval.default-again").RetErr(rc);
}

void InfoKey(const char *id, HKEY key) {
    DWORD subkeys = kSentinel, maxSub = kSentinel, maxClass = kSentinel,
          values = kSentinel, maxName = kSentinel, maxData = kSentinel,
          security = kSentinel;
    FILETIME ft = {kSentinel, kSentinel};
    char cls[8];
    Fill(cls, sizeof cls);
    DWORD clsSize = sizeof cls;
    LONG rc = TRY(RegQueryInfoKeyA(key, cls, &clsSize, nullptr, &subkeys,
                                   &maxSub, &maxClass, &values, &maxName,
                                   &maxData, &security, &ft));
    Line("reginfo", id)
        .RetErr(rc)
        .Bytes("class", cls, sizeof cls)
        .Num("classlen", clsSize)
        .Num("subkeys", subkeys)
        .Num("maxsub", maxSub)
        .Num("maxclass", maxClass)
        .Num("values", values)
        .Num("maxname", maxName)
        .Num("maxdata", maxData)
        .Hex("security", security)
        .Add(" time=%s",
             ft.dwLowDateTime == kSentinel ? "untouched" : TimeState(ft));
}

void RegistryKeys(HKEY key) {
    // Subkeys in alphabetical order too.
    for (const char *name :
         {"Alpha", "Beta\\Inner\\Deep", "Gamma", "LongerSubkeyName"}) {
        HKEY sub;
        DWORD disposition = kSentinel;
        LONG rc =
            TRY(RegCreateKeyExA(key, name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, nullptr, &sub, &disposition));
        Line("regcreate", name).RetErr(rc).Num("disposition", disposition);
        if (rc == ERROR_SUCCESS) RegCloseKey(sub);
    }
    InfoKey("full", key);
    for (DWORD i = 0; i < 6; ++i) {
        char name[32];
        Fill(name, sizeof name);
        LONG rc = TRY(RegEnumKeyA(key, i, name, sizeof name));
        char id[24];
        std::snprintf(id, sizeof id, "regenumkey.%lu",
                      static_cast<unsigned long>(i));
        Line(id).RetErr(rc).Bytes("name", name, sizeof name);
        if (rc != ERROR_SUCCESS) break;
    }
    const struct {
        const char *id;
        DWORD size;
    } small[] = {{"0", 0}, {"1", 1}, {"5", 5}, {"6", 6}};
    for (const auto &s : small) {
        char name[32];
        Fill(name, sizeof name);
        LONG rc = TRY(RegEnumKeyA(key, 0, name, s.size));
        Line("regenumkey.size", s.id).RetErr(rc).Bytes("name", name, 8);
    }
    for (DWORD i = 0; i < 6; ++i) {
        char name[32], cls[8];
        Fill(name, sizeof name);
        Fill(cls, sizeof cls);
        DWORD nameSize = sizeof name, clsSize = sizeof cls;
        FILETIME ft = {kSentinel, kSentinel};
        LONG rc = TRY(RegEnumKeyExA(key, i, name, &nameSize, nullptr, cls,
                                    &clsSize, &ft));
        char id[24];
        std::snprintf(id, sizeof id, "regenumkeyex.%lu",
                      static_cast<unsigned long>(i));
        Line(id)
            .RetErr(rc)
            .Bytes("name", name, sizeof name)
            .Num("namelen", nameSize)
            .Bytes("class", cls, sizeof cls)
            .Num("classlen", clsSize)
            .Add(" time=%s",
                 ft.dwLowDateTime == kSentinel ? "untouched" : TimeState(ft));
        if (rc != ERROR_SUCCESS) break;
    }
    const struct {
        const char *id;
        DWORD size;
    } exSmall[] = {{"0", 0}, {"4", 4}, {"5", 5}, {"6", 6}};
    for (const auto &s : exSmall) {
        char name[32];
        Fill(name, sizeof name);
        DWORD nameSize = s.size;
        LONG rc = TRY(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, nullptr,
                                    nullptr, nullptr));
        Line("regenumkeyex.size", s.id)
            .RetErr(rc)
            .Bytes("name", name, 8)
            .Num("namelen", nameSize);
    }
    {
        char name[32], cls[8];
        DWORD nameSize = sizeof name, clsSize = 0;
        Fill(cls, sizeof cls);
        LONG rc = TRY(RegEnumKeyExA(key, 0, name, &nameSize, nullptr, cls,
                                    &clsSize, nullptr));
        Line("regenumkeyex.class0")
            .RetErr(rc)
            .Num("namelen", nameSize)
            .Num("classlen", clsSize)
            .Bytes("class", cls, sizeof cls);
    }

    HKEY sub = nullptr;
    const struct {
        const char *id, *path;
    } opens[] = {
        {"existing", "Alpha"},
        {"case", "ALPHA"},
        {"nested", "Beta\\Inner"},
        {"missing", "Delta"},
        {"missing-nested", "Beta\\None"},
        {"leading-slash", "\\Alpha"},
        {"trailing-slash", "Alpha\\"},
        {"double-slash", "Beta\\\\Inner"},
        {"empty", ""},
        {"null", nullptr},
        {"dot", "."},
        {"forward-slash", "Beta/Inner"},
    };
    for (const auto &o : opens) {
        sub = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(kSentinel));
        LONG rc = TRY(RegOpenKeyA(key, o.path, &sub));
        Line("regopen", o.id)
            .RetErr(rc)
            .Handle("key", sub == reinterpret_cast<HKEY>(
                                      static_cast<ULONG_PTR>(kSentinel))
                               ? INVALID_HANDLE_VALUE
                               : sub);
        if (rc == ERROR_SUCCESS && sub != key) RegCloseKey(sub);
        sub = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(kSentinel));
        rc = TRY(RegOpenKeyExA(key, o.path, 0, KEY_READ, &sub));
        Line("regopenex", o.id)
            .RetErr(rc)
            .Handle("key", sub == reinterpret_cast<HKEY>(
                                      static_cast<ULONG_PTR>(kSentinel))
                               ? INVALID_HANDLE_VALUE
                               : sub);
        if (rc == ERROR_SUCCESS && sub != key) RegCloseKey(sub);
    }
    LONG rc = TRY(RegOpenKeyA(key, "Alpha", nullptr));
    Line("regopen.result-null").RetErr(rc);
    rc = TRY(RegOpenKeyA(HKEY_LOCAL_MACHINE, "software\\APIDIFF\\alpha", &sub));
    Line("regopen.from-root").RetErr(rc);
    if (rc == ERROR_SUCCESS) RegCloseKey(sub);

    const struct {
        const char *id, *path;
    } creates[] = {
        {"leading-slash", "\\Lead"},
        {"trailing-slash", "Trail\\"},
        {"empty", ""},
        {"null", nullptr},
        {"existing-case", "gamma"},
    };
    for (const auto &c : creates) {
        DWORD disposition = kSentinel;
        sub = nullptr;
        rc = TRY(RegCreateKeyExA(key, c.path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &sub, &disposition));
        Line("regcreate", c.id)
            .RetErr(rc)
            .Num("disposition", disposition)
            .Handle("key", sub);
        if (rc == ERROR_SUCCESS && sub != key) RegCloseKey(sub);
        sub = nullptr;
        rc = TRY(RegCreateKeyA(key, c.path, &sub));
        Line("regcreate-plain", c.id).RetErr(rc).Handle("key", sub);
        if (rc == ERROR_SUCCESS && sub != key) RegCloseKey(sub);
    }
    RegDeleteKeyA(key, "Lead");
    RegDeleteKeyA(key, "Trail");
    InfoKey("after-creates", key);
    {
        DWORD subkeys = kSentinel;
        rc = TRY(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys,
                                  nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
        Line("reginfo.only-subkeys").RetErr(rc).Num("subkeys", subkeys);
        char cls[4];
        Fill(cls, sizeof cls);
        DWORD clsSize = 0;
        rc = TRY(RegQueryInfoKeyA(key, cls, &clsSize, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr));
        Line("reginfo.class0")
            .RetErr(rc)
            .Num("classlen", clsSize)
            .Bytes("class", cls, sizeof cls);
    }

    rc = TRY(RegDeleteKeyA(key, "Beta"));
    Line("regdelkey.with-subkeys").RetErr(rc);
    rc = TRY(RegOpenKeyA(key, "Beta\\Inner", &sub));
    Line("regdelkey.subkey-gone").RetErr(rc);
    if (rc == ERROR_SUCCESS) RegCloseKey(sub);
    rc = TRY(RegDeleteKeyA(key, "Beta"));
    Line("regdelkey.again").RetErr(rc);
    rc = TRY(RegDeleteKeyA(key, nullptr));
    Line("regdelkey.null").RetErr(rc);
    rc = TRY(RegDeleteKeyA(key, "\\Gamma"));
    Line("regdelkey.leading-slash").RetErr(rc);
    char first[32];
    Fill(first, sizeof first);
    rc = TRY(RegEnumKeyA(key, 1, first, sizeof first));
    Line("regdelkey.index-moves").RetErr(rc).Bytes("name", first, 16);

    // An open handle to a key that is deleted.
    HKEY gamma = nullptr;
    RegOpenKeyA(key, "Gamma", &gamma);
    rc = TRY(RegDeleteKeyA(key, "Gamma"));
    Line("regdelkey.open").RetErr(rc);
    rc = TRY(RegSetValueExA(gamma, "x", 0, REG_SZ,
                            reinterpret_cast<const BYTE *>("y"), 2));
    Line("regdeleted.set").RetErr(rc);
    DWORD values = kSentinel;
    rc = TRY(RegQueryInfoKeyA(gamma, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr, &values, nullptr, nullptr,
                              nullptr, nullptr));
    Line("regdeleted.info").RetErr(rc);
    rc = TRY(RegCloseKey(gamma));
    Line("regdeleted.close").RetErr(rc);

    // Closed and invalid handles.
    HKEY alpha = nullptr;
    RegOpenKeyA(key, "Alpha", &alpha);
    rc = TRY(RegCloseKey(alpha));
    Line("regclose.open").RetErr(rc);
    rc = TRY(RegCloseKey(alpha));
    Line("regclose.again").RetErr(rc);
    BYTE data[8];
    DWORD size = sizeof data;
    rc = TRY(RegQueryValueExA(alpha, "x", nullptr, nullptr, data, &size));
    Line("regclosed.query").RetErr(rc);
    rc = TRY(RegSetValueExA(alpha, "x", 0, REG_SZ,
                            reinterpret_cast<const BYTE *>("y"), 2));
    Line("regclosed.set").RetErr(rc);
    rc = TRY(RegOpenKeyA(alpha, "x", &sub));
    Line("regclosed.open").RetErr(rc);
    rc = TRY(RegEnumKeyA(alpha, 0, first, sizeof first));
    Line("regclosed.enumkey").RetErr(rc);
    HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x7FFF0));
    rc = TRY(RegCloseKey(bogus));
    Line("regbad.close").RetErr(rc);
    rc = TRY(RegQueryValueExA(bogus, "x", nullptr, nullptr, data, &size));
    Line("regbad.query").RetErr(rc);
    rc = TRY(RegCloseKey(HKEY_LOCAL_MACHINE));
    Line("regclose.root").RetErr(rc);
    rc = TRY(RegCloseKey(nullptr));
    Line("regclose.null").RetErr(rc);
    rc = TRY(RegFlushKey(key));
    Line("regflush.key").RetErr(rc);
    rc = TRY(RegFlushKey(HKEY_LOCAL_MACHINE));
    Line("regflush.root").RetErr(rc);

    rc = TRY(RegSaveKeyA(key, "C:\\APIDIFF\\SAVED.REG", nullptr));
    Line("regsave.new")
        .RetErr(rc)
        .Hex("file", GetFileAttributesA("C:\\APIDIFF\\SAVED.REG"));
    DeleteFileA("C:\\APIDIFF\\SAVED.REG");
    rc = TRY(RegRestoreKeyA(key, "C:\\APIDIFF\\NONE.REG", 0));
    Line("regrestore.missing").RetErr(rc);
}

void Registry() {
    HKEY key = nullptr;
    DWORD disposition = kSentinel;
    LONG rc = TRY(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition));
    Line("regcreate.scratch").RetErr(rc).Num("disposition", disposition);
    if (rc != ERROR_SUCCESS) return;
    InfoKey("empty", key);
    RegistryValues(key);
    InfoKey("with-values", key);
    RegistryKeys(key);
    RegCloseKey(key);
    rc = TRY(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey));
    Line("regdelkey.scratch").RetErr(rc);
    rc = TRY(RegOpenKeyA(HKEY_LOCAL_MACHINE, kKey, &key));
    Line("regopen.scratch-gone").RetErr(rc);
}

// ------------------------------------------------------------------ windows

INT_PTR CALLBACK DialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void WindowText(const char *id, HWND window, int size) {
    char text[64];
    Fill(text, sizeof text);
    int n = TRY(GetWindowTextA(window, text, size));
    Line("gettext", id).RetErr(n).Bytes("buf", text, 20);
}

void Windows(HINSTANCE instance) {
    HWND dialog = TRY(CreateDialogParamA(instance, MAKEINTRESOURCEA(100),
                                         nullptr, DialogProc, 0));
    Line("dialog.create").Handle("ret", dialog).Err();
    if (dialog == nullptr) return;
    HWND text = TRY(GetDlgItem(dialog, 1001));
    Line("dialog.item").Handle("ret", text).Err();
    HWND missing = TRY(GetDlgItem(dialog, 4242));
    Line("dialog.item-missing").Handle("ret", missing).Err();
    HWND none = TRY(GetDlgItem(nullptr, 1001));
    Line("dialog.item-null-dialog").Handle("ret", none).Err();
    WindowText("caption", dialog, 64);
    WindowText("caption-size0", dialog, 0);
    WindowText("caption-size1", dialog, 1);
    WindowText("caption-size5", dialog, 5);
    WindowText("caption-exact", dialog, 14);
    WindowText("caption-exact+1", dialog, 15);
    WindowText("control", text, 64);
    BOOL ok = TRY(SetWindowTextA(text, "Changed text"));
    Line("settext.control").RetErr(ok);
    WindowText("control-changed", text, 64);
    ok = TRY(SetWindowTextA(dialog, "New caption"));
    Line("settext.caption").RetErr(ok);
    WindowText("caption-changed", dialog, 64);
    ok = TRY(SetWindowTextA(text, nullptr));
    Line("settext.null").RetErr(ok);
    WindowText("control-null", text, 64);
    ok = TRY(SetWindowTextA(text, ""));
    Line("settext.empty").RetErr(ok);
    WindowText("control-empty", text, 64);
    ok = TRY(UpdateWindow(dialog));
    Line("update.dialog").RetErr(ok);
    ok = TRY(UpdateWindow(text));
    Line("update.control").RetErr(ok);
    HWND other = GetDlgItem(dialog, 1002);
    ok = TRY(DestroyWindow(other));
    Line("destroy.control").RetErr(ok);
    HWND gone = TRY(GetDlgItem(dialog, 1002));
    Line("dialog.item-destroyed").Handle("ret", gone).Err();
    WindowText("destroyed-control", other, 64);
    ok = TRY(SetWindowTextA(other, "x"));
    Line("settext.destroyed").RetErr(ok);
    ok = TRY(DestroyWindow(dialog));
    Line("destroy.dialog").RetErr(ok);
    ok = TRY(DestroyWindow(dialog));
    Line("destroy.again").RetErr(ok);
    WindowText("destroyed-dialog", dialog, 64);
    WindowText("destroyed-dialog-child", text, 64);
    ok = TRY(UpdateWindow(dialog));
    Line("update.destroyed").RetErr(ok);
    ok = TRY(SetWindowTextA(nullptr, "x"));
    Line("settext.null-window").RetErr(ok);
    ok = TRY(DestroyWindow(nullptr));
    Line("destroy.null").RetErr(ok);

    HWND named =
        TRY(CreateDialogParamA(instance, "Named", nullptr, DialogProc, 0));
    Line("dialog.named").Handle("ret", named).Err();
    WindowText("named-caption", named, 64);
    if (named) DestroyWindow(named);
    HWND lower =
        TRY(CreateDialogParamA(instance, "NAMED", nullptr, DialogProc, 0));
    Line("dialog.named-upper").Handle("ret", lower).Err();
    if (lower) DestroyWindow(lower);
    HWND absent = TRY(CreateDialogParamA(instance, MAKEINTRESOURCEA(999),
                                         nullptr, DialogProc, 0));
    Line("dialog.missing").Handle("ret", absent).Err();
    HWND bad = TRY(CreateDialogParamA(instance, MAKEINTRESOURCEA(100), dialog,
                                      DialogProc, 0));
    Line("dialog.destroyed-parent").Handle("ret", bad).Err();
    if (bad) DestroyWindow(bad);
}

void MessageBoxes() {
    int answer = TRY(MessageBoxA(nullptr, "The differential asks: OK.",
                                 "ApiDiff OK", MB_OK | MB_ICONINFORMATION));
    Line("msgbox.ok").RetErr(answer);
    answer = TRY(MessageBoxA(nullptr, "The differential asks: No.",
                             "ApiDiff YesNo", MB_YESNO | MB_ICONQUESTION));
    Line("msgbox.yesno").RetErr(answer);
}

// ------------------------------------------------------------------ fixtures

void RemoveFixtures() {
    const char *files[] = {"A.TXT", "RO.TXT", "RO2.TXT", "Long File Name.text"};
    for (const char *n : files) {
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "C:\\APIDIFF\\%s", n);
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path);
    }
    RemoveDirectoryA("C:\\APIDIFF\\SUB");
    RemoveDirectoryA("C:\\APIDIFF");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
}

void MakeFixtures() {
    RemoveFixtures();
    CreateDirectoryA("C:\\APIDIFF", nullptr);
    CreateDirectoryA("C:\\APIDIFF\\SUB", nullptr);
    MakeFile("C:\\APIDIFF\\A.TXT", "alpha");
    MakeFile("C:\\APIDIFF\\RO.TXT", "read-only");
    SetFileAttributesA("C:\\APIDIFF\\RO.TXT", FILE_ATTRIBUTE_READONLY);
    MakeFile("C:\\APIDIFF\\Long File Name.text", "long");
    CreateDirectoryA("C:\\APIDIFF\\FIND", nullptr);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    logFile = CreateFileA("C:\\APIDIFF.LOG", GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (logFile == INVALID_HANDLE_VALUE) return 2;
    SetCurrentDirectoryA("C:\\");
    MakeFixtures();
    Line("start");
    VersionAndClock();
    DosTimes();
    Strings();
    Formatting();
    Memory();
    Directories();
    CurrentDirectory();
    CreateAndRemoveDirectories();
    CreateFileGrid();
    SharingMatrix();
    OpenFileOperations();
    ReadWriteSeek();
    CopyMoveDelete();
    Attributes();
    Find();
    Registry();
    Windows(instance);
    MessageBoxes();
    RemoveFixtures();
    Line("end").Hex("scratch-left", GetFileAttributesA("C:\\APIDIFF"));
    CloseHandle(logFile);
    ExitProcess(0);
}
