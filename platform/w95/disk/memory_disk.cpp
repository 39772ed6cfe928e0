// The machine folder in memory: a tree of folders and files with inode
// numbers, modes and times, descriptors and listings, and its image.
#include "memory_disk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "emulator_error.h"

namespace w95 {

namespace {

constexpr std::string_view kImageMagic = "W95IMAGE1\n";
constexpr dev_t kDevice = 0x0E95;

struct timespec Now() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

struct timespec FromNanoseconds(std::int64_t ns) {
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        --ts.tv_sec;
    }
    return ts;
}

std::int64_t Nanoseconds(const struct timespec &ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int Fail(int error) {
    errno = error;
    return -1;
}

// Reads the image's fields in order; a short image is an error of the run.
class ImageReader {
  public:
    explicit ImageReader(std::string_view image) : rest_(image) {}
    bool AtEnd() const { return rest_.empty(); }
    std::string_view Take(std::size_t count) {
        if (rest_.size() < count)
            throw EmulatorFailure("the machine image is cut short");
        std::string_view part = rest_.substr(0, count);
        rest_.remove_prefix(count);
        return part;
    }
    std::uint64_t Number(std::size_t bytes) {
        std::string_view raw = Take(bytes);
        std::uint64_t value = 0;
        for (std::size_t i = bytes; i-- > 0;)
            value = (value << 8) | static_cast<unsigned char>(raw[i]);
        return value;
    }

  private:
    std::string_view rest_;
};

void PutNumber(std::string &out, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) {
        out += static_cast<char>(value & 0xFF);
        value >>= 8;
    }
}

MemoryDisk *&Active() {
    static MemoryDisk *active = nullptr;
    return active;
}

}  // namespace

struct MemoryDisk::Node {
    bool folder = false;
    mode_t mode = 0;
    ino_t inode = 0;
    nlink_t links = 1;  // names the node has; 0 once removed
    struct timespec atime {
    }, mtime{}, ctime{}, btime{};
    std::string data;                        // a file's bytes
    std::map<std::string, NodePtr> entries;  // a folder's entries
};

struct MemoryDisk::OpenFile {
    NodePtr node;
    off_t offset = 0;
    int access = O_RDONLY;
    bool append = false;
};

struct MemoryDisk::Listing {
    std::vector<std::pair<std::string, NodePtr>> entries;  // "." and ".." too
    std::size_t next = 0;
    struct dirent entry {};
};

MemoryDisk::MemoryDisk(std::string root, std::string_view image)
    : root_(std::move(root)),
      umask_(::umask(0)),
      owner_{geteuid(), getegid(), geteuid() == 0} {
    ::umask(umask_);
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    ImageReader in(image);
    if (in.Take(kImageMagic.size()) != kImageMagic)
        throw EmulatorFailure("not a machine image");
    const struct timespec now = Now();
    while (!in.AtEnd()) {
        const char kind = in.Take(1)[0];
        if (kind != 'D' && kind != 'F')
            throw EmulatorFailure("the machine image has an entry of no kind");
        std::string name(in.Take(static_cast<std::size_t>(in.Number(4))));
        const mode_t mode = static_cast<mode_t>(in.Number(4)) & 07777;
        const auto atime = static_cast<std::int64_t>(in.Number(8));
        const auto mtime = static_cast<std::int64_t>(in.Number(8));
        NodePtr node = NewNode(kind == 'D', mode);
        node->atime = FromNanoseconds(atime);
        node->mtime = FromNanoseconds(mtime);
        node->ctime = node->btime = now;
        if (kind == 'F')
            node->data =
                std::string(in.Take(static_cast<std::size_t>(in.Number(8))));
        if (name.empty()) {
            if (top_ || kind != 'D')
                throw EmulatorFailure("the machine image has a second root");
            top_ = node;
            continue;
        }
        std::optional<Place> place =
            top_ ? Locate((root_ + "/" + name).c_str()) : std::nullopt;
        if (!place || !place->folder || place->node)
            throw EmulatorFailure("the machine image has '" + name +
                                  "' out of place");
        place->folder->entries[place->name] = node;
    }
    if (!top_) throw EmulatorFailure("the machine image has no root");
}

MemoryDisk::~MemoryDisk() {
    for (Listing *listing : listings_) delete listing;
}

bool MemoryDisk::Owns(std::string_view path) const {
    return path.size() >= root_.size() &&
           path.compare(0, root_.size(), root_) == 0 &&
           (path.size() == root_.size() || path[root_.size()] == '/');
}

