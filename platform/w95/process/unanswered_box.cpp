// What a message box gets once W95_ANSWERS has run out.
#include "unanswered_box.h"

#include <windows.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "answers.h"
#include "emulated_process.h"
#include "screen.h"
#include "text_helpers.h"

namespace w95 {

namespace {

bool Offers(const BoxQuestion &box, int id) {
    return std::find(box.ids.begin(), box.ids.end(), id) != box.ids.end();
}

struct TerminalAnswer {
    int id;
    const char *how;  // how it came, for standard error: "" when typed
};

// Asks on the terminal until a button is named. An empty line presses the
// default button; Esc, the end of input or Ctrl-C give the safe answer.
TerminalAnswer AskTerminal(Terminal &terminal, const BoxQuestion &box) {
    const std::string prompt = std::string("Answer (") + box.words + ") [" +
                               AnswerWord(box.defaultId) + "]: ";
    const std::string safe = AnswerWord(box.safeId);
    while (true) {
        std::string line;
        switch (terminal.Ask(prompt, &line)) {
            case Terminal::Input::EndOfInput:
                terminal.Write("\n(end of input: " + safe + ")\n");
                return {box.safeId, " at the end of input"};
            case Terminal::Input::Escape:
                terminal.Write("\n(Esc: " + safe + ")\n");
                return {box.safeId, " at Esc"};
            case Terminal::Input::Interrupted:
                terminal.Write("\n(interrupted: " + safe +
                               "; Ctrl-C again ends the run at once)\n");
                return {box.safeId, " at Ctrl-C"};
            case Terminal::Input::Line:
                break;
        }
        std::string word(TrimSpace(line));
        if (word.empty()) return {box.defaultId, ""};
        std::optional<int> id = AnswerFromWord(word);
        if (id && Offers(box, *id)) return {*id, ""};
        terminal.Write(std::string("This box has the buttons ") + box.words +
                       ".\n");
    }
}

BoxAnswer OnTerminal(const BoxQuestion &box, Terminal &terminal) {
    // Standard error may go elsewhere: the person at the terminal sees the
    // box there too.
    const bool shared = terminal.IsStandardError();
    if (!shared) terminal.Write(box.picture);
    TerminalAnswer typed = AskTerminal(terminal, box);
    if (!shared)
        std::fprintf(stderr, "Answered %s (terminal%s).\n",
                     AnswerWord(typed.id), typed.how);
    return {typed.id, "terminal"};
}

// One line of `fd`, read a byte at a time so that nothing after it is taken
// from a pipe that the next program of a boot reads on; nullopt at its end.
std::optional<std::string> ReadLine(int fd) {
    std::string line;
    while (true) {
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        line.push_back(c);
    }
}

}  // namespace

BoxAnswer AnswerUnansweredBox(const BoxQuestion &box, Terminal *terminal) {
    EmulatedProcess &process = Process();
    switch (process.unanswered) {
        case Unanswered::Default:
            std::fprintf(stderr, "Answered %s (default button).\n",
                         AnswerWord(box.defaultId));
            return {box.defaultId, "default"};
        case Unanswered::Safe:
            std::fprintf(stderr, "Answered %s (safe answer).\n",
                         AnswerWord(box.safeId));
            return {box.safeId, "default"};
        case Unanswered::Ask:
            break;
    }
    if (terminal) return OnTerminal(box, *terminal);

    const int input = process.answerInput;
    std::optional<std::string> line;
    if (input >= 0 && !isatty(input)) line = ReadLine(input);
    if (!line) {
        ReportRunError("message box " + std::to_string(box.number) + " '" +
                       box.caption +
                       "' got no answer (W95_ANSWERS ran out; no terminal, no "
                       "line on standard input): it takes " +
                       AnswerWord(box.safeId));
        return {box.safeId, "default"};
    }
    const int number = ++process.answerLinesRead;
    const std::string word(TrimSpace(*line));
    std::optional<int> id = AnswerFromWord(word);
    if (!id || !Offers(box, *id)) {
        ReportRunError("standard input: line " + std::to_string(number) + " '" +
                       word + "' does not fit the message box '" + box.caption +
                       "', whose buttons are " + box.words + "; it takes " +
                       AnswerWord(box.safeId));
        return {box.safeId, "script"};
    }
    std::fprintf(stderr, "Answered %s (standard input).\n", AnswerWord(*id));
    return {*id, "script"};
}

}  // namespace w95
