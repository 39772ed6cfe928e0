// Loading the machine: machine.ini, the registry, the start directory.
#include "machine.h"

#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>

#include "emulator_error.h"
#include "host_calls.h"
#include "host_files.h"
#include "path_resolve.h"
#include "registry_store.h"
#include "text_helpers.h"

namespace w95 {

namespace {

// "X:\..." with a drive letter, the only form the directory keys take.
bool IsAbsoluteWindowsPath(std::string_view path) {
    return path.size() >= 3 &&
           std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// What GetVersion gives on each Windows that Version can name.
struct VersionName {
    std::string_view name;
    DWORD version;
};
constexpr VersionName kVersionNames[] = {
    {"win95", 0xC3B60004}, {"win95osr2", 0xC4570004}, {"win98", 0xC7CE0A04},
    {"winme", 0xCBB85A04}, {"nt40", 0x05650004},      {"win2000", 0x08930005},
};

// Version: one of the names above in any case, or a number.
bool ParseVersion(const std::string &value, DWORD *version) {
    for (const VersionName &v : kVersionNames) {
        if (EqualsIgnoringAsciiCase(value, v.name)) {
            *version = v.version;
            return true;
        }
    }
    return ParseDword(value.c_str(), version);
}

// Applies one "name=value" of a section; returns what is wrong with it, or
// an empty text.
std::string ApplyIniEntry(MachineSettings &s, std::string_view section,
                          const std::string &name, const std::string &value) {
    if (!EqualsIgnoringAsciiCase(section, "machine"))
        return "unknown section [" + std::string(section) + "]";
    auto directory = [&](std::string *target) -> std::string {
        if (!IsAbsoluteWindowsPath(value))
            return name + " must be a path like C:\\WINDOWS, not '" + value +
                   "'";
        // With a backslash added (GetTempPathA) and the NUL it still fits
        // the MAX_PATH buffers that programs hand in.
        if (value.size() + 2 > MAX_PATH)
            return name + " is longer than a Windows path can be";
        *target = value;
        return "";
    };
    std::string_view key(name);
    if (EqualsIgnoringAsciiCase(key, "Version")) {
        if (!ParseVersion(value, &s.version))
            return "Version '" + value +
                   "' is neither a 32-bit number nor one of win95, "
                   "win95osr2, win98, winme, nt40, win2000";
    } else if (EqualsIgnoringAsciiCase(key, "TickCount")) {
        if (!ParseDword(value.c_str(), &s.tickCount))
            return "TickCount '" + value + "' is not a 32-bit number";
    } else if (EqualsIgnoringAsciiCase(key, "Clock")) {
        if (EqualsIgnoringAsciiCase(value, "real"))
            s.virtualClock = false;
        else if (EqualsIgnoringAsciiCase(value, "virtual"))
            s.virtualClock = true;
        else
            return "Clock '" + value + "' is neither real nor virtual";
    } else if (EqualsIgnoringAsciiCase(key, "RegistryWrite")) {
        if (EqualsIgnoringAsciiCase(value, "exit"))
            s.registryWrite = RegistryWrite::AtExit;
        else if (EqualsIgnoringAsciiCase(value, "each"))
            s.registryWrite = RegistryWrite::EachChange;
        else
            return "RegistryWrite '" + value + "' is neither exit nor each";
    } else if (EqualsIgnoringAsciiCase(key, "WindowsDirectory")) {
        return directory(&s.windowsDirectory);
    } else if (EqualsIgnoringAsciiCase(key, "SystemDirectory")) {
        return directory(&s.systemDirectory);
    } else if (EqualsIgnoringAsciiCase(key, "TempPath")) {
        return directory(&s.tempPath);
    } else if (EqualsIgnoringAsciiCase(key, "CurrentDirectory")) {
        return directory(&s.currentDirectory);
    } else {
        return "unknown key '" + name + "'";
    }
    return "";
}

}  // namespace

// The usual INI form: "[section]" lines, "name=value" (or "name: value")
// lines, blank lines, and comments from ";" or "#" at the start of a line or
// from " ;" within a value. Lines of any length; LF or CR LF.
MachineSettings ParseMachineIni(const std::string &text,
                                const std::string &source) {
    MachineSettings settings;
    std::string section;
    std::string_view body(text);
    if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
    int line = 0;
    for (std::string_view l : SplitLines(body)) {
        ++line;
        l = TrimBlanks(l);
        auto fail = [&](const std::string &what) {
            throw EmulatorFailure(source + " line " + std::to_string(line) +
                                  ": " + what);
        };
        if (l.empty() || l.front() == ';' || l.front() == '#') continue;
        if (l.front() == '[') {
            std::size_t close = l.find(']');
            if (close == std::string_view::npos)
                fail("a section line must end with ]");
            std::string_view after = TrimBlanks(l.substr(close + 1));
            if (!after.empty() && after.front() != ';' && after.front() != '#')
                fail("text after the section's ]");
            section = std::string(TrimBlanks(l.substr(1, close - 1)));
            continue;
        }
        std::size_t equals = l.find_first_of("=:");
        if (equals == std::string_view::npos) fail("not a key=value line");
        std::string_view name = TrimBlanks(l.substr(0, equals));
        std::string_view value = l.substr(equals + 1);
        for (std::size_t i = 1; i < value.size(); ++i) {
            if (value[i] == ';' &&
                (value[i - 1] == ' ' || value[i - 1] == '\t')) {
                value = value.substr(0, i);
                break;
            }
        }
        value = TrimBlanks(value);
        if (name.empty()) fail("not a key=value line");
        for (char c : l)
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
                fail("a control character in the line");
        std::string what = ApplyIniEntry(settings, section, std::string(name),
                                         std::string(value));
        if (!what.empty()) fail(what);
    }
    return settings;
}

void LoadMachine(const std::filesystem::path &directory, bool registry) {
    namespace fs = std::filesystem;
    std::error_code ec;
    struct stat st {};
    if (RawStat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw EmulatorFailure("no machine at '" + directory.string() +
                              "' (not a directory)");
    fs::path root = OnMemoryDisk() ? directory.lexically_normal()
                                   : fs::canonical(directory, ec);
    if (ec)
        throw EmulatorFailure("cannot open machine '" + directory.string() +
                              "': " + ec.message());

    MachineSettings settings;
    fs::path ini = root / "machine.ini";
    int error = 0;
    std::optional<std::string> text = ReadWholeHostFile(ini, &error);
    if (text)
        settings = ParseMachineIni(*text, ini.string());
    else if (error != ENOENT)
        throw EmulatorFailure("cannot read " + ini.string() + ": " +
                              std::strerror(error));

    if (registry) LoadRegistry(root / "registry.reg", settings.registryWrite);

    Machine &theMachine = TheMachine();
    theMachine.directory = root;
    theMachine.settings = settings;
    // In the form GetCurrentDirectoryA gives: "C:\WINDOWS", not "c:/windows/".
    theMachine.currentDirectory =
        FullWindowsPath(settings.currentDirectory.c_str());
    theMachine.restartRequested = false;
    Clock &clock = Process().clock;
    clock.startTicks = settings.tickCount;
    clock.isVirtual = settings.virtualClock;
    clock.virtualTicks = settings.tickCount;
    clock.start = std::chrono::steady_clock::now();
}

void SetStartDirectory(const std::string &given) {
    // "A:" is the root of A:, as the header says.
    std::string windowsPath = given;
    if (windowsPath.size() == 2 && windowsPath[1] == ':') windowsPath += '\\';
    if (!IsAbsoluteWindowsPath(windowsPath))
        throw EmulatorFailure("W95_CWD '" + given +
                              "' is not an absolute path like A:\\");
    DWORD error = 0;
    auto host = ResolvePath(windowsPath.c_str(), &error);
    struct stat st {};
    if (!host || RawStat(host->c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw EmulatorFailure("W95_CWD '" + given +
                              "' is not a folder of the machine");
    TheMachine().currentDirectory = FullWindowsPath(windowsPath.c_str());
}

void WriteBackMachine() {
    WriteBackRegistry(TheMachine().directory / "registry.reg");
}

}  // namespace w95
