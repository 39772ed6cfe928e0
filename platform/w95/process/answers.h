// Answers to message boxes: the W95_ANSWERS list, what a box gets once it
// has run out (W95_UNANSWERED), and the words that name the buttons.
#ifndef W95_ANSWERS_H
#define W95_ANSWERS_H

#include <optional>
#include <string>
#include <string_view>

namespace w95 {

// Takes the comma-separated list of W95_ANSWERS. Throws EmulatorFailure for
// a word that names no button (ok, cancel, yes, no, abort, retry, ignore,
// in any case, or their first letters).
void SetScriptedAnswers(const std::string &list);

// The button result (IDOK, IDCANCEL, ...) that a word or its first letter
// names, in any case; nullopt for a word that names no button.
std::optional<int> AnswerFromWord(std::string_view word);

// The next scripted answer, taken off the list, or nullopt when the list is
// used up. `position` receives its place in the list, counted from 1.
std::optional<int> NextScriptedAnswer(int *position = nullptr);

// Takes W95_UNANSWERED: "ask", "default" or "safe" in any case; empty is
// "ask". Throws EmulatorFailure for anything else.
void SetUnanswered(const std::string &value);

// The answers of W95_ANSWERS that no box took, as a message for standard
// error ("W95_ANSWERS: 2 answers left over: 3 'no', 4 'yes'"); empty when
// every answer was used.
std::string LeftoverAnswers();

// "IDOK", "IDCANCEL", ... for a button result; "ok", "cancel", ... as the
// word for it.
const char *AnswerName(int id);
const char *AnswerWord(int id);

}  // namespace w95

#endif
