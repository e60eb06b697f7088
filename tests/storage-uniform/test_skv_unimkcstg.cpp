// The uniform partitioned store on real partition files in fresh temporary directories.
#include "src/wdb/kc/SKV_UniMKCStg.h"

#include <Poco/AutoPtr.h>
#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/Util/MapConfiguration.h>
#include <gtest/gtest.h>
#include <kcpolydb.h>
#include <libhashkit-1.0/hashkit.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/tmpdir.h"

namespace {

using wdb::SKV_UniMKCStg;

const unsigned MODE = kyotocabinet::PolyDB::OWRITER | kyotocabinet::PolyDB::OCREATE;
const char* const TUNE = "#buckets=1024";

// Keys stored in one partition file, read with Kyoto Cabinet directly (store closed).
std::set<std::string> keysIn(const std::string& path) {
  std::set<std::string> keys;
  kyotocabinet::PolyDB db;
  if (!db.open(path, kyotocabinet::PolyDB::OREADER)) {
    ADD_FAILURE() << "cannot open " << path;
    return keys;
  }
  kyotocabinet::DB::Cursor* cur = db.cursor();
  cur->jump();
  std::string key;
  while (cur->get_key(&key, true)) keys.insert(key);
  delete cur;
  db.close();
  return keys;
}

void writeKC(const std::string& path, const std::string& key, const std::string& value) {
  kyotocabinet::PolyDB db;
  ASSERT_TRUE(db.open(path, kyotocabinet::PolyDB::OWRITER | kyotocabinet::PolyDB::OCREATE));
  ASSERT_TRUE(db.set(key, value));
  db.close();
}

void touch(const std::string& path) { std::ofstream(path.c_str()).put('x'); }

size_t entriesIn(const std::string& dir) {
  size_t n = 0;
  Poco::DirectoryIterator end;
  for (Poco::DirectoryIterator it(dir); it != end; ++it) ++n;
  return n;
}

class CountVisitor : public kyotocabinet::DB::Visitor {
 public:
  const char* visit_full(const char* kbuf, size_t ksiz, const char*, size_t, size_t*) override {
    keys.push_back(std::string(kbuf, ksiz));
    return NOP;
  }
  std::vector<std::string> keys;
};

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int put(wdb::ISKVStorage& s, const std::string& k, const std::string& v,
        int policy = mopra::PutPolicy::ADD_OR_UDP) {
  return s.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), policy);
}

// The value of a key, or "<rc>" for a failure.
std::string get(const wdb::ISKVStorage& s, const std::string& k) {
  wdb::ValueBuffer buf(s);
  const int rc = s.getTx0(nullptr, buf.out(), buf.outLength(), k.data(), k.size());
  if (buf.data() == nullptr) return "<" + std::to_string(rc) + ">";
  EXPECT_EQ('\0', buf.chars()[buf.length()]);
  return std::string(buf.chars(), buf.length());
}

class UniStore : public ::testing::Test {
 protected:
  void configure(SKV_UniMKCStg& s, uint32_t partitions, const std::string& name = "users") {
    s.setDBHome(xstring(home.path()));
    s.setDBName(xstring(name));
    s.setPartitions(partitions);
    s.setTuneOptions(TUNE);
  }
  std::string part(unsigned i, const std::string& name = "users") const {
    return home.file(name + "-" + std::to_string(i) + ".kch");
  }
  std::string openCaptured(SKV_UniMKCStg& s, int expected = 0, unsigned mode = MODE) {
    ::testing::internal::CaptureStdout();
    const int rc = s.open(mode);
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(expected, rc);
    return out;
  }

  TmpDir home;
};

TEST(UniStoreHash, JenkinsValuesArePinned) {
  EXPECT_EQ(0xdeadbefcu, libhashkit_jenkins("", 0));
  EXPECT_EQ(0xe0a38690u, libhashkit_jenkins("a", 1));
  EXPECT_EQ(0x2e0cc8f3u, libhashkit_jenkins("hello", 5));
}

