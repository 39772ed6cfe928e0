// kernel32 time conversions between FILETIME, SYSTEMTIME and MS-DOS date
// and time words. No local time conversion takes place: a FILETIME goes to
// the DOS words as it stands.
#include <windows.h>

#include <cstdint>

#include "emulated_process.h"
#include "fault_injection.h"

namespace {

using w95::FailWithLastError;

constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kTicksPerDay = kTicksPerSecond * 86400;

std::uint64_t Ticks(const FILETIME &ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) |
           ft.dwLowDateTime;
}

// Days since 1601-01-01 to a civil date (proleptic Gregorian), and back.
// Counted from 1 March 0000 so that leap days fall at the end of a year.
constexpr std::int64_t kDaysTo1601 = 584694;  // 0000-03-01 .. 1601-01-01

void CivilFromDays(std::int64_t days1601, int *year, int *month, int *day) {
    std::int64_t z = days1601 + kDaysTo1601;
    std::int64_t era = z / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

std::int64_t DaysFromCivil(int year, int month, int day) {
    std::int64_t y = year - (month <= 2 ? 1 : 0);
    std::int64_t era = y / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t mp = month > 2 ? month - 3 : month + 9;
    std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - kDaysTo1601;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

}  // namespace

extern "C" {

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime,
                                 LPSYSTEMTIME lpSystemTime) {
    if (DWORD e = w95::InjectedFault("FileTimeToSystemTime"))
        return FailWithLastError(e);
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    }
    std::uint64_t ticks = Ticks(*lpFileTime);
    if (ticks > 0x7FFFFFFFFFFFFFFFULL)
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    std::int64_t days = static_cast<std::int64_t>(ticks / kTicksPerDay);
    std::uint64_t inDay = ticks % kTicksPerDay;
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // Monday
    std::uint64_t seconds = inDay / kTicksPerSecond;
    lpSystemTime->wHour = static_cast<WORD>(seconds / 3600);
    lpSystemTime->wMinute = static_cast<WORD>(seconds / 60 % 60);
    lpSystemTime->wSecond = static_cast<WORD>(seconds % 60);
    lpSystemTime->wMilliseconds =
        static_cast<WORD>(inDay % kTicksPerSecond / 10000);
    return TRUE;
}

BOOL WINAPI FileTimeToDosDateTime(const FILETIME *lpFileTime, LPWORD lpFatDate,
                                  LPWORD lpFatTime) {
    if (DWORD e = w95::InjectedFault("FileTimeToDosDateTime"))
        return FailWithLastError(e);
    if (lpFileTime == nullptr || lpFatDate == nullptr || lpFatTime == nullptr) {
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    }
    std::uint64_t ticks = Ticks(*lpFileTime);
    if (ticks > 0x7FFFFFFFFFFFFFFFULL)
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    std::int64_t days = static_cast<std::int64_t>(ticks / kTicksPerDay);
    std::uint64_t seconds = ticks % kTicksPerDay / kTicksPerSecond;
    int year, month, day;
    CivilFromDays(days, &year, &month, &day);
    // The DOS date holds the years 1980 to 2107 in 7 bits.
    if (year < 1980 || year > 2107)
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    *lpFatDate = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
    *lpFatTime =
        static_cast<WORD>(((seconds / 3600) << 11) |
                          ((seconds / 60 % 60) << 5) | (seconds % 60 / 2));
    return TRUE;
}

BOOL WINAPI DosDateTimeToFileTime(WORD wFatDate, WORD wFatTime,
                                  LPFILETIME lpFileTime) {
    if (DWORD e = w95::InjectedFault("DosDateTimeToFileTime"))
        return FailWithLastError(e);
    if (lpFileTime == nullptr)
        return FailWithLastError(ERROR_INVALID_PARAMETER);
    int year = 1980 + (wFatDate >> 9);
    int month = (wFatDate >> 5) & 0x0F;
    int day = wFatDate & 0x1F;
    int hour = wFatTime >> 11;
    int minute = (wFatTime >> 5) & 0x3F;
    int second = (wFatTime & 0x1F) * 2;
    // A date or time that does not exist fails without a last error.
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59) {
        return FALSE;
    }
    std::uint64_t ticks =
        static_cast<std::uint64_t>(DaysFromCivil(year, month, day)) *
            kTicksPerDay +
        static_cast<std::uint64_t>(hour * 3600 + minute * 60 + second) *
            kTicksPerSecond;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

}  // extern "C"
