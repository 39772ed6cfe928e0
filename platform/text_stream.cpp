// Buffered text streams over CreateFileA, ReadFile and WriteFile, with the
// Windows C runtime's text-mode translation. Serves both builds.
#include "text_stream.h"

#include <new>

#include "platform_fault.h"

namespace {

const DWORD kBufferSize = 4096;
const int kEnd = -1;  // no more characters: end of the stream or an error

}  // namespace

struct TextStream {
    HANDLE file = INVALID_HANDLE_VALUE;
    TextStreamMode mode = TEXT_READ;
    char buffer[kBufferSize];
    DWORD position = 0;     // reading: next byte; writing: bytes held
    DWORD length = 0;       // reading: bytes in the buffer
    bool atEnd = false;     // a read has run into the end (feof)
    bool sawCtrlZ = false;  // the text ended at a Ctrl-Z
    bool failed = false;    // a read or write has failed (ferror)
    DWORD error = 0;        // the first failure's error code
};

namespace {

void MarkFailed(TextStream *stream, DWORD error) {
    if (!stream->failed) stream->error = error;
    stream->failed = true;
}

// Refills the read buffer; false at the end of the file or on an error.
// Running into the end here is not yet the stream's end: a look-ahead may
// find it while the character in hand still belongs to the piece read.
bool Fill(TextStream *stream) {
    DWORD got = 0;
    if (!ReadFile(stream->file, stream->buffer, kBufferSize, &got, NULL)) {
        MarkFailed(stream, GetLastError());
        return false;
    }
    stream->position = 0;
    stream->length = got;
    return got != 0;
}

// The next byte of the file without translation, or kEnd.
int PeekByte(TextStream *stream) {
    if (stream->position == stream->length && !Fill(stream)) return kEnd;
    return static_cast<unsigned char>(stream->buffer[stream->position]);
}

// The next character after text-mode translation, or kEnd.
int NextChar(TextStream *stream) {
    if (stream->sawCtrlZ || stream->failed) return kEnd;
    int c = PeekByte(stream);
    if (c == kEnd) {
        // Only a read that finds no character ends the stream (feof).
        if (!stream->failed) stream->atEnd = true;
        return kEnd;
    }
    if (c == 0x1A) {
        stream->sawCtrlZ = true;
        stream->atEnd = true;
        return kEnd;
    }
    ++stream->position;
    if (c == '\r') {
        // CR LF is one line feed, also when the LF starts the next buffer;
        // any other CR stays. A look-ahead into the end of the file leaves
        // the stream's end to the next read, as the C runtime does.
        int after = PeekByte(stream);
        if (stream->failed) return kEnd;
        if (after == '\n') {
            ++stream->position;
            return '\n';
        }
    }
    return c;
}

bool Flush(TextStream *stream) {
    DWORD offset = 0;
    while (offset < stream->position) {
        DWORD written = 0;
        if (!WriteFile(stream->file, stream->buffer + offset,
                       stream->position - offset, &written, NULL)) {
            MarkFailed(stream, GetLastError());
            stream->position = 0;
            return false;
        }
        if (written == 0) {
            MarkFailed(stream, ERROR_WRITE_FAULT);
            stream->position = 0;
            return false;
        }
        offset += written;
    }
    stream->position = 0;
    return true;
}

bool PutByte(TextStream *stream, char c) {
    if (stream->position == kBufferSize && !Flush(stream)) return false;
    stream->buffer[stream->position++] = c;
    return true;
}

}  // namespace

TextStream *OpenTextStream(LPCSTR path, TextStreamMode mode) {
    if (DWORD e = PlatformInjectedFault("OpenTextStream")) {
        SetLastError(e);
        return NULL;
    }
    if (path == NULL || (mode != TEXT_READ && mode != TEXT_WRITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    bool reading = mode == TEXT_READ;
    HANDLE file = CreateFileA(path, reading ? GENERIC_READ : GENERIC_WRITE,
                              reading ? FILE_SHARE_READ : 0, NULL,
                              reading ? OPEN_EXISTING : CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return NULL;
    TextStream *stream = new (std::nothrow) TextStream;
    if (stream == NULL) {
        CloseHandle(file);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    stream->file = file;
    stream->mode = mode;
    SetLastError(ERROR_SUCCESS);
    return stream;
}

char *ReadTextLine(char *buffer, int size, TextStream *stream) {
    if (DWORD e = PlatformInjectedFault("ReadTextLine")) {
        SetLastError(e);
        if (stream != NULL) MarkFailed(stream, e);
        return NULL;
    }
    if (stream == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    if (buffer == NULL || size <= 0 || stream->mode != TEXT_READ) {
        SetLastError(ERROR_INVALID_PARAMETER);
        MarkFailed(stream, ERROR_INVALID_PARAMETER);
        return NULL;
    }
    int count = 0;
    while (count < size - 1) {
        int c = NextChar(stream);
        if (c == kEnd) break;
        buffer[count++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    buffer[count] = '\0';
    if (stream->failed) {
        SetLastError(stream->error);
        return NULL;
    }
    if (count == 0 && size > 1) return NULL;  // the end of the stream
    return buffer;
}

BOOL WriteText(TextStream *stream, LPCSTR text) {
    if (DWORD e = PlatformInjectedFault("WriteText")) {
        SetLastError(e);
        if (stream != NULL) MarkFailed(stream, e);
        return FALSE;
    }
    if (stream == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (text == NULL || stream->mode != TEXT_WRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        MarkFailed(stream, ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (stream->failed) {
        SetLastError(stream->error);
        return FALSE;
    }
    for (const char *p = text; *p != '\0'; ++p) {
        if ((*p == '\n' && !PutByte(stream, '\r')) || !PutByte(stream, *p)) {
            SetLastError(stream->error);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL AtEndOfStream(const TextStream *stream) {
    return stream != NULL && stream->atEnd ? TRUE : FALSE;
}

BOOL StreamFailed(const TextStream *stream) {
    return stream == NULL || stream->failed ? TRUE : FALSE;
}

BOOL CloseTextStream(TextStream *stream) {
    DWORD fault = PlatformInjectedFault("CloseTextStream");
    if (stream == NULL) {
        if (fault != 0) SetLastError(fault);
        return fault == 0 ? TRUE : FALSE;
    }
    if (fault != 0) {
        // The stream still goes away, but what it held is not written.
        MarkFailed(stream, fault);
        stream->position = 0;
    }
    if (stream->mode == TEXT_WRITE && stream->position > 0 && !stream->failed) {
        Flush(stream);
    }
    if (!CloseHandle(stream->file)) MarkFailed(stream, GetLastError());
    bool ok = !stream->failed;
    DWORD error = stream->error;
    delete stream;
    if (!ok) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
