// Transcripts that the tool collects from the programs it starts: `boot`
// reads each program's events for the restart, and `--transcript -` sends
// them to standard output once the program has ended.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

CollectedTranscript::CollectedTranscript() {
    std::string pattern =
        (fs::temp_directory_path() / "w95-transcript-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0)
        throw Failure(std::string("cannot make a temporary transcript: ") +
                      std::strerror(errno));
    close(fd);
    file_ = pattern;
}

CollectedTranscript::~CollectedTranscript() {
    std::error_code ec;
    fs::remove(file_, ec);
}

std::string CollectedTranscript::Setting() const {
    return "W95_TRANSCRIPT=" + file_.string();
}

std::string CollectedTranscript::Events() const { return ReadWholeFile(file_); }

void AppendTranscript(const std::string &target, std::string_view events) {
    if (target == "-") {
        std::fwrite(events.data(), 1, events.size(), stdout);
        std::fflush(stdout);
        return;
    }
    std::ofstream out(target, std::ios::app | std::ios::binary);
    out.write(events.data(), static_cast<std::streamsize>(events.size()));
    out.flush();
    if (!out) throw Failure("cannot write the transcript '" + target + "'");
}

}  // namespace tool