bool MemoryDisk::OwnsDir(DIR *dir) const {
    return listings_.contains(reinterpret_cast<Listing *>(dir));
}

MemoryDisk::NodePtr MemoryDisk::NewNode(bool folder, mode_t mode) {
    auto node = std::make_shared<Node>();
    node->folder = folder;
    node->mode = mode & 07777;
    node->inode = nextInode_++;
    node->atime = node->mtime = node->ctime = node->btime = Now();
    return node;
}

void MemoryDisk::Touch(Node &folder) { folder.mtime = folder.ctime = Now(); }

bool MemoryDisk::MayWrite(const Node &node) const {
    return owner_.root || (node.mode & S_IWUSR) != 0;
}

std::optional<MemoryDisk::Place> MemoryDisk::Locate(const char *path) {
    std::string_view rest(path);
    if (!Owns(rest)) {
        errno = ENOENT;
        return std::nullopt;
    }
    rest.remove_prefix(root_.size());
    std::vector<std::string_view> parts;
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view()
                                               : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) return Place{nullptr, "", top_};
    NodePtr folder = top_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        auto found = folder->entries.find(std::string(parts[i]));
        if (found == folder->entries.end()) {
            errno = ENOENT;
            return std::nullopt;
        }
        if (!found->second->folder) {
            errno = ENOTDIR;
            return std::nullopt;
        }
        if (!owner_.root && (found->second->mode & S_IXUSR) == 0) {
            errno = EACCES;
            return std::nullopt;
        }
        folder = found->second;
    }
    Place place{folder, std::string(parts.back()), nullptr};
    auto found = folder->entries.find(place.name);
    if (found != folder->entries.end()) place.node = found->second;
    return place;
}

MemoryDisk::NodePtr MemoryDisk::Find(const char *path) {
    std::optional<Place> place = Locate(path);
    if (!place) return nullptr;
    if (!place->node) errno = ENOENT;
    return place->node;
}

MemoryDisk::OpenFile *MemoryDisk::File(int fd) {
    auto found = files_.find(fd);
    if (found == files_.end()) {
        errno = EBADF;
        return nullptr;
    }
    return &found->second;
}

int MemoryDisk::Open(const char *path, int flags, mode_t mode) {
    if (flags & (O_CREAT | O_TRUNC)) ++changes_;

    std::optional<Place> place = Locate(path);
    if (!place) return -1;
    const int access = flags & O_ACCMODE;
    NodePtr node = place->node;
    if (node && (flags & O_CREAT) && (flags & O_EXCL)) return Fail(EEXIST);
    if (!node) {
        if (!(flags & O_CREAT)) return Fail(ENOENT);
        if (!place->folder) return Fail(EEXIST);  // the root
        if (!MayWrite(*place->folder)) return Fail(EACCES);
        node = NewNode(false, mode & ~umask_);
        place->folder->entries[place->name] = node;
        Touch(*place->folder);
    } else if (node->folder) {
        if (access != O_RDONLY || (flags & O_CREAT)) return Fail(EISDIR);
    } else {
        if (flags & O_DIRECTORY) return Fail(ENOTDIR);
        if (access != O_RDONLY && !MayWrite(*node)) return Fail(EACCES);
        if (flags & O_TRUNC) {
            node->data.clear();
            node->mtime = node->ctime = Now();
        }
    }
    const int fd = nextFd_++;
    files_[fd] = OpenFile{node, 0, access, (flags & O_APPEND) != 0};
    return fd;
}

ssize_t MemoryDisk::Pread(int fd, void *buffer, std::size_t count,
                          off_t offset) {
    OpenFile *file = File(fd);
    if (!file) return -1;
    if (file->access == O_WRONLY) return Fail(EBADF);
    if (file->node->folder) return Fail(EISDIR);
    if (offset < 0) return Fail(EINVAL);
    const std::string &data = file->node->data;
    const auto at = static_cast<std::size_t>(offset);
    if (at >= data.size()) return 0;
    const std::size_t n = std::min(count, data.size() - at);
    std::memcpy(buffer, data.data() + at, n);
    return static_cast<ssize_t>(n);
}

ssize_t MemoryDisk::Read(int fd, void *buffer, std::size_t count) {
    OpenFile *file = File(fd);
    if (!file) return -1;
    ssize_t n = Pread(fd, buffer, count, file->offset);
    if (n > 0) file->offset += n;
    return n;
}

