// LocalAlloc and friends, and the lstr string calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "fault_injection.h"

namespace {

TEST(LocalMemory, ZeroFilledFixedBlocks) {
    HLOCAL h = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, 100);
    ASSERT_NE(h, nullptr);
    char *p = static_cast<char *>(LocalLock(h));
    EXPECT_EQ(static_cast<void *>(p), h);  // a fixed block is its pointer
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
    EXPECT_EQ(LocalSize(h), 100u);
    EXPECT_EQ(LocalFree(h), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LocalMemory, MoveableBlocksCountLocks) {
    HLOCAL h = LocalAlloc(LHND, 16);
    ASSERT_NE(h, nullptr);
    char *p = static_cast<char *>(LocalLock(h));
    ASSERT_NE(p, nullptr);
    EXPECT_NE(static_cast<void *>(p), h);
    std::memcpy(p, "data", 5);
    EXPECT_EQ(LocalLock(h), p);
    EXPECT_TRUE(LocalUnlock(h));  // still locked once
    EXPECT_FALSE(LocalUnlock(h));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(LocalUnlock(h));  // not locked any more
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(LocalFree(h), nullptr);
    EXPECT_EQ(LocalFree(h), h);  // already gone
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(LocalMemory, AMoveableBlockOfNoBytesIsDiscarded) {
    HLOCAL h = LocalAlloc(LMEM_MOVEABLE, 0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LocalSize(h), 0u);
    SetLastError(0);
    EXPECT_EQ(LocalLock(h), nullptr);
    EXPECT_EQ(GetLastError(), 157u);  // ERROR_DISCARDED
    EXPECT_EQ(LocalFree(h), nullptr);
    // A fixed block of no bytes is still a pointer.
    HLOCAL fixed = LocalAlloc(LMEM_FIXED, 0);
    EXPECT_EQ(LocalLock(fixed), fixed);
    LocalFree(fixed);
    // NULL locks nothing and leaves the last error alone.
    SetLastError(1234);
    EXPECT_EQ(LocalLock(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(LocalMemory, FailuresGiveNullAndNotEnoughMemory) {
    SetLastError(0);
    EXPECT_EQ(LocalAlloc(LMEM_ZEROINIT, SIZE_T(0xFFFFFFFFu) + 1), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    w95::SetFaultPlan("LocalAlloc@2=8");
    HLOCAL first = LocalAlloc(LPTR, 4);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 4), nullptr);
    EXPECT_EQ(GetLastError(), 8u);
    w95::ResetFaults();
    LocalFree(first);
}

TEST(Strings, CopyConcatenateCompare) {
    char buffer[16];
    EXPECT_EQ(lstrcpyA(buffer, "C:\\WINDOWS"), buffer);
    EXPECT_EQ(lstrcatA(buffer, "\\INF"), buffer);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\INF");
    EXPECT_EQ(lstrlenA(buffer), 14);
    SetLastError(0);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(lstrcpynA(buffer, "abcdefgh", 4), buffer);
    EXPECT_STREQ(buffer, "abc");  // at most 3 characters and the NUL
    EXPECT_EQ(lstrcmpiA("hdc", "HDC"), 0);
    EXPECT_EQ(lstrcmpiA("Primary IDE", "primary ide channel"), -1);
    EXPECT_EQ(lstrcmpiA("\xc9", "\xe9"), 0);  // E acute in both cases
    EXPECT_NE(lstrcmpA("hdc", "HDC"), 0);
    EXPECT_EQ(lstrcmpA("b", "a"), 1);
    EXPECT_EQ(lstrcmpA(nullptr, ""), -1);  // NULL sorts before any string
}

TEST(Strings, CompareAsTheLocaleSortsWords) {
    // Case comes after the letters, lower case first.
    EXPECT_EQ(lstrcmpA("a", "A"), -1);
    EXPECT_EQ(lstrcmpA("a", "B"), -1);
    EXPECT_EQ(lstrcmpA("B", "a"), 1);
    EXPECT_EQ(lstrcmpiA("a", "B"), -1);
    // Accented letters beside their base letter, after it.
    EXPECT_EQ(lstrcmpA("\xe9", "f"), -1);
    EXPECT_EQ(lstrcmpA("\xe9", "e"), 1);
    EXPECT_EQ(lstrcmpA("\xff", "z"), -1);
    EXPECT_EQ(lstrcmpiA("\xff", "\x9f"), 0);
    EXPECT_EQ(lstrcmpA("\xe6", "af"), -1);  // ae
    // Symbols before digits before letters.
    EXPECT_EQ(lstrcmpA("_", "1"), -1);
    EXPECT_EQ(lstrcmpA("1", "a"), -1);
    EXPECT_EQ(lstrcmpA("a b", "ab"), -1);
    // Hyphens and apostrophes count last.
    EXPECT_EQ(lstrcmpA("co-op", "coop"), 1);
    EXPECT_EQ(lstrcmpA("co-op", "cop"), -1);
    EXPECT_EQ(lstrcmpiA("it's", "ITS"), 1);
    EXPECT_EQ(lstrcmpiA("a-b", "ab-"), -1);
    // NULL before everything.
    EXPECT_EQ(lstrcmpiA(nullptr, ""), -1);
    EXPECT_EQ(lstrcmpA("", nullptr), 1);
    EXPECT_EQ(lstrcmpA(nullptr, nullptr), 0);
}

TEST(Strings, NullArgumentsAreInvalidParameters) {
    char buffer[8] = "x";
    SetLastError(0);
    EXPECT_EQ(lstrcpyA(buffer, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(lstrcatA(nullptr, "x"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(lstrcpynA(buffer, nullptr, 4), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_STREQ(buffer, "x");
}

}  // namespace
