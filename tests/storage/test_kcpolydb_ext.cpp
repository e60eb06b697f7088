// Extended polymorphic open: "zcomp"/"zthrh" options, bytes as stored, reopen, damage.
#include <gtest/gtest.h>

#include <kchashdb.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "kcext/kccompress_lzf.h"
#include "kcext/kccompress_snappy.h"
#include "kcext/kcpolydb_ext.h"
#include "tests/storage/rawrecord.h"
#include "tests/support/tmpdir.h"

using kyotocabinet::BasicDB;
using kyotocabinet::ExtPolyDB;
using kyotocabinet::HashDB;

namespace {

std::string value(size_t n, char c = 'v') {
  std::string s(n, c);
  for (size_t i = 0; i < n; i += 7) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

struct Case {
  const char* zcomp;
  char tag;
};

class ExtOpenTest : public ::testing::TestWithParam<Case> {
 protected:
  TmpDir dir;
};

}  // namespace

TEST_P(ExtOpenTest, RecordsStoredRawBelowThresholdAndCompressedFromIt) {
  const Case& c = GetParam();
  const std::string file = dir.file("a.kch");
  const std::string v127 = value(127), v128 = value(128);
  {
    ExtPolyDB db;
    ASSERT_TRUE(
        db.open(file + "#opts=c#zcomp=" + c.zcomp, ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
    ASSERT_NE(db.extCompressor(), nullptr);
    ASSERT_TRUE(db.set("k127", v127));
    ASSERT_TRUE(db.set("k128", v128));
    ASSERT_TRUE(db.close());
    EXPECT_EQ(db.extCompressor(), nullptr);
  }
  const std::string r127 = rawRecord(file, "k127", c.tag);
  EXPECT_EQ(r127, (std::string{c.tag, 0} + v127));
  const std::string r128 = rawRecord(file, "k128", c.tag);
  ASSERT_GE(r128.size(), 3u);
  EXPECT_EQ(r128[0], c.tag);
  EXPECT_EQ(r128[1], 1);
  EXPECT_NE(r128.substr(2), v128);

  // Reopened with the same options every value reads back.
  ExtPolyDB db;
  ASSERT_TRUE(db.open(file + "#opts=c#zcomp=" + c.zcomp, ExtPolyDB::OREADER));
  std::string got;
  ASSERT_TRUE(db.get("k127", &got));
  EXPECT_EQ(got, v127);
  ASSERT_TRUE(db.get("k128", &got));
  EXPECT_EQ(got, v128);
}

TEST_P(ExtOpenTest, ThresholdOptionEdges) {
  const Case& c = GetParam();
  struct Edge {
    const char* option;
    size_t rawBelow;  // the smallest size that is compressed
  } edges[] = {{"#zthrh=200", 200},
               {"#compressthreshold=5", 5},
               {"#zthrh=-1", 128},
               {"", 128},
               {"#zthrh=0", 0}};
  int i = 0;
  for (const Edge& e : edges) {
    const std::string file = dir.file("t" + std::to_string(i++) + ".kch");
    ExtPolyDB db;
    ASSERT_TRUE(db.open(file + "#opts=c#zcomp=" + c.zcomp + e.option,
                        ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
    if (e.rawBelow > 0) {
      ASSERT_TRUE(db.set("below", value(e.rawBelow - 1)));
    }
    const bool lzfEmpty = e.rawBelow == 0 && c.tag == 'f';
    // LZF cannot compress the empty value, so with threshold 0 the database refuses it.
    ASSERT_EQ(db.set("at", value(e.rawBelow)), !lzfEmpty) << e.option;
    ASSERT_TRUE(db.close());
    if (e.rawBelow > 0) {
      EXPECT_EQ(rawRecord(file, "below", c.tag, e.rawBelow)[1], 0) << e.option;
    }
    if (lzfEmpty) continue;
    const std::string at = rawRecord(file, "at", c.tag, e.rawBelow);
    ASSERT_GE(at.size(), 2u) << e.option;
    EXPECT_EQ(at[0], c.tag) << e.option;
    EXPECT_EQ(at[1], 1) << e.option;
  }
}

TEST_P(ExtOpenTest, TreeDatabaseWithTuningRoundTrips) {
  const Case& c = GetParam();
  const std::string name = dir.file("t.kct") +
                           "#opts=lc#psiz=1024#pccap=65536#bnum=101#zcomp=" + c.zcomp +
                           "#zthrh=16#rcomp=lexdesc";
  {
    ExtPolyDB db;
    ASSERT_TRUE(db.open(name, ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
    for (int i = 0; i < 2000; ++i)
      ASSERT_TRUE(db.set("key" + std::to_string(i), value(50 + i % 300)));
    ASSERT_TRUE(db.close());
  }
  ExtPolyDB db;
  ASSERT_TRUE(db.open(name, ExtPolyDB::OREADER));
  EXPECT_EQ(db.count(), 2000);
  std::string got;
  for (int i = 0; i < 2000; i += 97) {
    ASSERT_TRUE(db.get("key" + std::to_string(i), &got));
    EXPECT_EQ(got, value(50 + i % 300));
  }
  // The descending comparator was applied: the first key in order is the largest.
  kyotocabinet::DB::Cursor* cur = db.cursor();
  ASSERT_TRUE(cur->jump());
  std::string k;
  ASSERT_TRUE(cur->get_key(&k));
  EXPECT_EQ(k, "key999");
  delete cur;
}

TEST_P(ExtOpenTest, DamagedRecordFailsCleanly) {
  const Case& c = GetParam();
  const std::string file = dir.file("d.kch");
  const std::string opts = std::string("#opts=c#zcomp=") + c.zcomp;
  {
    ExtPolyDB db;
    ASSERT_TRUE(db.open(file + opts, ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
    ASSERT_TRUE(db.set("good", value(500)));
    ASSERT_TRUE(db.close());
  }
  const std::string good = rawRecord(file, "good", c.tag);
  putRaw(file, "cut", good.substr(0, good.size() / 3), c.tag);
  putRaw(file, "empty", std::string{c.tag, 1}, c.tag);
  putRaw(file, "huge", std::string{c.tag, 1, '\xFF', '\xFF', '\xFF', '\xFF', '\x0F', 'a'}, c.tag);
  putRaw(file, "flag", std::string{c.tag, 7, 'a'}, c.tag);
  putRaw(file, "other", std::string{c.tag == 'n' ? 'f' : 'n', 0, 'a'}, c.tag);

  ExtPolyDB db;
  ASSERT_TRUE(db.open(file + opts, ExtPolyDB::OREADER));
  std::string got;
  for (const char* k : {"empty", "huge", "flag", "other"}) {
    EXPECT_FALSE(db.get(k, &got)) << k;
  }
  if (db.get("cut", &got)) {
    EXPECT_EQ(c.tag, 'f');  // an LZF stream cut at an instruction boundary decodes a prefix
    EXPECT_EQ(got, value(500).substr(0, got.size()));
  }
  ASSERT_TRUE(db.get("good", &got));
  EXPECT_EQ(got, value(500));
}

INSTANTIATE_TEST_SUITE_P(Codecs, ExtOpenTest,
                         ::testing::Values(Case{"snappy", 'n'}, Case{"lzf", 'f'}),
                         [](const ::testing::TestParamInfo<Case>& i) {
                           return std::string(i.param.zcomp);
                         });

TEST(ExtOpen, ThresholdReachesTheCompressor) {
  TmpDir dir;
  ExtPolyDB db;
  ASSERT_TRUE(db.open(dir.file("a.kch") + "#zcomp=lzf#zthrh=4096",
                      ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  auto* lzf = dynamic_cast<kyotocabinet::LZFCompressor*>(db.extCompressor());
  ASSERT_NE(lzf, nullptr);
  EXPECT_EQ(lzf->threshold, 4096u);
  ASSERT_TRUE(db.close());
  ASSERT_TRUE(
      db.open(dir.file("b.kch") + "#compressor=snappy", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  auto* sn = dynamic_cast<kyotocabinet::SnappyCompressor*>(db.extCompressor());
  ASSERT_NE(sn, nullptr);
  EXPECT_EQ(sn->threshold, 128u);
}

TEST(ExtOpen, OtherValuesSelectNoCompressorOfOurs) {
  TmpDir dir;
  int i = 0;
  for (const char* z : {"Snappy", "LZF", "snappy ", "zlib", ""}) {
    const std::string file = dir.file("o" + std::to_string(i++) + ".kch");
    ExtPolyDB db;
    ASSERT_TRUE(db.open(file + "#opts=c#zcomp=" + z, ExtPolyDB::OWRITER | ExtPolyDB::OCREATE)) << z;
    EXPECT_EQ(db.extCompressor(), nullptr) << z;
    ASSERT_TRUE(db.set("k", value(300)));
    ASSERT_TRUE(db.close());
    const std::string raw = rawRecordWith(file, "k", kyotocabinet::ZLIBRAWCOMP);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_FALSE((raw[0] == 'n' || raw[0] == 'f') && (raw[1] == 0 || raw[1] == 1)) << z;
  }
}

TEST(ExtOpen, WithoutCompressOptionValuesStayPlain) {
  TmpDir dir;
  const std::string file = dir.file("p.kch");
  ExtPolyDB db;
  ASSERT_TRUE(db.open(file + "#zcomp=snappy#bnum=1000#msiz=1048576",
                      ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  ASSERT_TRUE(db.set("k", value(300)));
  ASSERT_TRUE(db.close());
  HashDB plain;
  ASSERT_TRUE(plain.open(file, HashDB::OREADER));
  std::string got;
  ASSERT_TRUE(plain.get("k", &got));
  EXPECT_EQ(got, value(300));
  std::map<std::string, std::string> status;
  ASSERT_TRUE(plain.status(&status));
  EXPECT_EQ(status["bnum"], "1000");  // the bucket tuning reached the hash database
}

TEST(ExtOpen, FailedOpenLeavesItClosedAndReusable) {
  TmpDir dir;
  ExtPolyDB db;
  EXPECT_FALSE(db.open(dir.file("missing/dir/x.kch") + "#opts=c#zcomp=snappy",
                       ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  EXPECT_EQ(db.error().code(), BasicDB::Error::NOREPOS);
  EXPECT_EQ(db.extCompressor(), nullptr);
  EXPECT_FALSE(db.close());  // nothing open
  ASSERT_TRUE(
      db.open(dir.file("x.kch") + "#opts=c#zcomp=snappy", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  // A second open is refused and keeps the open database and its compressor.
  kyotocabinet::Compressor* comp = db.extCompressor();
  EXPECT_FALSE(
      db.open(dir.file("y.kch") + "#opts=c#zcomp=lzf", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  EXPECT_EQ(db.extCompressor(), comp);
  ASSERT_TRUE(db.set("k", value(400)));
  std::string got;
  ASSERT_TRUE(db.get("k", &got));
  EXPECT_EQ(got, value(400));
  // The destructor closes while the compressor still lives (checked under ASan).
}

TEST(ExtOpen, StockPathAndPrototypeTypesStillOpen) {
  TmpDir dir;
  ExtPolyDB db;
  ASSERT_TRUE(db.open("-#zcomp=snappy", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  EXPECT_EQ(db.extCompressor(), nullptr);
  ASSERT_TRUE(db.set("a", "b"));
  ASSERT_TRUE(db.close());
  ASSERT_TRUE(
      db.open(dir.file("s.kct") + "#opts=c#zcomp=gz", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  ASSERT_TRUE(db.set("a", value(1000)));
  std::string got;
  ASSERT_TRUE(db.get("a", &got));
  EXPECT_EQ(got, value(1000));
  ASSERT_TRUE(db.close());
  // In-memory cache database with our compressor.
  ASSERT_TRUE(db.open("*#opts=c#zcomp=lzf#zthrh=1", ExtPolyDB::OWRITER | ExtPolyDB::OCREATE));
  ASSERT_NE(db.extCompressor(), nullptr);
  ASSERT_TRUE(db.set("a", value(1000)));
  ASSERT_TRUE(db.get("a", &got));
  EXPECT_EQ(got, value(1000));
}
