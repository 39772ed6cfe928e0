// The registry's change log, registry.log beside registry.reg: with
// machine.ini RegistryWrite=each every change of the registry is appended
// to it and flushed before the call that made it returns, and loading the
// registry replays it, so that a crash leaves the registry as of the crash
// point. This file knows the log's form on disk; what a record means is the
// registry's business (registry_store.cpp).
//
// The log is a sequence of records, each framed as
//     #<payload length> <CRC-32 of the payload, 8 hex digits> CR LF
//     <payload> CR LF
// and written with one write() followed by fdatasync(). A record that a
// power loss cut short, or that the file system left as zeros or garbage,
// fails its length or checksum; reading stops there, so whatever was
// logged before it stays good, and appending goes on from the last whole
// record.
//
// The first record names the registry.reg that the log was started on (its
// size and a 64-bit hash of its text, or "none"). The log applies only on
// top of exactly that file. This is what makes the end of a run safe: the
// registry is written back to registry.reg (atomically) first and the log
// removed after; a power loss between the two leaves a log whose base no
// longer matches registry.reg, and that stale log is ignored. Removing the
// log first instead would lose every logged change if the power failed
// before registry.reg was replaced.
#ifndef W95_REGISTRY_LOG_H
#define W95_REGISTRY_LOG_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace w95 {

// registry.log for registry.reg: the same name with ".log".
std::filesystem::path ChangeLogFileOf(const std::filesystem::path &registry);

// What a log names as its base: "<size> <hash>" of a registry.reg's text,
// or "none" for a registry without a file (`text` nullptr).
std::string RegistryFileIdentity(const std::string *text);

// One record as it lies in the file, framing included.
std::string FramedLogRecord(std::string_view payload);

// What ReadChangeLog found.
struct ChangeLogContents {
    bool exists = false;   // a file is there
    bool current = false;  // whole first record, naming the base asked for
    std::vector<std::string> records;  // whole records after the first
    std::uint64_t wholeSize = 0;       // bytes up to the last whole record
};

// Reads the log at `log`, checking it against `base` (RegistryFileIdentity
// of the registry.reg it would apply to). A missing file is no log; a log
// of another base, or one whose first record is not whole, is not current
// and gives no records. Throws EmulatorFailure when the file is there but
// cannot be read.
ChangeLogContents ReadChangeLog(const std::filesystem::path &log,
                                std::string_view base);

// Appends records to a log. Every failure throws EmulatorFailure
// "<log>: cannot <step>: <reason>".
class ChangeLogWriter {
  public:
    ChangeLogWriter() = default;
    ChangeLogWriter(const ChangeLogWriter &) = delete;
    ChangeLogWriter &operator=(const ChangeLogWriter &) = delete;
    ChangeLogWriter(ChangeLogWriter &&other) noexcept;
    ChangeLogWriter &operator=(ChangeLogWriter &&other) noexcept;
    ~ChangeLogWriter() { Close(); }

    // Goes on with a current log after its last whole record (`wholeSize`,
    // from ReadChangeLog), cutting off whatever follows it.
    void Continue(const std::filesystem::path &log, std::uint64_t wholeSize);
    // Starts a new log for `base` in place of whatever lies at `log`. The
    // new log replaces the old one atomically, so a power loss leaves
    // either the old file or the new one with its whole first record.
    void Start(const std::filesystem::path &log, std::string_view base);
    // Appends one record and flushes it to disk.
    void Append(std::string_view payload);

    bool IsOpen() const { return fd_ >= 0; }
    void Close();

  private:
    [[noreturn]] void Fail(const char *step, int error);

    int fd_ = -1;
    std::filesystem::path path_;
};

// Removes a log and flushes its folder, so that the removal lasts a power
// loss; no log there is fine. Throws EmulatorFailure when it cannot.
void RemoveChangeLog(const std::filesystem::path &log);

}  // namespace w95

#endif
