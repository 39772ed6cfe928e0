// Buffered text streams over the platform's file calls, with the Windows C
// runtime's text-mode rules:
//  - reading: CR LF comes back as LF, a lone CR stays, Ctrl-Z (0x1A) ends the
//    stream;
//  - writing: LF goes out as CR LF;
//  - ReadTextLine reads like fgets: at most size-1 characters, up to and
//    including the line feed, always NUL-terminated.
// The same code serves both builds; the emulation can fail each call by name
// (OpenTextStream, ReadTextLine, WriteText, CloseTextStream).
#ifndef PLATFORM_TEXT_STREAM_H
#define PLATFORM_TEXT_STREAM_H

#include <windows.h>

struct TextStream;

enum TextStreamMode {
    TEXT_READ,   // an existing file, read from its start
    TEXT_WRITE,  // created, or emptied when it exists
};

// NULL on failure, with GetLastError set.
TextStream *OpenTextStream(LPCSTR path, TextStreamMode mode);

// The next line into buffer, as fgets does; NULL at the end of the stream or
// on a read error (AtEndOfStream and StreamFailed tell which).
char *ReadTextLine(char *buffer, int size, TextStream *stream);

// Writes text (LF as CR LF). FALSE on a write error, which also sticks.
BOOL WriteText(TextStream *stream, LPCSTR text);

// TRUE once a read has run into the end of the stream (feof).
BOOL AtEndOfStream(const TextStream *stream);

// TRUE once a read or write has failed (ferror).
BOOL StreamFailed(const TextStream *stream);

// Flushes what is buffered and closes the file; FALSE when the flush or the
// close failed, or when the stream had failed before. The stream is gone
// either way. NULL is accepted and gives TRUE.
BOOL CloseTextStream(TextStream *stream);

#endif
