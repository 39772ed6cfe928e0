// A message box whose W95_ANSWERS have run out gets what W95_UNANSWERED
// says: asked on the terminal, a line of standard input, its default button
// or its safe answer. Nobody's answer is never Yes: a box that nobody
// answers takes its safe answer and the run ends with exit code 3.
#ifndef W95_UNANSWERED_BOX_H
#define W95_UNANSWERED_BOX_H

#include <string>
#include <vector>

namespace w95 {

class Terminal;

struct BoxQuestion {
    int number = 0;          // the box's place in the run, from 1
    std::string caption;     // UTF-8
    std::string picture;     // as drawn on standard error
    const char *words = "";  // its buttons for messages: "yes, no"
    std::vector<int> ids;    // its buttons, in order
    int defaultId = 0;       // the default button
    int safeId = 0;          // what Escape gives
};

struct BoxAnswer {
    int id = 0;
    // For the transcript: "terminal" when typed there, "script" for a line
    // of standard input (prepared in advance, as W95_ANSWERS is), "default"
    // when the emulation chose (the default button, or the safe answer).
    const char *answeredBy = "default";
};

// The answer of a box that W95_ANSWERS no longer answers, said on standard
// error ("Answered no (safe answer).") or reported as an error of the run
// (no answer at all, a line that names none of its buttons). `terminal` is
// the terminal to ask on, or null when there is none or it is not to be
// asked.
BoxAnswer AnswerUnansweredBox(const BoxQuestion &box, Terminal *terminal);

}  // namespace w95

#endif
