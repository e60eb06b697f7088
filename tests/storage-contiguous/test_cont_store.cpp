// The contiguous store on real files: opening and its lines, the meta database, rollover,
// retirement, routing, setKeyMin, the KeyMAX scan and the mended faults of the lifecycle.
#include <Poco/AutoPtr.h>
#include <Poco/Event.h>
#include <Poco/Runnable.h>
#include <Poco/ThreadPool.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_ContMKCStg_priv.h"
#include "tests/storage-contiguous/cont_test_util.h"

using conttest::exists;
using conttest::get;
using conttest::kMode;
using conttest::makeStore;
using conttest::put;
using conttest::rawGet;
using conttest::removeKey;
using conttest::ss;
using conttest::u32le;
using conttest::xs;

namespace {

struct Output {
  std::string out;
  std::string err;
};

// Runs f with standard output and error captured.
template <class F>
Output captured(F f) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  f();
  Output o;
  o.out = testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  return o;
}

class ContStore : public testing::Test {
 protected:
  std::string home() const { return dir.path(); }
  std::string file(const std::string& n) const { return dir.file(n); }
  std::string opened(const std::string& n) const {
    return "[inf] wdb::SKV_KCStg::open: DB is opened successfully: \"" + file(n) + "\"\n";
  }
  std::string openedPart(unsigned i) const {
    return opened("data-" + std::to_string(i) + ".kch" + conttest::kTune);
  }
  std::string partLine(unsigned i) const {
    return "Partition[" + std::to_string(i) + "]: " + file("data-" + std::to_string(i) + ".kch") +
           "\n";
  }

  // Opens quietly and waits for the KeyMAX scan when records exist.
  void openStore(wdb::SKV_ContMKCStg& s, unsigned mode = kMode) {
    int r = 0;
    captured([&] { r = s.open(mode); });
    ASSERT_EQ(0, r);
    ASSERT_TRUE(s.getKeyMin().empty() || conttest::waitKeyMax(s));
  }
  void quiet(const std::function<void()>& f) { captured(f); }

  // The meta database's records, read after the store closed.
  std::string meta(const std::string& key) {
    std::string v;
    quiet([&] { v = rawGet(file("data.kct"), key); });
    return v;
  }

  conttest::TmpDir dir;
};

TEST_F(ContStore, FreshHomePrintsTheListingsAndTheFirstPutCreatesPartitionZero) {
  auto s = makeStore(dir, 4, 100);
  int r = -99;
  Output o = captured([&] { r = s->open(kMode); });
  ASSERT_EQ(0, r);
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read num_partitions fail!\n"
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read newest_partition fail!\n",
      o.err);
  EXPECT_EQ(opened("data.kct") +
                "=== List of DB Entries loaded from Meta ===\n"
                "=== List of DB Paths from Config & in Home dir ===\n"
                "=== List of DB Entries all ===\n"
                "=== List of DB Entries opened ===\n",
            o.out);
  EXPECT_TRUE(s->isOpen());
  EXPECT_TRUE(exists(file("data.kct")));
  EXPECT_EQ("", ss(s->getKeyMax()));

  o = captured([&] { r = put(*s, "k1", "one"); });
  EXPECT_EQ(0, r);
  EXPECT_EQ("Create new partition with KeyMIN=\"k1\"\n" + openedPart(0), o.out);
  EXPECT_EQ("", o.err);
  EXPECT_EQ("k1", ss(s->getKeyMin()));
  EXPECT_EQ("k1", ss(s->getKeyMax()));
  EXPECT_EQ("one", get(*s, "k1"));
  EXPECT_EQ(2, s->kc_count());  // the reserved record counts
  quiet([&] { s->close(); });
  EXPECT_FALSE(s->isOpen());

  EXPECT_EQ(u32le(1), meta("num_partitions"));
  EXPECT_EQ(u32le(0), meta("newest_partition"));
  const std::string entry = meta("partition-0");
  EXPECT_EQ(15 + file("data-0.kch").size() + 2, entry.size());
  EXPECT_EQ(ss(wdb::encodeMetaEntry(xs(file("data-0.kch")), "k1")), entry);
  std::string reserved;
  quiet([&] { reserved = rawGet(file("data-0.kch"), std::string(1, '\0')); });
  EXPECT_EQ("k1", reserved);
}

TEST_F(ContStore, RolloverAtTheRecordLimitRecordsTheNewPartitionAndReopenReadsItBack) {
  auto s = makeStore(dir, 4, 3);
  openStore(*s);
  Output o = captured([&] {
    for (const char* k : {"k01", "k02", "k03"}) EXPECT_EQ(0, put(*s, k));
  });
  EXPECT_EQ("Create new partition with KeyMIN=\"k01\"\n" + openedPart(0), o.out);
  o = captured([&] { EXPECT_EQ(0, put(*s, "k04")); });
  EXPECT_EQ("Create new partition with KeyMIN=\"k04\"\n" + openedPart(1), o.out);
  EXPECT_EQ(6, s->kc_count());
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(2), meta("num_partitions"));
  EXPECT_EQ(u32le(1), meta("newest_partition"));
  EXPECT_EQ(ss(wdb::encodeMetaEntry(xs(file("data-1.kch")), "k04")), meta("partition-1"));

  int r = -99;
  o = captured([&] {
    r = s->open(kMode);
    ASSERT_TRUE(conttest::waitKeyMax(*s));
    s->close();
  });
  ASSERT_EQ(0, r);
  EXPECT_EQ("", o.err);
  EXPECT_EQ(opened("data.kct") + "num_partitions=2\nnewest_partition=1\n" +
                "=== List of DB Entries loaded from Meta ===\n" + partLine(0) + partLine(1) +
                "=== List of DB Paths from Config & in Home dir ===\n" + file("data-0.kch") + "\n" +
                file("data-1.kch") + "\n" + "=== List of DB Entries all ===\n" + partLine(0) +
                partLine(1) + openedPart(1) + openedPart(0) +
                "=== List of DB Entries opened ===\n" + partLine(0) + partLine(1) +
                "KeyMAX=\"k04\"\n"
                "[inf] wdb::SKV_ContMKCStg::asynIterateKeyMAX::IterateKeyMAXProc::run: "
                "Exit thread\n",
            o.out);

  openStore(*s);
  EXPECT_EQ("k01", ss(s->getKeyMin()));
  EXPECT_EQ("k04", ss(s->getKeyMax()));
  for (const char* k : {"k01", "k02", "k03", "k04"}) EXPECT_EQ("v", get(*s, k)) << k;
  // The newest partition holds one user record: k05 goes there, k06 and k07 too.
  quiet([&] {
    for (const char* k : {"k05", "k06"}) EXPECT_EQ(0, put(*s, k));
  });
  o = captured([&] { EXPECT_EQ(0, put(*s, "k07")); });
  EXPECT_EQ("Create new partition with KeyMIN=\"k07\"\n" + openedPart(2), o.out);
}

