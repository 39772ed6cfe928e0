// W95_CUT_EVERY: a run that forks every cut from itself leaves, for each
// cut, the machine that a fresh run cut at that call leaves, also where it
// names another cut instead of forking; and the machine folder itself is
// left as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "../../setup/setup_machine.h"
#include "scenario.h"
#include "tool_runner.h"

using tool_runner::ReadAll;

namespace {

namespace fs = std::filesystem;
using setup_test::SetupMachine;

// Every entry of a machine but its lock: "D" for a folder, else "F" and
// the file's bytes.
using Entries = std::map<std::string, std::string>;

Entries FolderEntries(const fs::path &root) {
    Entries entries;
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(e.path(), root).generic_string();
        if (name == "machine.lock") continue;
        entries[name] = e.is_directory() ? "D" : "F" + ReadAll(e.path());
    }
    return entries;
}

std::uint64_t Number(const std::string &image, std::size_t &at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(static_cast<unsigned char>(image.at(at + i)))
                 << (8 * i);
    at += bytes;
    return value;
}

Entries ImageEntries(const fs::path &file) {
    const std::string image = ReadAll(file);
    Entries entries;
    std::size_t at = std::strlen("W95IMAGE1\n");
    while (at < image.size()) {
        const char kind = image.at(at++);
        const std::size_t length = Number(image, at, 4);
        std::string name = image.substr(at, length);
        at += length + 4 + 8 + 8;  // mode and times
        std::string value = "D";
        if (kind == 'F') {
            const std::size_t size = Number(image, at, 8);
            value = "F" + image.substr(at, size);
            at += size;
        }
        if (!name.empty() && name != "machine.lock") entries[name] = value;
    }
    return entries;
}

struct Cut {
    std::string name;   // CALL@N=KIND
    std::string image;  // the name of the cut whose image it has
};

std::vector<Cut> ReadCuts(const fs::path &folder) {
    std::vector<Cut> cuts;
    std::ifstream in(folder / "cuts.txt");
    std::string name, result;
    while (in >> name >> result)
        cuts.push_back(
            {name, result.find('@') == std::string::npos ? name : result});
    return cuts;
}

}  // namespace

TEST(ForkedCuts, EachCutLeavesWhatAFreshRunCutThereLeaves) {
    SetupMachine machine;
    machine.WriteMachineIni("[machine]\nRegistryWrite=each\n");
    const Entries before = FolderEntries(machine.Directory());
    std::string folder = (fs::temp_directory_path() / "cuts-XXXXXX").string();
    ASSERT_NE(mkdtemp(folder.data()), nullptr);
    const fs::path out = folder;
    scenario::RunOptions options{
        .answers = "yes,no",
        .unanswered = "default",
        .cwd = "A:\\",
        .environment = {{"W95_CUT_EVERY", "crash,powerloss-torn"},
                        {"W95_CUT_OUT", out.string()}}};
    scenario::RunResult run = machine.Run("setup", "", options);
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(FolderEntries(machine.Directory()), before)
        << "the run changed the machine folder";

    // Each cut names a cut made before it: the same kind at an earlier
    // call (nothing changed), or another kind at the same call (nothing a
    // power loss takes back); the image is the one at the end of the chain.
    const std::vector<Cut> cuts = ReadCuts(out);
    ASSERT_GT(cuts.size(), 400u);
    auto at = [](const std::string &cut) {
        return cut.substr(0, cut.find('='));
    };
    auto kind = [](const std::string &cut) {
        return cut.substr(cut.find('='));
    };
    std::map<std::string, std::string> imageOf;
    std::vector<std::size_t> checked;
    std::size_t unchanged = 0;
    std::size_t alike = 0;
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        const Cut &cut = cuts[i];
        if (cut.image == cut.name) {
            imageOf[cut.name] = cut.name;
            continue;
        }
        ASSERT_TRUE(imageOf.count(cut.image))
            << cut.name << " names a cut not made before it";
        const bool sameKind = kind(cut.image) == kind(cut.name);
        EXPECT_NE(sameKind, at(cut.image) == at(cut.name)) << cut.name;
        imageOf[cut.name] = imageOf[cut.image];
        ++(sameKind ? unchanged : alike);
        if (!sameKind && alike % 40 == 1) checked.push_back(i);
    }
    EXPECT_GT(unchanged, 0u) << "no cut found the machine unchanged";
    EXPECT_GT(alike, 0u) << "no power loss left what the crash left";

    // A spread of cuts, forked and named, against runs of their own.
    for (std::size_t i = 0; i < cuts.size(); i += cuts.size() / 23)
        checked.push_back(i);
    for (std::size_t i : checked) {
        const std::string &image = imageOf[cuts[i].name];
        SCOPED_TRACE(cuts[i].name + " (the machine of " + image + ")");
        SetupMachine fresh;
        fresh.WriteMachineIni("[machine]\nRegistryWrite=each\n");
        fresh.Setup("", "yes,no", cuts[i].name);
        EXPECT_EQ(ImageEntries(out / (image + ".img")),
                  FolderEntries(fresh.Directory()));
    }
    fs::remove_all(out);
}
