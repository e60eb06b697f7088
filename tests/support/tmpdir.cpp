#include "tests/support/tmpdir.h"

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

TmpDir::TmpDir(const char* prefix) {
  std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
  const char* p = mkdtemp(&tmpl[0]);
  if (p == nullptr) ADD_FAILURE() << "mkdtemp failed";
  path_ = p ? p : "/tmp";
  removed_ = p == nullptr;  // never remove /tmp itself
}

bool TmpDir::removeAll() {
  if (removed_) return true;
  removed_ = true;
  return nftw(
             path_.c_str(),
             [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
             FTW_DEPTH | FTW_PHYS) == 0;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