TEST_F(UniStore, DefaultsAndFixedAnswers) {
  SKV_UniMKCStg s;
  EXPECT_EQ(8u, s.getPartitions());
  EXPECT_EQ("kch", std::string(s.getDBType().c_str()));
  EXPECT_EQ("#buckets=10485760#map=536870912#options=l", std::string(s.getTuneOptions().c_str()));
  EXPECT_TRUE(s.getDBHome().empty());
  EXPECT_TRUE(s.getDBName().empty());
  EXPECT_EQ(nullptr, s.getKHasher());
  EXPECT_FALSE(s.isOpen());

  configure(s, 2);
  openCaptured(s);
  ASSERT_EQ(0, put(s, "k1", "v1"));
  ASSERT_EQ(0, put(s, "k2", "v2"));
  // By design: size 0, always empty, and clear keeps every record.
  EXPECT_EQ(0u, s.size());
  EXPECT_TRUE(s.empty());
  s.clear();
  EXPECT_EQ(2, s.kc_count());
  EXPECT_EQ("v1", get(s, "k1"));
  EXPECT_EQ(UINT64_MAX, s.maxSize());
  EXPECT_EQ(0, s.flush());
  EXPECT_EQ(nullptr, s.makeTransaction());
  EXPECT_EQ(nullptr, s.makeTransaction(1u));
  EXPECT_EQ(nullptr, s.makeSKVCursor(nullptr));
  EXPECT_EQ(nullptr, s.makeCursor(nullptr));
  EXPECT_EQ(-12, s.notifProcTx(nullptr, nullptr, nullptr));
}

TEST_F(UniStore, RoutesByJenkinsModuloCountAndEmptyKeyToPartitionZero) {
  {
    SKV_UniMKCStg s;
    configure(s, 5);
    openCaptured(s);
    ASSERT_EQ(0, put(s, "hello", "h"));  // 0x2e0cc8f3 % 5 == 1
    ASSERT_EQ(0, put(s, "a", "a"));      // 0xe0a38690 % 5 == 0
    ASSERT_EQ(0, put(s, "", "empty"));   // hash would give 2; an empty key goes to 0
    EXPECT_EQ("empty", get(s, ""));
    // A null key of length 0 is the empty key.
    void* buf = nullptr;
    size_t len = 0;
    ASSERT_EQ(0, s.getTx0(nullptr, &buf, &len, nullptr, 0));
    EXPECT_EQ("empty", std::string(static_cast<char*>(buf), len));
    s.freeData(buf);
    EXPECT_EQ(0, s.existTx0(nullptr, nullptr, 0));
    // A null key with a length is refused, never read.
    EXPECT_EQ(-4, s.putTx0(nullptr, nullptr, 3, "v", 1, mopra::PutPolicy::ADD_OR_UDP));
    EXPECT_EQ(-4, s.existTx0(nullptr, nullptr, 3));
    EXPECT_EQ(-4, s.removeTx0(nullptr, nullptr, 3));
    EXPECT_EQ(-4, s.getTx0(nullptr, &buf, &len, nullptr, 3));
    EXPECT_EQ(-4, s.popTx0(nullptr, &buf, &len, nullptr, 3));
  }
  EXPECT_EQ((std::set<std::string>{"", "a"}), keysIn(part(0)));
  EXPECT_EQ((std::set<std::string>{"hello"}), keysIn(part(1)));
  for (unsigned i : {2u, 3u, 4u}) EXPECT_TRUE(keysIn(part(i)).empty()) << i;
}

TEST_F(UniStore, HelloGoesToPartitionThreeOfFour) {
  {
    SKV_UniMKCStg s;
    configure(s, 4);
    openCaptured(s);
    ASSERT_EQ(0, put(s, "hello", "world"));
  }
  EXPECT_EQ((std::set<std::string>{"hello"}), keysIn(part(3)));
  for (unsigned i : {0u, 1u, 2u}) EXPECT_TRUE(keysIn(part(i)).empty()) << i;
}

TEST_F(UniStore, OnePartitionHoldsEveryKey) {
  {
    SKV_UniMKCStg s;
    configure(s, 1);
    openCaptured(s);
    for (const char* k : {"", "a", "hello", "zz"}) ASSERT_EQ(0, put(s, k, "v"));
  }
  EXPECT_EQ((std::set<std::string>{"", "a", "hello", "zz"}), keysIn(part(0)));
  EXPECT_FALSE(exists(part(1)));
}

class ConstHasher : public SKV_UniMKCStg::KHasher {
 public:
  explicit ConstHasher(uint64_t h) : value(h), calls(0) {}
  uint64_t hash(const void*, size_t) const override {
    ++calls;
    return value;
  }
  uint64_t value;
  mutable int calls;
};

TEST_F(UniStore, InstalledHasherRoutesIn64Bits) {
  // (2^32 + 1) % 3 is 2; a hash truncated to 32 bits would give 1 % 3, partition 1.
  ConstHasher hasher((uint64_t{1} << 32) + 1);
  {
    SKV_UniMKCStg s;
    configure(s, 3);
    s.setKHasher(&hasher);
    EXPECT_EQ(&hasher, s.getKHasher());
    openCaptured(s);
    ASSERT_EQ(0, put(s, "k", "v"));
    EXPECT_EQ(1, hasher.calls);
    ASSERT_EQ(0, put(s, "", "e"));  // the empty key is not hashed
    EXPECT_EQ(1, hasher.calls);
  }
  EXPECT_EQ((std::set<std::string>{"k"}), keysIn(part(2)));
  EXPECT_EQ((std::set<std::string>{""}), keysIn(part(0)));
}

