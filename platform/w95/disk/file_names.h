// Windows file names inside the emulation: moving names between the
// programs' Windows-1252 and the host's UTF-8 (names compare as code_page.h
// says).
#ifndef W95_FILE_NAMES_H
#define W95_FILE_NAMES_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "code_page.h"

namespace w95 {

// The host spelling of a Windows-1252 name (host names are UTF-8), and the
// Windows name of a host name; nullopt for a host name that has no
// Windows-1252 form (such a file stays invisible).
inline std::string AnsiToHost(std::string_view ansi) {
    return AnsiToUtf8(ansi);
}
inline std::optional<std::string> HostToAnsi(std::string_view host) {
    return Utf8ToAnsi(host);
}

// The length of the device name that a path's last part names (CON, PRN,
// AUX, NUL, COM1 to COM9, LPT1 to LPT9, in any case, with any extension:
// "nul.txt" is NUL too), or 0 for the name of a file.
inline std::size_t DeviceNameLength(std::string_view part) {
    std::string_view base = part.substr(0, part.find_first_of(".:"));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    auto upper = [&](std::size_t i) {
        char c = base[i];
        return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    };
    auto is = [&](std::string_view name) {
        for (std::size_t i = 0; i < name.size(); ++i)
            if (upper(i) != name[i]) return false;
        return true;
    };
    if (base.size() == 3 && (is("CON") || is("PRN") || is("AUX") || is("NUL")))
        return 3;
    if (base.size() == 4 && (is("COM") || is("LPT")) && base[3] >= '1' &&
        base[3] <= '9')
        return 4;
    return 0;
}

}  // namespace w95

#endif
