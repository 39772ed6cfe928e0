// Fuzz target of setup's version stamp probe: the marker scan and the banner
// read behind it, on any bytes of a port driver. The banner fits its buffer,
// ends in a NUL, holds no NUL before it and comes from the bytes read.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "setup_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the banner buffer's size, the program's own
    // included; the rest is the file.
    static constexpr std::size_t kSizes[] = {1, 2, 9, 64, MESSAGE_SIZE};
    std::size_t bufferSize = kSizes[data[0] % std::size(kSizes)];
    std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    std::size_t position = 0;
    ByteReader read = [&bytes, &position](unsigned char &byte) {
        if (position >= bytes.size()) return false;
        byte = static_cast<unsigned char>(bytes[position++]);
        return true;
    };
    if (!FindStampMarker(read)) {
        FUZZ_CHECK(position == bytes.size());
        return 0;
    }
    std::size_t markerEnd = position;
    FUZZ_CHECK(markerEnd >= 9);
    FUZZ_CHECK(bytes.substr(markerEnd - 9, 9) ==
               std::string_view("$qvrver$\0", 9));
    std::vector<char> text(bufferSize, 'x');
    std::size_t length = ReadStampBanner(read, text.data(), text.size());
    FUZZ_CHECK(length < bufferSize);
    FUZZ_CHECK(text[length] == '\0');
    FUZZ_CHECK(std::strlen(text.data()) == length);
    FUZZ_CHECK(bytes.substr(markerEnd, length) ==
               std::string_view(text.data(), length));
    return 0;
}
