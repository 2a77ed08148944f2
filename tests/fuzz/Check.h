#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant: report it and abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition, what)                                                       \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "invariant broken: %s (%s)\n", what, #condition);        \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

inline std::string fuzzText(const unsigned char* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}
