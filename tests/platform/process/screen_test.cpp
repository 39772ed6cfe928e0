// The pictures of message boxes: fitted to the terminal's width.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "screen.h"

namespace {

std::vector<std::string> Lines(const std::string &picture) {
    std::vector<std::string> lines;
    std::istringstream in(picture);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

int Widest(const std::string &picture) {
    int widest = 0;
    for (const std::string &line : Lines(picture))
        widest = std::max(widest, w95::TextWidth(line));
    return widest;
}

const std::string kLongText =
    "Windows must restart to continue setup.  Do you want to restart Windows "
    "now?  Unsaved work in other programs is lost when it restarts.";

}  // namespace

TEST(Screen, ABoxFitsTheTerminalsWidth) {
    std::vector<w95::ScreenButton> buttons = {{"Yes", true}, {"No", false}};
    for (int columns : {40, 80, 132}) {
        std::string picture =
            w95::MessageBoxPicture("Setup", kLongText, "(?)", buttons, columns);
        EXPECT_LE(Widest(picture), columns) << picture;
        // Every word is there, none cut.
        std::string joined;
        for (const std::string &line : Lines(picture)) joined += line + " ";
        for (const char *word : {"restart", "Unsaved", "restarts."})
            EXPECT_NE(joined.find(word), std::string::npos) << picture;
    }
    // On a wide terminal the text keeps its one line.
    std::string wide =
        w95::MessageBoxPicture("Setup", kLongText, "(?)", buttons, 200);
    EXPECT_NE(wide.find(kLongText), std::string::npos) << wide;
    EXPECT_EQ(Lines(wide).size(), 6u);
}

TEST(Screen, ALongCaptionIsCutToFitAndShortBoxesStaySmall) {
    std::string caption(100, 'C');
    std::string picture =
        w95::MessageBoxPicture(caption, "Done.", "", {{"OK", true}}, 50);
    EXPECT_LE(Widest(picture), 50) << picture;
    EXPECT_NE(picture.find("CCC..."), std::string::npos) << picture;

    std::string small =
        w95::MessageBoxPicture("Cap", "Done.", "", {{"OK", true}}, 200);
    EXPECT_EQ(small,
              "+-[ Cap ]-+\n"
              "|         |\n"
              "| Done.   |\n"
              "|         |\n"
              "|  <OK>   |\n"
              "+---------+\n");
}

TEST(Screen, OneLineJoinsTheLinesOfAText) {
    EXPECT_EQ(w95::OneLine("Copying\r\nQVRIDE.DLL\n\nnow\tthen"),
              "Copying QVRIDE.DLL now    then");
    EXPECT_EQ(w95::OneLine(""), "");
}
