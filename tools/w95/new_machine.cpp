// w95 new DIR [--disk IMG]: a machine made from the bundled example
// (examples/machine), its drive A: filled from a floppy image when given.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "tool.h"

namespace fs = std::filesystem;

namespace tool {

namespace {

// The example next to the build (build/bin/../../examples/machine), or in
// the source tree the tool was built from.
fs::path ExampleMachine() {
    std::vector<fs::path> candidates = {ToolDirectory() / ".." / ".." /
                                        "examples" / "machine"};
#ifdef KIT_SOURCE_DIR
    candidates.push_back(fs::path(KIT_SOURCE_DIR) / "examples" / "machine");
#endif
    std::error_code ec;
    for (const fs::path &c : candidates)
        if (fs::is_directory(c, ec)) return fs::weakly_canonical(c);
    throw Failure("cannot find the example machine (looked for " +
                  candidates.front().string() + ")");
}

void SetTime(const fs::path &file, std::time_t when) {
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = when;
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (utimensat(AT_FDCWD, file.c_str(), times, 0) != 0)
        throw Failure("cannot set the time of '" + file.string() + "'");
}

// Git keeps no file times, so the example lists the times that matter (the
// port driver's date becomes the installed driver's date):
//     drive_a/HBX52XX.MPD 1996-09-23 12:00:00
// one file a line, in UTC; '#' starts a comment.
void ApplyTimes(const fs::path &list, const fs::path &machine) {
    std::error_code ec;
    if (!fs::exists(list, ec)) return;
    std::istringstream lines(ReadWholeFile(list));
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string path, date, time;
        if (!(words >> path) || path[0] == '#') continue;
        std::tm tm{};
        words >> date >> time;
        std::string stamp = date + " " + time;
        const char *end = strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
        if (!end || *end)
            throw Failure(list.string() + " line " + std::to_string(number) +
                          ": expected 'PATH YYYY-MM-DD HH:MM:SS'");
        fs::path file = machine / path;
        if (!fs::exists(file, ec))
            throw Failure(list.string() + " line " + std::to_string(number) +
                          ": no file '" + path + "' in the example");
        SetTime(file, timegm(&tm));
    }
}

// Folders that git cannot keep because they are empty, one a line.
void MakeFolders(const fs::path &list, const fs::path &machine) {
    std::error_code ec;
    if (!fs::exists(list, ec)) return;
    std::istringstream lines(ReadWholeFile(list));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        fs::create_directories(machine / line);
    }
}

// Copies the tree, keeping each file's last-write time, so that two
// machines made from one example do not differ.
void CopyTree(const fs::path &from, const fs::path &to) {
    fs::create_directories(to);
    for (const auto &entry : fs::recursive_directory_iterator(from)) {
        fs::path target = to / fs::relative(entry.path(), from);
        if (entry.is_directory()) {
            fs::create_directories(target);
        } else if (entry.is_regular_file()) {
            fs::copy_file(entry.path(), target,
                          fs::copy_options::overwrite_existing);
            struct stat st;
            if (stat(entry.path().c_str(), &st) == 0)
                SetTime(target, st.st_mtime);
        }
    }
}

// The program `name` on the PATH, or empty.
fs::path OnPath(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        fs::path candidate = fs::path(folder.empty() ? "." : folder) / name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// The mcopy that reads `image`, once both are known to be there.
fs::path DiskReader(const std::string &image) {
    std::error_code ec;
    if (!fs::is_regular_file(image, ec))
        throw Failure("no disk image '" + image + "'");
    fs::path mcopy = OnPath("mcopy");
    if (mcopy.empty())
        throw Failure(
            "mcopy is missing: --disk reads the image with mtools "
            "(tools/install-deps disk installs it)");
    return mcopy;
}

// Makes drive_a hold the files of the floppy image `image`, and nothing
// else, with their times.
void FillDriveA(const fs::path &machine, const std::string &image,
                const fs::path &mcopy) {
    const fs::path drive = machine / "drive_a";
    fs::remove_all(drive);
    fs::create_directories(drive);
    int code = RunNative(
        mcopy, {"-s", "-m", "-n", "-i", image, "::*", drive.string() + "/"},
        {"MTOOLS_SKIP_CHECK=1", "TZ=UTC"}, true);
    if (code != 0)
        throw Failure("cannot read the files of the disk image '" + image +
                      "' (mcopy ended with " + std::to_string(code) + ")");
}

}  // namespace

int NewMachine(const std::string &dir, const std::string &disk) {
    fs::path target = dir;
    std::error_code ec;
    if (fs::exists(target, ec) &&
        !(fs::is_directory(target, ec) && fs::is_empty(target, ec)))
        throw Failure("'" + target.string() +
                      "' already exists; name a new or empty directory");
    fs::path example = ExampleMachine();
    const fs::path mcopy = disk.empty() ? fs::path() : DiskReader(disk);
    try {
        CopyTree(example, target);
        MakeFolders(example.parent_path() / "machine.folders", target);
        ApplyTimes(example.parent_path() / "machine.times", target);
        if (!disk.empty()) FillDriveA(target, disk, mcopy);
    } catch (const fs::filesystem_error &e) {
        throw Failure("cannot make the machine '" + target.string() +
                      "': " + e.code().message());
    }
    std::printf("Made the machine %s from %s%s.\n", target.string().c_str(),
                example.string().c_str(),
                disk.empty() ? "" : (", drive A: from " + disk).c_str());
    return kOk;
}

}  // namespace tool