TEST_F(UniStore, ListingLinesAreExact) {
  touch(part(7));  // a stray partition beyond the count: listed, not used
  SKV_UniMKCStg s;
  configure(s, 2);
  const std::string out = openCaptured(s);
  const std::string h = home.path();
  // clang-format off
  const std::string expected =
      "=== List of DB Paths from Config & in Home dir ===\n" + h + "/users-7.kch\n" +
      "=== List of DB Entries all ===\n"
      "Partition[0]: \n"
      "Partition[1]: \n"
      "[inf] wdb::SKV_KCStg::open: DB is opened successfully: \"" + h + "/users-1.kch" + TUNE +
      "\"\n"
      "[inf] wdb::SKV_KCStg::open: DB is opened successfully: \"" + h + "/users-0.kch" + TUNE +
      "\"\n"
      "=== List of DB Entries opened ===\n"
      "Partition[0]: " + h + "/users-0.kch\n"
      "Partition[1]: " + h + "/users-1.kch\n";
  // clang-format on
  EXPECT_EQ(expected, out);
  EXPECT_TRUE(s.isOpen());

  // A second open on the open store rescans and reports the partitions as open.
  const std::string again = openCaptured(s);
  // clang-format off
  const std::string expectedAgain =
      "=== List of DB Paths from Config & in Home dir ===\n" + h + "/users-0.kch\n" + h +
      "/users-1.kch\n" + h + "/users-7.kch\n" +
      "=== List of DB Entries all ===\n"
      "Partition[0]: " + h + "/users-0.kch\n"
      "Partition[1]: " + h + "/users-1.kch\n"
      "[inf] wdb::SKV_KCStg::open: DB is already opened\n"
      "[inf] wdb::SKV_KCStg::open: DB is already opened\n"
      "=== List of DB Entries opened ===\n"
      "Partition[0]: " + h + "/users-0.kch\n"
      "Partition[1]: " + h + "/users-1.kch\n";
  // clang-format on
  EXPECT_EQ(expectedAgain, again);
}

TEST_F(UniStore, RawOperationsAndResultCodes) {
  SKV_UniMKCStg s;
  configure(s, 4);
  openCaptured(s);
  const int ADD = mopra::PutPolicy::ADD, UPD = mopra::PutPolicy::UPDATE,
            SET = mopra::PutPolicy::ADD_OR_UDP;
  struct Step {
    const char* what;
    int rc;
    int expected;
  };
  const Step steps[] = {
      {"add new", put(s, "hello", "v1", ADD), 0},
      {"add existing", put(s, "hello", "v2", ADD), -10},
      {"update existing", put(s, "hello", "v3", UPD), 0},
      {"update missing", put(s, "nope", "x", UPD), -9},
      {"set new", put(s, "a", "va", SET), 0},
      {"set existing", put(s, "a", "vb", SET), 0},
      {"policy 0", put(s, "p", "x", 0), -4},
      {"policy 4", put(s, "p", "x", 4), -4},
      {"exist present", s.existTx0(nullptr, "hello", 5), 0},
      {"exist absent", s.existTx0(nullptr, "nope", 4), -9},
      {"remove absent", s.removeTx0(nullptr, "nope", 4), 9},
  };
  for (const Step& st : steps) EXPECT_EQ(st.expected, st.rc) << st.what;
  EXPECT_EQ("v3", get(s, "hello"));
  EXPECT_EQ("vb", get(s, "a"));
  EXPECT_EQ("<-9>", get(s, "nope"));
  EXPECT_EQ("<-9>", get(s, "p"));

  // An empty value comes back as length 0 and a single NUL.
  ASSERT_EQ(0, put(s, "e", ""));
  void* buf = nullptr;
  size_t len = 7;
  ASSERT_EQ(0, s.getTx0(nullptr, &buf, &len, "e", 1));
  ASSERT_NE(nullptr, buf);
  EXPECT_EQ(0u, len);
  EXPECT_EQ('\0', *static_cast<char*>(buf));
  s.freeData(buf);

  // pop returns the value and removes the record.
  buf = nullptr;
  len = 0;
  ASSERT_EQ(0, s.popTx0(nullptr, &buf, &len, "hello", 5));
  EXPECT_EQ("v3", std::string(static_cast<char*>(buf), len));
  s.freeData(buf);
  EXPECT_EQ(-9, s.existTx0(nullptr, "hello", 5));
  buf = nullptr;
  EXPECT_EQ(-9, s.popTx0(nullptr, &buf, &len, "hello", 5));
  EXPECT_EQ(nullptr, buf);
  EXPECT_EQ(0, s.removeTx0(nullptr, "a", 1));
  EXPECT_EQ(9, s.removeTx0(nullptr, "a", 1));

  // The string operations of the interface go through the same raw operations.
  xstring value("stale");
  EXPECT_EQ(0, s.putTx(nullptr, xstring("bin\0key", 7), xstring("v\0w", 3), SET));
  EXPECT_EQ(0, s.getTx(nullptr, value, xstring("bin\0key", 7)));
  EXPECT_EQ(std::string("v\0w", 3), std::string(value.data(), value.size()));
  EXPECT_EQ(-9, s.getTx(nullptr, value, xstring("bin")));
  EXPECT_TRUE(value.empty());
  EXPECT_EQ(0, s.existTx(nullptr, xstring("bin\0key", 7)));
  EXPECT_EQ(0, s.removeTx(nullptr, xstring("bin\0key", 7)));

  EXPECT_EQ(1, s.kc_count());  // "e"
}

