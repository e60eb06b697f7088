#include "tests/support/child_test.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

void startChildTest(const char* argv0, const char* filter, const char* logVar, const char* fdVar,
                    const std::vector<std::pair<std::string, std::string>>& env, pid_t* pid,
                    int* readFd) {
  const std::string filterArg = std::string("--gtest_filter=") + filter;
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  fflush(stdout);
  fflush(stderr);
  *pid = fork();
  ASSERT_GE(*pid, 0);
  if (*pid == 0) {
    ::close(fds[0]);
    const char* log = getenv(logVar);
    const int null = ::open(log != nullptr ? log : "/dev/null", O_WRONLY | O_CREAT | O_APPEND,
                            0644);
    dup2(null, 1);
    dup2(null, 2);
    for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
    setenv(fdVar, std::to_string(fds[1]).c_str(), 1);
    execl("/proc/self/exe", argv0, filterArg.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ::close(fds[1]);
  *readFd = fds[0];
}
