// Partition file names: formatting, the name test, and the Kyoto Cabinet path check.
#include "src/wdb/kc/partfile.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using wdb::formatPartitionFileName;
using wdb::isSafeKCPath;
using wdb::parsePartitionFileName;

TEST(PartFile, FormatsNameIndexAndType) {
  xstring out;
  ASSERT_TRUE(formatPartitionFileName(out, "users", 3, "kch"));
  EXPECT_EQ("users-3.kch", std::string(out.c_str()));
  ASSERT_TRUE(formatPartitionFileName(out, "d", 4294967295u, "kct"));
  EXPECT_EQ("d-4294967295.kct", std::string(out.c_str()));
}

TEST(PartFile, RefusesNamesBeyond255CharactersWithoutTouchingOutput) {
  // "-3." and "kch" take 6 characters: a name of 249 fits exactly, 250 does not.
  const xstring fits(std::string(249, 'n'));
  const xstring tooLong(std::string(250, 'n'));
  xstring out;
  ASSERT_TRUE(formatPartitionFileName(out, fits, 3, "kch"));
  EXPECT_EQ(255u, out.size());
  out = "untouched";
  EXPECT_FALSE(formatPartitionFileName(out, tooLong, 3, "kch"));
  EXPECT_FALSE(formatPartitionFileName(out, fits, 10, "kch"));  // one more digit
  EXPECT_FALSE(formatPartitionFileName(out, "users", 3, xstring(std::string(300, 't'))));
  EXPECT_EQ("untouched", std::string(out.c_str()));
}

TEST(PartFile, RefusesNulBytesInParts) {
  xstring out = "untouched";
  EXPECT_FALSE(formatPartitionFileName(out, xstring("us\0er", 5), 1, "kch"));
  EXPECT_FALSE(formatPartitionFileName(out, "users", 1, xstring("k\0h", 3)));
  EXPECT_EQ("untouched", std::string(out.c_str()));
}

struct ParseCase {
  const char* fileName;
  bool matches;
  unsigned index;
  bool canonical;
};

TEST(PartFile, NameTestReadsTheMiddleAsScanfDecimal) {
  const ParseCase cases[] = {
      {"users-3.kch", true, 3, true},
      {"users-0.kch", true, 0, true},
      {"users-2147483647.kch", true, 2147483647u, true},
      {"users-03.kch", true, 3, false},
      {"users-00.kch", true, 0, false},
      {"users-5.old.kch", true, 5, false},  // trailing text after the digits is ignored
      {"users-3x.kch", true, 3, false},
      {"users- 3.kch", true, 3, false},  // leading white space
      {"users-\t7.kch", true, 7, false},
      {"users-+3.kch", true, 3, false},           // a sign
      {"users--0.kch", true, 0, false},           // -0 reads as 0
      {"users--3.kch", false, 0, false},          // negative
      {"users-2147483648.kch", false, 0, false},  // beyond int
      {"users-99999999999999999999.kch", false, 0, false},
      {"users-.kch", false, 0, false},
      {"users-x3.kch", false, 0, false},
      {"users- .kch", false, 0, false},
      {"users-+.kch", false, 0, false},
      {"users-3.kct", false, 0, false},
      {"users-3.kch.bak", false, 0, false},
      {"users-3kch", false, 0, false},
      {"users3.kch", false, 0, false},
      {"other-3.kch", false, 0, false},
      {"Users-3.kch", false, 0, false},
      {"users-", false, 0, false},
      {"users.kch", false, 0, false},
      {"", false, 0, false},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.fileName);
    unsigned index = 12345;
    bool canonical = true;
    const bool matches = parsePartitionFileName(c.fileName, "users", "kch", &index, &canonical);
    EXPECT_EQ(c.matches, matches);
    if (c.matches) {
      EXPECT_EQ(c.index, index);
      EXPECT_EQ(c.canonical, canonical);
    } else {
      EXPECT_EQ(12345u, index);  // outputs untouched
      EXPECT_TRUE(canonical);
    }
  }
}

TEST(PartFile, CanonicalIsExactlyTheFormattedName) {
  for (unsigned i : {0u, 1u, 9u, 10u, 123u, 2147483647u}) {
    xstring name;
    ASSERT_TRUE(formatPartitionFileName(name, "db", i, "kch"));
    unsigned index = 0;
    bool canonical = false;
    ASSERT_TRUE(parsePartitionFileName(name.c_str(), "db", "kch", &index, &canonical));
    EXPECT_EQ(i, index);
    EXPECT_TRUE(canonical);
  }
}

TEST(PartFile, NameTestAcceptsNullOutputsAndRefusesNullName) {
  EXPECT_TRUE(parsePartitionFileName("db-4.kch", "db", "kch", nullptr, nullptr));
  EXPECT_FALSE(parsePartitionFileName(nullptr, "db", "kch", nullptr, nullptr));
}

TEST(PartFile, NameTestNeedsPrefixAndSuffixNotOverlapping) {
  // "a-.kch" would need the '-' of the prefix and the '.' of the suffix adjacent with
  // digits between; a name shorter than both together never matches.
  EXPECT_FALSE(parsePartitionFileName("a-kch", "a", "kch", nullptr, nullptr));
  EXPECT_FALSE(parsePartitionFileName("a-.kch", "a", "kch", nullptr, nullptr));
  EXPECT_TRUE(parsePartitionFileName("a-1.kch", "a", "kch", nullptr, nullptr));
  // Names and types holding the separators themselves.
  EXPECT_TRUE(parsePartitionFileName("my-db-2.k.ch", "my-db", "k.ch", nullptr, nullptr));
}

TEST(PartFile, SafePathsHaveNoOptionSeparatorOrNul) {
  EXPECT_TRUE(isSafeKCPath("/tmp/home/users-1.kch"));
  EXPECT_TRUE(isSafeKCPath(""));
  EXPECT_FALSE(isSafeKCPath("/tmp/ho#me/users-1.kch"));
  EXPECT_FALSE(isSafeKCPath("/tmp/users-1.kch#buckets=10"));
  EXPECT_FALSE(isSafeKCPath(xstring("/tmp/a\0b", 8)));
}

}  // namespace