// Kyoto Cabinet keeps its write-ahead log between transactions and only zeroes it at commit;
// a log message that SIGKILL cuts at a page boundary would then read as whole, its tail taken
// from those zeros, and recovery would copy them over committed meta records. Every meta
// write group (the write-back at open, each rollover) is one transaction on an empty log.
TEST_F(ContStore, MetaWritesLeaveAnEmptyWriteAheadLog) {
  const std::string log = file("data.kct.wal");
  auto logBytes = [&]() -> long {
    struct stat st;
    return ::stat(log.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
  };
  auto s = makeStore(dir, 8, 2);
  openStore(*s);
  EXPECT_EQ(0, logBytes());
  quiet([&] {
    for (int i = 10; i < 20; ++i) {
      ASSERT_EQ(0, put(*s, "k" + std::to_string(i), std::string(1000, 'v')));
      ASSERT_EQ(0, logBytes()) << "after put " << i;
    }
  });
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(5), meta("num_partitions"));
  EXPECT_EQ(u32le(4), meta("newest_partition"));
  EXPECT_EQ(ss(wdb::encodeMetaEntry(xs(file("data-4.kch")), "k18")), meta("partition-4"));
}

TEST_F(ContStore, RolloverAtTheByteLimit) {
  auto s = makeStore(dir, 8, 1000000);
  openStore(*s);
  quiet([&] { ASSERT_EQ(0, put(*s, "k0000", "x")); });
  const uint64_t limit = static_cast<uint64_t>(s->kc_size()) + 65536;
  s->setPartitionBytes(limit);
  const std::string value(4096, 'v');
  int n = 1;
  uint64_t sizeBefore = 0;
  quiet([&] {
    for (; n < 500 && !exists(file("data-1.kch")); ++n) {
      char key[16];
      std::snprintf(key, sizeof key, "k%04d", n);
      sizeBefore = static_cast<uint64_t>(s->kc_size());
      ASSERT_EQ(0, put(*s, key, value));
    }
  });
  // The put that saw the full partition opened partition 1 and went there.
  ASSERT_LT(n, 500);
  EXPECT_GE(sizeBefore, limit);
  EXPECT_EQ(static_cast<int64_t>(n - 1 + 2 + 1), s->kc_count());
  char last[16];
  std::snprintf(last, sizeof last, "k%04d", n - 1);
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(2), meta("num_partitions"));
  EXPECT_EQ(ss(wdb::encodeMetaEntry(xs(file("data-1.kch")), last)), meta("partition-1"));
}

TEST_F(ContStore, TooManyPartitionsRetireTheOldestToObs) {
  auto s = makeStore(dir, 2, 2);
  openStore(*s);
  Output o = captured([&] {
    for (const char* k : {"k01", "k02", "k03", "k04", "k05"}) EXPECT_EQ(0, put(*s, k));
  });
  EXPECT_EQ("Create new partition with KeyMIN=\"k01\"\n" + openedPart(0) +
                "Create new partition with KeyMIN=\"k03\"\n" + openedPart(1) +
                "Create new partition with KeyMIN=\"k05\"\n" + openedPart(2),
            o.out);
  EXPECT_EQ("", o.err);
  EXPECT_TRUE(exists(file("data-0.kch.obs")));
  EXPECT_FALSE(exists(file("data-0.kch")));
  EXPECT_EQ("k03", ss(s->getKeyMin()));
  EXPECT_EQ("<-9>", get(*s, "k01"));
  EXPECT_EQ(-16, put(*s, "k02"));
  EXPECT_EQ(9, removeKey(*s, "k02"));
  EXPECT_EQ("v", get(*s, "k04"));
  quiet([&] {
    for (const char* k : {"k06", "k07"}) EXPECT_EQ(0, put(*s, k));
  });
  EXPECT_TRUE(exists(file("data-1.kch.obs")));
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(2), meta("num_partitions"));
  EXPECT_EQ(u32le(3), meta("newest_partition"));
  // The retired file still holds its records.
  std::string v;
  quiet([&] { v = rawGet(file("data-0.kch.obs"), "k02", "#type=kch"); });
  EXPECT_EQ("v", v);
}

