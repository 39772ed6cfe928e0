// REGEDIT4 text, the form in which the machine keeps its registry and in
// which RegSaveKeyA writes a key: reading it line by line into a handler,
// and writing a key with its subtree.
#ifndef W95_REGEDIT4_H
#define W95_REGEDIT4_H

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "registry_tree.h"

namespace w95::regedit4 {

// What the reader finds, in file order. `line` is the line of the section
// header or of the value's first line.
class Handler {
  public:
    virtual ~Handler() = default;
    // "[ROOT\a\b]" (remove false) or "[-ROOT\a\b]" (remove true).
    virtual void Key(RegRoot root, const std::vector<std::string_view> &path,
                     bool remove, int line) = 0;
    // "name"=..., @=...; name "" is the default value.
    virtual void Value(std::string_view name, DWORD type,
                       const std::vector<BYTE> &data, int line) = 0;
    // "name"=-
    virtual void RemoveValue(std::string_view name, int line) = 0;
};

// Reads REGEDIT4 text (LF or CR LF lines, "\" continuations of hex data).
// A malformed line throws EmulatorFailure "<source> line N: <what>"; a
// handler may throw the same way, using ThrowMalformed below.
void Parse(std::string_view text, const std::string &source, Handler &handler);

[[noreturn]] void ThrowMalformed(const std::string &source, int line,
                                 const std::string &what);

// "REGEDIT4" and its line end: the start of every file.
void AppendHeader(std::string &out);

// One "[path]" section per key, `key` first, then its subkeys depth first
// in enumeration order, each followed by a blank line. `path` is the full
// name under which `key` is written.
void AppendTree(std::string &out, const std::string &path, const RegKey &key);

// At least as many bytes as AppendTree writes for `key` under a path of
// `pathLength` characters: found without formatting anything, so that the
// text can be written into one buffer reserved beforehand (pages of it
// that are never written cost nothing).
std::size_t TreeTextBound(std::size_t pathLength, const RegKey &key);

// The line of one value ("name"="text", @=dword:..., hex:...), CR LF
// included. Hex data is wrapped at about 80 columns as regedit does, or
// kept on one line (without the line end) for `wrap` false.
void AppendValue(std::string &out, const RegValue &value, bool wrap = true);

}  // namespace w95::regedit4

#endif
