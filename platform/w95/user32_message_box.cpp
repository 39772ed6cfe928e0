// MessageBoxA: answered from W95_ANSWERS, then from the terminal when
// standard input is one, then by the default button; drawn on standard
// error and recorded in the transcript.
#include <windows.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "answers.h"
#include "emulator_error.h"
#include "fault_injection.h"
#include "screen.h"
#include "text_helpers.h"
#include "transcript.h"

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

// Asks on the terminal until a button is named. An empty line presses the
// default button; the end of input gives nullopt.
std::optional<int> AskTerminal(const ButtonSet &set, int defaultId) {
    while (true) {
        std::fprintf(stderr, "Answer (%s) [%s]: ", set.words,
                     w95::AnswerWord(defaultId));
        std::fflush(stderr);
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) {
            std::fputc('\n', stderr);
            return std::nullopt;
        }
        std::string word(w95::TrimSpace(line));
        if (word.empty()) return defaultId;
        std::optional<int> id = w95::AnswerFromWord(word);
        // A button's first letter is enough: within a box they differ.
        if (!id && word.size() == 1) {
            for (int b : set.ids)
                if (std::tolower(static_cast<unsigned char>(word[0])) ==
                    w95::AnswerWord(b)[0])
                    id = b;
        }
        if (id && Offers(set, *id)) return id;
        std::fprintf(stderr, "This box has the buttons %s.\n", set.words);
    }
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
    w95::ShowOnScreen(
        w95::MessageBoxPicture(caption, text, IconMark(uType), buttons));

    int answer = 0;
    const char *answeredBy = "script";
    int position = 0;
    if (std::optional<int> scripted = w95::NextScriptedAnswer(&position)) {
        if (!Offers(set, *scripted))
            w95::EmulatorError("W95_ANSWERS: answer " +
                               std::to_string(position) + " '" +
                               w95::AnswerWord(*scripted) +
                               "' does not fit the message box '" + caption +
                               "', whose buttons are " + set.words);
        answer = *scripted;
        std::fprintf(stderr, "Answered %s (W95_ANSWERS).\n",
                     w95::AnswerWord(answer));
    } else if (isatty(STDIN_FILENO)) {
        std::optional<int> typed = AskTerminal(set, defaultId);
        answer = typed ? *typed : defaultId;
        answeredBy = typed ? "terminal" : "default";
    } else {
        answer = defaultId;
        answeredBy = "default";
        std::fprintf(stderr, "Answered %s (default button).\n",
                     w95::AnswerWord(answer));
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
