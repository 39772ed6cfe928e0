// Boxes asked on the controlling terminal, as a person meets them: the run
// gets a pseudo-terminal of its own, and the test types on it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "emulated_process.h"
#include "machine.h"
#include "scenario.h"

namespace {

namespace fs = std::filesystem;

constexpr auto kPatience = std::chrono::seconds(20);

// A child process in a session of its own whose controlling terminal is a
// new pseudo-terminal; the test holds the terminal's other end.
class OnTerminal {
  public:
    // Runs `body` in the child with standard input and output on the
    // terminal and standard error on `errors` (the terminal when empty);
    // the terminal is `columns` wide.
    OnTerminal(const std::function<void()> &body, const fs::path &errors,
               int columns = 80) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        std::string slave = ptsname(master_);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        ioctl(master_, TIOCSWINSZ, &size);
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int fd = open(slave.c_str(), O_RDWR);
            if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) _exit(90);
            dup2(fd, 0);
            dup2(fd, 1);
            if (errors.empty())
                dup2(fd, 2);
            else
                dup2(open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644),
                     2);
            close(fd);
            close(master_);
            signal(SIGINT, SIG_DFL);
            body();
            std::fflush(nullptr);
            _exit(0);
        }
    }
    ~OnTerminal() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }

    bool Started() const { return pid_ > 0; }

    // Reads what the terminal shows until `marker` appears (counted from
    // where the last wait ended); false when it does not in time.
    bool WaitFor(const std::string &marker) {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (shown_.find(marker, searchFrom_) == std::string::npos) {
            if (!ReadSome(deadline)) return false;
        }
        searchFrom_ = shown_.find(marker, searchFrom_) + marker.size();
        return true;
    }

    void Type(const std::string &keys) {
        (void)!write(master_, keys.data(), keys.size());
    }

    // Waits for the child's end, reading what it still shows; its wait
    // status, or -1 when it does not end in time.
    int Status() {
        auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                waited_ = true;
                while (ReadSome(std::chrono::steady_clock::now())) {
                }
                return status;
            }
            ReadSome(std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(20));
        }
        return -1;
    }

    const std::string &Shown() const { return shown_; }

  private:
    bool ReadSome(std::chrono::steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, std::max<int>(0, static_cast<int>(left.count()))) <= 0)
            return false;
        char buffer[4096];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false;  // EIO once the child has gone
        shown_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool waited_ = false;
    std::string shown_;
    std::size_t searchFrom_ = 0;
};

std::string ReadWhole(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<nlohmann::json> Transcript(const fs::path &file) {
    std::vector<nlohmann::json> events;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) events.push_back(nlohmann::json::parse(line));
    return events;
}

// The sample program on a machine, run as a user runs it: no W95_ANSWERS,
// so that its one box (OK, Cancel) is asked on the terminal.
class SampleOnTerminal : public ::testing::Test {
  protected:
    SampleOnTerminal() {
        machine_.MakeDirectory("C:\\");
        transcript_ = machine_.Directory().string() + ".transcript";
        errors_ = machine_.Directory().string() + ".stderr";
    }
    ~SampleOnTerminal() override {
        fs::remove(transcript_);
        fs::remove(errors_);
    }

    std::function<void()> Program() const {
        std::string machine = "W95_MACHINE=" + machine_.Directory().string();
        std::string transcript = "W95_TRANSCRIPT=" + transcript_.string();
        return Exec({Sample()}, {machine, transcript});
    }

    // The sample started by `w95 run`, which waits for it.
    std::function<void()> ThroughTool() const {
        return Exec({std::string(KIT_BIN_DIR) + "/w95", "run",
                     machine_.Directory().string(), "--transcript",
                     transcript_.string(), "--", Sample()},
                    {});
    }

    static std::string Sample() {
        return std::string(KIT_BIN_DIR) + "/win32_sample";
    }