TEST_F(ContStore, RoutingAboveInsideAndBelowTheRanges) {
  auto s = makeStore(dir, 8, 2);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"b0", "b1", "d0", "d1", "f0"}) ASSERT_EQ(0, put(*s, k));
  });
  ASSERT_EQ(8, s->kc_count());  // 3 partitions
  struct Case {
    const char* key;
    int put;
    const char* file;  // partition that must hold it, or null
  } cases[] = {
      {"a0", -16, nullptr},                              // below every keyMin
      {"b5", 0, "data-0.kch"},                           // inside the full, older partition
      {"d0", 0, "data-1.kch"},                           // equal to a keyMin
      {"c9", 0, "data-0.kch"},                           // between two keyMins: the lower one
      {"e0", 0, "data-1.kch"}, {"f1", 0, "data-2.kch"},  // above KeyMAX, the newest is not full
  };
  for (const Case& c : cases) EXPECT_EQ(c.put, put(*s, c.key, c.key)) << c.key;
  EXPECT_EQ("<-9>", get(*s, "a0"));
  EXPECT_EQ(-9, s->existTx0(nullptr, "a0", 2));
  void* buf = reinterpret_cast<void*>(1);
  size_t len = 7;
  EXPECT_EQ(-9, s->popTx0(nullptr, &buf, &len, "a0", 2));
  EXPECT_EQ(reinterpret_cast<void*>(1), buf);  // left as it was
  EXPECT_EQ(9, removeKey(*s, "a0"));
  // A new greatest key with UPDATE: the newest is full (f0, f1), so partition 3 is made;
  // the put fails there and still raises KeyMAX.
  quiet([&] { EXPECT_EQ(-9, put(*s, "g0", "x", 2)); });
  EXPECT_EQ("g0", ss(s->getKeyMax()));
  EXPECT_TRUE(exists(file("data-3.kch")));
  quiet([&] { EXPECT_EQ(0, put(*s, "h0")); });
  EXPECT_FALSE(exists(file("data-4.kch")));
  EXPECT_EQ("h0", ss(s->getKeyMax()));
  // Removing or popping the greatest key leaves KeyMAX.
  EXPECT_EQ(0, removeKey(*s, "h0"));
  EXPECT_EQ("h0", ss(s->getKeyMax()));
  quiet([&] { s->close(); });
  for (const Case& c : cases) {
    if (c.file == nullptr) continue;
    std::string v;
    quiet([&] { v = rawGet(file(c.file), c.key); });
    EXPECT_EQ(c.key, v) << c.key;
  }
}

TEST_F(ContStore, ShortKeysAndClosedStoreAnswers) {
  auto s = makeStore(dir, 8, 2);
  EXPECT_EQ(-16, put(*s, "kk"));
  EXPECT_EQ("<-9>", get(*s, "kk"));
  EXPECT_EQ(9, removeKey(*s, "kk"));
  EXPECT_EQ(-9, s->existTx0(nullptr, "kk", 2));
  EXPECT_EQ("", ss(s->getKeyMax()));
  EXPECT_FALSE(s->isOpen());
  openStore(*s);
  for (const std::string& k : {std::string("a"), std::string()}) {
    EXPECT_EQ(-4, put(*s, k));
    EXPECT_EQ("<-4>", get(*s, k));
    EXPECT_EQ(-4, s->existTx0(nullptr, k.data(), k.size()));
    EXPECT_EQ(4, removeKey(*s, k));
  }
  EXPECT_EQ(-4, s->putTx0(nullptr, nullptr, 5, "v", 1, 3));
  EXPECT_EQ(0, s->kc_count());
  // Fixed answers.
  EXPECT_EQ(0u, s->size());
  EXPECT_TRUE(s->empty());
  EXPECT_EQ(UINT64_MAX, s->maxSize());
  EXPECT_EQ(0, s->flush());
  EXPECT_EQ(nullptr, s->makeTransaction());
  EXPECT_EQ(nullptr, s->makeSKVCursor(nullptr));
  quiet([&] { s->close(); });
  EXPECT_EQ(-16, put(*s, "kk"));
}

TEST_F(ContStore, IncompleteConfigurationIsRefused) {
  wdb::SKV_ContMKCStg s;
  EXPECT_EQ(-5, s.open(kMode));
  s.setDBHome(xs(home()));
  EXPECT_EQ(-5, s.open(kMode));
  s.setDBName("data");
  s.setPartitions(0);
  EXPECT_EQ(-5, s.open(kMode));
  s.setPartitions(2);
  s.setDBType("");
  EXPECT_EQ(-5, s.open(kMode));
  s.setDBType("kch");
  s.setDBName(xs(std::string(250, 'n')));  // "-4294967295.kch" does not fit
  Output o = captured([&] { EXPECT_EQ(-5, s.open(kMode)); });
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::open: Database name or type is too long for the file "
      "names\n",
      o.err);
  EXPECT_FALSE(s.isOpen());
}

TEST_F(ContStore, SetKeyMinGivesAnEmptyStoreItsFirstPartition) {
  auto s = makeStore(dir, 8, 8);
  EXPECT_EQ(-28, s->setKeyMin("m0", 2));  // closed
  openStore(*s);
  EXPECT_EQ(-4, s->setKeyMin("m", 1));
  EXPECT_EQ(-4, s->setKeyMin(nullptr, 2));
  Output o = captured([&] { EXPECT_EQ(0, s->setKeyMin("m0", 2)); });
  EXPECT_EQ("Create new partition with KeyMIN=\"m0\"\n" + openedPart(0), o.out);
  EXPECT_EQ("m0", ss(s->getKeyMin()));
  EXPECT_EQ("m0", ss(s->getKeyMax()));
  EXPECT_EQ(-10, s->setKeyMin("a0", 2));
  EXPECT_EQ(-16, put(*s, "a0"));
  EXPECT_EQ(0, put(*s, "m0"));
  EXPECT_EQ(0, put(*s, "m5"));
  EXPECT_EQ(0, put(*s, "z0"));
  EXPECT_FALSE(exists(file("data-1.kch")));
}

TEST_F(ContStore, TotalsAddUpThePartitions) {
  auto s = makeStore(dir, 8, 5);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a1", "a2", "a3", "a4", "a5", "b1", "b2", "b3"}) ASSERT_EQ(0, put(*s, k));
  });
  EXPECT_EQ(10, s->kc_count());
  EXPECT_GT(s->kc_size(), 0);
  struct Keys : public kyotocabinet::DB::Visitor {
    std::vector<std::string> keys;
    const char* visit_full(const char* k, size_t ks, const char*, size_t, size_t*) override {
      keys.push_back(std::string(k, ks));
      return NOP;
    }
  } v;
  EXPECT_EQ(-12, s->kc_iterate(&v, 2));
  EXPECT_TRUE(v.keys.empty());
  EXPECT_EQ(0, s->kc_iterate(&v, 1));
  ASSERT_EQ(10u, v.keys.size());
  EXPECT_EQ(2, std::count(v.keys.begin(), v.keys.end(), std::string(1, '\0')));
}

