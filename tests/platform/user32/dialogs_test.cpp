// Dialogs from the program's compiled resources, their window texts and
// ExitWindowsEx, on an emulated machine.
#include <gtest/gtest.h>

#include <fstream>

#include "emulated_process.h"
#include "fault_injection.h"
#include "machine.h"
#include "answers.h"
#include "compiled_resources.h"
#include "program_resources.h"
#include "scenario.h"
#include "transcript.h"

namespace {

class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        w95::ResetEmulatedProcess();
        w95::LoadMachine(machine_.Directory());
        transcript_ = machine_.Directory() / "transcript.jsonl";
        w95::OpenTranscript(transcript_.string());
        w95::UseProgramResources(CompiledResources("dialogs_test"));
    }
    void TearDown() override { w95::ResetEmulatedProcess(); }

    std::vector<nlohmann::ordered_json> Events() {
        std::ifstream in(transcript_);
        std::vector<nlohmann::ordered_json> out;
        for (std::string line; std::getline(in, line);)
            out.push_back(nlohmann::ordered_json::parse(line));
        return out;
    }

    scenario::Machine machine_;
    std::filesystem::path transcript_;
};

}  // namespace

TEST_F(DialogTest, ProgressDialogTextsAreSetAndRecorded) {
    HWND dialog =
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(106), nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(UpdateWindow(dialog));
    HWND status = GetDlgItem(dialog, 1001);
    ASSERT_NE(status, nullptr);
    EXPECT_NE(GetDlgItem(dialog, -1), nullptr);
    SetLastError(1234);
    EXPECT_EQ(GetDlgItem(dialog, 7), nullptr);
    EXPECT_EQ(GetLastError(), 1234u);  // a missing control sets no error

    char text[64];
    EXPECT_EQ(GetWindowTextA(dialog, text, sizeof text), 5);
    EXPECT_STREQ(text, "Setup");
    EXPECT_TRUE(SetWindowTextA(status, "Saving the Windows 95 registry."));
    EXPECT_EQ(GetWindowTextA(status, text, 7), 6);  // cut to fit, NUL ended
    EXPECT_STREQ(text, "Saving");
    EXPECT_TRUE(SetWindowTextA(dialog, "QVR \xe9"));
    EXPECT_TRUE(DestroyWindow(dialog));
    // The dialog and its controls are gone.
    SetLastError(0);
    EXPECT_FALSE(SetWindowTextA(status, "late"));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_FALSE(DestroyWindow(dialog));

    EXPECT_FALSE(UpdateWindow(dialog));
    EXPECT_EQ(GetLastError(), 1400u);

    auto events = Events();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].dump(),
              R"({"event":"CreateDialog","id":106,"title":"Setup","controls":[)"
              R"({"id":1001,"class":"STATIC","text":"Template text"},)"
              R"({"id":-1,"class":"STATIC","text":"PARLOD"}]})");
    EXPECT_EQ(events[1].dump(), R"({"event":"UpdateWindow","dialog":106})");
    events.erase(events.begin() + 1);
    EXPECT_EQ(events[1].dump(),
              R"({"event":"SetWindowText","dialog":106,"control":1001,)"
              R"("text":"Saving the Windows 95 registry."})");
    EXPECT_EQ(events[2].dump(),
              R"({"event":"SetWindowText","dialog":106,"control":null,)"
              "\"text\":\"QVR \xc3\xa9\"}");
    EXPECT_EQ(events[3].dump(), R"({"event":"DestroyWindow","dialog":106})");
}

TEST_F(DialogTest, TemplatesAreFoundByNumberOrName) {
    HWND a = CreateDialogParamA(nullptr, "#105", nullptr, nullptr, 0);
    HWND b = CreateDialogParamA(nullptr, "hidden", nullptr, nullptr, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_TRUE(SetWindowTextA(b, "x"));
    auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["id"], 105);
    EXPECT_EQ(events[0]["controls"][0]["text"], "The system is rebooting.");
    EXPECT_EQ(events[1]["id"], "HIDDEN");
    EXPECT_EQ(events[2]["dialog"], "HIDDEN");
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST_F(DialogTest, FailuresAreRecordedAndReported) {
    SetLastError(0);
    EXPECT_EQ(
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(999), nullptr, nullptr, 0),
        nullptr);
    EXPECT_EQ(GetLastError(), 1814u);
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCE(105),
                                 reinterpret_cast<HWND>(0x1234), nullptr, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), 1400u);
    w95::SetFaultPlan("CreateDialogParamA=5");
    EXPECT_EQ(
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(105), nullptr, nullptr, 0),
        nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    w95::ResetFaults();

    // A program without resources has no templates at all.
    w95::UseProgramResources(std::nullopt);
    if (!W95ResourceBytes) {
        EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCE(105), nullptr,
                                     nullptr, 0),
                  nullptr);
        EXPECT_EQ(GetLastError(), 1814u);
    }
    // Calls on no window fail without a record.
    EXPECT_FALSE(DestroyWindow(nullptr));
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_EQ(GetDlgItem(nullptr, 1001), nullptr);
    EXPECT_FALSE(UpdateWindow(nullptr));
    EXPECT_EQ(GetLastError(), 1400u);
    char text[4] = "abc";
    EXPECT_EQ(GetWindowTextA(nullptr, text, sizeof text), 0);
    EXPECT_STREQ(text, "");

    int failed = 0;
    for (const auto &e : Events()) {
        if (e["event"] == "CreateDialog") {
            EXPECT_EQ(e["failed"], true);
            ++failed;
        }
        EXPECT_NE(e["event"], "DestroyWindow");
        EXPECT_NE(e["event"], "UpdateWindow");
    }
    EXPECT_GE(failed, 3);
}

