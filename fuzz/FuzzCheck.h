#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

/// A broken property is a finding: report where (and, with FUZZ_CHECK_ABOUT,
/// on what), then crash so that libFuzzer keeps the input.
#define FUZZ_CHECK_ABOUT(condition, context)                                                                \
    do {                                                                                                    \
        if (!(condition)) {                                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n  on: %s\n", __FILE__, __LINE__, #condition,   \
                         std::string(context).c_str());                                                     \
            std::abort();                                                                                   \
        }                                                                                                   \
    } while (false)

#define FUZZ_CHECK(condition) FUZZ_CHECK_ABOUT(condition, "")
