// Scenario helpers: machines in temporary folders, programs run on them.
#include "scenario.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

extern char **environ;

namespace scenario {

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWhole(const fs::path &path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string WindowsForm(const fs::path &root, const fs::path &host) {
    fs::path relative = fs::relative(host, root);
    auto it = relative.begin();
    std::string drive = it->string();  // drive_c
    std::string out(1, static_cast<char>(std::toupper(drive.back())));
    out += ":";
    for (++it; it != relative.end(); ++it) out += "\\" + it->string();
    return out;
}

}  // namespace

std::vector<nlohmann::json> RunResult::Events(std::string_view kind) const {
    std::vector<nlohmann::json> out;
    for (const auto &e : events)
        if (e.value("event", "") == kind) out.push_back(e);
    return out;
}

std::vector<std::string> RunResult::MessageTexts() const {
    std::vector<std::string> out;
    for (const auto &e : Events("MessageBox"))
        out.push_back(e.value("text", ""));
    return out;
}

Machine::Machine() {
    std::random_device random;
    fs::path base = fs::temp_directory_path();
    for (;;) {
        directory_ = base / ("w95-machine-" + std::to_string(random()));
        if (fs::create_directory(directory_)) break;
    }
}

Machine::~Machine() {
    std::error_code ec;
    if (std::getenv("KIT_KEEP_MACHINES") == nullptr)
        fs::remove_all(directory_, ec);
}

fs::path Machine::HostPath(std::string_view windowsPath) const {
    std::string path(windowsPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() < 2 || path[1] != ':') {
        ADD_FAILURE() << "not an absolute Windows path: " << windowsPath;
        return directory_;
    }
    std::string drive = "drive_";
    drive += static_cast<char>(std::tolower(path[0]));
    fs::path host = directory_ / drive;
    std::string rest = path.substr(2);
    std::stringstream parts(rest);
    std::string part;
    while (std::getline(parts, part, '/'))
        if (!part.empty()) host /= part;
    return host;
}

void Machine::WriteFile(std::string_view windowsPath, std::string_view bytes) {
    WriteWhole(HostPath(windowsPath), bytes);
}

std::string Machine::ReadFile(std::string_view windowsPath) const {
    fs::path host = HostPath(windowsPath);
    if (!fs::exists(host)) {
        ADD_FAILURE() << "no file " << windowsPath;
        return "";
    }
    return ReadWhole(host);
}

bool Machine::Exists(std::string_view windowsPath) const {
    return fs::exists(HostPath(windowsPath));
}

void Machine::MakeDirectory(std::string_view windowsPath) {
    fs::create_directories(HostPath(windowsPath));
}

std::vector<std::string> Machine::List(std::string_view windowsFolder) const {
    std::vector<std::string> out;
    fs::path host = HostPath(windowsFolder);
    if (!fs::exists(host)) return out;
    for (const auto &entry : fs::recursive_directory_iterator(host))
        out.push_back(WindowsForm(directory_, entry.path()));
    std::sort(out.begin(), out.end());
    return out;
}

void Machine::WriteRegistry(std::string_view body) {
    std::string text = "REGEDIT4\r\n\r\n";
    for (char c : body) {
        if (c == '\n') text += '\r';
        text += c;
    }
    WriteWhole(directory_ / "registry.reg", text);
}

std::string Machine::Registry() const {
    fs::path file = directory_ / "registry.reg";
    return fs::exists(file) ? ReadWhole(file) : "";
}

void Machine::WriteMachineIni(std::string_view text) {
    WriteWhole(directory_ / "machine.ini", text);
}

RunResult Machine::Run(std::string_view program, std::string_view args,
                       const RunOptions &options) const {
    RunResult result;
    fs::path transcript = directory_.parent_path() /
                          (directory_.filename().string() + ".transcript");
    fs::path errors =
        directory_.parent_path() / (directory_.filename().string() + ".stderr");
    fs::remove(transcript);

    std::vector<std::string> argv{std::string(KIT_BIN_DIR) + "/" +
                                  std::string(program)};
    std::stringstream words{std::string(args)};
    std::string word;
    while (words >> word) argv.push_back(word);

    std::map<std::string, std::string> env;
    for (char **e = environ; *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string::npos || entry.rfind("W95_", 0) == 0) continue;
        env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env["W95_MACHINE"] = directory_.string();
    env["W95_TRANSCRIPT"] = transcript.string();
    if (!options.answers.empty()) env["W95_ANSWERS"] = options.answers;
    if (!options.unanswered.empty()) env["W95_UNANSWERED"] = options.unanswered;
    if (!options.fail.empty()) env["W95_FAIL"] = options.fail;
    if (!options.cwd.empty()) env["W95_CWD"] = options.cwd;
    for (const auto &[k, v] : options.environment) env[k] = v;

    std::vector<std::string> envStrings;
    for (const auto &[k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char *> argvPointers, envPointers;
    for (auto &a : argv) argvPointers.push_back(a.data());
    argvPointers.push_back(nullptr);
    for (auto &e : envStrings) envPointers.push_back(e.data());
    envPointers.push_back(nullptr);

    // Standard input from /dev/null, and a session of its own without a
    // controlling terminal, so that no box is asked on a terminal.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid;
    int rc = posix_spawn(&pid, argvPointers[0], &actions, &attributes,
                         argvPointers.data(), envPointers.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return result;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode =
        WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standardError = ReadWhole(errors);
    fs::remove(errors);
    std::ifstream in(transcript);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        try {
            result.events.push_back(nlohmann::json::parse(line));
        } catch (const std::exception &e) {
            ADD_FAILURE() << "transcript line is not JSON: " << line;
        }
    }
    fs::remove(transcript);
    return result;
}

std::string Section(std::string_view keyPath) {
    return "[" + std::string(keyPath) + "]\n";
}

}  // namespace scenario
