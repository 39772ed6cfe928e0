// Fuzz target of the "CopyFiles" commenting copy of the driver INF: the copy
// of a file without "CopyFiles" is the file itself, and in any file only
// semicolons are added, one before each "CopyFiles" that lacks one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "setup_state.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
    std::string file(reinterpret_cast<const char *>(data), size);
    std::string copy;
    ByteWriter write = [&copy](const char *bytes, DWORD count) {
        copy.append(bytes, count);
        return true;
    };
    CopyFilesCommenter commenter;
    for (char byte : file) FUZZ_CHECK(commenter.Feed(byte, write));
    FUZZ_CHECK(commenter.Finish(write));

    if (file.find("CopyFiles") == std::string::npos) {
        FUZZ_CHECK(copy == file);
        return 0;
    }
    std::size_t in = 0;
    for (std::size_t out = 0; out < copy.size(); ++out) {
        if (in < file.size() && copy[out] == file[in]) {
            ++in;
        } else {
            FUZZ_CHECK(copy[out] == ';');
            FUZZ_CHECK(copy.compare(out + 1, 9, "CopyFiles") == 0);
        }
    }
    FUZZ_CHECK(in == file.size());
    return 0;
}