ssize_t MemoryDisk::Pwrite(int fd, const void *buffer, std::size_t count,
                           off_t offset) {
    ++changes_;

    OpenFile *file = File(fd);
    if (!file) return -1;
    if (file->access == O_RDONLY) return Fail(EBADF);
    if (offset < 0) return Fail(EINVAL);
    if (count == 0) return 0;
    std::string &data = file->node->data;
    // As Linux does: a file opened for appending is written at its end,
    // whatever the offset.
    if (file->append) offset = static_cast<off_t>(data.size());
    const auto at = static_cast<std::size_t>(offset);
    if (data.size() < at + count) data.resize(at + count, '\0');
    std::memcpy(data.data() + at, buffer, count);
    file->node->mtime = file->node->ctime = Now();
    return static_cast<ssize_t>(count);
}

ssize_t MemoryDisk::Write(int fd, const void *buffer, std::size_t count) {
    OpenFile *file = File(fd);
    if (!file) return -1;
    if (file->append)
        file->offset = static_cast<off_t>(file->node->data.size());
    ssize_t n = Pwrite(fd, buffer, count, file->offset);
    if (n > 0) file->offset += n;
    return n;
}

int MemoryDisk::Sync(int fd) {
    ++changes_;  // what the disk model counts as durable
    return File(fd) ? 0 : -1;
}

int MemoryDisk::Close(int fd) {
    if (files_.erase(fd) == 0) return Fail(EBADF);
    return 0;
}

int MemoryDisk::Rename(const char *from, const char *to) {
    ++changes_;

    std::optional<Place> source = Locate(from);
    if (!source) return -1;
    if (!source->node) return Fail(ENOENT);
    if (!source->folder) return Fail(EBUSY);  // the root
    std::optional<Place> target = Locate(to);
    if (!target) return -1;
    if (!target->folder) return Fail(EBUSY);
    if (!MayWrite(*source->folder) || !MayWrite(*target->folder))
        return Fail(EACCES);
    NodePtr moving = source->node;
    if (target->node == moving) return 0;
    if (moving->folder) {
        // Not into a folder of its own.
        std::string_view inner(to);
        std::string_view outer(from);
        if (inner.size() > outer.size() &&
            inner.compare(0, outer.size(), outer) == 0 &&
            inner[outer.size()] == '/')
            return Fail(EINVAL);
    }
    if (target->node) {
        if (moving->folder && !target->node->folder) return Fail(ENOTDIR);
        if (!moving->folder && target->node->folder) return Fail(EISDIR);
        if (target->node->folder && !target->node->entries.empty())
            return Fail(ENOTEMPTY);
        target->node->links = 0;
        target->node->ctime = Now();
    }
    source->folder->entries.erase(source->name);
    target->folder->entries[target->name] = moving;
    moving->ctime = Now();
    Touch(*source->folder);
    Touch(*target->folder);
    return 0;
}

int MemoryDisk::Unlink(const char *path) {
    ++changes_;

    std::optional<Place> place = Locate(path);
    if (!place) return -1;
    if (!place->node) return Fail(ENOENT);
    if (place->node->folder) return Fail(EISDIR);
    if (!MayWrite(*place->folder)) return Fail(EACCES);
    place->node->links = 0;
    place->node->ctime = Now();
    place->folder->entries.erase(place->name);
    Touch(*place->folder);
    return 0;
}

int MemoryDisk::Mkdir(const char *path, mode_t mode) {
    ++changes_;

    std::optional<Place> place = Locate(path);
    if (!place) return -1;
    if (place->node) return Fail(EEXIST);
    if (!MayWrite(*place->folder)) return Fail(EACCES);
    place->folder->entries[place->name] = NewNode(true, mode & ~umask_);
    Touch(*place->folder);
    return 0;
}

int MemoryDisk::Rmdir(const char *path) {
    ++changes_;

    std::optional<Place> place = Locate(path);
    if (!place) return -1;
    if (!place->node) return Fail(ENOENT);
    if (!place->folder) return Fail(EBUSY);
    if (!place->node->folder) return Fail(ENOTDIR);
    if (!place->node->entries.empty()) return Fail(ENOTEMPTY);
    if (!MayWrite(*place->folder)) return Fail(EACCES);
    place->node->links = 0;
    place->folder->entries.erase(place->name);
    Touch(*place->folder);
    return 0;
}