    static std::function<void()> Exec(std::vector<std::string> argv,
                                      std::vector<std::string> env) {
        return [=]() mutable {
            env.push_back("PATH=/usr/bin:/bin");
            std::vector<char *> envp, args;
            for (std::string &e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            for (std::string &a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            execve(args[0], args.data(), envp.data());
            _exit(91);
        };
    }

    // The one MessageBox event of the run.
    nlohmann::json Box() const {
        for (const auto &e : Transcript(transcript_))
            if (e["event"] == "MessageBox") return e;
        return {};
    }

    scenario::Machine machine_;
    fs::path transcript_;
    fs::path errors_;
};

const char kPrompt[] = "Answer (ok, cancel) [ok]: ";

}  // namespace

// Standard error goes to a file, and still the person at the terminal sees
// the box and answers it there; the box fits the terminal's 24 columns.
TEST_F(SampleOnTerminal, ABoxIsAskedOnTheTerminalWhenStandardErrorIsAFile) {
    OnTerminal run(Program(), errors_, 24);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
    run.Type("C\n");
    int status = run.Status();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // The text wraps to fit: "The sample has run." is two lines.
    EXPECT_NE(run.Shown().find("| (i)  The sample has |"), std::string::npos)
        << run.Shown();
    EXPECT_NE(run.Shown().find("|      run.           |"), std::string::npos)
        << run.Shown();
    nlohmann::json box = Box();
    EXPECT_EQ(box["answer"], "IDCANCEL");
    EXPECT_EQ(box["answeredBy"], "terminal");
    std::string errors = ReadWhole(errors_);
    EXPECT_NE(errors.find("The sample has"), std::string::npos);
    EXPECT_NE(errors.find("Answered cancel (terminal).\n"), std::string::npos)
        << errors;
}

// A word that is no button of the box is asked again; an empty line
// presses the default button.
TEST_F(SampleOnTerminal, AWrongWordIsAskedAgainAndEnterTakesTheDefault) {
    OnTerminal run(Program(), "");
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
    run.Type("yes\n");
    ASSERT_TRUE(run.WaitFor("This box has the buttons ok, cancel."));
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
    run.Type("\n");
    int status = run.Status();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(Box()["answer"], "IDOK");
}

// The end of input (Ctrl-D) and Ctrl-C give Cancel, never the default OK.
TEST_F(SampleOnTerminal, EndOfInputAndCtrlCGiveTheSafeAnswer) {
    for (const char *key : {"\x04", "\x03"}) {
        OnTerminal run(Program(), "");
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
        run.Type(key);
        int status = run.Status();
        ASSERT_TRUE(WIFEXITED(status)) << status << run.Shown();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        nlohmann::json box = Box();
        EXPECT_EQ(box["answer"], "IDCANCEL") << run.Shown();
        EXPECT_EQ(box["answeredBy"], "terminal");
        fs::remove(transcript_);
    }
}

// Standard error on the terminal: the person sees the box once, then the
// question.
TEST_F(SampleOnTerminal, ABoxOnTheTerminalIsDrawnOnce) {
    OnTerminal run(Program(), "");
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
    run.Type("c\n");
    ASSERT_TRUE(WIFEXITED(run.Status()));
    const std::string &shown = run.Shown();
    std::size_t first = shown.find("The sample has run.");
    ASSERT_NE(first, std::string::npos) << shown;
    EXPECT_EQ(shown.find("The sample has run.", first + 1), std::string::npos)
        << shown;
    EXPECT_EQ(Box()["answer"], "IDCANCEL");
}

// Esc gives the safe answer at once, and shows nothing; the keys that send
// sequences beginning with Esc (the arrows) do not, and Backspace takes back
// what was typed.
TEST_F(SampleOnTerminal, EscGivesTheSafeAnswerAndTheLineCanBeEdited) {
    struct Keys {
        const char *typed;
        const char *answer;
    };
    for (Keys keys : {Keys{"\x1b", "IDCANCEL"}, Keys{"ok\x1b", "IDCANCEL"},
                      Keys{"\x1b[A\x1b[Do\n", "IDOK"},
                      Keys{"o\x7f\x7f\bc\n", "IDCANCEL"}}) {
        OnTerminal run(Program(), "");
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
        run.Type(keys.typed);
        int status = run.Status();
        ASSERT_TRUE(WIFEXITED(status)) << status << run.Shown();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(Box()["answer"], keys.answer) << keys.typed;
        EXPECT_EQ(run.Shown().find("^["), std::string::npos) << run.Shown();
        fs::remove(transcript_);
    }
}

// `w95 run` waits for its program through a Ctrl-C that a box took, and
// ends with the program's own exit code.
TEST_F(SampleOnTerminal, CtrlCAtABoxLeavesTheToolTheProgramsExitCode) {
    OnTerminal run(ThroughTool(), "");
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor(kPrompt)) << run.Shown();
    run.Type("\x03");
    int status = run.Status();
    ASSERT_TRUE(WIFEXITED(status)) << status << run.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 0) << run.Shown();
    EXPECT_EQ(Box()["answer"], "IDCANCEL");
}