TEST_F(ContStore, LoadConfigReadsTheKeysAndRefusesLimitsOfZeroOrBelow) {
  Poco::AutoPtr<Poco::Util::MapConfiguration> map(new Poco::Util::MapConfiguration());
  map->setString("st.home", home());
  map->setString("st.dbname", "data");
  map->setString("st.dbtype", "kct");
  map->setInt("st.partitions", 3);
  map->setString("st.tune_options", "#pccap=1m");
  map->setInt("st.partition_megabytes", 2);
  map->setInt("st.partition_records", 77);
  map->setString("st.partitions[1].path", "/x/data-9.kct");
  map->setString("st.partitions[3].path", "/x/ignored.kct");  // beyond the count
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
  config->add(map, 0);
  wdb::SKV_ContMKCStg s;
  EXPECT_EQ(0, s.loadConfig("st", *config));
  EXPECT_EQ(home(), ss(s.getDBHome()));
  EXPECT_EQ("kct", ss(s.getDBType()));
  EXPECT_EQ(3u, s.getPartitions());
  EXPECT_EQ("#pccap=1m", ss(s.getTuneOptions()));
  EXPECT_EQ(2u * 1048576u, s.getPartitionBytes());
  EXPECT_EQ(77u, s.getPartitionRecords());

  map->setInt("st.partition_megabytes", 0);
  map->setInt("st.partition_records", -5);
  map->setInt("st.partitions", -1);
  Output o = captured([&] { EXPECT_EQ(0, s.loadConfig("st", *config)); });
  EXPECT_EQ(
      "[WRN] wdb::SKV_ContMKCStg::loadConfig: Ignore st.partitions=-1: a partition count is "
      "not negative; keep 3\n"
      "[WRN] wdb::SKV_ContMKCStg::loadConfig: Ignore st.partition_megabytes=0: the limit "
      "must be positive; keep 2097152 bytes\n"
      "[WRN] wdb::SKV_ContMKCStg::loadConfig: Ignore st.partition_records=-5: the limit must "
      "be positive; keep 77\n",
      o.out);
  EXPECT_EQ(3u, s.getPartitions());
  EXPECT_EQ(2u * 1048576u, s.getPartitionBytes());
  EXPECT_EQ(77u, s.getPartitionRecords());

  Poco::AutoPtr<Poco::Util::MapConfiguration> empty(new Poco::Util::MapConfiguration());
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> none(new Poco::Util::LayeredConfiguration());
  none->add(empty, 0);
  EXPECT_THROW(s.loadConfig("st", *none), Poco::NotFoundException);

  // The configured path (and only the one within the count) is used at open.
  s.setDBType("kch");
  s.setTuneOptions(conttest::kTune);
  o = captured([&] { EXPECT_EQ(0, s.open(kMode)); });
  EXPECT_NE(std::string::npos, o.out.find("=== List of DB Paths from Config & in Home dir ===\n"
                                          "/x/data-9.kct\n"));
  EXPECT_EQ(std::string::npos, o.out.find("ignored"));
  quiet([&] { s.close(); });
}

// The count is the most partitions kept live, not a number opened at once: a huge one is
// read without a lookup per index and the store opens; configured paths below it are read.
TEST_F(ContStore, HugePartitionCountIsReadAtOnceAndOpens) {
  Poco::AutoPtr<Poco::Util::MapConfiguration> map(new Poco::Util::MapConfiguration());
  map->setString("st.home", home());
  map->setString("st.dbname", "data");
  map->setString("st.tune_options", conttest::kTune);
  map->setInt("st.partitions", 2147483647);
  map->setString("st.partitions[2147483646].path", "/x/data-7.kch");
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
  config->add(map, 0);
  wdb::SKV_ContMKCStg s;
  EXPECT_EQ(0, s.loadConfig("st", *config));
  EXPECT_EQ(2147483647u, s.getPartitions());
  Output o = captured([&] { EXPECT_EQ(0, s.open(kMode)); });
  EXPECT_NE(std::string::npos, o.out.find("=== List of DB Paths from Config & in Home dir ===\n"
                                          "/x/data-7.kch\n"));
  quiet([&] {
    EXPECT_EQ(0, put(s, "k1"));
    s.close();
  });
}

// ----- the KeyMAX scan -------------------------------------------------------------------

