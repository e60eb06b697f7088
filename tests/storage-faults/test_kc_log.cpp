// The write-ahead log of a store opened with automatic transactions stays at most one page
// long between writes, so that a log message cut at a page boundary by a kill can never take
// its tail from the zeros of an earlier transaction; and a transaction the caller began
// explicitly keeps its log.
#include <kcpolydb.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "src/wdb/kc/SKV_KCStg.h"
#include "tests/support/tmpdir.h"

namespace {

const unsigned MODE_AUTOTRAN = kyotocabinet::BasicDB::OREADER | kyotocabinet::BasicDB::OWRITER |
                               kyotocabinet::BasicDB::OCREATE |
                               kyotocabinet::BasicDB::OAUTOTRAN;  // 23

// -1 when the file does not exist.
int64_t fileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

// Pseudo-random letters: compressors gain little on them.
std::string valueOf(uint32_t n, size_t size) {
  std::string v = std::to_string(n) + "|";
  uint32_t x = n * 2654435761u + 1;
  while (v.size() < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    v.push_back(static_cast<char>('a' + x % 26));
  }
  v.resize(size);
  return v;
}

int put(wdb::SKV_KCStg& s, const std::string& k, const std::string& v, int policy = 3) {
  return s.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), policy);
}

std::string get(wdb::SKV_KCStg& s, const std::string& k) {
  wdb::ValueBuffer buf(s);
  if (s.getTx0(nullptr, buf.out(), buf.outLength(), k.data(), k.size()) != 0) return "<none>";
  return std::string(buf.chars(), buf.length());
}

struct LogCase {
  const char* name;
  const char* file;
  const char* tune;
  size_t minValue, maxValue;  // value sizes cycle through this range
  uint32_t keys;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

class KCLog : public ::testing::TestWithParam<LogCase> {};

// Overwrites, growth, shrinking, removals and pops of values up to 15 KB (transactions that
// Kyoto Cabinet ends by zeroing up to 16 KB of log): after every write the log is absent or
// at most a page long, and every record reads back.
TEST_P(KCLog, StaysWithinOnePageAfterEveryWrite) {
  const LogCase& c = GetParam();
  TmpDir dir;
  wdb::SKV_KCStg s;
  s.setDBPath(dir.file(c.file).c_str());
  s.setTuneOptions(c.tune);
  ASSERT_EQ(0, s.open(MODE_AUTOTRAN));
  const std::string log = dir.file(std::string(c.file) + ".wal");
  std::vector<std::string> expected(c.keys);  // "" for no record
  int64_t longest = -1;
  for (uint32_t i = 0; i < 160; ++i) {
    std::string& e = expected[i % c.keys];
    const std::string k = "key" + std::to_string(i % c.keys);
    const size_t span = c.maxValue - c.minValue + 1;
    const std::string v = valueOf(i, c.minValue + (i * 2654435761u) % span);
    if (i % 13 == 12) {
      EXPECT_EQ(e.empty() ? 9 : 0, s.removeTx0(nullptr, k.data(), k.size()));  // 9: nothing
      e.clear();
    } else if (i % 17 == 16 && !e.empty()) {
      void* buf = nullptr;
      size_t len = 0;
      ASSERT_EQ(0, s.popTx0(nullptr, &buf, &len, k.data(), k.size()));
      EXPECT_EQ(e, std::string(static_cast<const char*>(buf), len));
      s.freeData(buf);
      e.clear();
    } else {
      ASSERT_EQ(0, put(s, k, v)) << i;
      e = v;
    }
    const int64_t size = fileSize(log);
    if (size > longest) longest = size;
    ASSERT_LE(size, 4096) << "after write " << i;
  }
  for (uint32_t n = 0; n < c.keys; ++n)
    EXPECT_EQ(expected[n].empty() ? "<none>" : expected[n], get(s, "key" + std::to_string(n)));
  s.clear();
  EXPECT_LE(fileSize(log), 4096);
  EXPECT_EQ(0, s.close());
  EXPECT_GT(longest, 0) << "no transaction logged anything";
}

const LogCase kLogCases[] = {
    {"hash_large_values", "db.kch", "#bnum=64", 3000, 15000, 8},
    {"hash_mixed_values", "db.kch", "#bnum=64", 10, 9000, 8},
    {"hash_compressed", "db.kch", "#bnum=64#opts=c#zcomp=lzf", 2000, 15000, 8},
    {"hash_aligned", "db.kch", "#bnum=64#apow=12", 10, 600, 8},
    {"hash_defragmented", "db.kch", "#bnum=64#dfunit=2", 100, 12000, 8},
    {"tree_small_values", "db.kct", "#psiz=8192", 100, 300, 40},
    {"tree_large_values", "db.kct", "", 1000, 9000, 8},
};

INSTANTIATE_TEST_SUITE_P(Files, KCLog, ::testing::ValuesIn(kLogCases),
                         [](const ::testing::TestParamInfo<LogCase>& info) {
                           return std::string(info.param.name);
                         });

// A store whose caller runs its own Kyoto Cabinet transactions (as the contiguous store's meta
// database does).
class TxStore : public wdb::SKV_KCStg {
 public:
  bool begin() { return polyDB->begin_transaction(false); }
  bool end(bool commit) { return polyDB->end_transaction(commit); }
};

// Large puts inside an explicit transaction leave its log alone: the abort restores the values
// from before, and a commit after it keeps the new ones.
TEST(KCLogTransaction, AnOpenTransactionKeepsItsLog) {
  TmpDir dir;
  TxStore s;
  s.setDBPath(dir.file("db.kch").c_str());
  s.setTuneOptions("#bnum=64");
  ASSERT_EQ(0, s.open(MODE_AUTOTRAN));
  const std::string a1 = valueOf(1, 9000), a2 = valueOf(2, 9000), b1 = valueOf(3, 6000);
  ASSERT_EQ(0, put(s, "a", a1));
  ASSERT_EQ(0, put(s, "b", b1));
  ASSERT_TRUE(s.begin());
  ASSERT_EQ(0, put(s, "a", a2));
  ASSERT_EQ(0, put(s, "b", valueOf(4, 7000)));
  ASSERT_EQ(0, s.removeTx0(nullptr, "a", 1));
  EXPECT_GT(fileSize(dir.file("db.kch.wal")), 4096);
  ASSERT_TRUE(s.end(false));
  EXPECT_EQ(a1, get(s, "a"));
  EXPECT_EQ(b1, get(s, "b"));

  ASSERT_TRUE(s.begin());
  ASSERT_EQ(0, put(s, "a", a2));
  ASSERT_TRUE(s.end(true));
  EXPECT_EQ(a2, get(s, "a"));
  ASSERT_EQ(0, put(s, "b", valueOf(5, 5000)));  // the next automatic write shortens it again
  EXPECT_LE(fileSize(dir.file("db.kch.wal")), 4096);
  EXPECT_EQ(0, s.close());
}

}  // namespace
