// Fuzz target of the resource reader: any bytes are read as a .res file, and
// every dialog, icon group and version record in it is decoded; malformed
// bytes are refused with EmulatorFailure, and nothing outside them is read.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator_error.h"
#include "resource_reader.h"

namespace {

// Decodes one resource by its type; what is refused is refused alone.
void Decode(const w95::Resource &resource) {
    if (!resource.type.isNumber) return;
    try {
        switch (resource.type.number) {
            case w95::kResourceDialog:
                w95::ReadDialogTemplate(resource);
                break;
            case w95::kResourceGroupIcon:
                w95::ReadIconGroup(resource);
                break;
            case w95::kResourceVersion:
                w95::ReadVersionRecord(resource);
                break;
            default:
                break;
        }
    } catch (const w95::EmulatorFailure &) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any
    // read beyond them.
    std::vector<std::uint8_t> bytes(data, data + size);
    w95::ResourceFile file;
    try {
        file = w95::ReadResourceFile(bytes);
    } catch (const w95::EmulatorFailure &) {
        return 0;
    }
    for (const w95::Resource &resource : file.resources) Decode(resource);
    for (const w95::Resource &resource : file.resources) {
        if (resource.type.isNumber &&
            resource.type.number == w95::kResourceDialog) {
            std::string name = resource.name.isNumber
                                   ? "#" + std::to_string(resource.name.number)
                                   : resource.name.name;
            try {
                file.FindDialog(name.c_str());
            } catch (const w95::EmulatorFailure &) {
            }
        }
    }
    return 0;
}
