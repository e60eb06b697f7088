// wdb::OpenKCFromConfig over real directories: defaults, the two store kinds, the
// contiguous warning and shared comparator, and every failure path of the factory.
#include <gtest/gtest.h>

#include <Poco/Exception.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "src/wdb/kc/OpenKCFromConfig.h"
#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_UniMKCStg.h"
#include "tests/support/map_config.h"
#include "tests/support/tmpdir.h"
#include "wexception.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

const char* const kWarnLine =
    "[WRN] OpenKCFromConfig: distribType is contiguous while KType is string type!\n";

using tsupport::Config;

std::pair<std::unique_ptr<wdb::ISKVStorage>, bool> open(Config& c, const std::string& name) {
  std::pair<wdb::ISKVStorage*, bool> r = wdb::OpenKCFromConfig(c.get(), name,
                                                               static_cast<xstring*>(nullptr));
  return std::make_pair(std::unique_ptr<wdb::ISKVStorage>(r.first), r.second);
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

TEST(OpenKCFromConfig, UniformWithOnlyRequiredKeysUsesDefaults) {
  TmpDir dir;
  Config c;
  c.set("users.distrib_type", "uniform");
  c.set("users.home", dir.path());
  c.set("users.dbname", "users");
  CaptureStdout();
  auto r = open(c, "users");
  GetCapturedStdout();
  ASSERT_NE(r.first, nullptr);
  EXPECT_FALSE(r.second);
  auto* uni = dynamic_cast<wdb::SKV_UniMKCStg*>(r.first.get());
  ASSERT_NE(uni, nullptr);
  EXPECT_TRUE(uni->isOpen());
  EXPECT_EQ(uni->getPartitions(), 8u);
  EXPECT_EQ(uni->getDBType(), xstring("kch"));
  EXPECT_EQ(uni->getTuneOptions(), xstring("#buckets=10485760#map=536870912#options=l"));
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(exists(dir.file("users-" + std::to_string(i) + ".kch"))) << i;
  }
  EXPECT_FALSE(exists(dir.file("users-8.kch")));
  // The store works through the returned interface.
  EXPECT_EQ(r.first->putTx0(nullptr, "ab", 2, "v", 1, 3), 0);
  EXPECT_EQ(r.first->existTx0(nullptr, "ab", 2), 0);
}

