// wdb::SKV_KCStg against real Kyoto Cabinet files: raw operations, policies, result codes,
// open/close lines, failures of the database, string and multi-item operations.
#include <gtest/gtest.h>

#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "src/wdb/kc/SKV_KCStg.h"
#include "tests/storage/rawrecord.h"
#include "tests/support/tmpdir.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using wdb::SKV_KCStg;

namespace {

const unsigned MODE_RW = 23;  // reader | writer | create | auto transaction
const unsigned MODE_R = 1;

using wdb::ValueBuffer;

std::string str(const ValueBuffer& out) { return std::string(out.chars(), out.length()); }

class KCStgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir.file("db.kch");
    store.setDBPath(path.c_str());
    store.setTuneOptions("#bnum=1000");
  }
  int open(unsigned mode = MODE_RW) {
    CaptureStdout();
    const int r = store.open(mode);
    GetCapturedStdout();
    return r;
  }
  int put(const std::string& k, const std::string& v, int policy) {
    return store.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), policy);
  }
  // The raw outputs as they are, for what a call leaves in them.
  int get(const std::string& k, void** data, size_t* len) {
    return store.getTx0(nullptr, data, len, k.data(), k.size());
  }
  int pop(const std::string& k, void** data, size_t* len) {
    return store.popTx0(nullptr, data, len, k.data(), k.size());
  }
  int get(const std::string& k, ValueBuffer& out) { return get(k, out.out(), out.outLength()); }
  int pop(const std::string& k, ValueBuffer& out) { return pop(k, out.out(), out.outLength()); }
  int exist(const std::string& k) { return store.existTx0(nullptr, k.data(), k.size()); }
  int remove(const std::string& k) { return store.removeTx0(nullptr, k.data(), k.size()); }
  std::string value(const std::string& k) {
    ValueBuffer out(store);
    const int r = get(k, out);
    return r == 0 ? str(out) : "<" + std::to_string(r) + ">";
  }

  TmpDir dir;
  std::string path;
  SKV_KCStg store;
};

// The file descriptor the process holds on path, or -1.
int fdOf(const std::string& path) {
  DIR* d = opendir("/proc/self/fd");
  int found = -1;
  while (dirent* e = readdir(d)) {
    char link[PATH_MAX];
    const std::string p = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(p.c_str(), link, sizeof(link) - 1);
    if (n > 0 && std::string(link, n) == path) found = std::atoi(e->d_name);
  }
  closedir(d);
  return found;
}

}  // namespace

TEST_F(KCStgTest, ClosedStoreAnswersNotOpenedAndNeutralValues) {
  void* data = reinterpret_cast<void*>(0x1);  // untouched while closed
  size_t len = 77;
  EXPECT_EQ(put("k", "v", 1), -28);
  EXPECT_EQ(put("k", "v", 0), -28);  // closed is tested before the policy
  EXPECT_EQ(put("k", "v", 4), -28);
  EXPECT_EQ(remove("k"), -28);
  EXPECT_EQ(exist("k"), -28);
  EXPECT_EQ(get("k", &data, &len), -28);
  EXPECT_EQ(pop("k", &data, &len), -28);
  EXPECT_EQ(data, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(len, 77u);
  EXPECT_EQ(store.flush(), -28);
  EXPECT_EQ(store.kc_iterate(nullptr, 1), -28);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.size(), 0u);
  EXPECT_EQ(store.kc_count(), 0u);
  EXPECT_EQ(store.kc_size(), 0u);
  EXPECT_EQ(store.maxSize(), 0u);
  store.clear();
  EXPECT_EQ(store.close(), 0);
  EXPECT_FALSE(store.isOpen());
  EXPECT_EQ(store.makeTransaction(), nullptr);
  EXPECT_EQ(store.makeTransaction(0u), nullptr);
  EXPECT_EQ(store.makeSKVCursor(nullptr), nullptr);
  EXPECT_EQ(store.makeCursor(nullptr), nullptr);
}

