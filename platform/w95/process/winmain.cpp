// main() of every program built against the emulation: loads the machine
// named by W95_MACHINE, hands WinMain the command-line tail and writes the
// machine back at the normal end of the run. Alone in its file so that tests
// and tools with a main() of their own link the library without it.
#include <windows.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "answers.h"
#include "emulated_process.h"
#include "emulator_error.h"
#include "fault_injection.h"
#include "host_calls.h"
#include "host_files.h"
#include "machine.h"
#include "machine_folder.h"
#include "machine_lock.h"
#include "memory_disk.h"
#include "transcript.h"

namespace {

int instanceTag;  // what HINSTANCE points at

// A run of a fork server on a machine image (IMAGE=FILE): the image file.
std::string imageIn;
// A run of a fork server with a command line (COMMAND_LINE=TAIL): its tail.
std::optional<std::string> commandLine;

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

// Runs at every normal end: return from WinMain, exit() and ExitProcess.
// An error of the emulation met during the run, or a registry that cannot
// be written back, makes the exit code 3 whatever the program returned.
void AtExit(int status, void *) {
    w95::SyncOpenFiles();  // files left open keep what was written to them
    // Answers that no box took are worth a word, but no failure: a program
    // may well show fewer boxes on one machine than on another.
    if (std::string left = w95::LeftoverAnswers(); !left.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "w95: %s\n", left.c_str());
    }
    try {
        w95::WriteBackMachine();
    } catch (const std::exception &e) {
        w95::ReportRunError(std::string("the registry was not written back: ") +
                            e.what());
    }
    int code = w95::RunExitCode(status);
    nlohmann::ordered_json event = {{"event", "Exit"}, {"code", code}};
    const std::vector<std::string> &errors = w95::Process().runErrors;
    if (!errors.empty()) {
        std::string all;
        for (const std::string &error : errors)
            all += (all.empty() ? "" : "; ") + error;
        // UTF-8 already: the texts of boxes are converted when shown.
        event["error"] = all;
        event["programCode"] = status;
    }
    w95::RecordEvent(event);
    w95::WriteImageOut();
    if (code != status) {
        // The status of exit() cannot be changed from its handlers; the
        // handlers still to come have nothing of the machine left to do.
        std::fflush(nullptr);
        _exit(code);
    }
}

// The child of a fork server, before it runs as a fresh process would:
// `request` is tab-separated NAME=VALUE settings of the environment,
// STDERR=FILE for its standard error, COMMAND_LINE=TAIL for the program's
// command-line tail (else the server's own), and for a machine held in memory
// (memory_disk.h) IMAGE=FILE, the machine's image, which stands for the
// folder W95_MACHINE names, and IMAGE_OUT=FILE, which gets the image of
// the machine the run leaves. Standard input and output are null.
void BecomeRun(const std::string &request) {
    std::size_t at = 0;
    while (at < request.size()) {
        std::size_t end = request.find('\t', at);
        if (end == std::string::npos) end = request.size();
        std::string field = request.substr(at, end - at);
        at = end + 1;
        std::size_t equals = field.find('=');
        if (equals == std::string::npos) continue;
        std::string name = field.substr(0, equals);
        std::string value = field.substr(equals + 1);
        if (name == "STDERR") {
            int fd = open(value.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, STDERR_FILENO);
                close(fd);
            }
        } else if (name == "COMMAND_LINE") {
            commandLine = value;
        } else if (name == "IMAGE") {
            imageIn = value;
        } else if (name == "IMAGE_OUT") {
            w95::SetImageOut(value);
        } else {
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    if (null > STDOUT_FILENO) close(null);
    alarm(120);  // as the sweep's time limit on a run of its own
}

// W95_FORK_SERVER=1: a run per line of standard input (see BecomeRun),
// each in a child forked before anything of a run happened, so that the
// fault sweep starts thousands of runs without starting the program each
// time. Writes each run's exit code (minus the signal that ended it) on a
// line of standard output; returns in each child, ends at end of input.
void ServeForks() {
    unsetenv("W95_FORK_SERVER");
    std::string pending;
    char buffer[4096];
    for (;;) {
        std::size_t end;
        while ((end = pending.find('\n')) == std::string::npos) {
            ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) _exit(0);
            pending.append(buffer, static_cast<std::size_t>(got));
        }
        std::string request = pending.substr(0, end);
        pending.erase(0, end + 1);
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            BecomeRun(request);
            return;
        }
        int status = 0;
        int code = -SIGABRT;
        if (child > 0) {
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        std::string reply = std::to_string(code) + "\n";
        if (write(STDOUT_FILENO, reply.data(), reply.size()) < 0) _exit(1);
    }
}

}  // namespace

