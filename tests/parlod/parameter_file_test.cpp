// The command-line scan, the header switches and the parameter file reader,
// called directly on an emulated machine.
#include <gtest/gtest.h>

#include <string>

#include "parameter_file.h"
#include "parlod_state_test.h"

using namespace parlod_test;

namespace {

using CommandLineTest = ParlodStateTest;

TEST_F(CommandLineTest, EmptyTailKeepsDefaults) {
    ScanCommandLine("");
    EXPECT_STREQ(ParameterFilePath, "c:\\veltrane\\parlod.ini");
    EXPECT_EQ(RunOptions, 0);
}

TEST_F(CommandLineTest, LowerCaseSwitchesAndQuotedPath) {
    ScanCommandLine("/v /f\"C:\\other\\p.ini\" rest");
    EXPECT_EQ(RunOptions, OPT_VERBOSE);
    EXPECT_STREQ(ParameterFilePath, "C:\\other\\p.ini");
}

TEST_F(CommandLineTest, EmptyAndUnterminatedPaths) {
    ScanCommandLine("/F\"\"");
    EXPECT_STREQ(ParameterFilePath, "");
    ScanCommandLine("/F\"C:\\a b.ini /V");
    EXPECT_STREQ(ParameterFilePath, "C:\\a b.ini /V");
    EXPECT_EQ(RunOptions, 0);
}

TEST_F(CommandLineTest, CharacterAfterFAndSecondSlashAreTaken) {
    ScanCommandLine("/F/V //V /");
    EXPECT_EQ(RunOptions, 0);
    EXPECT_STREQ(ParameterFilePath, "c:\\veltrane\\parlod.ini");
    ScanCommandLine("/F");
    EXPECT_STREQ(ParameterFilePath, "c:\\veltrane\\parlod.ini");
}

TEST_F(CommandLineTest, PathOver255CharactersIsRefused) {
    std::string fits(255, 'x');
    ScanCommandLine(("/F\"" + fits + "\"").c_str());
    EXPECT_EQ(std::string(ParameterFilePath), fits);
    ScanCommandLine(("/F\"" + std::string(256, 'y') + "\" /V").c_str());
    EXPECT_STREQ(ParameterFilePath, "");
    EXPECT_EQ(RunOptions, OPT_VERBOSE);  // the scan goes on after the path
}

using HeaderSwitchTest = ParlodStateTest;

TEST_F(HeaderSwitchTest, QuotedValues) {
    ScanHeaderSwitches("/c\"ESDI\" /DP\"one\" /ds\"two\"/I\"c:\\x\\y\"");
    EXPECT_STREQ(DeviceClass, "ESDI");
    EXPECT_STREQ(PrimaryDescription, "one");
    EXPECT_STREQ(SecondaryDescription, "two");
    EXPECT_STREQ(StartupEntry, "c:\\x\\y");
    EXPECT_EQ(RunOptions, 0);
}

TEST_F(HeaderSwitchTest, OpeningQuoteIsNotLookedAt) {
    ScanHeaderSwitches("/Chdc");
    EXPECT_STREQ(DeviceClass, "dc");
    ScanHeaderSwitches("/C\"\"/V");
    EXPECT_STREQ(DeviceClass, "");
    EXPECT_EQ(RunOptions, OPT_VERBOSE);
}

TEST_F(HeaderSwitchTest, ValueWithoutClosingQuoteRunsToTheEnd) {
    ScanHeaderSwitches("/DS\"half /V");
    EXPECT_STREQ(SecondaryDescription, "half /V");
    EXPECT_EQ(RunOptions, 0);
    ScanHeaderSwitches("/I");  // nothing after the letter: no change
    EXPECT_STREQ(StartupEntry, "c:\\veltrane\\parlod");
}

TEST_F(HeaderSwitchTest, DWithoutPOrSTakesOneCharacter) {
    ScanHeaderSwitches("/DX\"new\" /D/V");
    EXPECT_STREQ(PrimaryDescription, PRIMARY.c_str());
    EXPECT_STREQ(SecondaryDescription, SECONDARY.c_str());
    EXPECT_EQ(RunOptions, 0);
}

TEST_F(HeaderSwitchTest, OptionLettersInEitherCase) {
    ScanHeaderSwitches("/p/r /v /x/9");
    EXPECT_EQ(RunOptions, OPT_PROMPT_REBOOT | OPT_REPEAT | OPT_VERBOSE);
}

TEST_F(HeaderSwitchTest, ChannelOptionsSwitchReach) {
    Load("", Controllers(1));
    ScanHeaderSwitches("/SB/V");
    EXPECT_EQ(RunOptions, 0);
    EXPECT_EQ(ChannelOptionsAt(0), "3:3 ");
    ScanHeaderSwitches("/SX/V /sn /V");
    EXPECT_EQ(RunOptions, OPT_VERBOSE);
    EXPECT_EQ(ChannelOptionsOverride, 0);
    EXPECT_EQ(ChannelOptionsAt(0), "3:3 ");  // present, no override
    ScanHeaderSwitches("/SpO");
    EXPECT_EQ(ChannelOptionsOverride, 1);
    EXPECT_EQ(ChannelOptionsAt(0), "3:1 ");
    ScanHeaderSwitches("/SS");  // mode letter last: still written
    EXPECT_EQ(ChannelOptionsAt(0), "3:2 ");
}

using ReaderTest = ParlodStateTest;

TEST_F(ReaderTest, MissingFile) {
    Load("", Controllers(1));
    ReadParameterFile("/F\"C:\\nowhere.ini\"");
    EXPECT_EQ(LoadStatus, ST_FILE_NOT_FOUND | ST_NOTHING_TO_SET);
    ReadParameterFile("/F\"\"");
    EXPECT_EQ(LoadStatus, ST_FILE_NOT_FOUND | ST_NOTHING_TO_SET);
}

TEST_F(ReaderTest, NoHeaderOrParameterLine) {
    for (const char *text :
         {"", "; nothing\n\n  #not first\n", "#2 /V", "\n*A"}) {
        ResetParlodState();
        Read(text);
        EXPECT_EQ(LoadStatus, ST_NO_VALID_INFO | ST_NOTHING_TO_SET) << text;
        EXPECT_EQ(RunOptions, 0) << text;
    }
}

TEST_F(ReaderTest, CountOnlyDirectlyAfterTheHash) {
    Read("# 12\n*A\n*B\n*C\n");
    EXPECT_EQ(ControllerCount, 1);
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(P(0), "A");
    EXPECT_EQ(S(0), "B");
    EXPECT_EQ(P(1), "missing");
    ResetParlodState();
    Read("#/V\n*A\n");
    EXPECT_EQ(ControllerCount, 1);
    EXPECT_EQ(RunOptions, OPT_VERBOSE);
}

TEST_F(ReaderTest, MissingParameterLinesGiveEmptyStrings) {
    Read("#2\n*A\n");
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(P(0), "A");
    EXPECT_EQ(S(0), "");
    EXPECT_EQ(P(1), "");
    EXPECT_EQ(S(1), "");
    ResetParlodState();
    Read("#2\n");
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(P(0), "");
    EXPECT_EQ(S(1), "");
}

TEST_F(ReaderTest, SlotsFollowTheChannelOrderAndSkipOtherLines) {
    Read("#2 comment\n; text\n#/P\n* a b \n#/R\nx\n*\n*C\n*D\n*E\n");
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(RunOptions, OPT_PROMPT_REBOOT);  // /R came after a "*" line
    EXPECT_EQ(P(0), " a b ");
    EXPECT_EQ(S(0), "");
    EXPECT_EQ(P(1), "C");
    EXPECT_EQ(S(1), "D");
}

TEST_F(ReaderTest, LastParameterLineWithoutLineFeedIsTaken) {
    Read("#1\n*A\r\n*B");
    EXPECT_EQ(P(0), "A");
    EXPECT_EQ(S(0), "B");
}

TEST_F(ReaderTest, CtrlZEndsTheFile) {
    Read("#1\n*A\x1A*B\n");
    EXPECT_EQ(P(0), "A");
    EXPECT_EQ(S(0), "");
}

TEST_F(ReaderTest, RepeatModeServesEveryController) {
    Read("#3 /R\n*A\n*B\n*C\n", 3);
    EXPECT_EQ(LoadStatus, 0u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(P(k), "A") << k;
        EXPECT_EQ(S(k), "B") << k;
    }
    ResetParlodState();
    Read("#2\n#/r\n*A\n", 2);
    EXPECT_EQ(P(1), "A");
    EXPECT_EQ(S(1), "");
}

TEST_F(ReaderTest, LongLinesAreReadInPieces) {
    std::string line(300, 'X');
    line[0] = '*';
    Read("#1\n" + line + "\n");
    EXPECT_EQ(P(0), std::string(254, 'X'));
    EXPECT_EQ(S(0), "");  // the rest does not begin with "*"
    ResetParlodState();
    Read("#1\n*" + std::string(254, 'Y') + "*Z\n");
    EXPECT_EQ(P(0), std::string(254, 'Y'));
    EXPECT_EQ(S(0), "Z");
}

TEST_F(ReaderTest, CountZero) {
    Read("#0\n#/V\n#/S\n*A\n");
    EXPECT_EQ(LoadStatus, ST_ZERO_DEVICES | ST_NOTHING_TO_SET);
    EXPECT_EQ(RunOptions, OPT_VERBOSE);
    EXPECT_EQ(ChannelListBlock, nullptr);
    ResetParlodState();
    Read("#00 /P /SB\n\n#/V\n");
    EXPECT_EQ(LoadStatus, ST_ZERO_DEVICES | ST_NOTHING_TO_SET);
    EXPECT_EQ(RunOptions, 0);  // the empty line ended the look
    EXPECT_EQ(ChannelOptionsAt(0), "none");
    ResetParlodState();
    Read("#0\n#/V");  // the read that reaches the end is not looked at
    EXPECT_EQ(LoadStatus, ST_ZERO_DEVICES | ST_NOTHING_TO_SET);
    EXPECT_EQ(RunOptions, 0);
}

TEST_F(ReaderTest, HeaderLineAtTheEndOfTheFileIsScanned) {
    // Unlike the first header line, a further one still counts when its
    // read reaches the end; the header then has no parameter line.
    Read("#2\n#/P");
    EXPECT_EQ(LoadStatus, 0u);
    EXPECT_EQ(RunOptions, OPT_PROMPT_REBOOT);
    EXPECT_EQ(P(0), "");
    EXPECT_EQ(S(1), "");
}

TEST_F(ReaderTest, ParameterLineFirstMeansNoHeader) {
    Read("*A\n#1\n");
    EXPECT_EQ(LoadStatus, ST_NO_DEVICE_FOUND | ST_NOTHING_TO_SET);
    EXPECT_EQ(ChannelListBlock, nullptr);
}

TEST_F(ReaderTest, CountTooLargeForTheTables) {
    for (const char *text :
         {"#65537\n*A\n", "#4294967296\n", "#99999999999999999999 /SB\n"}) {
        ResetParlodState();
        Read(text);
        EXPECT_EQ(LoadStatus, ST_OUT_OF_MEMORY | ST_NOTHING_TO_SET) << text;
        EXPECT_EQ(ChannelListBlock, nullptr);
    }
    EXPECT_EQ(ChannelOptionsAt(0), "none");
}

TEST_F(ReaderTest, SelectionSwitches) {
    const std::string had = "old";
    struct Case {
        const char *header;
        const char *kept;  // P0 S0 P1 S1, "k" kept, "-" dropped
    };
    for (const Case &c : {Case{"#2 /O", "kkkk"}, Case{"#2 /O1 ", "--kk"},
                          Case{"#2 /O1P", "--k-"}, Case{"#2 /o1s", "---k"},
                          Case{"#2 /OP", "k---"}, Case{"#2 /O0 /O1S", "kk-k"},
                          Case{"#2 /O1", "--kk"}, Case{"#2 /O1/", "--kk"},
                          Case{"#2 /O/V", "kkkk"}, Case{"#2 /O1X", "----"},
                          Case{"#2 /O99999999999S", "----"}}) {
        ResetParlodState();
        Read(std::string(c.header) + "\n*A\n*B\n*C\n*D\n", 2, had);
        std::string kept;
        for (int k = 0; k < 2; ++k) {
            kept += P(k) == "null" ? "-" : "k";
            kept += S(k) == "null" ? "-" : "k";
        }
        EXPECT_EQ(kept, c.kept) << c.header;
        EXPECT_EQ(LoadStatus, kept == "----" ? ST_NOTHING_TO_SET : 0u)
            << c.header;
        EXPECT_EQ(RunOptions, 0) << c.header;
    }
}

TEST_F(ReaderTest, SelectedChannelKeepsItsSlot) {
    Read("#2 /O1S\n*A\n*B\n*C\n*D\n", 2, "old");
    EXPECT_EQ(P(0), "null");
    EXPECT_EQ(S(1), "D");
}

TEST_F(ReaderTest, ChannelOptionsWrittenWhileTheHeaderIsRead) {
    Load("#1 /SBO\n#/SN\n*A\n", Controllers(2));
    ReadParameterFile("");
    EXPECT_EQ(ChannelOptionsOverride, 1);
    EXPECT_EQ(ChannelOptionsAt(0), "3:0 ");
    EXPECT_EQ(ChannelOptionsAt(1), "3:0 ");
}

}  // namespace