TEST_F(UniStore, ClosedStoreAnswersNotOpened) {
  SKV_UniMKCStg s;
  void* buf = reinterpret_cast<void*>(0x1);
  size_t len = 5;
  EXPECT_EQ(-28, put(s, "k", "v"));
  EXPECT_EQ(-28, s.getTx0(nullptr, &buf, &len, "k", 1));
  EXPECT_EQ(-28, s.popTx0(nullptr, &buf, &len, "k", 1));
  EXPECT_EQ(reinterpret_cast<void*>(0x1), buf);  // outputs untouched
  EXPECT_EQ(5u, len);
  EXPECT_EQ(-28, s.removeTx0(nullptr, "k", 1));
  EXPECT_EQ(-28, s.existTx0(nullptr, "k", 1));
  EXPECT_EQ(-28, s.existTx0(nullptr, nullptr, 3));  // not open comes first
  EXPECT_EQ(0, s.kc_count());
  EXPECT_EQ(0, s.kc_size());
  EXPECT_EQ(0, s.kc_iterate(nullptr, 0));
  EXPECT_EQ(0, s.close());

  configure(s, 2);
  openCaptured(s);
  ASSERT_EQ(0, put(s, "k", "v"));
  EXPECT_EQ(0, s.close());
  EXPECT_FALSE(s.isOpen());
  EXPECT_EQ(-28, put(s, "k", "v"));
  EXPECT_EQ(0, s.kc_count());
}

TEST_F(UniStore, OpenRefusesMissingConfiguration) {
  struct Case {
    const char* what;
    std::string home, name, type;
    uint32_t partitions;
  };
  const Case cases[] = {
      {"no home", "", "users", "kch", 4},
      {"no name", home.path(), "", "kch", 4},
      {"no type", home.path(), "users", "", 4},
      {"no partitions", home.path(), "users", "kch", 0},
  };
  for (const Case& c : cases) {
    SKV_UniMKCStg s;
    s.setDBHome(xstring(c.home));
    s.setDBName(xstring(c.name));
    s.setDBType(xstring(c.type));
    s.setPartitions(c.partitions);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(-5, s.open(MODE)) << c.what;
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << c.what;
    EXPECT_FALSE(s.isOpen()) << c.what;
  }
}

// Every partition of a uniform store is open at once, and a process holds about 510 open
// databases: a larger count is refused before any file is touched, and reading its
// configuration does not walk every index.
TEST_F(UniStore, OpenRefusesMorePartitionsThanAProcessCanHoldOpen) {
  for (const char* count : {"501", "100000", "2147483647"}) {
    Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
    cfg->setString("users.home", home.path());
    cfg->setString("users.dbname", "users");
    cfg->setString("users.partitions", count);
    cfg->setString("users.partitions[0].path", home.file("users-0.kch"));
    SKV_UniMKCStg s;
    EXPECT_EQ(0, s.loadConfig("users", *cfg)) << count;
    EXPECT_EQ(std::stoul(count), s.getPartitions());
    ::testing::internal::CaptureStderr();
    openCaptured(s, -5);
    EXPECT_EQ(std::string("[ERR] wdb::SKV_UniMKCStg::open: ") + count +
                  " partitions are above the limit of 500 partitions a process can hold open "
                  "at once\n",
              ::testing::internal::GetCapturedStderr());
    EXPECT_FALSE(s.isOpen());
    EXPECT_EQ(0u, entriesIn(home.path())) << count;
  }
}

