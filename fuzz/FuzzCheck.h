#pragma once
// The fuzz targets' own checks: a property that does not hold ends the
// process like a sanitizer report does, so libFuzzer saves the input and the
// replay of the corpora fails on it.

#include <cstdio>
#include <cstdlib>

namespace vz::fuzz {

[[noreturn]] inline void CheckFailed(const char* condition, const char* what, const char* file, int line)
{
    std::fprintf(stderr, "==fuzz check failed== %s:%d: %s (%s)\n", file, line, what, condition);
    std::fflush(stderr);
    std::abort();
}

}  // namespace vz::fuzz

// FUZZ_CHECK(condition, "what it means when it does not hold")
#define FUZZ_CHECK(condition, what)                                           \
    do {                                                                      \
        if (!(condition))                                                     \
            ::vz::fuzz::CheckFailed(#condition, what, __FILE__, __LINE__);    \
    } while (false)
