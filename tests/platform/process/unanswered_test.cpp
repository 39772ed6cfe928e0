// Boxes that W95_ANSWERS does not answer: W95_UNANSWERED (ask, default,
// safe), the lines of standard input, boxes that nobody answers, and
// answers that no box took. No run presses Yes that nobody chose.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "answers.h"
#include "emulated_process.h"
#include "emulator_error.h"
#include "machine.h"
#include "tool_runner.h"
#include "transcript.h"

namespace {

namespace fs = std::filesystem;
using namespace tool_runner;

// The emulation called directly, as a program's run calls it but with no
// terminal: the boxes' answers come from W95_ANSWERS, W95_UNANSWERED and
// what the test puts on a pipe as standard input.
class UnansweredBoxes : public ::testing::Test {
  protected:
    void SetUp() override {
        w95::ResetEmulatedProcess();
        w95::LoadMachine(machine_.Directory());
        transcript_ = machine_.Directory() / "transcript.jsonl";
        w95::OpenTranscript(transcript_.string());
    }
    void TearDown() override {
        w95::ResetEmulatedProcess();
        for (int fd : pipe_)
            if (fd >= 0) close(fd);
    }

    // Standard input as a pipe that holds `lines` and then ends.
    void Input(const std::string &lines) {
        ASSERT_EQ(pipe(pipe_), 0);
        ASSERT_EQ(write(pipe_[1], lines.data(), lines.size()),
                  static_cast<ssize_t>(lines.size()));
        close(pipe_[1]);
        pipe_[1] = -1;
        w95::Process().answerInput = pipe_[0];
    }
    std::string RestOfInput() {
        std::string rest;
        char c;
        while (read(pipe_[0], &c, 1) == 1) rest += c;
        return rest;
    }

    std::vector<nlohmann::json> Boxes() {
        std::vector<nlohmann::json> out;
        std::ifstream in(transcript_);
        for (std::string line; std::getline(in, line);) {
            auto e = nlohmann::json::parse(line);
            if (e["event"] == "MessageBox") out.push_back(e);
        }
        return out;
    }

    scenario::Machine machine_;
    fs::path transcript_;
    int pipe_[2] = {-1, -1};
};

}  // namespace

TEST(Unanswered, TheSettingIsAskDefaultOrSafe) {
    w95::ResetEmulatedProcess();
    EXPECT_EQ(w95::Process().unanswered, w95::Unanswered::Ask);
    w95::SetUnanswered("DEFAULT");
    EXPECT_EQ(w95::Process().unanswered, w95::Unanswered::Default);
    w95::SetUnanswered(" safe ");
    EXPECT_EQ(w95::Process().unanswered, w95::Unanswered::Safe);
    w95::SetUnanswered("");
    EXPECT_EQ(w95::Process().unanswered, w95::Unanswered::Ask);
    try {
        w95::SetUnanswered("yes");
        FAIL() << "no failure";
    } catch (const w95::EmulatorFailure &e) {
        EXPECT_STREQ(e.what(),
                     "W95_UNANSWERED: 'yes' is none of ask, default, safe");
    }
    w95::ResetEmulatedProcess();
}

// Nobody at a terminal, nothing on standard input: every box takes the
// answer Escape gives, and the run is marked to end with exit code 3.
TEST_F(UnansweredBoxes, ABoxThatNobodyAnswersTakesItsSafeAnswer) {
    w95::SetScriptedAnswers("ok");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "a", "First", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Install?", "Setup", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Cap", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "c", "Cap", MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(MessageBoxA(nullptr, "d", "Cap", MB_OK), IDOK);
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(
        Contains(shown,
                 "w95: message box 2 'Setup' got no answer (W95_ANSWERS "
                 "ran out; no terminal, no line on standard input): "
                 "it takes no\n"))
        << shown;
    EXPECT_FALSE(Contains(shown, "Answered yes")) << shown;
    EXPECT_EQ(w95::Process().runErrors.size(), 4u);
    EXPECT_EQ(w95::RunExitCode(0), 3);
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0]["answeredBy"], "script");
    EXPECT_EQ(boxes[1]["answer"], "IDNO");
    EXPECT_EQ(boxes[1]["answeredBy"], "default");
}

// Without a terminal, the lines of standard input answer in turn, one line
// a box and no more taken than the boxes need.
TEST_F(UnansweredBoxes, LinesOfStandardInputAnswerInTurn) {
    w95::SetScriptedAnswers("yes");
    Input("no\n  Cancel \r\nmaybe\nok\nleft for the next program\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "a", "Cap", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Cap", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "c", "Cap", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(w95::RunExitCode(0), 0);
    // A line that names no button of the box is its safe answer and an
    // error, as a wrong W95_ANSWERS is.
    EXPECT_EQ(MessageBoxA(nullptr, "d", "Restart", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "e", "Cap", MB_OK), IDOK);
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(shown, "Answered no (standard input).\n")) << shown;
    EXPECT_TRUE(Contains(shown,
                         "w95: standard input: line 3 'maybe' does not fit the "
                         "message box 'Restart', whose buttons are yes, no; it "
                         "takes no\n"))
        << shown;
    EXPECT_EQ(w95::RunExitCode(0), 3);
    EXPECT_EQ(RestOfInput(), "left for the next program\n");
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 5u);
    for (const auto &box : boxes) EXPECT_EQ(box["answeredBy"], "script");
}