TEST_F(ContStore, KeysAreRoutedByRangeUntilTheKeyMaxScanFinishes) {
  {
    auto s = makeStore(dir, 8, 2);
    openStore(*s);
    quiet([&] {
      for (const char* k : {"b0", "b1"}) ASSERT_EQ(0, put(*s, k));
      s->close();
    });
  }
  conttest::GateComparator gate;
  gate.close();
  auto s = makeStore(dir, 8, 2);
  s->setKComparator(&gate);
  Output o = captured([&] {
    ASSERT_EQ(0, s->open(kMode));
    ASSERT_TRUE(gate.waitHeld());
    EXPECT_EQ("", ss(s->getKeyMax()));
    // Reads of the scanned partition go on while the scan holds it (its reader lock). A scan
    // that froze the partition would keep the read waiting until the gate opens.
    std::atomic<bool> readDone(false);
    std::string read;
    std::thread reader([&] {
      gate.letThrough();
      read = get(*s, "b0");
      readDone = true;
    });
    for (int i = 0; i < 20000 && !readDone.load(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const bool readWhileScanning = readDone.load();
    if (!readWhileScanning) gate.open();
    reader.join();
    ASSERT_TRUE(readWhileScanning) << "a read waited for the KeyMAX scan";
    EXPECT_EQ("v", read);
    EXPECT_EQ(-16, put(*s, "a0"));
    // Above every key, newest full: routed by range while KeyMAX is unknown. The put waits
    // for the scan's lock inside the partition, after its routing.
    int r = -99;
    const int before = gate.throughCalls();
    std::thread putter([&] {
      gate.letThrough();
      r = put(*s, "z1");
    });
    ASSERT_TRUE(gate.waitThrough(before));
    gate.open();
    putter.join();
    EXPECT_EQ(0, r);
    EXPECT_FALSE(exists(file("data-1.kch")));
    ASSERT_TRUE(conttest::waitKeyMax(*s));
  });
  EXPECT_EQ("z1", ss(s->getKeyMax()));  // the puts made meanwhile count
  o = captured([&] { EXPECT_EQ(0, put(*s, "z2")); });
  EXPECT_EQ("Create new partition with KeyMIN=\"z2\"\n" + openedPart(1), o.out);
  quiet([&] { s->close(); });
  std::string v;
  quiet([&] { v = rawGet(file("data-0.kch"), "z1"); });
  EXPECT_EQ("v", v);
}

TEST_F(ContStore, CloseWaitsForTheKeyMaxScanAndAStaleScanMarksNothing) {
  {
    auto s = makeStore(dir, 8, 100);
    openStore(*s);
    quiet([&] {
      for (const char* k : {"b0", "b1", "b2"}) ASSERT_EQ(0, put(*s, k));
      s->close();
    });
  }
  conttest::GateComparator gate;
  gate.close();
  auto s = makeStore(dir, 8, 100);
  s->setKComparator(&gate);
  std::atomic<bool> closed(false);
  Output o = captured([&] {
    ASSERT_EQ(0, s->open(kMode));
    ASSERT_TRUE(gate.waitHeld());
    std::thread closer([&] {
      s->close();
      closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load());  // the scan still holds its partition
    gate.open();
    closer.join();
  });
  EXPECT_TRUE(closed.load());
  EXPECT_FALSE(s->isOpen());
  EXPECT_EQ("", ss(s->getKeyMax()));
  EXPECT_EQ(std::string::npos, o.out.find("KeyMAX="));
  EXPECT_NE(std::string::npos, o.out.find("IterateKeyMAXProc::run: Exit thread\n"));
  // The next open scans again and finds the records.
  s->setKComparator(nullptr);
  openStore(*s);
  EXPECT_EQ("b2", ss(s->getKeyMax()));
  EXPECT_EQ("v", get(*s, "b1"));
}

class BlockedRunnable : public Poco::Runnable {
 public:
  explicit BlockedRunnable(Poco::Event* go) : _go(go) {}
  void run() override { _go->wait(); }

 private:
  Poco::Event* _go;
};

TEST_F(ContStore, KeyMaxScanRunsOnItsOwnThreadWhenThePoolIsFull) {
  {
    auto s = makeStore(dir, 8, 100);
    openStore(*s);
    quiet([&] {
      ASSERT_EQ(0, put(*s, "b0"));
      s->close();
    });
  }
  Poco::ThreadPool& pool = Poco::ThreadPool::defaultPool();
  Poco::Event go(false);  // manual reset
  std::vector<std::unique_ptr<BlockedRunnable>> blockers;
  while (pool.available() > 0) {
    blockers.emplace_back(new BlockedRunnable(&go));
    pool.start(*blockers.back());
  }
  auto s = makeStore(dir, 8, 100);
  int r = -99;
  quiet([&] { r = s->open(kMode); });
  EXPECT_EQ(0, r);
  EXPECT_TRUE(conttest::waitKeyMax(*s));
  EXPECT_EQ("b0", ss(s->getKeyMax()));
  quiet([&] { s->close(); });
  go.set();
  pool.joinAll();
}

// ----- lifecycle faults ------------------------------------------------------------------

TEST_F(ContStore, AMetaRecordWhoseFileIsGoneIsDroppedNotRecreated) {
  auto s = makeStore(dir, 3, 1);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "b0", "c0"}) ASSERT_EQ(0, put(*s, k));
    s->close();
  });
  // Partition 1 left the store (retired) while its meta record stays.
  ASSERT_EQ(0, ::rename(file("data-1.kch").c_str(), file("data-1.kch.obs").c_str()));
  const std::string obs = conttest::readFile(file("data-1.kch.obs"));
  const std::string gone =
      "[inf] wdb::SKV_ContMKCStg::openPartitions: Partition file is gone, "
      "skip partition-1: \"" +
      file("data-1.kch") + "\"\n";
  for (int round = 0; round < 2; ++round) {
    int r = -99;
    Output o = captured([&] {
      r = s->open(kMode);
      ASSERT_TRUE(conttest::waitKeyMax(*s));
    });
    ASSERT_EQ(0, r);
    EXPECT_NE(std::string::npos, o.out.find(gone)) << round;
    EXPECT_EQ("", o.err);
    EXPECT_FALSE(exists(file("data-1.kch")));
    EXPECT_EQ(obs, conttest::readFile(file("data-1.kch.obs")));
    EXPECT_EQ("v", get(*s, "a0"));
    EXPECT_EQ("v", get(*s, "c0"));
    EXPECT_EQ("<-9>", get(*s, "b0"));  // its range is partition 0's now
    EXPECT_EQ("a0", ss(s->getKeyMin()));
    quiet([&] { s->close(); });
    // Written back: 2 live partitions, newest 2; the next window (2, 1) reads the stale
    // record again and partition 0 is found in the home directory.
    EXPECT_EQ(u32le(2), meta("num_partitions"));
    EXPECT_EQ(u32le(2), meta("newest_partition"));
  }
}

