#pragma once

// A broken promise of the code under test stops the fuzzer like a crash does:
// the message names the promise, abort() gives libFuzzer its reproducer.

#include <cstdio>
#include <cstdlib>

#define FUZZ_REQUIRE(condition)                                                                              \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__, #condition);             \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