TEST_F(KCStgTest, OpenLinesAndResults) {
  CaptureStdout();
  CaptureStderr();
  ASSERT_EQ(store.open(MODE_RW), 0);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(GetCapturedStdout(),
            "[inf] wdb::SKV_KCStg::open: DB is opened successfully: \"" + path + "#bnum=1000\"\n");
  EXPECT_TRUE(store.isOpen());
  EXPECT_EQ(store.maxSize(), UINT64_MAX);

  CaptureStdout();
  EXPECT_EQ(store.open(MODE_R), 0);
  EXPECT_EQ(GetCapturedStdout(), "[inf] wdb::SKV_KCStg::open: DB is already opened\n");
  EXPECT_EQ(put("k", "v", 3), 0);  // still the first, writable mode
  EXPECT_EQ(store.close(), 0);
  EXPECT_EQ(store.size(), 0u);
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.maxSize(), 0u);
  // Path and tuning survive the close.
  ASSERT_EQ(open(MODE_R), 0);
  EXPECT_EQ(value("k"), "v");
}

TEST_F(KCStgTest, OpenRefusesEmptyPathsHashesAndMissingDirectories) {
  struct Case {
    std::string path;
    int result;
    std::string err;
  } cases[] = {
      {"", -5, ""},
      {dir.file("a#b.kch"), -4, ""},
      {dir.file("x.kch#opts=c"), -4, ""},
      {dir.file("no/such/dir/db.kch"), -1,
       "[ERR] wdb::SKV_KCStg::open: Fail open DB: \"" + dir.file("no/such/dir/db.kch") +
           "#bnum=1000\"\n"},
      {dir.file("db.unknownext"), -1,
       "[ERR] wdb::SKV_KCStg::open: Fail open DB: \"" + dir.file("db.unknownext") +
           "#bnum=1000\"\n"},
  };
  for (const Case& c : cases) {
    SKV_KCStg s;
    s.setDBPath(c.path.c_str());
    s.setTuneOptions("#bnum=1000");
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(s.open(MODE_RW), c.result) << c.path;
    EXPECT_EQ(GetCapturedStderr(), c.err) << c.path;
    EXPECT_EQ(GetCapturedStdout(), "") << c.path;
    EXPECT_FALSE(s.isOpen());
    EXPECT_EQ(put("k", "v", 1), -28);
  }
}

TEST_F(KCStgTest, PutPoliciesAndResultCodes) {
  ASSERT_EQ(open(), 0);
  EXPECT_EQ(put("k", "v1", 1), 0);    // ADD of a new key
  EXPECT_EQ(put("k", "v2", 1), -10);  // ADD of an existing key keeps the old value
  EXPECT_EQ(value("k"), "v1");
  EXPECT_EQ(put("k", "v3", 2), 0);  // UPDATE of an existing key
  EXPECT_EQ(value("k"), "v3");
  EXPECT_EQ(put("m", "x", 2), -9);  // UPDATE of a missing key stores nothing
  EXPECT_EQ(exist("m"), -9);
  EXPECT_EQ(put("m", "y", 3), 0);  // ADD_OR_UDP adds
  EXPECT_EQ(put("m", "z", 3), 0);  // and replaces
  EXPECT_EQ(value("m"), "z");
  for (int bad : {0, 4, -1, 100}) EXPECT_EQ(put("k", "w", bad), -4) << bad;
  EXPECT_EQ(value("k"), "v3");
  EXPECT_EQ(store.size(), 2u);
}

TEST_F(KCStgTest, GetPopRemoveExist) {
  ASSERT_EQ(open(), 0);
  const std::string binKey("a\0b\xff", 4), binVal("\0x\0y\x80", 5);
  ASSERT_EQ(put(binKey, binVal, 1), 0);
  ASSERT_EQ(put("empty", "", 1), 0);

  ValueBuffer out(store);
  ASSERT_EQ(get(binKey, out), 0);
  EXPECT_EQ(str(out), binVal);
  EXPECT_EQ(out.chars()[out.length()], '\0');
  out.reset();

  ASSERT_EQ(get("empty", out), 0);  // an empty value: one NUL byte, length 0
  ASSERT_NE(out.data(), nullptr);
  EXPECT_EQ(out.length(), 0u);
  EXPECT_EQ(out.chars()[0], '\0');
  out.reset();

  void* data = reinterpret_cast<void*>(0x1);
  size_t len = 5;
  EXPECT_EQ(get("absent", &data, &len), -9);  // a missing record clears both outputs
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(pop("absent", &data, &len), -9);
  EXPECT_EQ(data, nullptr);

  EXPECT_EQ(exist(binKey), 0);
  ASSERT_EQ(pop(binKey, out), 0);
  EXPECT_EQ(str(out), binVal);
  EXPECT_EQ(out.chars()[out.length()], '\0');
  out.reset();
  EXPECT_EQ(exist(binKey), -9);
  EXPECT_EQ(get(binKey, out), -9);

  EXPECT_EQ(remove("empty"), 0);
  EXPECT_EQ(remove("empty"), 9);  // nothing to remove: positive 9
  EXPECT_EQ(store.size(), 0u);
  EXPECT_TRUE(store.empty());
}

