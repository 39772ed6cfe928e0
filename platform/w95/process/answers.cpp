// Answers to message boxes: the W95_ANSWERS list, W95_UNANSWERED and the
// button words.
#include "answers.h"

#include <windows.h>

#include <cctype>
#include <deque>

#include "emulated_process.h"
#include "emulator_error.h"
#include "text_helpers.h"

namespace w95 {

namespace {

struct Button {
    int id;
    const char *word;
    const char *name;
};

constexpr Button kButtons[] = {
    {IDOK, "ok", "IDOK"},
    {IDCANCEL, "cancel", "IDCANCEL"},
    {IDABORT, "abort", "IDABORT"},
    {IDRETRY, "retry", "IDRETRY"},
    {IDIGNORE, "ignore", "IDIGNORE"},
    {IDYES, "yes", "IDYES"},
    {IDNO, "no", "IDNO"},
};

}  // namespace

std::optional<int> AnswerFromWord(std::string_view word) {
    word = TrimSpace(word);
    // The first letters differ from button to button, so one is enough.
    for (const Button &b : kButtons)
        if (EqualsIgnoringAsciiCase(word, b.word) ||
            (word.size() == 1 &&
             std::tolower(static_cast<unsigned char>(word[0])) == b.word[0]))
            return b.id;
    return std::nullopt;
}

void SetScriptedAnswers(const std::string &list) {
    std::deque<ScriptedAnswer> parsed;
    if (!TrimSpace(list).empty()) {
        std::size_t start = 0;
        int position = 0;
        while (true) {
            std::size_t comma = list.find(',', start);
            std::string_view word = std::string_view(list).substr(
                start,
                comma == std::string::npos ? std::string::npos : comma - start);
            ++position;
            std::optional<int> id = AnswerFromWord(word);
            if (!id)
                throw EmulatorFailure(
                    "W95_ANSWERS: answer " + std::to_string(position) + " '" +
                    std::string(TrimSpace(word)) +
                    "' names no button (ok, cancel, yes, no, abort, retry, "
                    "ignore, or their first letters)");
            parsed.push_back({*id, position});
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    Process().answers = std::move(parsed);
}

std::optional<int> NextScriptedAnswer(int *position) {
    std::deque<ScriptedAnswer> &scripted = Process().answers;
    if (scripted.empty()) return std::nullopt;
    ScriptedAnswer next = scripted.front();
    scripted.pop_front();
    if (position) *position = next.position;
    return next.id;
}

void SetUnanswered(const std::string &value) {
    std::string_view word = TrimSpace(value);
    Unanswered mode;
    if (word.empty() || EqualsIgnoringAsciiCase(word, "ask"))
        mode = Unanswered::Ask;
    else if (EqualsIgnoringAsciiCase(word, "default"))
        mode = Unanswered::Default;
    else if (EqualsIgnoringAsciiCase(word, "safe"))
        mode = Unanswered::Safe;
    else
        throw EmulatorFailure("W95_UNANSWERED: '" + std::string(word) +
                              "' is none of ask, default, safe");
    Process().unanswered = mode;
}

std::string LeftoverAnswers() {
    const std::deque<ScriptedAnswer> &left = Process().answers;
    if (left.empty()) return "";
    std::string message = "W95_ANSWERS: " + std::to_string(left.size()) +
                          (left.size() == 1 ? " answer" : " answers") +
                          " left over, no message box took ";
    message += left.size() == 1 ? "it:" : "them:";
    for (std::size_t i = 0; i < left.size(); ++i)
        message += std::string(i == 0 ? " " : ", ") +
                   std::to_string(left[i].position) + " '" +
                   AnswerWord(left[i].id) + "'";
    return message;
}

const char *AnswerName(int id) {
    for (const Button &b : kButtons)
        if (b.id == id) return b.name;
    return "0";
}

const char *AnswerWord(int id) {
    for (const Button &b : kButtons)
        if (b.id == id) return b.word;
    return "?";
}

}  // namespace w95
