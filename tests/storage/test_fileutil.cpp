// File utilities over real directories.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "src/wdb/kc/fileutil.h"
#include "src/xstring.h"
#include "tests/support/tmpdir.h"

namespace {
bool isDir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}
void touch(const std::string& p) { std::ofstream(p) << "x"; }
}  // namespace

TEST(FileUtil, MakeDirectories) {
  TmpDir dir;
  const std::string nested = dir.file("a/b/c");
  EXPECT_TRUE(makeDirectories(nested, false));
  EXPECT_TRUE(isDir(nested));
  touch(nested + "/f");
  EXPECT_TRUE(makeDirectories(nested, false));  // existing directory left as it is
  EXPECT_TRUE(exists(nested + "/f"));
  EXPECT_TRUE(makeDirectories(nested, true));  // deleted first, then made empty
  EXPECT_TRUE(isDir(nested));
  EXPECT_FALSE(exists(nested + "/f"));
  const std::string file = dir.file("plain");
  touch(file);
  EXPECT_FALSE(makeDirectories(file, false));
  EXPECT_TRUE(exists(file));
  EXPECT_FALSE(isDir(file));
  EXPECT_FALSE(makeDirectories(file + "/under", false));  // a parent that is a file
}

TEST(FileUtil, DeleteFile) {
  TmpDir dir;
  EXPECT_FALSE(deleteFile(dir.file("missing")));
  touch(dir.file("f"));
  EXPECT_TRUE(deleteFile(dir.file("f")));
  EXPECT_FALSE(exists(dir.file("f")));
  ASSERT_TRUE(makeDirectories(dir.file("d/e"), false));
  touch(dir.file("d/e/g"));
  EXPECT_TRUE(deleteFile(dir.file("d")));
  EXPECT_FALSE(exists(dir.file("d")));
}

TEST(FileUtil, StdizeDirPathAndSplitPath) {
  std::string p = "/var/data/store";
  EXPECT_TRUE(stdizeDirPath(p));
  EXPECT_EQ(p, "/var/data/store/");
  p = "/var/data/store/";
  EXPECT_TRUE(stdizeDirPath(p));
  EXPECT_EQ(p, "/var/data/store/");
  p = "rel/dir";
  EXPECT_TRUE(stdizeDirPath(p));
  EXPECT_EQ(p, "rel/dir/");

  std::string d, f;
  EXPECT_TRUE(splitPath(d, f, "/var/data/db-1.kch"));
  EXPECT_EQ(d, "/var/data/");
  EXPECT_EQ(f, "db-1.kch");
  EXPECT_TRUE(splitPath(d, f, "/var/data/"));
  EXPECT_EQ(d, "/var/data/");
  EXPECT_EQ(f, "");
}

TEST(KeyFormatting, FormatReplacesTheStringAndReturnsIt) {
  xstring key("previous content that is long enough to live on the heap");
  xstring& same = key.format("%s.dbpath", "store");
  EXPECT_EQ(&same, &key);
  EXPECT_EQ(key, "store.dbpath");
  EXPECT_EQ(key.format("%s-%u.%s", "db", 7u, "kch"), "db-7.kch");
  EXPECT_EQ(xstring::Format("%s.tune_options", "s"), "s.tune_options");
}