TEST_F(KCStgTest, NullKeyOfLengthZeroIsTheEmptyKeyAndBadPointersAreRefused) {
  ASSERT_EQ(open(), 0);
  EXPECT_EQ(store.putTx0(nullptr, nullptr, 0, nullptr, 0, 1), 0);
  EXPECT_EQ(exist(""), 0);
  EXPECT_EQ(store.putTx0(nullptr, nullptr, 3, "v", 1, 1), -4);
  EXPECT_EQ(store.putTx0(nullptr, "k", 1, nullptr, 3, 1), -4);
  EXPECT_EQ(store.existTx0(nullptr, nullptr, 2), -4);
  EXPECT_EQ(store.removeTx0(nullptr, nullptr, 2), -4);
  size_t len = 0;
  void* data = nullptr;
  EXPECT_EQ(store.getTx0(nullptr, nullptr, &len, "k", 1), -4);
  EXPECT_EQ(store.popTx0(nullptr, &data, nullptr, "k", 1), -4);
  EXPECT_EQ(store.removeTx0(nullptr, nullptr, 0), 0);
}

TEST_F(KCStgTest, RefusalsForOtherReasonsAreFailures) {
  ASSERT_EQ(open(), 0);
  ASSERT_EQ(put("k", "v", 1), 0);
  ASSERT_EQ(store.close(), 0);
  ASSERT_EQ(open(MODE_R), 0);       // read-only: every write is refused for lack of permission
  EXPECT_EQ(put("n", "v", 1), -1);  // not -10: the key does not exist
  EXPECT_EQ(put("k", "v", 2), -1);  // not -9: the key exists
  EXPECT_EQ(put("k", "v", 3), -1);
  EXPECT_EQ(remove("k"), -1);  // not +9: the record is there
  EXPECT_EQ(remove("nothing"), -1);
  ValueBuffer out(store);
  EXPECT_EQ(pop("k", out), -9);  // the refused visit hands out nothing
  EXPECT_EQ(out.data(), nullptr);
  EXPECT_EQ(value("k"), "v");  // and the record stays
  EXPECT_EQ(get("k", out), 0);
}

TEST_F(KCStgTest, FailedFlushClearAndClosePrintTheirLines) {
  store.setTuneOptions("#msiz=0");  // no memory map: every write reaches the descriptor
  ASSERT_EQ(open(), 0);
  ASSERT_EQ(put("k", "v", 1), 0);
  EXPECT_EQ(store.flush(), 0);
  const int fd = fdOf(path);
  ASSERT_GE(fd, 0);
  // Swap the database file for /dev/full (every write fails) under Kyoto Cabinet's descriptor.
  const int devfull = ::open("/dev/full", O_RDWR);
  ASSERT_GE(devfull, 0);
  ASSERT_EQ(dup2(devfull, fd), fd);
  ::close(devfull);

  CaptureStderr();
  EXPECT_EQ(put("new", "v", 1), -1);  // an I/O failure is not "already exists"
  EXPECT_EQ(store.flush(), -1);
  store.clear();
  EXPECT_EQ(store.close(), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "[ERR] wdb::SKV_KCStg::flush: Fail flush DB\n"
            "[ERR] wdb::SKV_KCStg::clear: Fail clear DB\n"
            "[ERR] wdb::SKV_KCStg::close: Fail close DB\n");
  EXPECT_FALSE(store.isOpen());  // Kyoto Cabinet let the database go
  EXPECT_EQ(store.close(), 0);
}