TEST_F(ContStore, RetiringAPartitionThatAWalkHoldsLeavesItOpenToTheWalk) {
  auto s = makeStore(dir, 2, 2);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "a1", "b0", "b1"}) ASSERT_EQ(0, put(*s, k));
  });
  // A walk held at its first record, in partition 0 (the least keyMin).
  struct Held : public kyotocabinet::DB::Visitor {
    std::mutex m;
    std::condition_variable cv;
    bool inside = false, go = false;
    std::vector<std::string> keys;
    const char* visit_full(const char* k, size_t ks, const char*, size_t, size_t*) override {
      std::unique_lock<std::mutex> l(m);
      if (keys.empty()) {
        inside = true;
        cv.notify_all();
        // Longer than the test waits for the put, so that only the test lets it go.
        cv.wait_for(l, std::chrono::seconds(60), [this] { return go; });
      }
      keys.push_back(std::string(k, ks));
      return NOP;
    }
  } held;
  int walk = -99;
  std::thread walker([&] { walk = s->kc_iterate(&held, 0); });
  {
    std::unique_lock<std::mutex> l(held.m);
    ASSERT_TRUE(held.cv.wait_for(l, std::chrono::seconds(20), [&] { return held.inside; }));
  }
  // Partition 1 is full: c0 opens partition 2 and retires partition 0 under the walk. The
  // put must not wait for the walk (closing the database would).
  std::atomic<bool> putDone(false);
  int r = -99;
  std::thread putter([&] {
    r = put(*s, "c0");
    putDone = true;
  });
  for (int i = 0; i < 20000 && !putDone.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const bool putWhileWalking = putDone.load();
  {
    std::lock_guard<std::mutex> l(held.m);
    held.go = true;
    held.cv.notify_all();
  }
  walker.join();
  putter.join();
  EXPECT_TRUE(putWhileWalking) << "retiring waited for the walk";
  EXPECT_EQ(0, r);
  // The walk read both partitions it copied, the retired one to its end.
  EXPECT_EQ(0, walk);
  std::sort(held.keys.begin(), held.keys.end());
  const std::string z(1, '\0');
  EXPECT_EQ((std::vector<std::string>{z, z, "a0", "a1", "b0", "b1"}), held.keys);
  EXPECT_TRUE(exists(file("data-0.kch.obs")));
  EXPECT_FALSE(exists(file("data-0.kch")));
  EXPECT_EQ("b0", ss(s->getKeyMin()));
  EXPECT_EQ("v", get(*s, "c0"));
  quiet([&] { s->close(); });
  std::string v;
  quiet([&] { v = rawGet(file("data-0.kch.obs"), "a1", "#type=kch"); });
  EXPECT_EQ("v", v);
}

TEST_F(ContStore, ASecondNameOfALiveFileBeyondTheLimitIsNotMovedAside) {
  conttest::makePartitionFile(file("data-1.kch"), {{"p1", "one"}});
  Poco::AutoPtr<Poco::Util::MapConfiguration> map(new Poco::Util::MapConfiguration());
  map->setString("st.home", home());
  map->setString("st.dbname", "data");
  map->setString("st.tune_options", conttest::kTune);
  map->setInt("st.partitions", 1);
  map->setString("st.partitions[0].path", home() + "/./data-1.kch");  // sorts first
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
  config->add(map, 0);
  wdb::SKV_ContMKCStg s;
  s.loadConfig("st", *config);
  int r = -99;
  Output o = captured([&] {
    r = s.open(kMode);
    ASSERT_TRUE(conttest::waitKeyMax(s));
  });
  ASSERT_EQ(0, r);
  EXPECT_NE(std::string::npos,
            o.out.find("[inf] wdb::SKV_ContMKCStg::openPartitions: Partition file is opened "
                       "already, skip partition-1: \"" +
                       home() + "/./data-1.kch\"\n"));
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read num_partitions fail!\n"
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read newest_partition fail!\n",
      o.err);
  EXPECT_TRUE(exists(file("data-1.kch")));
  EXPECT_FALSE(exists(file("data-1.kch.obs")));
  EXPECT_EQ("one", get(s, "p1"));
  quiet([&] { s.close(); });
  openStore(s);
  EXPECT_EQ("one", get(s, "p1"));
  quiet([&] { s.close(); });
}

TEST_F(ContStore, ADamagedPartitionCountReadsOnlyWhatTheMetaDatabaseHolds) {
  conttest::makePartitionFile(file("data-0.kch"), {{std::string(1, '\0'), "a0"}, {"a0", "zero"}});
  {
    wdb::SKV_KCStg meta;
    meta.setDBPath(xs(file("data.kct")));
    quiet([&] { ASSERT_EQ(0, meta.open(6)); });
    ASSERT_EQ(0, put(meta, "num_partitions", u32le(0xFFFFFFFFu)));
    ASSERT_EQ(0, put(meta, "newest_partition", u32le(0)));
    ASSERT_EQ(0, put(meta, "partition-0", ss(wdb::encodeMetaEntry(xs(file("data-0.kch")), "a0"))));
  }
  auto s = makeStore(dir, 4, 100);
  int r = -99;
  Output o = captured([&] {
    r = s->open(kMode);
    ASSERT_TRUE(conttest::waitKeyMax(*s));
  });
  ASSERT_EQ(0, r);
  // Three records: the window is the two indices 0 and 4294967295.
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: num_partitions=4294967295 is more than the meta "
      "database holds; read 2\n"
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read partition-4294967295 fail!\n",
      o.err);
  EXPECT_NE(std::string::npos, o.out.find("=== List of DB Entries loaded from Meta ===\n" +
                                          partLine(0) + "=== List of DB Paths"));
  EXPECT_EQ("zero", get(*s, "a0"));
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(1), meta("num_partitions"));
}

TEST_F(ContStore, APartitionThatFailsToOpenFailsTheStoreAndStaysInPlace) {
  auto s = makeStore(dir, 4, 1);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "b0"}) ASSERT_EQ(0, put(*s, k));
    s->close();
  });
  const std::string junk(4096, 'j');
  conttest::writeFile(file("data-1.kch"), junk);
  int r = -99;
  Output o = captured([&] { r = s->open(kMode); });
  EXPECT_EQ(-1, r);
  EXPECT_NE(std::string::npos,
            o.err.find("[ERR] wdb::SKV_ContMKCStg::openPartitions: Fail open partition-1: \"" +
                       file("data-1.kch") + "\"\n"));
  EXPECT_FALSE(s->isOpen());
  EXPECT_EQ(junk, conttest::readFile(file("data-1.kch")));
  EXPECT_FALSE(exists(file("data-1.kch.obs")));
  EXPECT_EQ(-16, put(*s, "c0"));
  // With the file mended the store opens and the other range is served.
  ::unlink(file("data-1.kch").c_str());
  openStore(*s);
  EXPECT_EQ("v", get(*s, "a0"));
}

