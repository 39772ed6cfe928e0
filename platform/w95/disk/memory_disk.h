// A machine folder held in memory. The fault sweep runs thousands of runs
// on copies of one machine; a run forked from a fork server (winmain.cpp)
// can take its machine from an image file instead of a folder, and writes
// the machine it leaves as an image again. The host calls of the emulation
// (host_calls.h) on paths below the memory disk's root are then served from
// memory, with the answers and errno values the host's tmpfs gives, so that
// a run behaves exactly as on a folder and makes no system calls on files.
//
// The image: "W95IMAGE1\n", then one record per entry, each folder before
// what it holds, the root first:
//   kind ('D' folder, 'F' file), u32 name length, the name relative to the
//   root ("" for the root, '/' between parts), u32 mode (permission bits),
//   i64 access time and i64 modification time (ns since 1970), and for a
//   file u64 size and the bytes.
// All numbers little-endian.
#ifndef W95_MEMORY_DISK_H
#define W95_MEMORY_DISK_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace w95 {

class MemoryDisk {
  public:
    // `root` is the absolute host path the disk stands for, as the runs
    // name it (W95_MACHINE); nothing is there on the host.
    MemoryDisk(std::string root, std::string_view image);
    ~MemoryDisk();
    MemoryDisk(const MemoryDisk &) = delete;
    MemoryDisk &operator=(const MemoryDisk &) = delete;

    const std::string &Root() const { return root_; }
    // Whether `path` is the root or lies below it.
    bool Owns(std::string_view path) const;
    static bool OwnsFd(int fd) { return fd >= kFirstFd; }
    bool OwnsDir(DIR *dir) const;

    // The host calls, on paths the disk owns and on its descriptors: -1 (or
    // NULL) with errno set on failure, as the host's calls.
    int Open(const char *path, int flags, mode_t mode);
    ssize_t Read(int fd, void *buffer, std::size_t count);
    ssize_t Pread(int fd, void *buffer, std::size_t count, off_t offset);
    ssize_t Write(int fd, const void *buffer, std::size_t count);
    ssize_t Pwrite(int fd, const void *buffer, std::size_t count, off_t offset);
    int Sync(int fd);
    int Close(int fd);
    int Rename(const char *from, const char *to);
    int Unlink(const char *path);
    int Mkdir(const char *path, mode_t mode);
    int Rmdir(const char *path);
    int Stat(const char *path, struct stat *st);
    int Fstat(int fd, struct stat *st);
    int Ftruncate(int fd, off_t length);
    int Futimens(int fd, const struct timespec times[2]);
    int Fchmod(int fd, mode_t mode);
    int Chmod(const char *path, mode_t mode);
    int Access(const char *path, int mode);
    DIR *Opendir(const char *path);
    struct dirent *Readdir(DIR *dir);
    int Closedir(DIR *dir);
    // When the entry at `path` came to be.
    std::optional<struct timespec> BirthTime(const char *path);

    // The image of what the disk holds now.
    std::string Image() const;
    // How many calls so far may have changed what the disk holds, or what
    // of it is durable: two equal counts mean the same disk.
    std::uint64_t Changes() const { return changes_; }

  private:
    static constexpr int kFirstFd = 1 << 20;
    struct Node;
    struct OpenFile;
    struct Listing;
    using NodePtr = std::shared_ptr<Node>;
    // The folder that holds `path`'s last part, and that part; errno set
    // and null folder when a folder on the way is missing.
    struct Place {
        NodePtr folder;
        std::string name;
        NodePtr node;  // the entry itself, or null
    };
    std::optional<Place> Locate(const char *path);
    NodePtr Find(const char *path);
    OpenFile *File(int fd);
    NodePtr NewNode(bool folder, mode_t mode);
    void Touch(Node &folder);
    bool MayWrite(const Node &node) const;

    std::string root_;
    mode_t umask_;  // the process's, as the host applies it
    // Whose the entries are; the owner's permission bits bind all but root.
    struct {
        uid_t uid;
        gid_t gid;
        bool root;
    } owner_;
    NodePtr top_;
    ino_t nextInode_ = 2;
    int nextFd_ = kFirstFd;
    std::map<int, OpenFile> files_;
    std::set<Listing *> listings_;
    std::uint64_t changes_ = 0;
};

// The image of the host folder `root` and all it holds (folders and regular
// files; anything else is an EmulatorFailure, as is a file it cannot read).
std::string ImageOfFolder(const std::string &root);

// The memory disk of this run, or null when the machine is a folder.
MemoryDisk *ActiveMemoryDisk();
// Makes `disk` the run's machine for every host call below its root.
void UseMemoryDisk(std::unique_ptr<MemoryDisk> disk);

// The host file that gets the image of the run's memory disk at the end of
// the run: a normal end (an error of the emulation met during the run
// included), or a crash or power loss (after the disk model has done its
// part). A run that the emulation refuses to start leaves none.
void SetImageOut(std::string path);
// Writes the image there; nothing without a memory disk or a file to write.
void WriteImageOut();

}  // namespace w95

#endif
