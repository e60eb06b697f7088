// Test support for code that runs in the child of a death test: checks that end the child
// with an exit code, and its standard error where GoogleTest's CaptureStderr cannot take it.
#ifndef TOKA_TESTS_SUPPORT_DEATH_CHILD_H
#define TOKA_TESTS_SUPPORT_DEATH_CHILD_H

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

// Ends the child with code, after a line naming the condition, when c does not hold.
#define CHECK_OR_EXIT(c, code)             \
  do {                                     \
    if (!(c)) {                            \
      fprintf(stderr, "failed: %s\n", #c); \
      _exit(code);                         \
    }                                      \
  } while (0)

// Runs f with file descriptor 2 sent to a temporary file and returns what it wrote. The
// parent's CaptureStderr is already active in the child, and a second capturer is refused;
// elsewhere use testing::internal::CaptureStderr.
std::string stderrOf(const std::function<void()>& f);

#endif  // TOKA_TESTS_SUPPORT_DEATH_CHILD_H
