// The command-line tail that the Windows build's start-up hands to WinMain.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"

namespace {

std::string Tail(std::string line) { return CommandLineTail(line.data()); }

TEST(CommandLineTail, SkipsTheProgramNameAndTheBlanksBehindIt) {
    EXPECT_EQ(Tail("setup.exe /O"), "/O");
    EXPECT_EQ(Tail("A:\\SETUP.EXE  \t /O  x"), "/O  x");  // the rest as typed
    EXPECT_EQ(Tail("c:\\veltrane\\parlod"), "");
    EXPECT_EQ(Tail("parlod   "), "");
    EXPECT_EQ(Tail(""), "");
}

TEST(CommandLineTail, AQuotedNameEndsAtItsClosingQuote) {
    EXPECT_EQ(Tail("\"C:\\Program Files\\setup.exe\" /O"), "/O");
    EXPECT_EQ(Tail("\"parlod\"/F\"x.ini\""), "/F\"x.ini\"");
    EXPECT_EQ(Tail("\"no closing quote /O"), "");
    // Quotes inside an unquoted name do not group blanks.
    EXPECT_EQ(Tail("par\"lod x\" /V"), "x\" /V");
}

}  // namespace