// The configured paths are read as the keys "<name>.partitions[<i>].path" with i below the
// count, written as "%d" writes it.
TEST_F(UniStore, ConfiguredPathKeysAreReadForEveryIndexBelowTheCountOnly) {
  TmpDir disk2;
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  cfg->setString("users.home", home.path());
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "12");
  cfg->setString("users.partitions[11].path", disk2.file("users-1.kch"));  // read
  cfg->setString("users.partitions[12].path", disk2.file("users-2.kch"));  // beyond
  cfg->setString("users.partitions[03].path", disk2.file("users-3.kch"));  // not "%d"
  cfg->setString("users.partitions[+4].path", disk2.file("users-4.kch"));  // not "%d"
  cfg->setString("users.partitions[5]", disk2.file("users-5.kch"));        // no ".path"
  cfg->setString("users.partitions[6].path", "");                          // empty
  cfg->setString("users.partitions[0].path", disk2.file("users-0.kch"));   // read
  cfg->setString("other.partitions[7].path", disk2.file("users-7.kch"));   // other store
  SKV_UniMKCStg s;
  ASSERT_EQ(0, s.loadConfig("users", *cfg));
  s.setTuneOptions(TUNE);
  const std::string out = openCaptured(s);
  EXPECT_NE(std::string::npos,
            out.find("=== List of DB Paths from Config & in Home dir ===\n" +
                     disk2.file("users-0.kch") + "\n" + disk2.file("users-1.kch") +
                     "\n=== List of DB Entries all ===\n"))
      << out;
}

TEST_F(UniStore, OpenRefusesNamesAndPathsItCannotFormatOrOpenSafely) {
  struct Case {
    const char* what;
    std::string home, name, type;
    uint32_t partitions;
  };
  const std::string longName(250, 'n');  // + "-0.kch" is 256 characters
  const Case cases[] = {
      {"name too long", home.path(), longName, "kch", 1},
      // 249 characters fit for partitions 0-9 but not for partition 10.
      {"last index too long", home.path(), std::string(249, 'n'), "kch", 11},
      {"type too long", home.path(), "users", std::string(300, 't'), 1},
      {"'#' in home", home.file("a#b"), "users", "kch", 2},
      {"'#' in name", home.path(), "us#buckets=1", "kch", 2},
      {"NUL in name", home.path(), std::string("us\0er", 5), "kch", 2},
  };
  for (const Case& c : cases) {
    SKV_UniMKCStg s;
    s.setDBHome(xstring(c.home));
    s.setDBName(xstring(c.name));
    s.setDBType(xstring(c.type));
    s.setPartitions(c.partitions);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(-4, s.open(MODE)) << c.what;
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << c.what;
    EXPECT_FALSE(s.isOpen()) << c.what;
  }
  // Nothing was created.
  EXPECT_FALSE(exists(home.file("a#b")));
  EXPECT_EQ(0u, entriesIn(home.path()));
}

TEST_F(UniStore, OpenFailsWhenNoPartitionOpens) {
  SKV_UniMKCStg s;
  configure(s, 3);
  s.setDBType("nosuchtype");
  ::testing::internal::CaptureStderr();
  const std::string out = openCaptured(s, -1);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, out.find("=== List of DB Entries opened ===\n"));
  EXPECT_NE(std::string::npos, err.find("Fail open DB"));
  EXPECT_FALSE(s.isOpen());
  EXPECT_EQ(-28, put(s, "k", "v"));
  EXPECT_EQ(0, s.kc_count());

  // Reader mode on a home without files: nothing to open either.
  SKV_UniMKCStg r;
  configure(r, 2);
  ::testing::internal::CaptureStderr();
  openCaptured(r, -1, kyotocabinet::PolyDB::OREADER);
  ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(r.isOpen());
}

TEST_F(UniStore, HomeThatCannotBeListedRaisesAndLeavesTheStoreClosed) {
  SKV_UniMKCStg s;
  configure(s, 2);
  s.setDBHome(xstring(home.file("missing")));
  // Without the create bit the home is not made, and listing it fails.
  EXPECT_THROW(s.open(kyotocabinet::PolyDB::OREADER), Poco::FileException);
  EXPECT_FALSE(s.isOpen());
  EXPECT_EQ(-28, put(s, "k", "v"));  // the mutex was released on the way out
  // With the create bit the home and its parents are made.
  s.setDBHome(xstring(home.file("missing/deeper")));
  openCaptured(s);
  EXPECT_TRUE(exists(home.file("missing/deeper/users-1.kch")));
}

class ThrowingHasher : public SKV_UniMKCStg::KHasher {
 public:
  uint64_t hash(const void*, size_t) const override { throw std::runtime_error("hasher"); }
};