// The run goes on without the dialog and ends with exit code 3.
TEST_F(DialogTest, AMalformedTemplateFailsTheDialogAndMarksTheRun) {
    // A template that ends within its header.
    w95::UseProgramResources(ResFile(ResEntry(5, 105, {0xC0, 0x08, 0xC0})));
    ::testing::internal::CaptureStderr();
    SetLastError(0);
    EXPECT_EQ(
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(105), nullptr, nullptr, 0),
        nullptr);
    EXPECT_EQ(GetLastError(), 1812u);
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(shown.rfind("w95: ", 0), 0u) << shown;
    EXPECT_NE(shown.find(".res: dialog 105: cut short"), std::string::npos);
    EXPECT_EQ(w95::RunExitCode(0), 3);
    EXPECT_EQ(Events().back()["failed"], true);
}

// A dialog is drawn when it is painted, with the texts it has then, and
// again at each change once on the screen; a template's text that the
// program replaced before the paint never shows.
TEST_F(DialogTest, ADialogIsDrawnWhenPaintedWithItsTextsOfThatMoment) {
    HWND dialog =
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(106), nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    HWND status = GetDlgItem(dialog, 1001);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(SetWindowTextA(dialog, "Setup \xe9"));
    EXPECT_TRUE(SetWindowTextA(status, "Copying QVRIDE.DLL"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(UpdateWindow(status));
    std::string painted = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(painted.find("Setup \u00e9"), std::string::npos) << painted;
    EXPECT_NE(painted.find("Copying QVRIDE.DLL"), std::string::npos);
    EXPECT_EQ(painted.find("Template text"), std::string::npos) << painted;

    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(UpdateWindow(dialog));
    EXPECT_TRUE(SetWindowTextA(status, "Done."));
    std::string changed = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(changed.find("Copying"), std::string::npos) << changed;
    EXPECT_NE(changed.find("Done."), std::string::npos) << changed;
    EXPECT_EQ(changed.find(painted.substr(0, painted.find('\n'))), 0u)
        << "drawn once, whole, for the change: " << changed;
}

// A dialog closed before any paint is drawn once, as it stood.
TEST_F(DialogTest, ADialogClosedUnpaintedIsDrawnOnce) {
    HWND dialog =
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(106), nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(DestroyWindow(dialog));
    std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_LT(shown.find("Template text"), shown.find("(closed: Setup)"))
        << shown;
}

// A message box's modal loop paints a dialog that the program never did.
TEST_F(DialogTest, AMessageBoxPaintsTheDialogsFirst) {
    w95::SetScriptedAnswers("ok");
    HWND dialog =
        CreateDialogParamA(nullptr, MAKEINTRESOURCE(106), nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    ::testing::internal::CaptureStderr();
    MessageBoxA(nullptr, "Cannot find the driver", "Setup", MB_OK);
    std::string shown = ::testing::internal::GetCapturedStderr();
    std::size_t frame = shown.find("Template text");
    ASSERT_NE(frame, std::string::npos) << shown;
    EXPECT_LT(frame, shown.find("Cannot find the driver")) << shown;
}

TEST_F(DialogTest, ExitWindowsExRequestsARestartUnlessItFails) {
    w95::SetFaultPlan("ExitWindowsEx@1=5");
    w95::TheMachine().restartRequested = false;
    SetLastError(0);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_FALSE(w95::TheMachine().restartRequested);
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_TRUE(w95::TheMachine().restartRequested);
    std::vector<std::string> calls;
    for (const auto &e : Events())
        if (e["event"] == "ExitWindowsEx") calls.push_back(e.dump());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0],
              R"({"event":"ExitWindowsEx","flags":6,"result":false})");
    EXPECT_EQ(calls[1], R"({"event":"ExitWindowsEx","flags":2,"result":true})");
}
