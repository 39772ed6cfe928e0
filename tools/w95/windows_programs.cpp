// w95 run starts native programs only: a Windows executable, or a program
// named the way Windows names files, is refused with what to run instead.
#include <cctype>
#include <fstream>

#include "code_page.h"
#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

bool EndsWithExe(const std::string &name) {
    return name.size() > 4 &&
           w95::SameName(std::string_view(name).substr(name.size() - 4),
                         ".exe");
}

// "A:\PARLOD.EXE" -> "parlod": the native program of the same name.
std::string NativeName(const std::string &windowsPath) {
    std::size_t slash = windowsPath.find_last_of("\\/:");
    std::string name = slash == std::string::npos
                           ? windowsPath
                           : windowsPath.substr(slash + 1);
    if (std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    for (char &c : name) c = w95::FoldCase(c);
    return name.empty() ? "setup" : name;
}

}  // namespace

void RefuseWindowsProgram(const std::string &name) {
    bool driveLetter = name.size() >= 2 && name[1] == ':' &&
                       std::isalpha(static_cast<unsigned char>(name[0]));
    if (driveLetter || name.find('\\') != std::string::npos)
        throw Failure("'" + name +
                      "' is a Windows path; run the native program by its "
                      "name, e.g. " +
                      NativeName(name));
    if (name.find('/') == std::string::npos) return;  // a name: next to w95
    std::ifstream file(name, std::ios::binary);
    bool opened = file.is_open();
    char head[4] = {};
    file.read(head, sizeof head);
    std::string start(head, static_cast<std::size_t>(file.gcount()));
    bool native = start.rfind(
                      "\x7f"
                      "ELF",
                      0) == 0 ||
                  start.rfind("#!", 0) == 0;
    if (start.rfind("MZ", 0) == 0 || (opened && EndsWithExe(name) && !native))
        throw Failure(
            "'" + name +
            "' is a Windows program; w95 runs the native build (e.g. " +
            NativeName(name) +
            "). Run the .exe under Wine: see \"The real programs under "
            "Wine\" in the README");
}

}  // namespace tool
