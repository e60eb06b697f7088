// Test support: a fresh temporary directory, removed with everything in it, and whole-file
// reads.
#ifndef TOKA_TESTS_SUPPORT_TMPDIR_H
#define TOKA_TESTS_SUPPORT_TMPDIR_H

#include <string>

class TmpDir {
 public:
  // A new directory /tmp/<prefix>-XXXXXX; a failure to make it fails the current test.
  explicit TmpDir(const char* prefix = "toka-storage");
  ~TmpDir() { removeAll(); }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Removes the directory and everything in it now; false when something stayed.
  bool removeAll();

 private:
  TmpDir(const TmpDir&) = delete;
  TmpDir& operator=(const TmpDir&) = delete;
  std::string path_;
  bool removed_ = false;
};

// The bytes of the file, empty when it cannot be read.
std::string readWholeFile(const std::string& path);

#endif  // TOKA_TESTS_SUPPORT_TMPDIR_H
