// Decodes the Win32 .res format and the resource layouts the emulation
// needs: DLGTEMPLATE and DLGTEMPLATEEX with their items, GRPICONDIR and
// VS_VERSIONINFO. Every read is bounds-checked against the bytes given.
#include "resource_reader.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "emulator_error.h"
#include "file_names.h"

namespace w95 {

namespace {

// A cursor over little-endian bytes. Failures name what is read (`what`)
// and the offset within it.
class Reader {
  public:
    Reader(ResourceBytes bytes, std::string what)
        : bytes_(bytes), what_(std::move(what)) {}

    [[noreturn]] void Fail(const std::string &why) const {
        throw EmulatorFailure(what_ + ": " + why + " at byte " +
                              std::to_string(at_));
    }
    std::size_t Offset() const { return at_; }
    std::size_t Left() const { return bytes_.size() - at_; }
    bool AtEnd() const { return at_ == bytes_.size(); }

    void Need(std::size_t n) const {
        if (n > Left()) Fail("cut short");
    }
    void Skip(std::size_t n) {
        Need(n);
        at_ += n;
    }
    // Skips to the next multiple of four from the start; the end counts as
    // aligned, since padding after the last item may be left off.
    void Align() { at_ = std::min(bytes_.size(), (at_ + 3) & ~std::size_t{3}); }

