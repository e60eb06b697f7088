// Property checks of the fuzz targets: a failed check prints and aborts, so both
// libFuzzer and the corpus replay report it as a crash.
#ifndef TOKA_FUZZ_FUZZ_CHECK_H
#define TOKA_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

#endif  // TOKA_FUZZ_FUZZ_CHECK_H
