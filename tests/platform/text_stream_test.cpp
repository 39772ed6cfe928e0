// Text streams: CR LF translation on both sides, Ctrl-Z, fgets pieces, the
// end of the stream and failures from below.
#include <string>
#include <vector>

#include "temp_machine.h"
#include "text_stream.h"

namespace {

class TextStreams : public TempMachineTest {
  protected:
    // Every line that reads of `bytes` return, with a buffer of `size`.
    std::vector<std::string> Lines(const std::string &bytes, int size = 256) {
        machine.WriteFile("C:\\IN.TXT", bytes);
        TextStream *stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
        EXPECT_NE(stream, nullptr);
        std::vector<std::string> lines;
        std::vector<char> buffer(size);
        while (ReadTextLine(buffer.data(), size, stream) != nullptr) {
            lines.push_back(buffer.data());
        }
        EXPECT_TRUE(AtEndOfStream(stream));
        EXPECT_FALSE(StreamFailed(stream));
        EXPECT_TRUE(CloseTextStream(stream));
        return lines;
    }
};

using Texts = std::vector<std::string>;

TEST_F(TextStreams, CarriageReturns) {
    EXPECT_EQ(Lines("a\r\nb\r\n"), (Texts{"a\n", "b\n"}));
    EXPECT_EQ(Lines("a\rb\n\r"), (Texts{"a\rb\n", "\r"}));  // lone CRs stay
    EXPECT_EQ(Lines("a\r\r\nb"), (Texts{"a\r\n", "b"}));
    // A CR at the end of the 4096-byte buffer with its LF in the next one.
    std::string edge(4095, 'x');
    EXPECT_EQ(Lines(edge + "\r\nz", 8192), (Texts{edge + "\n", "z"}));
}

TEST_F(TextStreams, CtrlZEndsTheText) {
    EXPECT_EQ(Lines("a\nb\x1A"
                    "c\n"),
              (Texts{"a\n", "b"}));
    EXPECT_EQ(Lines("\x1A"
                    "abc"),
              Texts{});
    EXPECT_EQ(Lines(""), Texts{});
}

TEST_F(TextStreams, LongLinesComeInPieces) {
    std::string line(300, 'p');
    EXPECT_EQ(Lines(line + "\n"),
              (Texts{std::string(255, 'p'), std::string(45, 'p') + "\n"}));
    EXPECT_EQ(Lines("abcdef\n", 4), (Texts{"abc", "def", "\n"}));
}

TEST_F(TextStreams, EndIsSeenByTheReadThatRunsIntoIt) {
    machine.WriteFile("C:\\IN.TXT", "one\nlast");
    TextStream *stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
    ASSERT_NE(stream, nullptr);
    char buffer[256];
    ASSERT_NE(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_FALSE(AtEndOfStream(stream));
    ASSERT_NE(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_STREQ(buffer, "last");
    EXPECT_TRUE(AtEndOfStream(stream));  // a last line without LF
    EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_TRUE(CloseTextStream(stream));

    machine.WriteFile("C:\\IN.TXT", "one\n");
    stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
    ASSERT_NE(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_FALSE(AtEndOfStream(stream));  // only the next read meets the end
    EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_TRUE(AtEndOfStream(stream));
    EXPECT_TRUE(CloseTextStream(stream));
}

// A lone CR ending a full piece makes the stream look for a LF behind it;
// finding the end of the file there does not end the stream yet, exactly as
// for the same piece with any other last character.
TEST_F(TextStreams, LookAheadBehindALoneCrIsNotTheEnd) {
    for (char last : {'\r', 'x'}) {
        std::string piece = std::string(254, 'p') + last;
        machine.WriteFile("C:\\IN.TXT", piece);
        TextStream *stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
        ASSERT_NE(stream, nullptr);
        char buffer[256];
        ASSERT_NE(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
        EXPECT_EQ(std::string(buffer), piece);
        EXPECT_FALSE(AtEndOfStream(stream)) << int(last);
        EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
        EXPECT_TRUE(AtEndOfStream(stream));
        EXPECT_FALSE(StreamFailed(stream));
        EXPECT_TRUE(CloseTextStream(stream));
    }
}

TEST_F(TextStreams, WritingTurnsLineFeedsIntoCrLf) {
    machine.WriteFile("C:\\OUT.TXT", "old content that goes away");
    TextStream *stream = OpenTextStream("C:\\OUT.TXT", TEXT_WRITE);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(WriteText(stream, "[windows]\nload="));
    EXPECT_TRUE(WriteText(stream, "\nrun=x"));
    std::string many(5000, '\n');  // more than one buffer
    EXPECT_TRUE(WriteText(stream, many.c_str()));
    EXPECT_TRUE(CloseTextStream(stream));
    std::string expected = "[windows]\r\nload=\r\nrun=x";
    for (int i = 0; i < 5000; ++i) expected += "\r\n";
    EXPECT_EQ(machine.ReadFile("C:\\OUT.TXT"), expected);
}

TEST_F(TextStreams, OpenFailures) {
    EXPECT_EQ(OpenTextStream("C:\\NONE.TXT", TEXT_READ), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(OpenTextStream("C:\\NODIR\\X.TXT", TEXT_WRITE), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CloseTextStream(nullptr));
}

TEST_F(TextStreams, InjectedFaultsStick) {
    machine.WriteFile("C:\\IN.TXT", "a\nb\n");
    w95::SetFaultPlan("OpenTextStream@1=5");
    EXPECT_EQ(OpenTextStream("C:\\IN.TXT", TEXT_READ), nullptr);
    EXPECT_EQ(GetLastError(), 5u);

    w95::SetFaultPlan("ReadTextLine@2=30");
    TextStream *stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
    ASSERT_NE(stream, nullptr);
    char buffer[256];
    EXPECT_NE(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_TRUE(StreamFailed(stream));
    EXPECT_FALSE(AtEndOfStream(stream));
    EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_FALSE(CloseTextStream(stream));
    EXPECT_EQ(GetLastError(), 30u);

    w95::SetFaultPlan("WriteText@2=112");
    stream = OpenTextStream("C:\\OUT.TXT", TEXT_WRITE);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(WriteText(stream, "one\n"));
    EXPECT_FALSE(WriteText(stream, "two\n"));
    EXPECT_FALSE(WriteText(stream, "three\n"));  // the error sticks
    EXPECT_TRUE(StreamFailed(stream));
    EXPECT_FALSE(CloseTextStream(stream));

    w95::SetFaultPlan("CloseTextStream=5");
    stream = OpenTextStream("C:\\OUT.TXT", TEXT_WRITE);
    EXPECT_TRUE(WriteText(stream, "held"));
    EXPECT_FALSE(CloseTextStream(stream));
    EXPECT_EQ(GetLastError(), 5u);
}

TEST_F(TextStreams, FailuresOfTheFileCallsBelowReachTheStream) {
    machine.WriteFile("C:\\IN.TXT", "a\nb\n");
    w95::SetFaultPlan("ReadFile=30");
    TextStream *stream = OpenTextStream("C:\\IN.TXT", TEXT_READ);
    ASSERT_NE(stream, nullptr);
    char buffer[256];
    EXPECT_EQ(ReadTextLine(buffer, sizeof buffer, stream), nullptr);
    EXPECT_TRUE(StreamFailed(stream));
    EXPECT_FALSE(CloseTextStream(stream));

    w95::SetFaultPlan("WriteFile=112");
    stream = OpenTextStream("C:\\OUT.TXT", TEXT_WRITE);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(WriteText(stream, "buffered\n"));  // not written yet
    EXPECT_FALSE(CloseTextStream(stream));         // the flush fails
    EXPECT_EQ(GetLastError(), 112u);
}

}  // namespace
