// What of a run's writes and directory operations has reached the disk.
// Windows 95 keeps both in its disk cache and writes them later; this model
// of that cache says, for every file and directory change that a run makes
// under the drive folders, whether it is still pending or already durable,
// and makes the machine's drive folders hold what a power loss leaves.
//
// - A file's data is durable up to the last FlushFileBuffers on it; what lay
//   on the host before the run counts as durable.
// - Directory operations reach the disk in the order they were made; a
//   FlushFileBuffers on any file of a drive makes all of that drive's so far
//   durable.
//
// The registry's files (registry.reg, registry.log) lie outside the drive
// folders and keep their own durability. The model is kept only while the
// fault plan holds a power loss (TrackedDisk() in emulated_process.h is null
// otherwise), so that ordinary runs pay nothing for it.
#ifndef W95_DISK_CACHE_H
#define W95_DISK_CACHE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace w95 {

// What a power loss leaves of the pending changes.
enum class PowerLossKind {
    DataOnly,  // no pending data; every directory operation kept
    Meta,      // no pending data, and the pending directory operations undone
    Torn,      // the first half of each file's pending bytes; every
               // directory operation kept
};

// A host file, whatever its name: renames keep it.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileId &) const = default;
};

inline FileId IdOf(const struct stat &st) { return {st.st_dev, st.st_ino}; }

class DiskCache {
  public:
    bool On() const { return on_; }
    // Starts or stops the bookkeeping; what lies on the host when it starts
    // is durable.
    void SetOn(bool on);

    // A file's data. Before the first change of a file in the run, its
    // durable bytes are taken from the host: through `fd` (open for
    // reading) or its `path`. Only what a host call really did is told.
    void BeforeChange(FileId id, int fd);
    void BeforeChange(FileId id, const std::filesystem::path &path);
    // The identity of the file open as `fd`, just opened.
    static FileId Opened(int fd);
    void Wrote(FileId id, std::int64_t offset, const char *bytes,
               std::size_t count);
    void Truncated(FileId id, std::int64_t length);
    // FlushFileBuffers succeeded on a handle of `id`, which lies on `drive`
    // ('A'..'Z'): its data and the drive's directory operations so far are
    // durable.
    void Flushed(FileId id, char drive);

    // Directory operations, once done on the host. `drive` is the drive
    // letter of the path. A file to delete is told BeforeChange first, so
    // that its durable bytes can come back.
    void CreatedFile(FileId id, const std::filesystem::path &path, char drive);
    void DeletedFile(FileId id, const std::filesystem::path &path, mode_t mode,
                     char drive);
    void Renamed(const std::filesystem::path &from, char fromDrive,
                 const std::filesystem::path &to, char toDrive);
    void MadeDirectory(const std::filesystem::path &path, char drive);
    void RemovedDirectory(const std::filesystem::path &path, mode_t mode,
                          char drive);
    void ChangedMode(const std::filesystem::path &path, mode_t oldMode,
                     char drive);

    // Makes the drive folders of the machine at `root` hold what `kind`
    // leaves: with Meta the pending directory operations are undone, latest
    // first; then every changed file gets its durable bytes (and with Torn
    // the first half of its pending bytes, rounded down to a multiple of
    // 512). The process is to end right after.
    void LosePower(PowerLossKind kind, const std::filesystem::path &root);
    // Whether a file holds bytes that a power loss would take back, and
    // whether a directory operation is not yet durable: without the first,
    // a power loss of any kind but Meta leaves what the cache holds, and
    // without the second, Meta leaves what DataOnly leaves.
    bool DataPending() const;
    bool DirectoryOpsPending() const;

    // A file's bytes after a power loss of `kind`, from its durable bytes
    // and its pending changes in order.
    struct Change {
        std::int64_t offset;  // a truncation: the new length
        std::string bytes;
        bool truncation = false;
    };
    static std::string BytesAfter(PowerLossKind kind, std::string durable,
                                  const std::vector<Change> &pending);

  private:
    struct FileState {
        std::string durable;
        std::vector<Change> pending;
    };
    enum class OpKind {
        CreateFile,
        DeleteFile,
        Rename,
        MakeDirectory,
        RemoveDirectory,
        ChangeMode
    };
    struct DirectoryOp {
        OpKind kind;
        std::string drives;          // the drives it touches: one, or two
        std::filesystem::path path;  // a rename's source
        std::filesystem::path to;    // a rename's target
        FileId id{};                 // a created file
        mode_t mode = 0;             // the mode to restore on undoing it
        std::string durable;         // a deleted file's durable bytes
    };

    bool Durable(std::size_t index) const;
    void Undo(const DirectoryOp &op);
    DirectoryOp &Push(OpKind kind, char drive,
                      const std::filesystem::path &path);

    bool on_ = false;
    std::map<FileId, FileState> files_;  // live files changed since durable
    std::vector<DirectoryOp> ops_;
    std::array<std::size_t, 26> durableOps_{};  // by drive: ops_ before it
};

}  // namespace w95

#endif
