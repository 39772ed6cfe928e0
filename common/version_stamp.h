// The version stamp that every deliverable carries: the marker "$qvrver$", a
// NUL, the banner and a NUL. Nothing refers to it; readers find it by
// scanning the file for the marker and its NUL.
#ifndef COMMON_VERSION_STAMP_H
#define COMMON_VERSION_STAMP_H

#include <cstddef>

#define VERSION_STAMP_MARKER "$qvrver$"
constexpr std::size_t MARKER_LENGTH = sizeof VERSION_STAMP_MARKER;  // with NUL

// Defines the program's stamp as a constant at the start of its read-only
// data: the linkers place read-only input sections in link order, and the
// stamp's object is the program's first. `used` keeps it although no code
// refers to it.
#if defined(_WIN32)
#define VERSION_STAMP_SECTION ".rdata"
#else
#define VERSION_STAMP_SECTION ".rodata.0stamp"
#endif

#define DEFINE_VERSION_STAMP(banner)                              \
    extern "C" {                                                  \
    extern const char VersionStamp[];                             \
    __attribute__((used, section(VERSION_STAMP_SECTION)))         \
    const char VersionStamp[] = VERSION_STAMP_MARKER "\0" banner; \
    }

#endif
