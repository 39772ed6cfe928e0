// W95_ANSWERS: the list of answers that message boxes take in turn.
#include <gtest/gtest.h>

#include <windows.h>

#include "answers.h"
#include "emulator_error.h"

TEST(Answers, WordsInAnyCaseAreTakenInOrder) {
    w95::SetScriptedAnswers("yes, NO,Ok ,cancel,Abort,retry,IGNORE");
    const int expected[] = {IDYES,   IDNO,    IDOK,    IDCANCEL,
                            IDABORT, IDRETRY, IDIGNORE};
    int position = 0;
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(w95::NextScriptedAnswer(&position), expected[i]);
        EXPECT_EQ(position, i + 1);
    }
    EXPECT_EQ(w95::NextScriptedAnswer(), std::nullopt);

    w95::SetScriptedAnswers("");
    EXPECT_EQ(w95::NextScriptedAnswer(), std::nullopt);
    w95::SetScriptedAnswers("  ");
    EXPECT_EQ(w95::NextScriptedAnswer(), std::nullopt);
}

TEST(Answers, AWordThatNamesNoButtonIsRefusedWhole) {
    w95::SetScriptedAnswers("ok");
    try {
        w95::SetScriptedAnswers("yes,maybe,no");
        FAIL() << "no failure";
    } catch (const w95::EmulatorFailure &e) {
        EXPECT_STREQ(e.what(),
                     "W95_ANSWERS: answer 2 'maybe' names no button (ok, "
                     "cancel, yes, no, abort, retry, ignore, or their first "
                     "letters)");
    }
    // An empty entry is no answer either, nor a letter that begins no word
    // or two letters.
    EXPECT_THROW(w95::SetScriptedAnswers("x"), w95::EmulatorFailure);
    EXPECT_THROW(w95::SetScriptedAnswers("ye"), w95::EmulatorFailure);
    EXPECT_THROW(w95::SetScriptedAnswers("yes,,no"), w95::EmulatorFailure);
    EXPECT_THROW(w95::SetScriptedAnswers("yes,"), w95::EmulatorFailure);
    // The old list stays when a new one is refused.
    EXPECT_EQ(w95::NextScriptedAnswer(), IDOK);
}

TEST(Answers, NamesOfTheResults) {
    EXPECT_STREQ(w95::AnswerName(IDOK), "IDOK");
    EXPECT_STREQ(w95::AnswerName(IDNO), "IDNO");
    EXPECT_STREQ(w95::AnswerWord(IDRETRY), "retry");
    EXPECT_EQ(w95::AnswerFromWord("Ignore"), IDIGNORE);
    EXPECT_EQ(w95::AnswerFromWord("q"), std::nullopt);
}

TEST(Answers, FirstLettersInAnyCaseNameTheirButtons) {
    w95::SetScriptedAnswers("o,C, y ,N,a,R,i");
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE})
        EXPECT_EQ(w95::NextScriptedAnswer(), id);
    EXPECT_EQ(w95::NextScriptedAnswer(), std::nullopt);
}
