// The JSON Lines transcript named by W95_TRANSCRIPT: one event a line,
// appended and flushed as it happens.
#ifndef W95_TRANSCRIPT_H
#define W95_TRANSCRIPT_H

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

#include "code_page.h"  // AnsiToUtf8, for the texts of events

namespace w95 {

// Opens (appends to) the transcript file; an empty path records nothing.
void OpenTranscript(const std::string &path);

// Appends one event. Texts in it must already be UTF-8 (see AnsiToUtf8).
void RecordEvent(const nlohmann::ordered_json &event);

}  // namespace w95

#endif
