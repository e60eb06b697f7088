// Test helper: a fresh temporary directory per test, removed with everything in it.
#ifndef TOKA_TESTS_STORAGE_TMPDIR_H
#define TOKA_TESTS_STORAGE_TMPDIR_H

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

class TmpDir {
 public:
  TmpDir() {
    char tmpl[] = "/tmp/toka-storage-XXXXXX";
    const char* p = mkdtemp(tmpl);
    if (p == nullptr) ADD_FAILURE() << "mkdtemp failed";
    path_ = p ? p : "/tmp";
  }
  ~TmpDir() {
    nftw(path_.c_str(),
         [](const char* f, const struct stat*, int, struct FTW*) { return ::remove(f); }, 16,
         FTW_DEPTH | FTW_PHYS);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  TmpDir(const TmpDir&) = delete;
  TmpDir& operator=(const TmpDir&) = delete;
  std::string path_;
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif  // TOKA_TESTS_STORAGE_TMPDIR_H
