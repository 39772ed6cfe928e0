// Scoped holders for the working memory and open files of one operation, so
// that every path out of it releases them before an error is reported.
#ifndef SETUP_WORK_BUFFERS_H
#define SETUP_WORK_BUFFERS_H

#include <windows.h>

// A locked, zero-filled block from LocalAlloc, freed with its scope.
class WorkBuffer {
  public:
    explicit WorkBuffer(SIZE_T size) {
        memory_ = LocalAlloc(LMEM_ZEROINIT, size);
        if (memory_ != NULL) bytes_ = static_cast<char *>(LocalLock(memory_));
    }
    ~WorkBuffer() {
        if (memory_ == NULL) return;
        if (bytes_ != NULL) LocalUnlock(memory_);
        LocalFree(memory_);
    }
    WorkBuffer(const WorkBuffer &) = delete;
    WorkBuffer &operator=(const WorkBuffer &) = delete;
    char *Bytes() const { return bytes_; }

  private:
    HLOCAL memory_ = NULL;
    char *bytes_ = NULL;
};

// A file handle closed with its scope (or earlier, by Close).
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Gives up the handle without closing it; the caller closes it.
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void Close() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_;
};

#endif