TEST_F(ContStore, AnEmptyReservedValueMakesTheScanRun) {
  conttest::makePartitionFile(file("data-0.kch"),
                              {{std::string(1, '\0'), ""}, {"m1", "1"}, {"m0", "0"}});
  auto s = makeStore(dir, 4, 100);
  int r = -99;
  Output o = captured([&] {
    r = s->open(kMode);
    ASSERT_TRUE(conttest::waitKeyMax(*s));
  });
  ASSERT_EQ(0, r);
  EXPECT_NE(std::string::npos,
            o.out.find("[inf] wdb::SKV_ContMKCStg::iterateKeyRangeThread::IterateKeyRangeProc::"
                       "run: Exit thread \"partition-0\"\n"));
  EXPECT_EQ("m0", ss(s->getKeyMin()));
  EXPECT_EQ("m1", ss(s->getKeyMax()));
  EXPECT_EQ("0", get(*s, "m0"));
  quiet([&] { s->close(); });
  std::string v;
  quiet([&] { v = rawGet(file("data-0.kch"), std::string(1, '\0')); });
  EXPECT_EQ("m0", v);
}

TEST_F(ContStore, FoundFilesAreScannedAndEmptyOnesRetired) {
  conttest::makePartitionFile(file("data-3x.kch"), {{"q1", "1"}});  // number 3
  conttest::makePartitionFile(file("data--1.kch"), {{"q2", "2"}});  // negative: ignored
  conttest::makePartitionFile(file("data-a.kch"), {{"q3", "3"}});   // no number: ignored
  conttest::makePartitionFile(file("data-1.kch"), {{"x", "short key only"}});
  auto s = makeStore(dir, 4, 100);
  int r = -99;
  Output o = captured([&] {
    r = s->open(kMode);
    ASSERT_TRUE(conttest::waitKeyMax(*s));
  });
  ASSERT_EQ(0, r);
  EXPECT_NE(std::string::npos,
            o.out.find("=== List of DB Paths from Config & in Home dir ===\n" + file("data-1.kch") +
                       "\n" + file("data-3x.kch") + "\n=== List of DB Entries all ===\n"));
  EXPECT_NE(std::string::npos, o.out.find("=== List of DB Entries opened ===\nPartition[3]: " +
                                          file("data-3x.kch") + "\n"));
  EXPECT_TRUE(exists(file("data-1.kch.obs")));
  EXPECT_TRUE(exists(file("data--1.kch")));
  EXPECT_TRUE(exists(file("data-a.kch")));
  EXPECT_EQ("1", get(*s, "q1"));
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(1), meta("num_partitions"));
  EXPECT_EQ(u32le(3), meta("newest_partition"));
}

TEST_F(ContStore, ThreeFilesAndTwoPartitionsRetireTheLowestIndex) {
  auto s = makeStore(dir, 3, 1);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "b0", "c0"}) ASSERT_EQ(0, put(*s, k));
    s->close();
  });
  s->setPartitions(2);
  openStore(*s);
  EXPECT_TRUE(exists(file("data-0.kch.obs")));
  EXPECT_EQ("b0", ss(s->getKeyMin()));
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(2), meta("num_partitions"));
}

TEST_F(ContStore, AConfiguredPathOutsideHomeIsUsedLikeAFoundFile) {
  conttest::TmpDir other;
  conttest::makePartitionFile(other.file("data-5.kch"), {{"p5", "five"}});
  Poco::AutoPtr<Poco::Util::MapConfiguration> map(new Poco::Util::MapConfiguration());
  map->setString("st.home", home());
  map->setString("st.dbname", "data");
  map->setString("st.tune_options", conttest::kTune);
  map->setString("st.partitions[0].path", other.file("data-5.kch"));
  map->setString("st.partitions[1].path", other.file("other.kch"));
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
  config->add(map, 0);
  wdb::SKV_ContMKCStg s;
  s.loadConfig("st", *config);
  openStore(s);
  EXPECT_EQ("five", get(s, "p5"));
  EXPECT_EQ("p5", ss(s.getKeyMax()));
  quiet([&] { EXPECT_EQ(0, put(s, "p6")); });
  EXPECT_FALSE(exists(file("data-6.kch")));  // not full: p6 joins partition 5
  quiet([&] { s.close(); });
}

TEST_F(ContStore, AnOlderPartitionWithAGreaterKeyMinPrintsTheOrderLine) {
  conttest::makePartitionFile(file("data-0.kch"), {{std::string(1, '\0'), "x0"}, {"x0", "0"}});
  conttest::makePartitionFile(file("data-1.kch"), {{std::string(1, '\0'), "a0"}, {"a0", "1"}});
  auto s = makeStore(dir, 4, 100);
  int r = -99;
  Output o = captured([&] { r = s->open(kMode); });
  EXPECT_EQ(0, r);
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read num_partitions fail!\n"
      "[ERR] wdb::SKV_ContMKCStg::loadMeta: Read newest_partition fail!\n"
      "[ERR] wdb::SKV_ContMKCStg::sortDBEntries: Partition[0].keyMin > Partition[1].keyMin. "
      "Please double check!\n",
      o.err);
  quiet([&] { s->close(); });
}

TEST_F(ContStore, AnExistingObsIsNeverOverwrittenAndNewIndicesSkipTakenNames) {
  conttest::writeFile(file("data-0.kch.obs"), "old zero");
  conttest::writeFile(file("data-1.kch.obs"), "old one");
  auto s = makeStore(dir, 1, 1);
  openStore(*s);
  Output o = captured([&] { EXPECT_EQ(0, put(*s, "a0")); });
  EXPECT_EQ("Create new partition with KeyMIN=\"a0\"\n" + openedPart(2), o.out);
  // Retiring partition 2 over an existing "data-2.kch.obs" fails and keeps both files.
  conttest::writeFile(file("data-2.kch.obs"), "old two");
  o = captured([&] { EXPECT_EQ(0, put(*s, "b0")); });
  EXPECT_EQ("Create new partition with KeyMIN=\"b0\"\n" + openedPart(3), o.out);
  EXPECT_EQ(
      "[ERR] wdb::SKV_ContMKCStg::obsoleteDBFile: Rename obsolete partition is fail: "
      "File exists: \"" +
          file("data-2.kch") + "\" -> \"" + file("data-2.kch.obs") + "\"\n",
      o.err);
  EXPECT_EQ("old two", conttest::readFile(file("data-2.kch.obs")));
  EXPECT_TRUE(exists(file("data-2.kch")));
  EXPECT_EQ("old zero", conttest::readFile(file("data-0.kch.obs")));
  EXPECT_EQ("old one", conttest::readFile(file("data-1.kch.obs")));
  quiet([&] { s->close(); });
  EXPECT_EQ(ss(wdb::encodeMetaEntry(xs(file("data-3.kch")), "b0")), meta("partition-3"));
}