int main(int argc, char **argv) {
    if (const char *server = std::getenv("W95_FORK_SERVER"); server && *server)
        ServeForks();
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) tail += ' ';
        tail += argv[i];
    }
    if (commandLine) tail = *commandLine;
    std::string program = std::filesystem::path(argv[0]).stem().string();
    // Held until the process ends, after the write-back at its normal end;
    // a crash lets go of it too.
    static w95::MachineLock machineLock;

    try {
        std::string machine = Environment("W95_MACHINE");
        if (machine.empty())
            throw w95::EmulatorFailure(
                "W95_MACHINE is not set: name the machine directory");
        // Read before the host fault plan is set: no call of the run.
        if (!imageIn.empty()) {
            std::optional<std::string> image = w95::ReadWholeHostFile(imageIn);
            if (!image)
                throw w95::EmulatorFailure("cannot read the machine image " +
                                           imageIn);
            w95::UseMemoryDisk(
                std::make_unique<w95::MemoryDisk>(machine, *image));
        } else if (!Environment("W95_CUT_EVERY").empty()) {
            // The cuts of a whole run fork it: each must find the machine
            // as it was at its call, which only a machine in memory gives.
            // The folder itself is left as it is.
            machine = std::filesystem::absolute(machine).lexically_normal();
            while (machine.size() > 1 && machine.back() == '/')
                machine.pop_back();
            w95::UseMemoryDisk(std::make_unique<w95::MemoryDisk>(
                machine, w95::ImageOfFolder(machine)));
        }
        w95::SetFaultPlan(Environment("W95_FAIL"));
        w95::SetCutEvery(Environment("W95_CUT_EVERY"),
                         Environment("W95_CUT_OUT"));
        w95::SetHostFaultPlan(Environment("W95_HOST_FAIL"));
        w95::SetScriptedAnswers(Environment("W95_ANSWERS"));
        w95::SetUnanswered(Environment("W95_UNANSWERED"));
        w95::RequireMachineFolder(machine, machine);
        // A machine in memory is this run's alone.
        if (!w95::OnMemoryDisk())
            machineLock =
                w95::MachineLock(machine, w95::MachineUse::Write, program,
                                 machine, w95::LockWaitSeconds());
        w95::RequireWritableRegistry(machine, machine);
        w95::LoadMachine(machine);
        std::string cwd = Environment("W95_CWD");
        if (!cwd.empty()) w95::SetStartDirectory(cwd);
        w95::OpenTranscript(Environment("W95_TRANSCRIPT"));
    } catch (const std::exception &e) {
        w95::EmulatorError(e.what());
    }
    w95::TheMachine().programName = program;
    // Boxes whose answers run out are asked on the controlling terminal,
    // else answered by the lines of standard input.
    w95::Process().terminal = "/dev/tty";
    w95::Process().answerInput = STDIN_FILENO;

    w95::RecordEvent({{"event", "Start"},
                      {"program", program},
                      {"commandLine", w95::AnsiToUtf8(tail)}});
    on_exit(AtExit, nullptr);
    int result = WinMain(reinterpret_cast<HINSTANCE>(&instanceTag), nullptr,
                         tail.data(), SW_SHOWNORMAL);
    std::exit(result);
}