// Ctrl-C at a box is its safe answer; a second Ctrl-C ends the run at once
// as a power loss would, with the exit code of a crash and no write-back.
TEST(Terminal, ASecondCtrlCEndsTheRunAtOnce) {
    scenario::Machine machine;
    machine.WriteRegistry("[HKEY_LOCAL_MACHINE\\Enum]\n");
    std::string before = machine.Registry();
    fs::path directory = machine.Directory();
    OnTerminal run(
        [directory] {
            w95::ResetEmulatedProcess();
            w95::LoadMachine(directory);
            w95::Process().terminal = "/dev/tty";
            HKEY key;
            RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Lost", &key);
            int first = MessageBoxA(nullptr, "Go on?", "One", MB_YESNO);
            std::printf("first answer %d\n", first);
            std::fflush(stdout);
            MessageBoxA(nullptr, "Really?", "Two", MB_YESNOCANCEL);
            w95::WriteBackMachine();  // not reached
        },
        "");
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor("Answer (yes, no) [yes]: ")) << run.Shown();
    run.Type("\x03");
    ASSERT_TRUE(run.WaitFor("first answer 7")) << run.Shown();
    ASSERT_TRUE(run.WaitFor("Answer (yes, no, cancel) [yes]: ")) << run.Shown();
    run.Type("\x03");
    int status = run.Status();
    ASSERT_TRUE(WIFEXITED(status)) << status << run.Shown();
    EXPECT_EQ(WEXITSTATUS(status), 137);
    EXPECT_NE(run.Shown().find("w95: interrupted again"), std::string::npos);
    EXPECT_EQ(machine.Registry(), before);
}

// Outside of a box Ctrl-C ends the run as it always does, also after a box
// was answered on the terminal.
TEST(Terminal, CtrlCOutsideOfABoxKeepsItsUsualEffect) {
    scenario::Machine machine;
    fs::path directory = machine.Directory();
    OnTerminal run(
        [directory] {
            w95::ResetEmulatedProcess();
            w95::LoadMachine(directory);
            w95::Process().terminal = "/dev/tty";
            MessageBoxA(nullptr, "Go on?", "One", MB_YESNO);
            std::printf("working\n");
            std::fflush(stdout);
            for (int i = 0; i < 2000; ++i) usleep(10000);
            _exit(5);
        },
        "");
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.WaitFor("Answer (yes, no) [yes]: ")) << run.Shown();
    run.Type("n\n");
    ASSERT_TRUE(run.WaitFor("working")) << run.Shown();
    run.Type("\x03");
    int status = run.Status();
    ASSERT_TRUE(WIFSIGNALED(status)) << status << run.Shown();
    EXPECT_EQ(WTERMSIG(status), SIGINT);
}
