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
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrcpynA(buffer, "abcdefgh", 4), buffer);
    EXPECT_STREQ(buffer, "abc");  // at most 3 characters and the NUL
    EXPECT_EQ(lstrcmpiA("hdc", "HDC"), 0);
    EXPECT_EQ(lstrcmpiA("Primary IDE", "primary ide channel"), -1);
    EXPECT_EQ(lstrcmpiA("\xc9", "\xe9"), 0);  // E acute in both cases
    EXPECT_NE(lstrcmpA("hdc", "HDC"), 0);
    EXPECT_EQ(lstrcmpA("b", "a"), 1);
    EXPECT_EQ(lstrcmpA(nullptr, ""), 0);
}

}  // namespace
