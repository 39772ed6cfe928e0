// The machine held in memory answers every host call as a host folder
// does: the same steps on both give the same results and errno values, and
// leave the same entries; its image comes back as it went out.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "memory_disk.h"

namespace fs = std::filesystem;

namespace {

const std::string kRoot = "/w95-memory-test/machine";
const std::string kEmptyFolderImage =
    std::string("W95IMAGE1\n") + "D" + std::string(4, '\0') + "\xed\x01" +
    std::string(2, '\0') + std::string(16, '\0');

// The calls on a host folder, by names relative to it.
struct HostSide {
    std::string top;
    int fd = -1, other = -1;
    std::string At(const std::string &name) const { return top + "/" + name; }
    int Open(const std::string &name, int flags) {
        return ::open(At(name).c_str(), flags | O_CLOEXEC, 0644);
    }
    ssize_t Write(int f, const std::string &s) {
        return ::write(f, s.data(), s.size());
    }
    ssize_t Pwrite(int f, const std::string &s, off_t at) {
        return ::pwrite(f, s.data(), s.size(), at);
    }
    ssize_t Pread(int f, char *b, std::size_t n, off_t at) {
        return ::pread(f, b, n, at);
    }
    ssize_t Read(int f, char *b, std::size_t n) { return ::read(f, b, n); }
    int Ftruncate(int f, off_t n) { return ::ftruncate(f, n); }
    int Close(int f) { return ::close(f); }
    int Fstat(int f, struct stat *st) { return ::fstat(f, st); }
    int Stat(const std::string &n, struct stat *st) {
        return ::stat(At(n).c_str(), st);
    }
    int Mkdir(const std::string &n) { return ::mkdir(At(n).c_str(), 0755); }
    int Rmdir(const std::string &n) { return ::rmdir(At(n).c_str()); }
    int Unlink(const std::string &n) { return ::unlink(At(n).c_str()); }
    int Rename(const std::string &a, const std::string &b) {
        return ::rename(At(a).c_str(), At(b).c_str());
    }
    int Chmod(const std::string &n, mode_t m) {
        return ::chmod(At(n).c_str(), m);
    }
    DIR *Opendir(const std::string &n) { return ::opendir(At(n).c_str()); }
    struct dirent *Readdir(DIR *d) {
        return ::readdir(d);
    }
    int Closedir(DIR *d) { return ::closedir(d); }
};

// The same calls on a memory disk.
struct MemorySide {
    w95::MemoryDisk disk{kRoot, kEmptyFolderImage};
    int fd = -1, other = -1;
    std::string At(const std::string &name) const { return kRoot + "/" + name; }
    int Open(const std::string &name, int flags) {
        return disk.Open(At(name).c_str(), flags | O_CLOEXEC, 0644);
    }
    ssize_t Write(int f, const std::string &s) {
        return disk.Write(f, s.data(), s.size());
    }
    ssize_t Pwrite(int f, const std::string &s, off_t at) {
        return disk.Pwrite(f, s.data(), s.size(), at);
    }
    ssize_t Pread(int f, char *b, std::size_t n, off_t at) {
        return disk.Pread(f, b, n, at);
    }
    ssize_t Read(int f, char *b, std::size_t n) { return disk.Read(f, b, n); }
    int Ftruncate(int f, off_t n) { return disk.Ftruncate(f, n); }
    int Close(int f) { return disk.Close(f); }
    int Fstat(int f, struct stat *st) { return disk.Fstat(f, st); }
    int Stat(const std::string &n, struct stat *st) {
        return disk.Stat(At(n).c_str(), st);
    }
    int Mkdir(const std::string &n) { return disk.Mkdir(At(n).c_str(), 0755); }
    int Rmdir(const std::string &n) { return disk.Rmdir(At(n).c_str()); }
    int Unlink(const std::string &n) { return disk.Unlink(At(n).c_str()); }
    int Rename(const std::string &a, const std::string &b) {
        return disk.Rename(At(a).c_str(), At(b).c_str());
    }
    int Chmod(const std::string &n, mode_t m) {
        return disk.Chmod(At(n).c_str(), m);
    }
    DIR *Opendir(const std::string &n) { return disk.Opendir(At(n).c_str()); }
    struct dirent *Readdir(DIR *d) {
        return disk.Readdir(d);
    }
    int Closedir(DIR *d) { return disk.Closedir(d); }
};

// A descriptor as a step's result: the numbers differ, so 0 for one.
int Kept(int fd) { return fd < 0 ? -1 : 0; }

// What a step gave: its result, or -1 and errno.
struct Outcome {
    long result;
    int error;
    bool operator==(const Outcome &) const = default;
};

// The entries under `folder` on a side: name, kind, size, permission bits
// and a file's bytes.
template <typename Side>
std::map<std::string, std::string> Tree(Side &side, const std::string &folder) {
    std::map<std::string, std::string> tree;
    DIR *dir = side.Opendir(folder);
    if (dir == nullptr) return tree;
    std::vector<std::string> names;
    while (struct dirent *entry = side.Readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    side.Closedir(dir);
    for (const std::string &name : names) {
        std::string path = folder.empty() ? name : folder + "/" + name;
        struct stat st {};
        side.Stat(path, &st);
        std::string what = S_ISDIR(st.st_mode) ? "dir" : "file";
        what += " " + std::to_string(st.st_mode & 07777);
        if (S_ISDIR(st.st_mode)) {
            tree[path] = what + " links " + std::to_string(st.st_nlink);
            for (auto &[inner, description] : Tree(side, path))
                tree[inner] = description;
            continue;
        }
        int fd = side.Open(path, O_RDONLY);
        std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
        side.Pread(fd, bytes.data(), bytes.size(), 0);
        side.Close(fd);
        tree[path] = what + " " + bytes;
    }
    return tree;
}

class MemoryDiskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/memory-disk-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        host.top = pattern;
        ASSERT_EQ(::chmod(pattern, 0755), 0);
    }
    void TearDown() override { fs::remove_all(host.top); }

