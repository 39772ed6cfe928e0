// The program's resource script (the .rc text that the Windows build
// compiles), read for what the emulation needs of it: the dialog templates
// and the names of the icons. Everything else (version records, string
// tables, menus, ...) is passed over.
#ifndef W95_RESOURCE_SCRIPT_H
#define W95_RESOURCE_SCRIPT_H

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace w95 {

// A resource's name: a number (MAKEINTRESOURCE) or a name, which Windows
// matches without regard to case.
struct ResourceName {
    bool isNumber = false;
    int number = 0;
    std::string name;

    std::string Text() const;  // "105" or "PARLOD"
    // Whether lpName (MAKEINTRESOURCE(n), "#n" or a name) names it.
    bool Matches(LPCSTR lpName) const;
};

struct DialogControl {
    std::string className;  // "STATIC", "BUTTON", ... or the class named
    std::string text;       // for icons the icon's name
    int id = 0;             // -1 for IDC_STATIC
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    DWORD style = 0;
    DWORD exStyle = 0;
};

struct DialogTemplate {
    ResourceName name;
    bool extended = false;                    // DIALOGEX
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string caption;
    std::string fontName;
    int fontSize = 0;
    std::vector<DialogControl> controls;
    int line = 0;  // where the statement starts in the script
};

struct IconResource {
    ResourceName name;
    std::string file;
};

struct ResourceScript {
    std::vector<DialogTemplate> dialogs;
    std::vector<IconResource> icons;

    // The dialog that lpTemplateName names, or nullptr.
    const DialogTemplate *FindDialog(LPCSTR lpTemplateName) const;
};

// Parses a resource script. `source` names it in messages; a malformed
// script throws EmulatorFailure "SOURCE line N: ...".
ResourceScript ParseResourceScript(std::string_view text,
                                   const std::string &source);

// The program's own resource script, parsed on first use: the text that the
// build links in as W95ResourceScript, or the one that UseResourceScript put
// in its place. nullptr when the program has none; a malformed script throws
// EmulatorFailure naming its line.
const ResourceScript *ProgramResources();

// Puts a script in place of the program's own (nullopt: back to it); for
// tests.
void UseResourceScript(std::optional<std::string> text);

}  // namespace w95

// The text of the program's resource script, linked in by the native build.
// Weak, so that programs without resources link too.
extern "C" __attribute__((weak)) const char W95ResourceScript[];

#endif