TEST_F(KCStgTest, FlushClearCountsAndIterate) {
  ASSERT_EQ(open(), 0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(put("key" + std::to_string(i), "v", 1), 0);
  EXPECT_EQ(store.flush(), 0);
  EXPECT_EQ(store.size(), 100u);
  EXPECT_EQ(store.kc_count(), 100u);
  EXPECT_GT(store.kc_size(), 0u);
  EXPECT_FALSE(store.empty());

  struct Counter : kyotocabinet::DB::Visitor {
    std::atomic<int> n{0};
    const char* visit_full(const char*, size_t, const char*, size_t, size_t*) override {
      ++n;
      return NOP;
    }
  } counter;
  EXPECT_EQ(store.kc_iterate(&counter, 0), 0);
  EXPECT_EQ(counter.n.load(), 100);
  EXPECT_EQ(store.kc_iterate(&counter, 4), 0);
  EXPECT_EQ(counter.n.load(), 200);

  store.clear();
  EXPECT_TRUE(store.empty());
  EXPECT_EQ(store.size(), 0u);
}

TEST_F(KCStgTest, ReopenReadsEverythingBackWithEachCompressor) {
  for (const char* tune : {"#opts=c#zcomp=snappy", "#opts=c#zcomp=lzf#zthrh=10",
                           "#type=kct#opts=c#zcomp=snappy", "#opts=c#zcomp=gz"}) {
    SKV_KCStg s;
    const std::string p = dir.file(std::string("c") + std::to_string(std::strlen(tune)) +
                                   (std::strstr(tune, "kct") ? ".kct" : ".kch"));
    s.setDBPath(p.c_str());
    s.setTuneOptions(tune);
    CaptureStdout();
    ASSERT_EQ(s.open(MODE_RW), 0) << tune;
    std::map<std::string, std::string> data;
    for (int i = 0; i < 300; ++i) {
      const std::string k = "k" + std::to_string(i);
      data[k] = std::string(i, static_cast<char>('a' + i % 26)) + std::to_string(i);
      ASSERT_EQ(s.putTx0(nullptr, k.data(), k.size(), data[k].data(), data[k].size(), 3), 0);
    }
    ASSERT_EQ(s.close(), 0);
    ASSERT_EQ(s.open(MODE_R), 0);
    GetCapturedStdout();
    EXPECT_EQ(s.size(), 300u) << tune;
    for (const auto& kv : data) {
      void* buf = nullptr;
      size_t len = 0;
      ASSERT_EQ(s.getTx0(nullptr, &buf, &len, kv.first.data(), kv.first.size()), 0) << tune;
      EXPECT_EQ(std::string(static_cast<char*>(buf), len), kv.second);
      s.freeData(buf);
    }
  }
}

TEST_F(KCStgTest, StringAndMultiItemOperationsOnARealStore) {
  ASSERT_EQ(open(), 0);
  xstring v("stale");
  EXPECT_EQ(store.getTx(nullptr, v, "absent"), -9);
  EXPECT_TRUE(v.empty());  // ISKVStorage::getTx empties the value
  EXPECT_EQ(store.put("a", xstring("1", 1), 1), 0);
  EXPECT_EQ(store.get(v, "a"), 0);
  EXPECT_EQ(v, "1");

  std::vector<wdb::SKVItem> items;
  for (int i = 0; i < 11; ++i) items.emplace_back("m" + std::to_string(i), "v");
  items[3].first = "a";  // exists: ADD fails with -10
  std::map<xstring, int> errors;
  EXPECT_EQ(store.multiPutTx(nullptr, &errors, items, 1), -27);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors["a"], -10);
  EXPECT_EQ(exist("m9"), 0);
  EXPECT_EQ(exist("m10"), -9);  // the eleventh was not written

  std::vector<xstring> keys = {"m0", "nope", "m1", "nada"};
  errors.clear();
  EXPECT_EQ(store.multiExistTx(nullptr, &errors, keys), -9);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"nada", -9}, {"nope", -9}}));

  errors.clear();
  EXPECT_EQ(store.multiRemoveTx(nullptr, &errors, {"x1", "x2"}), 0);  // +9 is not recorded
  EXPECT_TRUE(errors.empty());

  std::map<xstring, xstring> values;
  errors.clear();
  EXPECT_EQ(store.multiPopTx(nullptr, values, &errors, {"m0", "m0"}), -9);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"m0", -9}}));
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values["m0"], "");  // the failed second pop emptied it
  EXPECT_EQ(exist("m0"), -9);
}

