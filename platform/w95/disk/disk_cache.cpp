// The model of the disk cache: pending and durable file data and directory
// operations, and what a power loss leaves of them.
//
// Its own reads and writes of the host files are bookkeeping, not calls of
// the emulation: they go through the raw host calls, so that W95_HOST_FAIL
// neither counts nor fails them.
#include "disk_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>

#include "host_calls.h"

namespace fs = std::filesystem;

namespace w95 {

namespace {

constexpr std::size_t kSectorBytes = 512;

std::size_t DriveIndex(char drive) {
    return static_cast<std::size_t>(drive - 'A');
}

bool IsDrive(char drive) { return drive >= 'A' && drive <= 'Z'; }

// The whole content of the file open as `fd`, read from its start.
std::string ReadThrough(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = RawPread(fd, buffer, sizeof buffer,
                             static_cast<off_t>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

std::string ReadPath(const fs::path &path) {
    int fd = RawOpen(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string bytes = ReadThrough(fd);
    RawClose(fd);
    return bytes;
}

void WriteThrough(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = RawWrite(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Gives the existing file at `path` exactly `bytes`, keeping its identity
// and mode; a read-only file is made writable for the moment.
void Rewrite(const fs::path &path, const std::string &bytes) {
    int fd = RawOpen(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        struct stat st {};
        if (RawStat(path.c_str(), &st) != 0) return;
        RawChmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
        fd = RawOpen(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        RawChmod(path.c_str(), st.st_mode & 07777);
        if (fd < 0) return;
    }
    WriteThrough(fd, bytes);
    RawClose(fd);
}

// Adds the regular files under the folder `folder` to `found`.
void AddFilesUnder(const std::string &folder,
                   std::map<FileId, fs::path> &found) {
    DIR *listing = RawOpendir(folder.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> folders;
    while (const struct dirent *entry = RawReaddir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = folder + "/" + std::string(name);
        struct stat st {};
        if (RawLstat(path.c_str(), &st) != 0) continue;
        if (S_ISREG(st.st_mode))
            found.emplace(IdOf(st), path);
        else if (S_ISDIR(st.st_mode))
            folders.push_back(std::move(path));
    }
    RawClosedir(listing);
    for (const std::string &inner : folders) AddFilesUnder(inner, found);
}

// The regular files under the drive folders of `root`, by identity.
std::map<FileId, fs::path> DriveFiles(const fs::path &root) {
    std::map<FileId, fs::path> found;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const std::string drive = root.string() + "/drive_" + letter;
        struct stat st {};
        if (RawLstat(drive.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            AddFilesUnder(drive, found);
    }
    return found;
}

}  // namespace

void DiskCache::SetOn(bool on) {
    on_ = on;
    files_.clear();
    ops_.clear();
    durableOps_.fill(0);
}

void DiskCache::BeforeChange(FileId id, int fd) {
    if (!files_.contains(id)) files_[id].durable = ReadThrough(fd);
}

void DiskCache::BeforeChange(FileId id, const fs::path &path) {
    if (!files_.contains(id)) files_[id].durable = ReadPath(path);
}

FileId DiskCache::Opened(int fd) {
    struct stat st {};
    return RawFstat(fd, &st) == 0 ? IdOf(st) : FileId{};
}

void DiskCache::Wrote(FileId id, std::int64_t offset, const char *bytes,
                      std::size_t count) {
    if (count == 0) return;
    std::vector<Change> &pending = files_[id].pending;
    // Writes that follow each other (a write-behind buffer written out in
    // pieces) are one change.
    if (!pending.empty() && !pending.back().truncation &&
        pending.back().offset +
                static_cast<std::int64_t>(pending.back().bytes.size()) ==
            offset) {
        pending.back().bytes.append(bytes, count);
        return;
    }
    pending.push_back({offset, std::string(bytes, count)});
}

void DiskCache::Truncated(FileId id, std::int64_t length) {
    files_[id].pending.push_back({length, {}, true});
}

void DiskCache::Flushed(FileId id, char drive) {
    // The host holds the file's durable bytes now: they are read again
    // before its next change.
    files_.erase(id);
    if (IsDrive(drive)) durableOps_[DriveIndex(drive)] = ops_.size();
}

DiskCache::DirectoryOp &DiskCache::Push(OpKind kind, char drive,
                                        const fs::path &path) {
    DirectoryOp &op = ops_.emplace_back();
    op.kind = kind;
    op.drives = std::string(1, drive);
    op.path = path;
    return op;
}

void DiskCache::CreatedFile(FileId id, const fs::path &path, char drive) {
    // A file new in the run has no durable bytes (a name reused by a file
    // deleted before it is a new file too).
    files_[id] = FileState{};
    Push(OpKind::CreateFile, drive, path).id = id;
}

void DiskCache::DeletedFile(FileId id, const fs::path &path, mode_t mode,
                            char drive) {
    DirectoryOp &op = Push(OpKind::DeleteFile, drive, path);
    op.mode = mode;
    auto file = files_.find(id);
    if (file != files_.end()) {
        op.durable = std::move(file->second.durable);
        files_.erase(file);
    }
}

void DiskCache::Renamed(const fs::path &from, char fromDrive,
                        const fs::path &to, char toDrive) {
    DirectoryOp &op = Push(OpKind::Rename, fromDrive, from);
    op.to = to;
    if (toDrive != fromDrive) op.drives += toDrive;
}

void DiskCache::MadeDirectory(const fs::path &path, char drive) {
    Push(OpKind::MakeDirectory, drive, path);
}

void DiskCache::RemovedDirectory(const fs::path &path, mode_t mode,
                                 char drive) {
    Push(OpKind::RemoveDirectory, drive, path).mode = mode;
}

void DiskCache::ChangedMode(const fs::path &path, mode_t oldMode, char drive) {
    Push(OpKind::ChangeMode, drive, path).mode = oldMode;
}

bool DiskCache::Durable(std::size_t index) const {
    const DirectoryOp &op = ops_[index];
    // An operation on two drives (a rename from one drive folder into
    // another) lasts only once both have it.
    return std::all_of(op.drives.begin(), op.drives.end(), [&](char drive) {
        return IsDrive(drive) && index < durableOps_[DriveIndex(drive)];
    });
}

void DiskCache::Undo(const DirectoryOp &op) {
    switch (op.kind) {
        case OpKind::CreateFile:
            RawUnlink(op.path.c_str());
            files_.erase(op.id);
            break;
        case OpKind::DeleteFile: {
            int fd = RawOpen(op.path.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0) break;
            WriteThrough(fd, op.durable);
            RawFchmod(fd, op.mode & 07777);
            RawClose(fd);
            break;
        }
        case OpKind::Rename:
            RawRename(op.to.c_str(), op.path.c_str());
            break;
        case OpKind::MakeDirectory:
            RawRmdir(op.path.c_str());
            break;
        case OpKind::RemoveDirectory:
            RawMkdir(op.path.c_str(), op.mode & 07777);
            break;
        case OpKind::ChangeMode:
            RawChmod(op.path.c_str(), op.mode & 07777);
            break;
    }
}

void DiskCache::LosePower(PowerLossKind kind, const fs::path &root) {
    if (kind == PowerLossKind::Meta) {
        for (std::size_t i = ops_.size(); i-- > 0;)
            if (!Durable(i)) Undo(ops_[i]);
    }
    if (!DataPending()) return;
    std::map<FileId, fs::path> found = DriveFiles(root);
    for (auto &[id, file] : files_) {
        auto where = found.find(id);
        if (file.pending.empty() || where == found.end()) continue;
        Rewrite(where->second,
                BytesAfter(kind, std::move(file.durable), file.pending));
    }
}

bool DiskCache::DataPending() const {
    return std::any_of(files_.begin(), files_.end(),
                       [](auto &file) { return !file.second.pending.empty(); });
}

bool DiskCache::DirectoryOpsPending() const {
    for (std::size_t i = 0; i < ops_.size(); ++i)
        if (!Durable(i)) return true;
    return false;
}

std::string DiskCache::BytesAfter(PowerLossKind kind, std::string durable,
                                  const std::vector<Change> &pending) {
    if (kind != PowerLossKind::Torn) return durable;
    std::size_t total = 0;
    for (const Change &change : pending) total += change.bytes.size();
    std::size_t left = total / 2 / kSectorBytes * kSectorBytes;
    std::string bytes = std::move(durable);
    for (const Change &change : pending) {
        if (left == 0) break;
        const std::size_t offset = static_cast<std::size_t>(change.offset);
        if (change.truncation) {
            bytes.resize(offset);
            continue;
        }
        const std::size_t count = std::min(left, change.bytes.size());
        if (bytes.size() < offset + count) bytes.resize(offset + count);
        bytes.replace(offset, count, change.bytes, 0, count);
        left -= count;
    }
    return bytes;
}

}  // namespace w95