TEST_F(UniStore, HasherExceptionPassesAndReleasesTheMutex) {
  ThrowingHasher hasher;
  SKV_UniMKCStg s;
  configure(s, 2);
  s.setKHasher(&hasher);
  openCaptured(s);
  EXPECT_THROW(put(s, "k", "v"), std::runtime_error);
  EXPECT_EQ(0, put(s, "", "v"));  // the empty key needs no hash
  s.setKHasher(nullptr);
  EXPECT_EQ(0, put(s, "k", "v"));
}

TEST_F(UniStore, PartialOpenServesTheOpenPartitions) {
  // A directory where partition 3's file would be: that partition cannot open.
  ASSERT_EQ(0, ::mkdir(part(3).c_str(), 0755));
  SKV_UniMKCStg s;
  configure(s, 4);
  ::testing::internal::CaptureStderr();
  openCaptured(s, 0);
  ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(s.isOpen());
  EXPECT_EQ(-28, put(s, "hello", "v"));  // partition 3
  EXPECT_EQ("<-28>", get(s, "hello"));
  EXPECT_EQ(0, put(s, "a", "v"));  // partition 0
  // Iteration visits the open partitions and reports the one that is not.
  CountVisitor v;
  EXPECT_EQ(-28, s.kc_iterate(&v, 0));
  EXPECT_EQ(std::vector<std::string>{"a"}, v.keys);

  // Once the obstacle is gone, a second open tries the failed partition again.
  ASSERT_EQ(0, ::rmdir(part(3).c_str()));
  openCaptured(s, 0);
  EXPECT_EQ(0, put(s, "hello", "v"));
  EXPECT_EQ("v", get(s, "hello"));
}

TEST_F(UniStore, ReopenFindsEveryRecord) {
  const int N = 300;
  {
    SKV_UniMKCStg s;
    configure(s, 4);
    openCaptured(s);
    for (int i = 0; i < N; ++i)
      ASSERT_EQ(0, put(s, "key" + std::to_string(i), "value" + std::to_string(i)));
    EXPECT_EQ(N, s.kc_count());
    // close and open on the same object
    EXPECT_EQ(0, s.close());
    openCaptured(s);
    EXPECT_EQ(N, s.kc_count());
    for (int i = 0; i < N; i += 7)
      EXPECT_EQ("value" + std::to_string(i), get(s, "key" + std::to_string(i)));
  }
  // A new store over the same home.
  SKV_UniMKCStg s;
  configure(s, 4);
  openCaptured(s);
  EXPECT_EQ(N, s.kc_count());
  for (int i = 0; i < N; ++i)
    ASSERT_EQ("value" + std::to_string(i), get(s, "key" + std::to_string(i)));
  // Each partition holds a share.
  s.close();
  size_t total = 0;
  for (unsigned p = 0; p < 4; ++p) {
    const size_t n = keysIn(part(p)).size();
    EXPECT_GT(n, 0u);
    total += n;
  }
  EXPECT_EQ(static_cast<size_t>(N), total);
}

TEST_F(UniStore, PartitionCountChangedWhileOpenTakesEffectAtNextOpen) {
  SKV_UniMKCStg s;
  configure(s, 4);
  openCaptured(s);
  ASSERT_EQ(0, put(s, "hello", "v"));
  s.setPartitions(8);
  EXPECT_EQ(8u, s.getPartitions());
  // Still routed modulo 4: found, and new keys never reach past the open partitions.
  EXPECT_EQ("v", get(s, "hello"));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, put(s, "k" + std::to_string(i), "v"));
  s.setPartitions(2);
  EXPECT_EQ("v", get(s, "hello"));
  for (int i = 0; i < 100; ++i) ASSERT_EQ("v", get(s, "k" + std::to_string(i)));

  // Reopening the open store keeps its four partitions.
  const std::string again = openCaptured(s);
  EXPECT_NE(std::string::npos, again.find("Partition[3]: "));
  EXPECT_EQ(std::string::npos, again.find("Partition[4]: "));

  // A reload of the configuration while open does the same.
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  cfg->setString("users.home", home.path());
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "1");
  cfg->setString("users.tune_options", TUNE);
  EXPECT_EQ(0, s.loadConfig("users", *cfg));
  EXPECT_EQ(1u, s.getPartitions());
  EXPECT_EQ("v", get(s, "hello"));

  // After close the new count applies ("hello": hash % 8 is 3 as well).
  s.setPartitions(8);
  s.close();
  const std::string out = openCaptured(s);
  EXPECT_NE(std::string::npos, out.find("Partition[7]: " + part(7) + "\n"));
  EXPECT_EQ("v", get(s, "hello"));
  EXPECT_TRUE(exists(part(7)));
}

