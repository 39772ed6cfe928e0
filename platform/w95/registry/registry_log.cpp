// The registry's change log on disk: framing, checksums, reading up to the
// last whole record, appending with a flush per record.
#include "registry_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "emulator_error.h"
#include "host_calls.h"
#include "host_files.h"

namespace fs = std::filesystem;

namespace w95 {

namespace {

constexpr std::string_view kFirstLine = "W95 registry change log\r\n";
constexpr std::string_view kBasePrefix = "base ";

std::uint32_t Crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char ch : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(ch)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char ch : bytes) {
        h ^= static_cast<unsigned char>(ch);
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string FirstRecordPayload(std::string_view base) {
    std::string payload(kFirstLine);
    payload += kBasePrefix;
    payload += base;
    return payload;
}

// The next whole record at text[*pos]: its payload, with *pos moved past
// it. False for a record cut short or damaged, and at the end.
bool NextRecord(std::string_view text, std::size_t *pos,
                std::string_view *payload) {
    std::size_t p = *pos;
    if (p >= text.size() || text[p] != '#') return false;
    ++p;
    std::uint64_t length = 0;
    std::size_t digits = 0;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9' && digits < 12) {
        length = length * 10 + static_cast<std::uint64_t>(text[p] - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || p >= text.size() || text[p] != ' ') return false;
    ++p;
    if (text.size() - p < 10) return false;
    std::uint32_t crc = 0;
    for (int i = 0; i < 8; ++i) {
        char c = text[p + i];
        int h = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (h < 0) return false;
        crc = (crc << 4) | static_cast<std::uint32_t>(h);
    }
    p += 8;
    if (text.substr(p, 2) != "\r\n") return false;
    p += 2;
    if (text.size() - p < length + 2) return false;
    std::string_view body = text.substr(p, length);
    if (text.substr(p + length, 2) != "\r\n" || Crc32(body) != crc)
        return false;
    *payload = body;
    *pos = p + length + 2;
    return true;
}

[[noreturn]] void FailOn(const fs::path &file, const char *step, int error) {
    throw EmulatorFailure(file.string() + ": cannot " + step + ": " +
                          std::strerror(error));
}

}  // namespace

fs::path ChangeLogFileOf(const fs::path &registry) {
    fs::path log = registry;
    log.replace_extension(".log");
    return log;
}

std::string RegistryFileIdentity(const std::string *text) {
    if (!text) return "none";
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(Fnv1a64(*text)));
    return std::to_string(text->size()) + " " + hash;
}

std::string FramedLogRecord(std::string_view payload) {
    char head[48];
    std::snprintf(head, sizeof head, "#%zu %08lx\r\n", payload.size(),
                  static_cast<unsigned long>(Crc32(payload)));
    std::string record(head);
    record += payload;
    record += "\r\n";
    return record;
}

ChangeLogContents ReadChangeLog(const fs::path &log, std::string_view base) {
    ChangeLogContents contents;
    struct stat st {};
    if (RawLstat(log.c_str(), &st) != 0) {
        if (errno == ENOENT) return contents;
        throw EmulatorFailure(log.string() + ": " + std::strerror(errno));
    }
    contents.exists = true;
    std::optional<std::string> read;
    int error = EISDIR;
    if (S_ISREG(st.st_mode)) read = ReadWholeHostFile(log, &error);
    if (!read)
        throw EmulatorFailure(log.string() +
                              ": cannot be read: " + std::strerror(error));
    const std::string &text = *read;

    std::size_t pos = 0;
    std::string_view payload;
    if (!NextRecord(text, &pos, &payload) ||
        payload != FirstRecordPayload(base))
        return contents;
    contents.current = true;
    while (NextRecord(text, &pos, &payload))
        contents.records.emplace_back(payload);
    contents.wholeSize = pos;
    return contents;
}

// ------------------------------------------------------------------ writer

ChangeLogWriter::ChangeLogWriter(ChangeLogWriter &&other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

ChangeLogWriter &ChangeLogWriter::operator=(ChangeLogWriter &&other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

void ChangeLogWriter::Close() {
    if (fd_ >= 0) HostClose(fd_);
    fd_ = -1;
}

void ChangeLogWriter::Fail(const char *step, int error) {
    Close();
    FailOn(path_, step, error);
}

void ChangeLogWriter::Continue(const fs::path &log, std::uint64_t wholeSize) {
    Close();
    path_ = log;
    fd_ = HostOpen(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) Fail("open", errno);
    // A torn record after the last whole one goes, durably, before anything
    // is appended behind it.
    struct stat st {};
    if (HostFstat(fd_, &st) != 0) Fail("open", errno);
    if (static_cast<std::uint64_t>(st.st_size) != wholeSize &&
        (HostFtruncate(fd_, static_cast<off_t>(wholeSize)) != 0 ||
         HostFsync(fd_) != 0))
        Fail("cut off a torn record", errno);
}

void ChangeLogWriter::Start(const fs::path &log, std::string_view base) {
    Close();
    path_ = log;
    if (std::optional<ReplaceFailure> failure = ReplaceFileAtomically(
            log, FramedLogRecord(FirstRecordPayload(base))))
        FailOn(log, failure->step, failure->error);
    fd_ = HostOpen(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd_ < 0) Fail("open", errno);
}

void ChangeLogWriter::Append(std::string_view payload) {
    std::string record = FramedLogRecord(payload);
    // One write() per record: a torn record is always the last one.
    if (int error = WriteAll(fd_, record.data(), record.size()))
        Fail("write", error);
    if (HostFdatasync(fd_) != 0) Fail("write", errno);
}

void RemoveChangeLog(const fs::path &log) {
    if (HostUnlink(log.c_str()) != 0) {
        if (errno == ENOENT) return;
        FailOn(log, "remove", errno);
    }
    if (int error = FlushFolderOf(log)) FailOn(log, "remove", error);
}

}  // namespace w95