TEST_F(ContStore, LimitsThatWouldRollOverEveryPut) {
  // A record limit of 2^32 - 1 does not wrap to 0.
  auto s = makeStore(dir, 8, UINT32_MAX);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "a1", "a2", "a3"}) ASSERT_EQ(0, put(*s, k));
  });
  EXPECT_FALSE(exists(file("data-1.kch")));
  quiet([&] { s->close(); });

  // A byte limit below an empty partition: warned at open; a partition holding only the
  // reserved record never counts as full.
  conttest::TmpDir other;
  auto t = makeStore(other, 8, 100, 1);
  int r = -99;
  Output o = captured([&] { r = t->open(kMode); });
  ASSERT_EQ(0, r);
  EXPECT_NE(std::string::npos,
            o.out.find("\n[WRN] wdb::SKV_ContMKCStg::open: Partition byte limit 1 is below "
                       "the size of an empty partition file ("));
  quiet([&] {
    ASSERT_EQ(0, t->setKeyMin("m0", 2));
    ASSERT_EQ(0, put(*t, "m1"));
  });
  EXPECT_FALSE(exists(other.file("data-1.kch")));
  quiet([&] { ASSERT_EQ(0, put(*t, "m2")); });  // now full by bytes
  EXPECT_TRUE(exists(other.file("data-1.kch")));
  quiet([&] { t->close(); });
}

TEST_F(ContStore, APartitionLimitOfZeroSetWhileOpenKeepsTheNewestPartition) {
  auto s = makeStore(dir, 4, 1);
  openStore(*s);
  s->setPartitions(0);
  quiet([&] {
    EXPECT_EQ(0, put(*s, "a0"));
    EXPECT_EQ(0, put(*s, "b0"));
  });
  EXPECT_EQ("b0", ss(s->getKeyMin()));
  EXPECT_EQ("v", get(*s, "b0"));
  EXPECT_TRUE(exists(file("data-0.kch.obs")));
  EXPECT_TRUE(exists(file("data-1.kch")));
  quiet([&] { s->close(); });
  EXPECT_EQ(u32le(1), meta("num_partitions"));
}

TEST_F(ContStore, KnownPartitionsAreNeverTruncated) {
  auto s = makeStore(dir, 4, 100);
  openStore(*s);
  quiet([&] {
    ASSERT_EQ(0, put(*s, "a0", "kept"));
    s->close();
  });
  openStore(*s, kMode | 8);  // truncate bit
  EXPECT_EQ("kept", get(*s, "a0"));
}

TEST_F(ContStore, SecondOpenOfAnOpenStoreChangesNothing) {
  auto s = makeStore(dir, 4, 100);
  openStore(*s);
  quiet([&] { ASSERT_EQ(0, put(*s, "a0")); });
  Output o = captured([&] { EXPECT_EQ(0, s->open(kMode)); });
  EXPECT_EQ("[inf] wdb::SKV_ContMKCStg::open: DB is already opened\n", o.out);
  EXPECT_EQ("v", get(*s, "a0"));
}

}  // namespace

namespace {

class ThrowingComparator : public wdb::KComparator {
 public:
  ~ThrowingComparator() override {}
  int compare(const void* a, size_t aLen, const void* b, size_t bLen) const override {
    if (armed) throw std::runtime_error("boom");
    return bytes.compare(a, aLen, b, bLen);
  }
  bool equal(const void* a, size_t aLen, const void* b, size_t bLen) const override {
    if (armed) throw std::runtime_error("boom");
    return bytes.equal(a, aLen, b, bLen);
  }
  std::atomic<bool> armed{false};
  wdb::BytewiseKComparator bytes;
};

TEST_F(ContStore, AnExceptionInOpenRollsBackToClosed) {
  auto s = makeStore(dir, 4, 1);
  openStore(*s);
  quiet([&] {
    for (const char* k : {"a0", "b0"}) ASSERT_EQ(0, put(*s, k));
    s->close();
  });
  ThrowingComparator cmp;
  s->setKComparator(&cmp);
  cmp.armed = true;
  quiet([&] { EXPECT_THROW(s->open(kMode), std::runtime_error); });
  EXPECT_FALSE(s->isOpen());
  EXPECT_EQ("<-9>", get(*s, "a0"));
  cmp.armed = false;
  openStore(*s);
  EXPECT_EQ("v", get(*s, "a0"));
  EXPECT_EQ("v", get(*s, "b0"));
  quiet([&] { s->close(); });
  s->setKComparator(nullptr);
}

TEST_F(ContStore, AFailedKeyMinScanFailsTheOpenAndLeavesTheFile) {
  conttest::makePartitionFile(file("data-0.kch"), {{"m1", "1"}, {"m0", "0"}});
  ThrowingComparator cmp;
  cmp.armed = true;
  auto s = makeStore(dir, 4, 100);
  s->setKComparator(&cmp);
  int r = -99;
  Output o = captured([&] { r = s->open(kMode); });
  EXPECT_EQ(-1, r);
  EXPECT_NE(std::string::npos, o.err.find("[ERR] wdb::SKV_ContMKCStg::iterateKeyRange: boom\n"));
  EXPECT_NE(std::string::npos,
            o.err.find("[ERR] wdb::SKV_ContMKCStg::openPartitions: Fail scan partition-0: \"" +
                       file("data-0.kch") + "\"\n"));
  EXPECT_FALSE(s->isOpen());
  EXPECT_TRUE(exists(file("data-0.kch")));
  EXPECT_FALSE(exists(file("data-0.kch.obs")));
  cmp.armed = false;
  openStore(*s);
  EXPECT_EQ("m0", ss(s->getKeyMin()));
  quiet([&] { s->close(); });
}

}  // namespace
