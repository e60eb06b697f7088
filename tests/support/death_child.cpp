#include "tests/support/death_child.h"

#include <unistd.h>

#include <cstdio>

std::string stderrOf(const std::function<void()>& f) {
  fflush(stderr);
  FILE* tmp = tmpfile();
  const int saved = dup(2);
  dup2(fileno(tmp), 2);
  f();
  fflush(stderr);
  dup2(saved, 2);
  close(saved);
  std::string text;
  rewind(tmp);
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, tmp)) > 0) text.append(buf, n);
  fclose(tmp);
  return text;
}
