#pragma once

#include <cstdio>
#include <cstdlib>

/// A broken property is a finding: say which, then crash so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), std::abort()))
