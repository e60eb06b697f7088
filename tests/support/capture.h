// Test support: standard error of a piece of code, where GoogleTest's CaptureStderr cannot
// take it.
#ifndef TOKA_TESTS_SUPPORT_CAPTURE_H
#define TOKA_TESTS_SUPPORT_CAPTURE_H

#include <functional>
#include <string>

// Runs f with file descriptor 2 sent to a temporary file and returns what it wrote. For the
// child of a death test: the parent's CaptureStderr is already active there, and a second
// capturer is refused. Elsewhere use testing::internal::CaptureStderr.
std::string stderrOf(const std::function<void()>& f);

#endif  // TOKA_TESTS_SUPPORT_CAPTURE_H
