// The fuzz targets' own assertion: a broken property is a crash, so that libFuzzer keeps the
// input that shows it. Active in every build type (the fuzz tree defines NDEBUG).
#pragma once

#include <cstdio>
#include <cstdlib>

#define QXR_FUZZ_CHECK(condition)                                                              \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
