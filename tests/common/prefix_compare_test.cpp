// Tests of PrefixCompare.
#include <gtest/gtest.h>

#include "prefix_compare.h"

TEST(PrefixCompare, MatchingPrefixesGiveZero) {
    EXPECT_EQ(PrefixCompare("", "anything"), 0);
    EXPECT_EQ(PrefixCompare("", ""), 0);
    EXPECT_EQ(PrefixCompare("ab", "abc"), 0);
    EXPECT_EQ(PrefixCompare("abc", "abc"), 0);
    EXPECT_EQ(PrefixCompare("VEN_7A3C&DEV_052", "VEN_7A3C&DEV_0525&SUBSYS"), 0);
}

TEST(PrefixCompare, DifferenceIsPrefixMinusTextAsSignedBytes) {
    EXPECT_EQ(PrefixCompare("abc", "ab"), 'c');  // against the closing NUL
    EXPECT_EQ(PrefixCompare("a", "b"), -1);
    EXPECT_EQ(PrefixCompare("QVR", "qvr"), 'Q' - 'q');  // case matters
    // Bytes above 0x7F count as negative, as signed 8-bit values do.
    EXPECT_EQ(PrefixCompare("\xE9", "e"), -23 - 'e');
    EXPECT_EQ(PrefixCompare("e", "\xE9"), 'e' + 23);
}
