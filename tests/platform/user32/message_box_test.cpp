// MessageBoxA on an emulated machine: scripted answers, the default button,
// the transcript and injected faults.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "answers.h"
#include "emulated_process.h"
#include "fault_injection.h"
#include "machine.h"
#include "scenario.h"
#include "transcript.h"

namespace {

class MessageBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Answers come from the script or the default: a process of the
        // emulation made by a test asks on no terminal.
        w95::ResetEmulatedProcess();
        ASSERT_EQ(w95::Process().terminal, "");
        w95::LoadMachine(machine_.Directory());
        transcript_ = machine_.Directory() / "transcript.jsonl";
        w95::OpenTranscript(transcript_.string());
    }
    void TearDown() override { w95::ResetEmulatedProcess(); }

    std::vector<nlohmann::ordered_json> Events(const std::string &kind) {
        std::ifstream in(transcript_);
        std::vector<nlohmann::ordered_json> out;
        for (std::string line; std::getline(in, line);) {
            auto e = nlohmann::ordered_json::parse(line);
            if (e["event"] == kind) out.push_back(e);
        }
        return out;
    }

    scenario::Machine machine_;
    std::filesystem::path transcript_;
};

}  // namespace

TEST_F(MessageBoxTest, ScriptedAnswersThenTheDefaultButton) {
    w95::SetScriptedAnswers("no,Cancel");
    w95::SetUnanswered("default");
    EXPECT_EQ(
        MessageBoxA(nullptr, "Reboot?", "Cap", MB_YESNO | MB_ICONQUESTION),
        IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Go on?", "Cap", MB_OKCANCEL), IDCANCEL);
    // The list is used up: the first button, or the one MB_DEFBUTTONn names.
    EXPECT_EQ(MessageBoxA(nullptr, "a", "Cap", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Cap", MB_YESNOCANCEL | MB_DEFBUTTON3),
              IDCANCEL);
    EXPECT_EQ(
        MessageBoxA(nullptr, "c", "Cap", MB_ABORTRETRYIGNORE | MB_DEFBUTTON2),
        IDRETRY);
    // A default button beyond the box's buttons leaves the first.
    EXPECT_EQ(MessageBoxA(nullptr, "d", "Cap", MB_RETRYCANCEL | MB_DEFBUTTON3),
              IDRETRY);

    auto boxes = Events("MessageBox");
    ASSERT_EQ(boxes.size(), 6u);
    EXPECT_EQ(boxes[0].dump(),
              R"({"event":"MessageBox","caption":"Cap","text":"Reboot?",)"
              R"("type":36,"answer":"IDNO","answeredBy":"script"})");
    EXPECT_EQ(boxes[1]["answeredBy"], "script");
    EXPECT_EQ(boxes[2]["answer"], "IDYES");
    EXPECT_EQ(boxes[2]["answeredBy"], "default");
    EXPECT_EQ(boxes[3]["answer"], "IDCANCEL");
    EXPECT_EQ(boxes[3]["type"], MB_YESNOCANCEL | MB_DEFBUTTON3);
}

TEST_F(MessageBoxTest, TextsAreRecordedAsUtf8AndANullCaptionIsError) {
    EXPECT_EQ(MessageBoxA(nullptr, "Line one\nZ\xfcrich \x80 5", nullptr,
                          MB_OK | MB_ICONERROR),
              IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, nullptr, "", MB_OK), IDOK);
    auto boxes = Events("MessageBox");
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0]["caption"], "Error");
    EXPECT_EQ(boxes[0]["text"], "Line one\nZ\u00fcrich \u20ac 5");
    EXPECT_EQ(boxes[0]["type"], 16);
    EXPECT_EQ(boxes[1]["text"], "");
    EXPECT_EQ(boxes[1]["caption"], "");
}

// A box that gets an answer it has no button for takes the answer Escape
// gives, and the run goes on; the error is kept for the run's exit code.
TEST_F(MessageBoxTest, AnAnswerThatDoesNotFitTakesTheSafeOneAndMarksTheRun) {
    w95::SetScriptedAnswers("retry,yes,no,retry,yes");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Reboot?", "Parlod", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "a", "Cap", MB_RETRYCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Cap", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "c", "Cap", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "d", "Cap", MB_ABORTRETRYIGNORE), IDABORT);
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find("w95: W95_ANSWERS: answer 1 'retry' does not fit the "
                         "message box 'Parlod', whose buttons are yes, no; it "
                         "takes no\n"),
              std::string::npos)
        << shown;
    const std::vector<std::string> &errors = w95::Process().runErrors;
    EXPECT_EQ(errors.size(), 5u);
    EXPECT_EQ(w95::RunExitCode(0), 3);
    auto boxes = Events("MessageBox");
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0]["answer"], "IDNO");
    EXPECT_EQ(boxes[0]["answeredBy"], "script");
}

TEST_F(MessageBoxTest, ARunWithoutErrorsKeepsTheProgramsExitCode) {
    w95::SetScriptedAnswers("y");
    EXPECT_EQ(MessageBoxA(nullptr, "Reboot?", "Parlod", MB_YESNO), IDYES);
    EXPECT_EQ(w95::RunExitCode(1), 1);
    EXPECT_EQ(w95::RunExitCode(0), 0);
}

TEST_F(MessageBoxTest, InjectedFaultsAndUnknownStylesFail) {
    w95::SetScriptedAnswers("yes");
    w95::SetFaultPlan("MessageBoxA@1=8");
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_YESNO), 0);
    EXPECT_EQ(GetLastError(), 8u);
    // The faulted box took no answer.
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", 0x0F), 0);
    EXPECT_EQ(GetLastError(), 1438u);
    EXPECT_EQ(Events("MessageBox").size(), 1u);
    EXPECT_EQ(Events("Fault").size(), 1u);
}
