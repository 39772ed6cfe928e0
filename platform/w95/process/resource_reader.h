// Reads the compiled resources of a program (the .res bytes that the
// resource compiler makes from its .rc file, which the native build links
// in): the list of resources, and decoded dialog templates, icon groups and
// version records. Malformed bytes throw EmulatorFailure; nothing is read
// outside the bytes given.
#ifndef W95_RESOURCE_READER_H
#define W95_RESOURCE_READER_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w95 {

using ResourceBytes = std::span<const std::uint8_t>;

// Resource types used here (the RT_ numbers).
constexpr WORD kResourceIcon = 3;
constexpr WORD kResourceDialog = 5;
constexpr WORD kResourceGroupIcon = 14;
constexpr WORD kResourceVersion = 16;

// A resource's type or name: a number (MAKEINTRESOURCE) or a name, which
// Windows matches without regard to case. Names are held in Windows-1252.
struct ResourceId {
    bool isNumber = false;
    WORD number = 0;
    std::string name;

    std::string Text() const;  // "105" or "PARLOD"
    // Whether lpName (MAKEINTRESOURCE(n), "#n" or a name) names it.
    bool Matches(LPCSTR lpName) const;
};

struct Resource {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    std::vector<std::uint8_t> data;
};

// What one window of a dialog is made from: the dialog's own frame or one
// of its controls.
struct WindowTemplate {
    std::string className;  // "#32770" for the dialog; "STATIC", "BUTTON", ...
    std::string text;       // the caption; for icons the icon's name, "#n"
                            // for a number
    int id = 0;             // DIALOG: 16 bits with sign, so -1 for IDC_STATIC
    int x = 0, y = 0, width = 0, height = 0;  // dialog units
    DWORD style = 0;
    DWORD exStyle = 0;
};

struct DialogTemplate {
    ResourceId name;
    bool extended = false;  // DIALOGEX: 32-bit control identifiers
    WindowTemplate frame;
    std::string fontName;  // empty without DS_SETFONT
    int fontSize = 0;
    std::vector<WindowTemplate> controls;
};

struct IconImage {
    int width = 0, height = 0, colors = 0;  // colors 0: 256 or more
    int planes = 0, bitCount = 0;
    DWORD bytes = 0;
    WORD iconId = 0;  // the RT_ICON resource with the image
};

struct VersionRecord {
    DWORD fileVersionMS = 0, fileVersionLS = 0;
    DWORD productVersionMS = 0, productVersionLS = 0;
    DWORD fileFlagsMask = 0, fileFlags = 0, fileOS = 0, fileType = 0,
          fileSubtype = 0;
    // StringFileInfo: table key ("040904b0") to its values by name.
    std::map<std::string, std::map<std::string, std::string>> strings;
    std::vector<DWORD>
        translations;  // language in the low word, code page high
};

// The resources of one .res file, in file order.
struct ResourceFile {
    std::string source;  // names the file in messages, e.g. "parlod.res"
    std::vector<Resource> resources;

    // The first resource of `type` that lpName names, or nullptr.
    const Resource *Find(WORD type, LPCSTR lpName) const;
    // The dialog template that lpName names, decoded; nullopt when there is
    // none. A malformed template throws, naming `source`.
    std::optional<DialogTemplate> FindDialog(LPCSTR lpName) const;
};

ResourceFile ReadResourceFile(ResourceBytes bytes);
DialogTemplate ReadDialogTemplate(const Resource &resource);
std::vector<IconImage> ReadIconGroup(const Resource &resource);
VersionRecord ReadVersionRecord(const Resource &resource);

}  // namespace w95

#endif
