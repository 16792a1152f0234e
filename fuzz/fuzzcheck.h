#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property is a crash to libFuzzer: it keeps the input that broke
// it. Not assert(): this holds in every build type.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition);  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
