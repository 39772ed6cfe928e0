#include "machine.h"

#include <ini.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

#include "emulator_error.h"
#include "path_resolve.h"
#include "registry_store.h"

namespace w95 {

void StartClock(DWORD ticks, bool virtualClock);  // kernel32_process.cpp

namespace {

Machine theMachine;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A 32-bit number, decimal or 0x hex, nothing else on the line.
bool ParseDword(const char *text, DWORD *value) {
    std::string_view t(text);
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty()) return false;
    unsigned long long v = 0;
    for (char c : t) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<DWORD>(v);
    return true;
}

// "X:\..." with a drive letter, the only form the directory keys take.
bool IsAbsoluteWindowsPath(std::string_view path) {
    return path.size() >= 3 &&
           std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

struct IniContext {
    MachineSettings settings;
    std::string error;
};

int OnIniEntry(void *user, const char *section, const char *name,
               const char *value) {
    auto *context = static_cast<IniContext *>(user);
    if (!EqualsIgnoringCase(section, "machine")) {
        context->error = std::string("unknown section [") + section + "]";
        return 0;
    }
    MachineSettings &s = context->settings;
    std::string_view key(name);
    auto directory = [&](std::string *target) {
        if (!IsAbsoluteWindowsPath(value)) {
            context->error = std::string(name) + " must be a path like " +
                             "C:\\WINDOWS, not '" + value + "'";
            return 0;
        }
        *target = value;
        return 1;
    };
    if (EqualsIgnoringCase(key, "Version")) {
        if (!ParseDword(value, &s.version)) {
            context->error =
                std::string("Version '") + value + "' is not a 32-bit number";
            return 0;
        }
    } else if (EqualsIgnoringCase(key, "TickCount")) {
        if (!ParseDword(value, &s.tickCount)) {
            context->error =
                std::string("TickCount '") + value + "' is not a 32-bit number";
            return 0;
        }
    } else if (EqualsIgnoringCase(key, "Clock")) {
        if (EqualsIgnoringCase(value, "real")) {
            s.virtualClock = false;
        } else if (EqualsIgnoringCase(value, "virtual")) {
            s.virtualClock = true;
        } else {
            context->error = std::string("Clock '") + value +
                             "' is neither real nor virtual";
            return 0;
        }
    } else if (EqualsIgnoringCase(key, "WindowsDirectory")) {
        return directory(&s.windowsDirectory);
    } else if (EqualsIgnoringCase(key, "SystemDirectory")) {
        return directory(&s.systemDirectory);
    } else if (EqualsIgnoringCase(key, "TempPath")) {
        return directory(&s.tempPath);
    } else if (EqualsIgnoringCase(key, "CurrentDirectory")) {
        return directory(&s.currentDirectory);
    } else {
        context->error = std::string("unknown key '") + name + "'";
        return 0;
    }
    return 1;
}

}  // namespace

Machine &TheMachine() { return theMachine; }

MachineSettings ParseMachineIni(const std::string &text,
                                const std::string &source) {
    IniContext context;
    int line = ini_parse_string(text.c_str(), OnIniEntry, &context);
    if (line != 0) {
        std::string what =
            context.error.empty() ? "not a key=value line" : context.error;
        throw EmulatorFailure(source + " line " + std::to_string(line) + ": " +
                              what);
    }
    return context.settings;
}

void LoadMachine(const std::filesystem::path &directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(directory, ec))
        throw EmulatorFailure("no machine at '" + directory.string() +
                              "' (not a directory)");
    fs::path root = fs::canonical(directory, ec);
    if (ec)
        throw EmulatorFailure("cannot open machine '" + directory.string() +
                              "': " + ec.message());

    MachineSettings settings;
    fs::path ini = root / "machine.ini";
    if (fs::exists(ini, ec)) {
        std::ifstream in(ini, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in && !in.eof())
            throw EmulatorFailure("cannot read " + ini.string());
        settings = ParseMachineIni(text.str(), ini.string());
    }

    LoadRegistry(root / "registry.reg");

    theMachine.directory = root;
    theMachine.settings = settings;
    theMachine.currentDirectory = settings.currentDirectory;
    theMachine.restartRequested = false;
    StartClock(settings.tickCount, settings.virtualClock);
}

void SetStartDirectory(const std::string &windowsPath) {
    if (!IsAbsoluteWindowsPath(windowsPath))
        throw EmulatorFailure("W95_CWD '" + windowsPath +
                              "' is not an absolute path like A:\\");
    DWORD error = 0;
    auto host = ResolvePath(windowsPath.c_str(), &error);
    std::error_code ec;
    if (!host || !std::filesystem::is_directory(*host, ec))
        throw EmulatorFailure("W95_CWD '" + windowsPath +
                              "' is not a folder of the machine");
    theMachine.currentDirectory = FullWindowsPath(windowsPath.c_str());
}

void WriteBackMachine() {
    WriteBackRegistry(theMachine.directory / "registry.reg");
}

}  // namespace w95