namespace {

void Describe(const auto &node, uid_t uid, gid_t gid, struct stat *st) {
    std::memset(st, 0, sizeof *st);
    st->st_dev = kDevice;
    st->st_ino = node.inode;
    st->st_mode = (node.folder ? S_IFDIR : S_IFREG) | node.mode;
    nlink_t links = node.links;
    if (node.folder && links > 0) {
        links = 2;
        for (const auto &[name, entry] : node.entries)
            if (entry->folder) ++links;
    }
    st->st_nlink = links;
    st->st_uid = uid;
    st->st_gid = gid;
    st->st_size = node.folder
                      ? 40 + 20 * static_cast<off_t>(node.entries.size())
                      : static_cast<off_t>(node.data.size());
    st->st_blksize = 4096;
    st->st_blocks = (static_cast<blkcnt_t>(node.data.size()) + 4095) / 4096 * 8;
    st->st_atim = node.atime;
    st->st_mtim = node.mtime;
    st->st_ctim = node.ctime;
}

}  // namespace

int MemoryDisk::Stat(const char *path, struct stat *st) {
    NodePtr node = Find(path);
    if (!node) return -1;
    Describe(*node, owner_.uid, owner_.gid, st);
    return 0;
}

int MemoryDisk::Fstat(int fd, struct stat *st) {
    OpenFile *file = File(fd);
    if (!file) return -1;
    Describe(*file->node, owner_.uid, owner_.gid, st);
    return 0;
}

int MemoryDisk::Ftruncate(int fd, off_t length) {
    ++changes_;

    OpenFile *file = File(fd);
    if (!file) return -1;
    if (length < 0 || file->access == O_RDONLY || file->node->folder)
        return Fail(EINVAL);
    file->node->data.resize(static_cast<std::size_t>(length), '\0');
    file->node->mtime = file->node->ctime = Now();
    return 0;
}

int MemoryDisk::Futimens(int fd, const struct timespec times[2]) {
    ++changes_;

    OpenFile *file = File(fd);
    if (!file) return -1;
    const struct timespec now = Now();
    struct timespec *fields[2] = {&file->node->atime, &file->node->mtime};
    for (int i = 0; i < 2; ++i) {
        const struct timespec given = times ? times[i] : timespec{0, UTIME_NOW};
        if (given.tv_nsec == UTIME_OMIT) continue;
        *fields[i] = given.tv_nsec == UTIME_NOW ? now : given;
    }
    file->node->ctime = now;
    return 0;
}

int MemoryDisk::Fchmod(int fd, mode_t mode) {
    ++changes_;

    OpenFile *file = File(fd);
    if (!file) return -1;
    file->node->mode = mode & 07777;
    file->node->ctime = Now();
    return 0;
}

int MemoryDisk::Chmod(const char *path, mode_t mode) {
    ++changes_;

    NodePtr node = Find(path);
    if (!node) return -1;
    node->mode = mode & 07777;
    node->ctime = Now();
    return 0;
}

int MemoryDisk::Access(const char *path, int mode) {
    NodePtr node = Find(path);
    if (!node) return -1;
    if (owner_.root || mode == F_OK) return 0;
    if (((mode & R_OK) && !(node->mode & S_IRUSR)) ||
        ((mode & W_OK) && !(node->mode & S_IWUSR)) ||
        ((mode & X_OK) && !(node->mode & S_IXUSR)))
        return Fail(EACCES);
    return 0;
}

DIR *MemoryDisk::Opendir(const char *path) {
    std::optional<Place> place = Locate(path);
    if (!place) return nullptr;
    if (!place->node) {
        errno = ENOENT;
        return nullptr;
    }
    if (!place->node->folder) {
        errno = ENOTDIR;
        return nullptr;
    }
    auto *listing = new Listing;
    listing->entries.emplace_back(".", place->node);
    listing->entries.emplace_back("..", place->folder ? place->folder : top_);
    for (const auto &[name, node] : place->node->entries)
        listing->entries.emplace_back(name, node);
    listings_.insert(listing);
    return reinterpret_cast<DIR *>(listing);
}

struct dirent *MemoryDisk::Readdir(DIR *dir) {
    auto *listing = reinterpret_cast<Listing *>(dir);
    if (listing->next >= listing->entries.size()) return nullptr;
    const auto &[name, node] = listing->entries[listing->next++];
    struct dirent &entry = listing->entry;
    std::memset(&entry, 0, sizeof entry);
    entry.d_ino = node->inode;
    entry.d_type = node->folder ? DT_DIR : DT_REG;
    const std::size_t length = std::min(name.size(), sizeof entry.d_name - 1);
    std::memcpy(entry.d_name, name.data(), length);
    return &entry;
}

