// wsprintfA and wvsprintfA: the Windows formatting rules that the programs
// rely on, where they differ from the C library's, and the 1024-byte cap.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int lastLength = 0;

// Formats through wvsprintfA, which the compiler does not check as printf,
// so that formats only Windows knows can be tried too.
std::string Format(const char *format, ...) {
    char buffer[1100];
    std::memset(buffer, '#', sizeof buffer);
    va_list args;
    va_start(args, format);
    lastLength = wvsprintfA(buffer, format, args);
    va_end(args);
    if (std::strlen(buffer) < 1023) {
        EXPECT_EQ(lastLength, int(std::strlen(buffer)));
    }
    return buffer;
}

TEST(Wsprintf, TheProgramsFormats) {
    char out[64];
    EXPECT_EQ(wsprintfA(out, "Cannot shutdown!  Error code = %lu.",
                        (unsigned long)1314),
              36);
    EXPECT_STREQ(out, "Cannot shutdown!  Error code = 1314.");
    wsprintfA(out, "  Error code = %ld.", (long)-5);
    EXPECT_STREQ(out, "  Error code = -5.");
    wsprintfA(out, "%08lX", (unsigned long)0x1A2B3Cu);
    EXPECT_STREQ(out, "001A2B3C");
    wsprintfA(out, "%03d|%d-%d-%d", 7, 9, 23, 16);
    EXPECT_STREQ(out, "007|9-23-16");
    wsprintfA(out, "%s\\%s %c%%", "C:\\WINDOWS", "win.ini", 'x');
    EXPECT_STREQ(out, "C:\\WINDOWS\\win.ini x%");
}

TEST(Wsprintf, NumbersAreThirtyTwoBits) {
    EXPECT_EQ(Format("%ld %lu", -2147483647L - 1, 4294967295UL),
              "-2147483648 4294967295");
    EXPECT_EQ(Format("%u %x %X", -1, 255, 0xABCDEFu), "4294967295 ff ABCDEF");
    EXPECT_EQ(Format("%lx %i", 0xDEADBEEFUL, -12), "deadbeef -12");
    // 'h' makes no short of a number.
    EXPECT_EQ(Format("%hd %hu %hx", 0x18000, 0x1FFFF, 0x12345),
              "98304 131071 12345");
    EXPECT_EQ(Format("%d", 0), "0");
}

TEST(Wsprintf, FlagsWidthAndPrecision) {
    EXPECT_EQ(Format("[%5d][%-5d][%05d]", 42, 42, -42),
              "[   42][42   ][-0042]");
    EXPECT_EQ(Format("[%-05d]", 42), "[42   ]");  // '-' wins over '0'
    // The 0x prefix stands outside the width.
    EXPECT_EQ(Format("[%#x][%#06X][%#6x]", 255, 255, 255),
              "[0xff][0X0000FF][    0xff]");
    // The minus sign counts in the precision.
    EXPECT_EQ(Format("[%.3d][%8.3d][%.2d]", -7, -7, -123),
              "[-07][     -07][-123]");
    // '-' and '0' only in that order: "%0-5d" has no width.
    EXPECT_EQ(Format("[%0-5d]", 42), "[-5d]");
    EXPECT_EQ(Format("[%.4d][%6.3u][%.0d]", 7, 5u, 0), "[0007][   005][0]");
    EXPECT_EQ(Format("[%6s][%-6s][%.3s][%5.2s]", "ab", "ab", "abcdef", "xyz"),
              "[    ab][ab    ][abc][   xy]");
    EXPECT_EQ(Format("[%.0s]", "whole"), "[whole]");  // 0: no limit
    EXPECT_EQ(Format("[%3c][%-3c]", 'a', 'b'), "[  a][b  ]");
    EXPECT_EQ(Format("[%1d]", 12345), "[12345]");  // a width never cuts
}

TEST(Wsprintf, WindowsOwnRules) {
    EXPECT_EQ(Format("%s|%.2s", (const char *)nullptr, (const char *)nullptr),
              "(null)|(n");
    EXPECT_EQ(Format("%hs %hc", "short", 'c'), "short c");
    // A '%' before a character that means nothing gives the character: no
    // argument is taken.
    EXPECT_EQ(Format("100%% %q %d", 5), "100% q 5");
    EXPECT_EQ(Format("%f", 5), "f");  // no floating point
    EXPECT_EQ(Format("end%"), "end");
}

TEST(Wsprintf, OutputStopsAtTheBufferLimit) {
    std::string long_text(2000, 'a');
    std::string out = Format("%s tail", long_text.c_str());
    EXPECT_EQ(out.size(), 1023u);
    EXPECT_EQ(out, std::string(1023, 'a'));
    EXPECT_EQ(lastLength, 1024);  // a cut output counts as the whole buffer
    EXPECT_EQ(Format("%2000d", 1), std::string(1023, ' '));
    EXPECT_EQ(lastLength, 1024);
    EXPECT_EQ(Format("%s", std::string(1022, 'b').c_str()).size(), 1022u);
    EXPECT_EQ(lastLength, 1022);
}

}  // namespace
