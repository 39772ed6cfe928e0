// FILETIME to MS-DOS date and time words and SYSTEMTIME, without local time.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

FILETIME FromUnix(std::int64_t seconds) {
    std::uint64_t ticks =
        static_cast<std::uint64_t>(seconds) * 10000000 + 116444736000000000ULL;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFF),
                    static_cast<DWORD>(ticks >> 32)};
}

TEST(DosTime, TwentyThirdSeptember1996) {
    FILETIME ft = FromUnix(843488130);  // 1996-09-23 14:15:30 UTC
    WORD date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ((date >> 5) & 0x0F, 9);
    EXPECT_EQ(date & 0x1F, 23);
    EXPECT_EQ(date >> 9, 16);
    EXPECT_EQ(time >> 11, 14);
    EXPECT_EQ((time >> 5) & 0x3F, 15);
    EXPECT_EQ(time & 0x1F, 15);  // seconds / 2

    FILETIME back{};
    ASSERT_TRUE(DosDateTimeToFileTime(date, time, &back));
    EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
    EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);

    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 1996);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 23);
    EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
    EXPECT_EQ(st.wHour, 14);
    EXPECT_EQ(st.wSecond, 30);
}

TEST(DosTime, RangeIs1980To2107) {
    WORD date = 0, time = 0;
    FILETIME first = FromUnix(315532800);  // 1980-01-01 00:00:00
    ASSERT_TRUE(FileTimeToDosDateTime(&first, &date, &time));
    EXPECT_EQ(date, (1 << 5) | 1);
    EXPECT_EQ(time, 0);
    FILETIME last = FromUnix(4354819199LL);  // 2107-12-31 23:59:59
    ASSERT_TRUE(FileTimeToDosDateTime(&last, &date, &time));
    EXPECT_EQ(date >> 9, 127);
    for (std::int64_t outside : {315532799LL, 4354819200LL, 0LL}) {
        FILETIME ft = FromUnix(outside);
        SetLastError(0);
        EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time)) << outside;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    }
    FILETIME ft{};
    EXPECT_FALSE(DosDateTimeToFileTime((16 << 9) | (2 << 5) | 30, 0, &ft));
    EXPECT_TRUE(DosDateTimeToFileTime((16 << 9) | (2 << 5) | 29, 0, &ft));
}

TEST(DosTime, ADateThatDoesNotExistFailsWithoutALastError) {
    FILETIME ft{};
    for (WORD date : {WORD((21 << 9) | (2 << 5) | 29),  // 2001-02-29
                      WORD((10 << 9) | (13 << 5) | 1), WORD((10 << 9) | 1)}) {
        SetLastError(1234);
        EXPECT_FALSE(DosDateTimeToFileTime(date, 0, &ft)) << date;
        EXPECT_EQ(GetLastError(), 1234u);
    }
    SetLastError(1234);
    EXPECT_FALSE(DosDateTimeToFileTime(0x21, 24 << 11, &ft));  // 24:00
    EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
