// w95 run DIR ... -- PROGRAM [ARGS]: one native program on a machine, with
// the settings of the W95_* variables given as options; and the start of a
// native program that `boot` shares.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "code_page.h"
#include "emulated_calls.h"
#include "fault_injection.h"
#include "host_calls.h"
#include "tool.h"

extern char **environ;

namespace fs = std::filesystem;

namespace tool {

namespace {

// The native program a command names: a path as given, or a name (SETUP,
// setup.exe) of one next to the tool.
fs::path NativeProgram(const std::string &name) {
    RefuseWindowsProgram(name);
    std::error_code ec;
    if (name.find('/') != std::string::npos) {
        if (!fs::is_regular_file(name, ec))
            throw Failure("no program '" + name + "'");
        return name;
    }
    std::string base = name;
    if (base.size() > 4 &&
        w95::SameName(std::string_view(base).substr(base.size() - 4), ".exe"))
        base.resize(base.size() - 4);
    for (char &c : base) c = w95::FoldCase(c);
    fs::path native = ToolDirectory() / base;
    if (!fs::is_regular_file(native, ec))
        throw Failure("no native program '" + name + "' (looked for " +
                      native.string() + ")");
    return native;
}

// An option of `run` after "--" goes to the program, which takes it for
// one of its own or passes over it: worth a word before the run.
void WarnOfOptionsAfterDashes(const std::vector<std::string> &command) {
    static const char *const kOwn[] = {"--cwd",        "--answers",
                                       "--unanswered", "--transcript",
                                       "--fail",       "--host-fail"};
    for (std::size_t i = 1; i < command.size(); ++i)
        for (const char *own : kOwn)
            if (command[i] == own ||
                command[i].rfind(own + std::string("="), 0) == 0)
                std::fprintf(stderr,
                             "w95: run: '%s' comes after --, so it goes to "
                             "%s, not to w95; put w95's options before --\n",
                             own, command.front().c_str());
}

// While a program runs, Ctrl-C on the terminal reaches it and the tool
// alike: the program decides what it means (a box takes it as its safe
// answer), and the tool waits for the program's end to report its exit
// code. The tool catches it rather than ignoring it, so that the program
// starts with its usual handling (a caught signal is reset at exec).
class ProgramOwnsInterrupts {
  public:
    ProgramOwnsInterrupts() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], nullptr, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = [](int) {};
            sigemptyset(&action.sa_mask);
            ::sigaction(kSignals[i], &action, nullptr);
        }
    }
    ~ProgramOwnsInterrupts() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            ::sigaction(kSignals[i], &previous_[i], nullptr);
    }
    ProgramOwnsInterrupts(const ProgramOwnsInterrupts &) = delete;
    ProgramOwnsInterrupts &operator=(const ProgramOwnsInterrupts &) = delete;

  private:
    static constexpr int kSignals[] = {SIGINT, SIGQUIT};
    struct sigaction previous_[std::size(kSignals)]{};
};

}  // namespace

int RunNative(const fs::path &program, const std::vector<std::string> &args,
              const std::vector<std::string> &env, bool outputToStandardError) {
    std::vector<std::string> environment;
    for (char **e = environ; *e; ++e) {
        std::string entry(*e);
        bool replaced = false;
        for (const std::string &setting : env)
            if (entry.compare(0, setting.find('=') + 1, setting, 0,
                              setting.find('=') + 1) == 0)
                replaced = true;
        if (!replaced) environment.push_back(entry);
    }
    environment.insert(environment.end(), env.begin(), env.end());
    std::vector<char *> envp;
    for (std::string &e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string name = program.filename().string();
    std::vector<std::string> words = args;
    std::vector<char *> argv{name.data()};
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    std::fflush(stdout);
    std::fflush(stderr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputToStandardError)
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO,
                                         STDOUT_FILENO);
    ProgramOwnsInterrupts interrupts;
    pid_t pid;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(),
                         envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        throw Failure("cannot start " + program.string() + ": " +
                      std::strerror(rc));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            throw Failure("lost " + program.string() + ": " +
                          std::strerror(errno));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunOnMachine(const RunOptions &options) {
    // The program takes the machine's lock itself, and names the machine
    // in its messages as the user did.
    MachineFolder(options.machine);
    fs::path program = NativeProgram(options.command.front());
    WarnOfOptionsAfterDashes(options.command);
    std::vector<std::string> env = {"W95_MACHINE=" + options.machine};
    AddProgramSettings(env, options);
    // "-": the events go to standard output after the run, and what the
    // program prints to standard error.
    std::optional<CollectedTranscript> toStdout;
    if (options.transcript == "-") {
        toStdout.emplace();
        env.push_back(toStdout->Setting());
    } else if (options.transcript) {
        env.push_back("W95_TRANSCRIPT=" + *options.transcript);
    }
    int code = RunNative(program,
                         std::vector<std::string>(options.command.begin() + 1,
                                                  options.command.end()),
                         env, toStdout.has_value());
    if (toStdout) AppendTranscript("-", toStdout->Events());
    return code;
}

int ListCalls(bool host, bool kinds) {
    if (kinds) {
        for (std::string_view name : w95::kEndingFaultNames)
            std::printf("%.*s\n", static_cast<int>(name.size()), name.data());
        return kOk;
    }
    if (host) {
        for (std::string_view name : w95::kHostCallNames)
            std::printf("%.*s\n", static_cast<int>(name.size()), name.data());
        return kOk;
    }
    for (const w95::CallInfo &call : w95::kCalls) {
        if (call.kind == w95::CallKind::OnlyCrash)
            std::printf("%.*s crash-only\n", static_cast<int>(call.name.size()),
                        call.name.data());
        else
            std::printf("%.*s\n", static_cast<int>(call.name.size()),
                        call.name.data());
    }
    return kOk;
}

}  // namespace tool