// `default` presses the default button and `safe` gives what Escape gives,
// both without asking and without taking a line of input.
TEST_F(UnansweredBoxes, DefaultAndSafeAnswerWithoutAsking) {
    Input("yes\n");
    w95::SetUnanswered("default");
    EXPECT_EQ(MessageBoxA(nullptr, "a", "Cap", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "b", "Cap", MB_YESNOCANCEL | MB_DEFBUTTON2),
              IDNO);
    w95::SetUnanswered("safe");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "c", "Cap", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "d", "Cap", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "e", "Cap", MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(MessageBoxA(nullptr, "f", "Cap", MB_RETRYCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "g", "Cap", MB_OK), IDOK);
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Contains(shown, "Answered no (safe answer).\n")) << shown;
    EXPECT_EQ(w95::RunExitCode(0), 0);
    EXPECT_EQ(RestOfInput(), "yes\n");
    for (const auto &box : Boxes()) EXPECT_EQ(box["answeredBy"], "default");
}

TEST(Unanswered, AnswersThatNoBoxTookAreListed) {
    w95::ResetEmulatedProcess();
    EXPECT_EQ(w95::LeftoverAnswers(), "");
    w95::SetScriptedAnswers("yes,n,OK");
    w95::NextScriptedAnswer();
    EXPECT_EQ(w95::LeftoverAnswers(),
              "W95_ANSWERS: 2 answers left over, no message box took them: "
              "2 'no', 3 'ok'");
    w95::NextScriptedAnswer();
    EXPECT_EQ(w95::LeftoverAnswers(),
              "W95_ANSWERS: 1 answer left over, no message box took it: 3 "
              "'ok'");
    w95::ResetEmulatedProcess();
}

// setup run from the distribution disk as a script runs it: what was
// once answered Yes by nobody.
class SetupRun : public ::testing::Test {
  protected:
    ToolRun Setup(std::vector<std::string> options,
                  const std::vector<std::string> &after = {},
                  const std::string &input = "/dev/null") {
        std::vector<std::string> words = {"run",          machine_.Dir(),
                                          "--cwd",        "A:\\",
                                          "--transcript", transcript_.string()};
        words.insert(words.end(), options.begin(), options.end());
        words.push_back("--");
        words.push_back("setup");
        words.insert(words.end(), after.begin(), after.end());
        return W95(words, "", input);
    }
    bool Installed() const {
        return fs::exists(machine_.Path() / "drive_c/VELTRANE/PARLOD.EXE");
    }
    std::string Events() const { return ReadAll(transcript_); }

    ToolMachine machine_;
    fs::path transcript_ = machine_.Beside("run.jsonl");
};

TEST_F(SetupRun, PipedAnswersAreTakenLineByLine) {
    fs::path input = machine_.Beside("answers.txt");
    WriteAll(input, "no\nno\n");
    ToolRun run = Setup({}, {}, input.string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "Answered no (standard input).")) << run.err;
    EXPECT_FALSE(Contains(run.err, "Answered yes")) << run.err;
    EXPECT_FALSE(Installed());
    EXPECT_TRUE(Contains(Events(), R"("answer":"IDNO","answeredBy":"script")"))
        << Events();
}

// A script that forgot its answers, or put them after -- where setup takes
// them for its own: the boxes take No, setup installs nothing and the run
// ends with exit code 3, naming the box.
TEST_F(SetupRun, ForgottenAnswersEndWithCode3AndNoYes) {
    for (const std::vector<std::string> &after :
         {std::vector<std::string>{}, {"--answers", "yes,yes"}}) {
        ToolRun run = Setup({}, after);
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_TRUE(Contains(run.err, "w95: message box 1 '")) << run.err;
        EXPECT_TRUE(Contains(run.err, "got no answer")) << run.err;
        EXPECT_FALSE(Contains(run.err, "Answered yes")) << run.err;
        EXPECT_FALSE(Contains(Events(), "IDYES")) << Events();
        EXPECT_FALSE(Installed());
        EXPECT_EQ(Contains(run.err,
                           "w95: run: '--answers' comes after --, so it goes "
                           "to setup, not to w95; put w95's options before "
                           "--\n"),
                  !after.empty())
            << run.err;
        fs::remove(transcript_);
    }
}

TEST_F(SetupRun, UnansweredDefaultInstallsAndSafeDoesNot) {
    ToolRun bad = Setup({"--unanswered", "yes"});
    EXPECT_EQ(bad.exitCode, 2) << bad.err;
    EXPECT_FALSE(fs::exists(transcript_));

    ToolRun safe = Setup({"--unanswered", "safe"});
    EXPECT_EQ(safe.exitCode, 0) << safe.err;
    EXPECT_TRUE(Contains(safe.err, "Answered no (safe answer).")) << safe.err;
    EXPECT_FALSE(Installed());

    ToolRun byDefault = Setup({"--answers", "yes", "--unanswered", "default"});
    EXPECT_EQ(byDefault.exitCode, 0) << byDefault.err;
    EXPECT_TRUE(Contains(byDefault.err, "Answered yes (default button)."))
        << byDefault.err;
    EXPECT_TRUE(Installed());
    EXPECT_TRUE(Contains(Events(), "\"event\":\"ExitWindowsEx\""));
}

// Answers left over are said once the run ends; the exit code stays the
// program's.
TEST_F(SetupRun, LeftoverAnswersAreReported) {
    ToolRun run = Setup({"--answers", "no,yes,ok"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.err,
                         "w95: W95_ANSWERS: 2 answers left over, no message "
                         "box took them: 2 'yes', 3 'ok'\n"))
        << run.err;
    EXPECT_FALSE(Installed());
}
