// MessageBoxA: answered from W95_ANSWERS, then as W95_UNANSWERED says
// (unanswered_box.cpp); drawn on standard error and recorded in the
// transcript.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "answers.h"
#include "emulated_process.h"
#include "fault_injection.h"
#include "screen.h"
#include "text_helpers.h"
#include "transcript.h"
#include "unanswered_box.h"

namespace {

// What Windows gives for a uType whose button group it does not know.
constexpr DWORD kErrorInvalidMsgboxStyle = 1438;

struct ButtonSet {
    const char *words;  // for messages: "yes, no"
    std::vector<int> ids;
};

bool ButtonsOf(UINT type, ButtonSet *set) {
    switch (type & MB_TYPEMASK) {
        case MB_OK:
            *set = {"ok", {IDOK}};
            return true;
        case MB_OKCANCEL:
            *set = {"ok, cancel", {IDOK, IDCANCEL}};
            return true;
        case MB_ABORTRETRYIGNORE:
            *set = {"abort, retry, ignore", {IDABORT, IDRETRY, IDIGNORE}};
            return true;
        case MB_YESNOCANCEL:
            *set = {"yes, no, cancel", {IDYES, IDNO, IDCANCEL}};
            return true;
        case MB_YESNO:
            *set = {"yes, no", {IDYES, IDNO}};
            return true;
        case MB_RETRYCANCEL:
            *set = {"retry, cancel", {IDRETRY, IDCANCEL}};
            return true;
        default:
            return false;
    }
}

const char *Label(int id) {
    switch (id) {
        case IDOK:
            return "OK";
        case IDCANCEL:
            return "Cancel";
        case IDABORT:
            return "Abort";
        case IDRETRY:
            return "Retry";
        case IDIGNORE:
            return "Ignore";
        case IDYES:
            return "Yes";
        case IDNO:
            return "No";
        default:
            return "?";
    }
}

const char *IconMark(UINT type) {
    switch (type & MB_ICONMASK) {
        case MB_ICONHAND:
            return "(x)";
        case MB_ICONQUESTION:
            return "(?)";
        case MB_ICONEXCLAMATION:
            return "(!)";
        case MB_ICONASTERISK:
            return "(i)";
        default:
            return "";
    }
}

// MB_DEFBUTTONn names the n-th button; one beyond the box's buttons leaves
// the first as the default, as Windows does.
std::size_t DefaultIndex(UINT type, const ButtonSet &set) {
    std::size_t n = (type & MB_DEFMASK) >> 8;
    return n < set.ids.size() ? n : 0;
}

bool Offers(const ButtonSet &set, int id) {
    for (int b : set.ids)
        if (b == id) return true;
    return false;
}

// The answer that Escape gives: Cancel where the box has it, else No, else
// Abort, else OK. Also the answer of a box that is not answered properly.
int SafeAnswer(const ButtonSet &set) {
    for (int id : {IDCANCEL, IDNO, IDABORT})
        if (Offers(set, id)) return id;
    return IDOK;
}

}  // namespace

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption,
                                  UINT uType) {
    (void)hWnd;  // boxes of these programs have no owner; none is needed
    if (DWORD e = w95::InjectedFault("MessageBoxA")) {
        SetLastError(e);
        return 0;
    }
    ButtonSet set;
    if (!ButtonsOf(uType, &set)) {
        SetLastError(kErrorInvalidMsgboxStyle);
        return 0;
    }
    std::string caption = w95::AnsiToUtf8(lpCaption ? lpCaption : "Error");
    std::string text = w95::AnsiToUtf8(lpText ? lpText : "");
    std::size_t defaultIndex = DefaultIndex(uType, set);
    int defaultId = set.ids[defaultIndex];

    std::vector<w95::ScreenButton> buttons;
    for (std::size_t i = 0; i < set.ids.size(); ++i)
        buttons.push_back({Label(set.ids[i]), i == defaultIndex});

    const int number = ++w95::Process().messageBoxes;
    int position = 0;
    std::optional<int> scripted = w95::NextScriptedAnswer(&position);
    // The terminal is opened only for a box that is asked on it.
    std::unique_ptr<w95::Terminal> terminal =
        scripted || w95::Process().unanswered != w95::Unanswered::Ask
            ? nullptr
            : w95::Terminal::Open(w95::Process().terminal);
    int columns = terminal ? terminal->Columns() : w95::StandardErrorColumns();
    // The box's modal loop paints the program's windows first.
    w95::PaintPendingDialogs();
    std::string picture = w95::MessageBoxPicture(caption, text, IconMark(uType),
                                                 buttons, columns);
    w95::ShowOnScreen(picture);

    int answer = 0;
    const char *answeredBy = "script";
    if (scripted && !Offers(set, *scripted)) {
        // Reported, and the run goes on so that the program's own clean-up
        // runs; the run then ends with exit code 3.
        answer = SafeAnswer(set);
        w95::ReportRunError("W95_ANSWERS: answer " + std::to_string(position) +
                            " '" + w95::AnswerWord(*scripted) +
                            "' does not fit the message box '" + caption +
                            "', whose buttons are " + set.words +
                            "; it takes " + w95::AnswerWord(answer));
    } else if (scripted) {
        answer = *scripted;
        std::fprintf(stderr, "Answered %s (W95_ANSWERS).\n",
                     w95::AnswerWord(answer));
    } else {
        w95::BoxQuestion box{number,  caption,   picture,        set.words,
                             set.ids, defaultId, SafeAnswer(set)};
        w95::BoxAnswer got = w95::AnswerUnansweredBox(box, terminal.get());
        answer = got.id;
        answeredBy = got.answeredBy;
    }
    std::fflush(stderr);

    w95::RecordEvent({{"event", "MessageBox"},
                      {"caption", caption},
                      {"text", text},
                      {"type", uType},
                      {"answer", w95::AnswerName(answer)},
                      {"answeredBy", answeredBy}});
    return answer;
}
