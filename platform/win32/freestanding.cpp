// What the Windows build would otherwise take from the C runtime DLL, which
// a Windows 95 machine need not have: the memory and string functions that
// the compiler emits and the programs call, and the nothrow operator new
// that the text streams use, on kernel32's LocalAlloc.
//
// Built with -fno-builtin and -fno-tree-loop-distribute-patterns, so that
// the compiler does not turn these loops back into calls to themselves.
#include <windows.h>

#include <cstddef>
#include <new>

extern "C" {

void *memcpy(void *to, const void *from, size_t count) {
    unsigned char *d = static_cast<unsigned char *>(to);
    const unsigned char *s = static_cast<const unsigned char *>(from);
    while (count-- != 0) *d++ = *s++;
    return to;
}

void *memmove(void *to, const void *from, size_t count) {
    unsigned char *d = static_cast<unsigned char *>(to);
    const unsigned char *s = static_cast<const unsigned char *>(from);
    if (d <= s || d >= s + count) return memcpy(to, from, count);
    while (count-- != 0) d[count] = s[count];
    return to;
}

void *memset(void *to, int value, size_t count) {
    unsigned char *d = static_cast<unsigned char *>(to);
    while (count-- != 0) *d++ = static_cast<unsigned char>(value);
    return to;
}

int memcmp(const void *a, const void *b, size_t count) {
    const unsigned char *x = static_cast<const unsigned char *>(a);
    const unsigned char *y = static_cast<const unsigned char *>(b);
    for (; count != 0; --count, ++x, ++y) {
        if (*x != *y) return *x < *y ? -1 : 1;
    }
    return 0;
}

size_t strlen(const char *text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

char *strcpy(char *to, const char *from) {
    return static_cast<char *>(memcpy(to, from, strlen(from) + 1));
}

char *strcat(char *to, const char *from) {
    strcpy(to + strlen(to), from);
    return to;
}

char *strchr(const char *text, int c) {
    for (;; ++text) {
        if (*text == static_cast<char>(c)) return const_cast<char *>(text);
        if (*text == '\0') return nullptr;
    }
}

char *strrchr(const char *text, int c) {
    const char *found = nullptr;
    for (;; ++text) {
        if (*text == static_cast<char>(c)) found = text;
        if (*text == '\0') return const_cast<char *>(found);
    }
}

char *strstr(const char *text, const char *part) {
    size_t length = strlen(part);
    for (; *text != '\0'; ++text) {
        if (memcmp(text, part, length) == 0) return const_cast<char *>(text);
    }
    return length == 0 ? const_cast<char *>(text) : nullptr;
}

}  // extern "C"

// The tag object of new (std::nothrow), which the C++ library would hold.
namespace std {
const nothrow_t nothrow{};
}  // namespace std

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return LocalAlloc(LMEM_FIXED, size);
}

void operator delete(void *block) noexcept {
    if (block != nullptr) LocalFree(block);
}

void operator delete(void *block, std::size_t) noexcept {
    operator delete(block);
}