TEST_F(KCStgTest, CompressedRecordsAsStoredAndDamagedOnesFailCleanly) {
  for (const char* z : {"snappy", "lzf"}) {
    const char tag = z[0] == 's' ? 'n' : 'f';
    const std::string file = dir.file(std::string("z-") + z + ".kch");
    SKV_KCStg s;
    s.setDBPath(file.c_str());
    s.setTuneOptions((std::string("#opts=c#zcomp=") + z).c_str());
    CaptureStdout();
    ASSERT_EQ(s.open(MODE_RW), 0);
    const std::string v127(127, 'r'), v128(128, 'c');
    ASSERT_EQ(s.putTx0(nullptr, "raw", 3, v127.data(), v127.size(), 1), 0);
    ASSERT_EQ(s.putTx0(nullptr, "comp", 4, v128.data(), v128.size(), 1), 0);
    ASSERT_EQ(s.close(), 0);
    EXPECT_EQ(rawRecord(file, "raw", tag), (std::string{tag, 0} + v127)) << z;
    const std::string comp = rawRecord(file, "comp", tag);
    ASSERT_GE(comp.size(), 2u);
    EXPECT_EQ(comp.substr(0, 2), (std::string{tag, 1})) << z;
    EXPECT_LT(comp.size(), 130u);
    putRaw(file, "bad", comp.substr(0, comp.size() / 2), tag);
    putRaw(file, "empty", std::string{tag, 1}, tag);

    ASSERT_EQ(s.open(MODE_R), 0);
    GetCapturedStdout();
    ValueBuffer out(s);
    EXPECT_EQ(s.getTx0(nullptr, out.out(), out.outLength(), "empty", 5), -9) << z;
    EXPECT_EQ(out.data(), nullptr);
    if (s.getTx0(nullptr, out.out(), out.outLength(), "bad", 3) == 0) {
      EXPECT_EQ(tag, 'f');  // an LZF stream cut at an instruction boundary decodes a prefix
      EXPECT_EQ(str(out), v128.substr(0, out.length()));
      out.reset();
    }
    ASSERT_EQ(s.getTx0(nullptr, out.out(), out.outLength(), "comp", 4), 0);
    EXPECT_EQ(str(out), v128);
    out.reset();
    ASSERT_EQ(s.getTx0(nullptr, out.out(), out.outLength(), "raw", 3), 0);
    EXPECT_EQ(str(out), v127);
  }
}

TEST(KCStgConfig, LoadConfigReadsBothKeysInOrder) {
  Poco::AutoPtr<Poco::Util::MapConfiguration> map(new Poco::Util::MapConfiguration);
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> layeredPtr(new Poco::Util::LayeredConfiguration);
  Poco::Util::LayeredConfiguration& layered = *layeredPtr;
  layered.add(Poco::Util::AbstractConfiguration::Ptr(map), 0);
  map->setString("st.dbpath", "/data/x.kch");
  map->setString("st.tune_options", std::string("#bnum=7\0ignored", 15));
  SKV_KCStg s;
  s.loadConfig("st", layered);
  EXPECT_EQ(s.getDBPath(), "/data/x.kch");
  EXPECT_EQ(s.getTuneOptions(), "#bnum=7");  // up to the first NUL

  SKV_KCStg t;
  map->setString("half.dbpath", "/p.kch");
  EXPECT_THROW(t.loadConfig("half", layered), Poco::NotFoundException);
  EXPECT_EQ(t.getDBPath(), "/p.kch");
  EXPECT_EQ(t.getTuneOptions(), "");
  SKV_KCStg u;
  EXPECT_THROW(u.loadConfig("none", layered), Poco::NotFoundException);
  EXPECT_EQ(u.getDBPath(), "");
}
