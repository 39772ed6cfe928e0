// The running program's own compiled resources: the .res bytes that the
// native build links into it, read on first use.
#ifndef W95_PROGRAM_RESOURCES_H
#define W95_PROGRAM_RESOURCES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "resource_reader.h"

namespace w95 {

// The program's resources: the bytes that the build links in as
// W95ResourceBytes, or those that UseProgramResources put in their place.
// nullptr when the program has none; malformed bytes throw EmulatorFailure
// naming "<program>.res".
const ResourceFile *ProgramResources();

// Puts .res bytes in place of the program's own (nullopt: back to them); for
// tests. Lasts until the emulated process is reset.
void UseProgramResources(std::optional<std::vector<std::uint8_t>> bytes);

}  // namespace w95

// The program's compiled resources, linked in by the native build. Weak, so
// that programs without resources link too.
extern "C" __attribute__((weak)) const unsigned char W95ResourceBytes[];
extern "C" __attribute__((weak)) const std::size_t W95ResourceSize;

#endif
