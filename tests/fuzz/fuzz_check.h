#pragma once

#include <cstdio>
#include <cstdlib>

// An oracle's verdict: a broken claim ends the run as a crash that names the claim.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: claim broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)