int MemoryDisk::Closedir(DIR *dir) {
    auto *listing = reinterpret_cast<Listing *>(dir);
    if (listings_.erase(listing) == 0) return Fail(EBADF);
    delete listing;
    return 0;
}

std::optional<struct timespec> MemoryDisk::BirthTime(const char *path) {
    NodePtr node = Find(path);
    if (!node) return std::nullopt;
    return node->btime;
}

std::string MemoryDisk::Image() const {
    std::string out(kImageMagic);
    // Each folder before what it holds.
    std::vector<std::pair<std::string, const Node *>> pending{{"", top_.get()}};
    while (!pending.empty()) {
        auto [name, node] = pending.back();
        pending.pop_back();
        out += node->folder ? 'D' : 'F';
        PutNumber(out, name.size(), 4);
        out += name;
        PutNumber(out, node->mode, 4);
        PutNumber(out, static_cast<std::uint64_t>(Nanoseconds(node->atime)), 8);
        PutNumber(out, static_cast<std::uint64_t>(Nanoseconds(node->mtime)), 8);
        if (!node->folder) {
            PutNumber(out, node->data.size(), 8);
            out += node->data;
            continue;
        }
        for (auto it = node->entries.rbegin(); it != node->entries.rend(); ++it)
            pending.emplace_back(
                name.empty() ? it->first : name + "/" + it->first,
                it->second.get());
    }
    return out;
}

namespace {

void PutEntry(std::string &out, char kind, const std::string &name,
              const struct stat &st) {
    out += kind;
    PutNumber(out, name.size(), 4);
    out += name;
    PutNumber(out, st.st_mode & 07777, 4);
    PutNumber(out, static_cast<std::uint64_t>(Nanoseconds(st.st_atim)), 8);
    PutNumber(out, static_cast<std::uint64_t>(Nanoseconds(st.st_mtim)), 8);
}

// A host file's bytes, read past the emulation's host calls.
std::optional<std::string> ReadHostBytes(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0) break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return data;
}

void PutFolder(std::string &out, const std::string &root,
               const std::string &name) {
    const std::string path = name.empty() ? root : root + "/" + name;
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(path.c_str())) {
        while (const struct dirent *entry = ::readdir(dir))
            if (std::string_view(entry->d_name) != "." &&
                std::string_view(entry->d_name) != "..")
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    } else {
        throw EmulatorFailure("cannot read the folder " + path);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &part : names) {
        const std::string inner = name.empty() ? part : name + "/" + part;
        const std::string full = root + "/" + inner;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0)
            throw EmulatorFailure("cannot read " + full);
        if (S_ISDIR(st.st_mode)) {
            PutEntry(out, 'D', inner, st);
            PutFolder(out, root, inner);
        } else if (S_ISREG(st.st_mode)) {
            std::optional<std::string> data = ReadHostBytes(full);
            if (!data) throw EmulatorFailure("cannot read " + full);
            PutEntry(out, 'F', inner, st);
            PutNumber(out, data->size(), 8);
            out += *data;
        } else {
            throw EmulatorFailure(full + " is neither a file nor a folder");
        }
    }
}

}  // namespace

std::string ImageOfFolder(const std::string &root) {
    std::string out(kImageMagic);
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw EmulatorFailure("no machine folder " + root);
    PutEntry(out, 'D', "", st);
    PutFolder(out, root, "");
    return out;
}

MemoryDisk *ActiveMemoryDisk() { return Active(); }

namespace {

std::string &ImageOut() {
    static std::string path;
    return path;
}

}  // namespace

void SetImageOut(std::string path) { ImageOut() = std::move(path); }

void WriteImageOut() {
    MemoryDisk *disk = Active();
    if (!disk || ImageOut().empty()) return;
    const std::string image = disk->Image();
    int fd = ::open(ImageOut().c_str(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;  // the sweep sees no image and says so
    std::size_t done = 0;
    while (done < image.size()) {
        ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

void UseMemoryDisk(std::unique_ptr<MemoryDisk> disk) {
    static std::unique_ptr<MemoryDisk> held;
    held = std::move(disk);
    Active() = held.get();
}

}  // namespace w95
