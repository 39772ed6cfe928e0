// Compiled resources for tests: the .res files the build makes (the
// programs' own and the tests' dialogs) and hand-made .res entries for
// malformed cases.
#ifndef TESTS_PLATFORM_COMPILED_RESOURCES_H
#define TESTS_PLATFORM_COMPILED_RESOURCES_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// build/resources/<name>.res, e.g. "parlod" or "dialogs_test".
inline Bytes CompiledResources(const std::string &name) {
    std::ifstream in(std::filesystem::path(KIT_RESOURCE_DIR) / (name + ".res"),
                     std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void PutWord(Bytes &b, unsigned w) {
    b.push_back(static_cast<std::uint8_t>(w));
    b.push_back(static_cast<std::uint8_t>(w >> 8));
}
inline void PutDword(Bytes &b, unsigned d) {
    PutWord(b, d & 0xFFFF);
    PutWord(b, d >> 16);
}

// One .res entry of a numbered type and name holding `data`, padded to four
// bytes as the resource compiler writes it.
inline Bytes ResEntry(unsigned type, unsigned name, const Bytes &data) {
    Bytes b;
    PutDword(b, static_cast<unsigned>(data.size()));
    PutDword(b, 32);
    PutWord(b, 0xFFFF);
    PutWord(b, type);
    PutWord(b, 0xFFFF);
    PutWord(b, name);
    PutDword(b, 0);      // data version
    PutWord(b, 0x1030);  // memory flags
    PutWord(b, 0x0409);  // language
    PutDword(b, 0);      // version
    PutDword(b, 0);      // characteristics
    b.insert(b.end(), data.begin(), data.end());
    while (b.size() % 4) b.push_back(0);
    return b;
}

// A .res file: the empty entry that opens a 32-bit file, then `entries`.
inline Bytes ResFile(const Bytes &entries) {
    Bytes b = ResEntry(0, 0, {});
    b.insert(b.end(), entries.begin(), entries.end());
    return b;
}

#endif
