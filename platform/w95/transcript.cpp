#include "transcript.h"

#include <cstdio>
#include <memory>

#include "emulator_error.h"

namespace w95 {

namespace {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
std::unique_ptr<std::FILE, FileCloser> transcript;

}  // namespace

void OpenTranscript(const std::string &path) {
    transcript.reset();
    if (path.empty()) return;
    transcript.reset(std::fopen(path.c_str(), "a"));
    if (!transcript)
        throw EmulatorFailure("W95_TRANSCRIPT: cannot open '" + path + "'");
}

void RecordEvent(const nlohmann::ordered_json &event) {
    if (!transcript) return;
    std::string line = event.dump() + "\n";
    std::fwrite(line.data(), 1, line.size(), transcript.get());
    std::fflush(transcript.get());
}

}  // namespace w95
