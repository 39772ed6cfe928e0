// The transcript of a run: one JSON event a line, appended as it happens.
#include "transcript.h"

#include <cstdio>
#include <memory>

#include "emulated_process.h"
#include "emulator_error.h"

namespace w95 {

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

}  // namespace w95
