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
    // Closes a file that was written, reporting whether the close succeeded
    // (see CloseWrittenFile).
    BOOL CloseWritten();

  private:
    HANDLE handle_;
};

// Closes a file that setup wrote and tells whether its content is safely
// out. A close that fails may leave the handle open, and Windows 95 neither
// deletes nor renames an open file, so the rollback could not remove the
// file afterwards: the close is tried once more. The result and the last
// error are those of the first close.
inline BOOL CloseWrittenFile(HANDLE file) {
    if (CloseHandle(file)) return TRUE;
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return FALSE;
}

inline BOOL FileHandle::CloseWritten() {
    HANDLE handle = Release();
    return handle == INVALID_HANDLE_VALUE || CloseWrittenFile(handle);
}

#endif
