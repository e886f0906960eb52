#pragma once

// A broken invariant is a finding: stop at once, where libFuzzer keeps the input.
#define FUZZ_CHECK(condition)           \
  do {                                  \
    if (!(condition)) __builtin_trap(); \
  } while (false)