TEST(OpenKCFromConfig, ContiguousWarnsEveryTimeAndSharesOneComparator) {
  TmpDir dir;
  Config c;
  for (const char* n : {"a", "b"}) {
    c.set(std::string(n) + ".distrib_type", "contiguous");
    c.set(std::string(n) + ".home", dir.path());
    c.set(std::string(n) + ".dbname", n);
    c.set(std::string(n) + ".auto_sync", "true");
  }
  CaptureStdout();
  auto a = open(c, "a");
  auto b = open(c, "b");
  const std::string out = GetCapturedStdout();
  ASSERT_NE(a.first, nullptr);
  ASSERT_NE(b.first, nullptr);
  EXPECT_TRUE(a.second);
  EXPECT_TRUE(b.second);
  size_t count = 0;
  for (size_t at = out.find(kWarnLine); at != std::string::npos; at = out.find(kWarnLine, at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 2u) << out;
  auto* ca = dynamic_cast<wdb::SKV_ContMKCStg*>(a.first.get());
  auto* cb = dynamic_cast<wdb::SKV_ContMKCStg*>(b.first.get());
  ASSERT_NE(ca, nullptr);
  ASSERT_NE(cb, nullptr);
  ASSERT_NE(ca->getKComparator(), nullptr);
  EXPECT_EQ(ca->getKComparator(), cb->getKComparator());
  // Byte order, unsigned: 0x80 after 0x7f, a prefix first.
  const wdb::KComparator* cmp = ca->getKComparator();
  EXPECT_GT(cmp->compare("a\x80", 2, "a\x7f", 2), 0);
  EXPECT_LT(cmp->compare("ab", 2, "abc", 3), 0);
  EXPECT_TRUE(exists(dir.file("a.kct")));
  EXPECT_EQ(ca->getPartitionBytes(), 8192ull * 1048576ull);
  EXPECT_EQ(ca->getPartitionRecords(), 8388608u);
}

TEST(OpenKCFromConfig, FailuresAndExceptions) {
  TmpDir dir;
  const std::string home = dir.file("never");
  // Unknown types are refused before any store (or directory) is made.
  for (const char* t : {"Uniform", "CONTIGUOUS", "", "hash"}) {
    Config c;
    c.set("s.distrib_type", t);
    c.set("s.home", home);
    c.set("s.dbname", "s");
    try {
      open(c, "s");
      ADD_FAILURE() << "no exception for '" << t << "'";
    } catch (const wexception& e) {
      EXPECT_STREQ(e.what(), "Unknown distrib-type");
    }
    EXPECT_FALSE(exists(home)) << t;
  }
  {
    Config c;  // no distribution type
    c.set("s.home", home);
    c.set("s.dbname", "s");
    EXPECT_THROW(open(c, "s"), Poco::NotFoundException);
  }
  for (const char* t : {"uniform", "contiguous"}) {
    Config c;  // no database name
    c.set("s.distrib_type", t);
    c.set("s.home", home);
    CaptureStdout();
    EXPECT_THROW(open(c, "s"), Poco::NotFoundException) << t;
    GetCapturedStdout();
  }
  {
    Config c;
    c.set("s.distrib_type", "uniform");
    c.set("s.home", home);
    c.set("s.dbname", "s");
    c.set("s.auto_sync", "maybe");
    EXPECT_THROW(open(c, "s"), Poco::SyntaxException);
  }
  for (const char* t : {"uniform", "contiguous"}) {
    Config c;  // an empty home makes the store's open fail: no store, the kind is told
    c.set("s.distrib_type", t);
    c.set("s.home", "");
    c.set("s.dbname", "s");
    CaptureStdout();
    auto r = open(c, "s");
    GetCapturedStdout();
    EXPECT_EQ(r.first, nullptr) << t;
    EXPECT_EQ(r.second, std::string(t) == "contiguous") << t;
  }
  {
    Config c;  // an empty name reads nothing
    auto r = open(c, "");
    EXPECT_EQ(r.first, nullptr);
    EXPECT_FALSE(r.second);
  }
}

// The two-step open checks the whole configuration first: a bad value throws before any
// file or directory is made, and a good one opens only when asked.
TEST(OpenKCFromConfig, PrepareChecksEverythingBeforeTheOpen) {
  TmpDir dir;
  const std::string home = dir.file("later");
  struct Case {
    const char* kind;
    const char* key;
    const char* value;
  } bad[] = {
      {"uniform", "s.partitions", "many"},          {"contiguous", "s.partitions", "many"},
      {"contiguous", "s.partition_megabytes", "x"}, {"contiguous", "s.partition_records", "1e"},
      {"uniform", "s.auto_sync", "maybe"},
  };
  for (const Case& b : bad) {
    Config c;
    c.set("s.distrib_type", b.kind);
    c.set("s.home", home);
    c.set("s.dbname", "s");
    c.set(b.key, b.value);
    CaptureStdout();
    EXPECT_THROW(wdb::PrepareKCFromConfig(c.get(), "s"), Poco::SyntaxException) << b.key;
    GetCapturedStdout();
    EXPECT_FALSE(exists(home)) << b.key;
  }
  for (const char* kind : {"uniform", "contiguous"}) {
    const std::string h = home + "-" + kind;
    Config c;
    c.set("s.distrib_type", kind);
    c.set("s.home", h);
    c.set("s.dbname", "s");
    c.set("s.partitions", "2");
    CaptureStdout();
    wdb::PreparedKCStore p = wdb::PrepareKCFromConfig(c.get(), "s");
    ASSERT_NE(p.get(), nullptr);
    EXPECT_EQ(p.contiguous(), std::string(kind) == "contiguous");
    EXPECT_FALSE(exists(h)) << kind;
    EXPECT_EQ(p.open(), 0) << kind;
    GetCapturedStdout();
    EXPECT_TRUE(exists(h + (p.contiguous() ? "/s.kct" : "/s-0.kch"))) << kind;
    EXPECT_EQ(p.get()->putTx0(nullptr, "ab", 2, "v", 1, 3), 0);
    std::unique_ptr<wdb::ISKVStorage> store(p.release());
    EXPECT_EQ(p.get(), nullptr);
  }
  Config empty;
  EXPECT_EQ(wdb::PrepareKCFromConfig(empty.get(), "").get(), nullptr);
}

}  // namespace
