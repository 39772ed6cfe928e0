// The check of the fuzz targets: a property that failed for an input is
// reported and ends the run, so that libFuzzer keeps the input.
#ifndef FUZZ_FUZZ_CHECK_H
#define FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                              \
    do {                                                                   \
        if (!(condition)) {                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, \
                         __LINE__, #condition);                            \
            std::abort();                                                  \
        }                                                                  \
    } while (0)

#endif