    std::uint8_t Byte() {
        Need(1);
        return bytes_[at_++];
    }
    WORD Word() {
        WORD w = PeekWord();
        at_ += 2;
        return w;
    }
    WORD PeekWord() const {
        Need(2);
        return static_cast<WORD>(bytes_[at_] | bytes_[at_ + 1] << 8);
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword() {
        Need(4);
        DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }

    // A NUL-ended UTF-16 string, in Windows-1252 ('?' for what has no form
    // there). With a limit, ends there at the latest.
    std::string String(std::size_t maxUnits = SIZE_MAX) {
        std::string out;
        for (std::size_t n = 0; n < maxUnits; ++n) {
            WORD c = Word();
            if (c == 0) break;
            out += AnsiChar(c);
        }
        return out;
    }
    // A number (0xFFFF and the number) or a string, as in .res headers and
    // dialog templates. A name is kept as written.
    ResourceId Id() {
        ResourceId id;
        if (Left() >= 2 && bytes_[at_] == 0xFF && bytes_[at_ + 1] == 0xFF) {
            at_ += 2;
            id.isNumber = true;
            id.number = Word();
        } else {
            id.name = String();
        }
        return id;
    }
    // The next n bytes as a reader of their own (aligned as this one).
    Reader Part(std::size_t n, const std::string &what) {
        Need(n);
        Reader part(bytes_.subspan(at_, n), what);
        at_ += n;
        return part;
    }

  private:
    static char AnsiChar(WORD c) {
        std::string utf8;
        if (c < 0x80) return static_cast<char>(c);
        if (c >= 0xD800 && c < 0xE000) return '?';  // outside the code page
        if (c < 0x800) {
            utf8 = {static_cast<char>(0xC0 | c >> 6),
                    static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            utf8 = {static_cast<char>(0xE0 | c >> 12),
                    static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        }
        std::optional<std::string> ansi = HostToAnsi(utf8);
        return ansi && ansi->size() == 1 ? (*ansi)[0] : '?';
    }

    ResourceBytes bytes_;
    std::string what_;
    std::size_t at_ = 0;
};

// Dialog controls name the predefined classes by number.
std::string ClassName(const ResourceId &id) {
    static const char *const kClasses[] = {"BUTTON",  "EDIT",      "STATIC",
                                           "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    if (!id.isNumber) return id.name;
    if (id.number >= 0x80 && id.number < 0x80 + std::size(kClasses))
        return kClasses[id.number - 0x80];
    return "#" + std::to_string(id.number);
}

std::string Describe(const Resource &r, const char *kind) {
    return std::string(kind) + " " + r.name.Text();
}

// One node of a version record: wLength, wValueLength, wType, the key, the
// value and the children, each DWORD-aligned.
struct VersionNode {
    std::string key;
    bool text = false;
    std::vector<std::uint8_t> value;  // binary values
    std::string textValue;
    std::vector<VersionNode> children;
};

VersionNode ReadVersionNode(Reader &in) {
    std::size_t length = in.PeekWord();
    if (length < 6 || length > in.Left()) in.Fail("node size out of range");
    Reader node = in.Part(length, "version record");
    node.Word();  // the length
    VersionNode n;
    WORD valueLength = node.Word();
    n.text = node.Word() == 1;
    n.key = node.String();
    node.Align();
    if (n.text) {
        if (valueLength > 0) n.textValue = node.String(valueLength);
    } else {
        node.Need(valueLength);
        for (WORD i = 0; i < valueLength; ++i) n.value.push_back(node.Byte());
    }
    node.Align();
    while (!node.AtEnd()) {
        n.children.push_back(ReadVersionNode(node));
        node.Align();
    }
    return n;
}

}  // namespace

std::string ResourceId::Text() const {
    return isNumber ? std::to_string(number) : name;
}

bool ResourceId::Matches(LPCSTR lpName) const {
    if (IS_INTRESOURCE(lpName))
        return isNumber && number == reinterpret_cast<ULONG_PTR>(lpName);
    std::string_view wanted = lpName;
    if (wanted.starts_with('#')) {
        // "#105": the number written out.
        unsigned long n = 0;
        if (wanted.size() < 2 || wanted.size() > 6) return false;
        for (char c : wanted.substr(1)) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + static_cast<unsigned long>(c - '0');
        }
        return isNumber && n == number;
    }
    return !isNumber && SameName(wanted, name);
}

ResourceFile ReadResourceFile(ResourceBytes bytes) {
    ResourceFile file;
    Reader in(bytes, "resource file");
    bool first = true;
    while (!in.AtEnd()) {
        DWORD dataSize = in.Dword();
        DWORD headerSize = in.Dword();
        if (headerSize < 8 + 16 || headerSize - 8 > in.Left() ||
            dataSize > in.Left() - (headerSize - 8))
            in.Fail("resource header or data past the end");
        Reader header = in.Part(headerSize - 8, "resource header");
        Resource r;
        r.type = header.Id();
        r.name = header.Id();
        header.Align();
        header.Dword();  // DataVersion
        header.Word();   // MemoryFlags
        r.language = header.Word();
        ResourceBytes data = bytes.subspan(in.Offset(), dataSize);
        in.Skip(dataSize);
        r.data.assign(data.begin(), data.end());
        in.Align();
        // A 32-bit .res file opens with an empty entry of type 0.
        bool marker = r.type.isNumber && r.type.number == 0;
        if (first && !(marker && dataSize == 0))
            throw EmulatorFailure("resource file: not a 32-bit .res file");
        first = false;
        if (!marker) file.resources.push_back(std::move(r));
    }
    return file;
}

const Resource *ResourceFile::Find(WORD type, LPCSTR lpName) const {
    for (const Resource &r : resources)
        if (r.type.isNumber && r.type.number == type && r.name.Matches(lpName))
            return &r;
    return nullptr;
}

std::optional<DialogTemplate> ResourceFile::FindDialog(LPCSTR lpName) const {
    const Resource *r = Find(kResourceDialog, lpName);
    if (!r) return std::nullopt;
    try {
        return ReadDialogTemplate(*r);
    } catch (const EmulatorFailure &e) {
        if (source.empty()) throw;
        throw EmulatorFailure(source + ": " + e.what());
    }
}

DialogTemplate ReadDialogTemplate(const Resource &resource) {
    Reader in(resource.data, Describe(resource, "dialog"));
    DialogTemplate d;
    d.name = resource.name;
    // DLGTEMPLATEEX opens with version 1 and the signature 0xFFFF.
    d.extended = resource.data.size() >= 4 && resource.data[0] == 1 &&
                 resource.data[1] == 0 && resource.data[2] == 0xFF &&
                 resource.data[3] == 0xFF;
    WindowTemplate &f = d.frame;
    if (d.extended) {
        in.Skip(8);  // version, signature, help id
        f.exStyle = in.Dword();
        f.style = in.Dword();
    } else {
        f.style = in.Dword();
        f.exStyle = in.Dword();
    }
    WORD count = in.Word();
    f.x = in.Short();
    f.y = in.Short();
    f.width = in.Short();
    f.height = in.Short();
    in.Id();  // menu
    in.Id();  // window class: the dialog class whatever is named
    f.className = "#32770";
    f.text = in.String();
    if (f.style & DS_SETFONT) {
        d.fontSize = in.Word();
        if (d.extended) in.Skip(4);  // weight, italic, character set
        d.fontName = in.String();
    }
    for (WORD i = 0; i < count; ++i) {
        in.Align();
        WindowTemplate c;
        if (d.extended) {
            in.Skip(4);  // help id
            c.exStyle = in.Dword();
            c.style = in.Dword();
        } else {
            c.style = in.Dword();
            c.exStyle = in.Dword();
        }
        c.x = in.Short();
        c.y = in.Short();
        c.width = in.Short();
        c.height = in.Short();
        c.id = d.extended ? static_cast<int>(in.Dword()) : in.Short();
        c.className = ClassName(in.Id());
        ResourceId text = in.Id();
        c.text = text.isNumber ? "#" + std::to_string(text.number) : text.name;
        in.Skip(in.Word());  // creation data
        d.controls.push_back(std::move(c));
    }
    return d;
}

std::vector<IconImage> ReadIconGroup(const Resource &resource) {
    Reader in(resource.data, Describe(resource, "icon group"));
    in.Word();  // reserved
    if (in.Word() != 1) in.Fail("not an icon group");
    std::vector<IconImage> images(in.Word());
    for (IconImage &image : images) {
        image.width = in.Byte();
        image.height = in.Byte();
        image.colors = in.Byte();
        in.Byte();  // reserved
        image.planes = in.Word();
        image.bitCount = in.Word();
        image.bytes = in.Dword();
        image.iconId = in.Word();
    }
    return images;
}

VersionRecord ReadVersionRecord(const Resource &resource) {
    Reader in(resource.data, Describe(resource, "version record"));
    VersionNode root = ReadVersionNode(in);
    VersionRecord v;
    if (root.key != "VS_VERSION_INFO" || root.value.size() < 52)
        throw EmulatorFailure(Describe(resource, "version record") +
                              ": no VS_VERSION_INFO with its fixed part");
    Reader fixed(root.value, Describe(resource, "version record"));
    if (fixed.Dword() != 0xFEEF04BD) fixed.Fail("wrong signature");
    fixed.Dword();  // structure version
    for (DWORD *field :
         {&v.fileVersionMS, &v.fileVersionLS, &v.productVersionMS,
          &v.productVersionLS, &v.fileFlagsMask, &v.fileFlags, &v.fileOS,
          &v.fileType, &v.fileSubtype})
        *field = fixed.Dword();
    for (const VersionNode &info : root.children) {
        for (const VersionNode &child : info.children) {
            if (info.key == "StringFileInfo") {
                auto &table = v.strings[child.key];
                for (const VersionNode &s : child.children)
                    table[s.key] = s.textValue;
            } else if (info.key == "VarFileInfo" &&
                       child.key == "Translation") {
                Reader t(child.value, "translation");
                while (t.Left() >= 4) v.translations.push_back(t.Dword());
            }
        }
    }
    return v;
}

}  // namespace w95
