// Windows file names inside the emulation: moving names between the
// programs' Windows-1252 and the host's UTF-8 (names compare as code_page.h
// says).
#ifndef W95_FILE_NAMES_H
#define W95_FILE_NAMES_H

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

}  // namespace w95

#endif
