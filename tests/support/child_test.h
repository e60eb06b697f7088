// Test support: a test of this binary run again in a child process, which reports through a
// pipe and can be killed at any point.
#ifndef TOKA_TESTS_SUPPORT_CHILD_TEST_H
#define TOKA_TESTS_SUPPORT_CHILD_TEST_H

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// Starts /proc/self/exe as argv0 with --gtest_filter=filter, the variables of env set, the
// write end of a new pipe in the variable fdVar, and standard output and error appended to
// the file the variable logVar names (else /dev/null). Gives the child's pid and the pipe's
// read end; fails the current test fatally when the pipe or the fork cannot be made (call it
// under ASSERT_NO_FATAL_FAILURE).
void startChildTest(const char* argv0, const char* filter, const char* logVar, const char* fdVar,
                    const std::vector<std::pair<std::string, std::string>>& env, pid_t* pid,
                    int* readFd);

#endif  // TOKA_TESTS_SUPPORT_CHILD_TEST_H