TEST_F(UniStore, ConfiguredPathsServeTheIndexInTheirFileName) {
  TmpDir disk2;
  const std::string elsewhere = disk2.file("users-3.kch");
  const std::string ignored = disk2.file("other.kch");
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  cfg->setString("users.home", home.path());
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "4");
  cfg->setString("users.tune_options", TUNE);
  cfg->setString("users.partitions[0].path", elsewhere);  // serves partition 3, not 0
  cfg->setString("users.partitions[1].path", ignored);
  cfg->setString("users.partitions[4].path", disk2.file("users-2.kch"));  // beyond the count
  {
    SKV_UniMKCStg s;
    EXPECT_EQ(0, s.loadConfig("users", *cfg));
    EXPECT_EQ(4u, s.getPartitions());
    EXPECT_EQ("kch", std::string(s.getDBType().c_str()));
    const std::string out = openCaptured(s);
    EXPECT_NE(std::string::npos, out.find("=== List of DB Paths from Config & in Home dir ===\n" +
                                          ignored + "\n" + elsewhere +
                                          "\n=== List of DB Entries all ===\n"
                                          "Partition[0]: \nPartition[1]: \nPartition[2]: \n"
                                          "Partition[3]: " +
                                          elsewhere + "\n"));
    EXPECT_NE(std::string::npos, out.find("Partition[0]: " + part(0) + "\n"));
    ASSERT_EQ(0, put(s, "hello", "far"));
    // close and open keep the configured candidates
    s.close();
    const std::string again = openCaptured(s);
    EXPECT_NE(std::string::npos, again.find("Partition[3]: " + elsewhere + "\n"));
    EXPECT_EQ("far", get(s, "hello"));
  }
  EXPECT_EQ((std::set<std::string>{"hello"}), keysIn(elsewhere));
  EXPECT_FALSE(exists(part(3)));
  EXPECT_FALSE(exists(ignored));
  EXPECT_FALSE(exists(disk2.file("users-2.kch")));

  // A new store from the same configuration finds the record.
  SKV_UniMKCStg s;
  s.loadConfig("users", *cfg);
  openCaptured(s);
  EXPECT_EQ("far", get(s, "hello"));
}

TEST_F(UniStore, LoadConfigRequiresHomeAndNameAndANonNegativeCount) {
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  SKV_UniMKCStg s;
  EXPECT_THROW(s.loadConfig("users", *cfg), Poco::NotFoundException);
  cfg->setString("users.home", home.path());
  EXPECT_THROW(s.loadConfig("users", *cfg), Poco::NotFoundException);
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "many");
  EXPECT_THROW(s.loadConfig("users", *cfg), Poco::SyntaxException);
  cfg->setString("users.partitions", "-1");
  EXPECT_THROW(s.loadConfig("users", *cfg), Poco::InvalidArgumentException);
  EXPECT_EQ(8u, s.getPartitions());
  cfg->setString("users.partitions", "3");
  cfg->setString("users.dbtype", "kct");
  EXPECT_EQ(0, s.loadConfig("users", *cfg));
  EXPECT_EQ(3u, s.getPartitions());
  EXPECT_EQ("kct", std::string(s.getDBType().c_str()));
  EXPECT_EQ(home.path(), std::string(s.getDBHome().c_str()));
  EXPECT_EQ("users", std::string(s.getDBName().c_str()));
  EXPECT_EQ("#buckets=10485760#map=536870912#options=l", std::string(s.getTuneOptions().c_str()));
}

TEST_F(UniStore, CanonicalNameWinsOverStrayClaimants) {
  writeKC(part(3), "hello", "canonical");
  writeKC(home.file("users-3.old.kch"), "hello", "stray");
  writeKC(home.file("users-03.kch"), "hello", "padded");
  SKV_UniMKCStg s;
  configure(s, 4);
  const std::string out = openCaptured(s);
  const std::string h = home.path();
  EXPECT_NE(std::string::npos,
            out.find("[WRN] wdb::SKV_UniMKCStg::open: Partition[3] uses \"" + part(3) + "\"; \"" +
                     h + "/users-03.kch\" is left alone\n"));
  EXPECT_NE(std::string::npos,
            out.find("[WRN] wdb::SKV_UniMKCStg::open: Partition[3] uses \"" + part(3) + "\"; \"" +
                     h + "/users-3.old.kch\" is left alone\n"));
  EXPECT_NE(std::string::npos, out.find("Partition[3]: " + part(3) + "\n"));
  EXPECT_EQ("canonical", get(s, "hello"));
  ASSERT_EQ(0, put(s, "hello", "new"));
  s.close();
  // The strays are untouched.
  EXPECT_EQ((std::set<std::string>{"hello"}), keysIn(home.file("users-3.old.kch")));
  kyotocabinet::PolyDB db;
  ASSERT_TRUE(db.open(home.file("users-3.old.kch"), kyotocabinet::PolyDB::OREADER));
  std::string v;
  ASSERT_TRUE(db.get("hello", &v));
  EXPECT_EQ("stray", v);
  db.close();
}