    // Takes the same step on both sides and expects the same outcome.
    template <typename Step>
    void Both(const char *what, Step step) {
        auto take = [&](auto &side) {
            errno = 0;
            long result = static_cast<long>(step(side));
            return result < 0 ? Outcome{-1, errno} : Outcome{result, 0};
        };
        Outcome onHost = take(host);
        Outcome inMemory = take(memory);
        EXPECT_EQ(onHost, inMemory)
            << what << ": host " << onHost.result << " errno " << onHost.error
            << " (" << std::strerror(onHost.error) << "), memory "
            << inMemory.result << " errno " << inMemory.error;
    }

    HostSide host;
    MemorySide memory;
};

}  // namespace

TEST_F(MemoryDiskTest, StepsGiveWhatAHostFolderGives) {
    auto fdOf = [](auto &side) -> int & { return side.fd; };
    auto otherOf = [](auto &side) -> int & { return side.other; };
    char buffer[64];

    Both("create", [&](auto &s) {
        return Kept(fdOf(s) = s.Open("a.txt", O_CREAT | O_EXCL | O_WRONLY));
    });
    Both("write", [&](auto &s) { return s.Write(fdOf(s), "hello"); });
    Both("read a write-only file",
         [&](auto &s) { return s.Read(fdOf(s), buffer, 5); });
    Both("write past the end",
         [&](auto &s) { return s.Pwrite(fdOf(s), "!", 9); });
    Both("close", [&](auto &s) { return s.Close(fdOf(s)); });
    Both("close again", [&](auto &s) { return s.Close(fdOf(s)); });
    Both("create what is there",
         [&](auto &s) { return s.Open("a.txt", O_CREAT | O_EXCL | O_WRONLY); });
    Both("open in a missing folder",
         [&](auto &s) { return s.Open("none/x", O_CREAT | O_WRONLY); });
    Both("open below a file",
         [&](auto &s) { return s.Open("a.txt/x", O_RDONLY); });
    Both("open a missing file", [&](auto &s) { return s.Open("b", O_RDONLY); });

    Both("mkdir", [&](auto &s) { return s.Mkdir("d"); });
    Both("mkdir again", [&](auto &s) { return s.Mkdir("d"); });
    Both("mkdir over a file", [&](auto &s) { return s.Mkdir("a.txt"); });
    Both("open a folder for writing",
         [&](auto &s) { return s.Open("d", O_WRONLY); });
    Both("open a file as a folder",
         [&](auto &s) { return s.Open("a.txt", O_RDONLY | O_DIRECTORY); });
    Both("rename a file over a folder",
         [&](auto &s) { return s.Rename("a.txt", "d"); });
    Both("rename a folder over a file",
         [&](auto &s) { return s.Rename("d", "a.txt"); });
    Both("rename a folder into itself",
         [&](auto &s) { return s.Rename("d", "d/e"); });
    Both("rename a missing file", [&](auto &s) { return s.Rename("x", "y"); });
    Both("create in the folder", [&](auto &s) {
        int fd = s.Open("d/f", O_CREAT | O_WRONLY);
        s.Write(fd, "inner");
        return s.Close(fd);
    });
    Both("rmdir a full folder", [&](auto &s) { return s.Rmdir("d"); });
    Both("unlink a folder", [&](auto &s) { return s.Unlink("d"); });
    Both("rmdir a file", [&](auto &s) { return s.Rmdir("a.txt"); });
    Both("mkdir e", [&](auto &s) { return s.Mkdir("e"); });
    Both("rename over a full folder",
         [&](auto &s) { return s.Rename("e", "d"); });
    Both("mkdir g", [&](auto &s) { return s.Mkdir("g"); });
    Both("rename over an empty folder",
         [&](auto &s) { return s.Rename("e", "g"); });

    // An open file outlives its name.
    Both("open d/f",
         [&](auto &s) { return Kept(otherOf(s) = s.Open("d/f", O_RDONLY)); });
    Both("rename a file over another",
         [&](auto &s) { return s.Rename("a.txt", "d/f"); });
    Both("read the replaced file", [&](auto &s) {
        return s.Pread(otherOf(s), buffer, sizeof buffer, 0);
    });
    Both("write a read-only descriptor",
         [&](auto &s) { return s.Write(otherOf(s), "x"); });
    Both("truncate a read-only descriptor",
         [&](auto &s) { return s.Ftruncate(otherOf(s), 0); });
    Both("close it", [&](auto &s) { return s.Close(otherOf(s)); });
    Both("the old name is gone", [&](auto &s) {
        struct stat st {};
        return s.Stat("a.txt", &st);
    });

    Both("open with truncation", [&](auto &s) {
        return Kept(fdOf(s) = s.Open("d/f", O_WRONLY | O_TRUNC));
    });
    Both("size after truncation", [&](auto &s) {
        struct stat st {};
        return s.Fstat(fdOf(s), &st) == 0 ? st.st_size : -1;
    });
    Both("write after truncation",
         [&](auto &s) { return s.Write(fdOf(s), "abc"); });
    Both("grow", [&](auto &s) { return s.Ftruncate(fdOf(s), 7); });
    Both("close", [&](auto &s) { return s.Close(fdOf(s)); });
    Both("append", [&](auto &s) {
        int fd = s.Open("d/f", O_WRONLY | O_APPEND);
        s.Write(fd, "zz");
        s.Pwrite(fd, "Q", 0);
        return s.Close(fd);
    });
    Both("read it all", [&](auto &s) {
        int fd = s.Open("d/f", O_RDONLY);
        ssize_t n = s.Read(fd, buffer, 4);
        n += s.Read(fd, buffer, sizeof buffer);
        s.Close(fd);
        return n;
    });
    Both("make it read-only", [&](auto &s) { return s.Chmod("d/f", 0444); });
    Both("unlink a missing file", [&](auto &s) { return s.Unlink("d/none"); });
    Both("rmdir below a file", [&](auto &s) { return s.Rmdir("d/f/x"); });
    Both("rmdir an empty folder", [&](auto &s) { return s.Rmdir("g"); });

    EXPECT_EQ(Tree(host, ""), Tree(memory, ""));
}

TEST(MemoryDisk, ImageComesBackAsItWentOut) {
    w95::MemoryDisk disk(kRoot, kEmptyFolderImage);
    ASSERT_EQ(disk.Mkdir((kRoot + "/drive_c").c_str(), 0755), 0);
    int fd =
        disk.Open((kRoot + "/drive_c/x.ini").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_EQ(disk.Write(fd, "a\0b", 3), 3);
    ASSERT_EQ(disk.Close(fd), 0);
    const std::string image = disk.Image();
    w95::MemoryDisk again(kRoot, image);
    EXPECT_EQ(again.Image(), image);
    struct stat st {};
    ASSERT_EQ(again.Stat((kRoot + "/drive_c/x.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 3);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_THROW(w95::MemoryDisk(kRoot, image.substr(0, image.size() - 1)),
                 std::exception);
    EXPECT_FALSE(again.Owns("/w95-memory-test/machine2/x"));
    EXPECT_TRUE(again.Owns(kRoot));
}
