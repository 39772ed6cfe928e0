// Fuzz target of setup's MSHDC.INF edit: on any file the edit adds at most a
// semicolon for each of the two keys, and a file it does not rewrite comes
// out as it went in.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "setup_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    if (size > 0x100000) return 0;
    std::string file(reinterpret_cast<const char *>(data), size);
    // As the program holds them: the file and the output, each with four
    // zero bytes behind its end.
    std::string text(size + 4, '\0');
    std::string output(size + 4, '\0');
    file.copy(text.data(), size);
    MshdcEdit edit =
        CommentMshdcKeys(text.data(), output.data(), static_cast<DWORD>(size));
    FUZZ_CHECK(edit.length >= size);
    FUZZ_CHECK(edit.length <= size + 2);
    if (!edit.rewrite) {
        FUZZ_CHECK(edit.length == size);
        FUZZ_CHECK(output.compare(0, size, file) == 0);
    }
    // Only semicolons are added.
    std::size_t in = 0;
    for (std::size_t out = 0; out < edit.length; ++out) {
        if (in < size && output[out] == file[in]) {
            ++in;
        } else {
            FUZZ_CHECK(output[out] == ';');
        }
    }
    FUZZ_CHECK(in == size);
    return 0;
}