TEST_F(UniStore, WithoutCanonicalNameTheLastInByteOrderWins) {
  writeKC(home.file("users-003.kch"), "hello", "three zeros");
  writeKC(home.file("users-03.kch"), "hello", "one zero");
  SKV_UniMKCStg s;
  configure(s, 4);
  const std::string out = openCaptured(s);
  EXPECT_NE(std::string::npos, out.find("Partition[3]: " + home.file("users-03.kch") + "\n"));
  EXPECT_NE(std::string::npos, out.find("\"" + home.file("users-003.kch") + "\" is left alone\n"));
  EXPECT_EQ("one zero", get(s, "hello"));
}

TEST_F(UniStore, AnOpenPartitionKeepsItsFile) {
  SKV_UniMKCStg s;
  configure(s, 4);
  openCaptured(s);
  ASSERT_EQ(0, put(s, "hello", "home"));
  // A new candidate for partition 3 while it is open: reported, not used.
  TmpDir disk2;
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  cfg->setString("users.home", home.path());
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "4");
  cfg->setString("users.tune_options", TUNE);
  cfg->setString("users.partitions[0].path", disk2.file("users-3.kch"));
  s.loadConfig("users", *cfg);
  const std::string out = openCaptured(s);
  EXPECT_NE(std::string::npos,
            out.find("[WRN] wdb::SKV_UniMKCStg::open: Partition[3] uses \"" + part(3) + "\"; \"" +
                     disk2.file("users-3.kch") + "\" is left alone\n"));
  EXPECT_NE(std::string::npos, out.find("Partition[3]: " + part(3) + "\n"));
  EXPECT_EQ("home", get(s, "hello"));
}

TEST_F(UniStore, UnsafeCandidatePathIsListedButNotUsed) {
  TmpDir disk2;
  const std::string unsafe = disk2.path() + "/x#y/users-1.kch";
  Poco::AutoPtr<Poco::Util::MapConfiguration> cfg(new Poco::Util::MapConfiguration);
  cfg->setString("users.home", home.path());
  cfg->setString("users.dbname", "users");
  cfg->setString("users.partitions", "2");
  cfg->setString("users.tune_options", TUNE);
  cfg->setString("users.partitions[0].path", unsafe);
  SKV_UniMKCStg s;
  s.loadConfig("users", *cfg);
  const std::string out = openCaptured(s);
  EXPECT_NE(std::string::npos, out.find("\n" + unsafe + "\n"));
  EXPECT_NE(std::string::npos, out.find("[WRN] wdb::SKV_UniMKCStg::open: \"" + unsafe +
                                        "\" is not used: Kyoto Cabinet cannot open this path\n"));
  EXPECT_NE(std::string::npos, out.find("Partition[1]: " + part(1) + "\n"));
}

TEST_F(UniStore, CountsSizeAndIterationCoverEveryPartition) {
  SKV_UniMKCStg s;
  configure(s, 4);
  openCaptured(s);
  EXPECT_EQ(0, s.kc_count());
  const int64_t emptySize = s.kc_size();
  EXPECT_GT(emptySize, 0);
  std::set<std::string> all;
  for (int i = 0; i < 64; ++i) {
    const std::string k = "key" + std::to_string(i);
    ASSERT_EQ(0, put(s, k, std::string(100, 'v')));
    all.insert(k);
  }
  EXPECT_EQ(64, s.kc_count());
  EXPECT_GT(s.kc_size(), emptySize + 64 * 100);

  CountVisitor many;
  EXPECT_EQ(-12, s.kc_iterate(&many, 2));
  EXPECT_TRUE(many.keys.empty());
  for (size_t threads : {0u, 1u}) {
    CountVisitor v;
    EXPECT_EQ(0, s.kc_iterate(&v, threads));
    EXPECT_EQ(all, std::set<std::string>(v.keys.begin(), v.keys.end()));
    EXPECT_EQ(64u, v.keys.size());
    // Partition by partition from 0 up: the routed partition never goes down.
    unsigned last = 0;
    for (const std::string& k : v.keys) {
      const unsigned p = libhashkit_jenkins(k.data(), k.size()) % 4;
      EXPECT_GE(p, last);
      last = p;
    }
  }
}

}  // namespace
