// The transcript of a run, and Windows-1252 texts turned into UTF-8 for it.
#include "transcript.h"

#include <cstdio>
#include <memory>

#include "emulated_process.h"
#include "emulator_error.h"

namespace w95 {

namespace {

// Windows-1252 characters 0x80 to 0x9F; the five it leaves undefined map to
// the C1 control of the same number, as Windows does.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

void OpenTranscript(const std::string &path) {
    auto &transcript = Process().transcript;
    transcript.reset();
    if (path.empty()) return;
    transcript.reset(std::fopen(path.c_str(), "a"));
    if (!transcript)
        throw EmulatorFailure("W95_TRANSCRIPT: cannot open '" + path + "'");
}

void RecordEvent(const nlohmann::ordered_json &event) {
    auto &transcript = Process().transcript;
    if (!transcript) return;
    std::string line = event.dump() + "\n";
    std::fwrite(line.data(), 1, line.size(), transcript.get());
    std::fflush(transcript.get());
}

std::string AnsiToUtf8(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        auto c = static_cast<unsigned char>(ch);
        char32_t code = c;
        if (c >= 0x80 && c < 0xA0) code = kHighControls[c - 0x80];
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace w95
