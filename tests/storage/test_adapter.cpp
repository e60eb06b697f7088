// Interfaces, typed adapter, multi-item operations, transaction guard and comparator,
// against a small in-memory byte-buffer store.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "src/wdb/kc/SKV_KCStg.h"

using wdb::ISKVStorage;
using wdb::ITransaction;
using wdb::SKVAdapterStorage;

namespace {

// Byte-buffer store over a std::map, counting its raw calls.
class MemStore : public ISKVStorage {
 public:
  explicit MemStore(int* destroyed = nullptr) : destroyed_(destroyed) {}
  ~MemStore() override {
    if (destroyed_) ++*destroyed_;
  }

  ITransaction* makeTransaction() const override { return nullptr; }
  int flush() override { return 7; }
  bool empty() const override { return data.empty(); }
  uint64_t size() const override { return data.size(); }
  uint64_t maxSize() const override { return 1000; }
  void clear() override { data.clear(); }
  void freeData(void* p) const override {
    ++freed;
    xa_free(p);
  }
  wdb::ISKVCursor* makeSKVCursor(ITransaction*) const override { return cursor; }
  int putTx0(ITransaction* tx, const void* k, size_t kl, const void* v, size_t vl,
             int policy) override {
    lastTx = tx;
    ++puts;
    const std::string key(static_cast<const char*>(k), kl);
    const bool has = data.count(key) > 0;
    if (policy == 1 && has) return -10;
    if (policy == 2 && !has) return -9;
    if (policy < 1 || policy > 3) return -4;
    data[key] = std::string(static_cast<const char*>(v), vl);
    return 0;
  }
  int removeTx0(ITransaction*, const void* k, size_t kl) override {
    return data.erase(std::string(static_cast<const char*>(k), kl)) ? 0 : 9;
  }
  int popTx0(ITransaction* tx, void** v, size_t* vl, const void* k, size_t kl) override {
    const int r = getTx0(tx, v, vl, k, kl);
    if (r == 0) data.erase(std::string(static_cast<const char*>(k), kl));
    return r;
  }
  int getTx0(ITransaction*, void** v, size_t* vl, const void* k, size_t kl) const override {
    ++gets;
    auto it = data.find(std::string(static_cast<const char*>(k), kl));
    if (it == data.end()) return -9;
    char* buf = static_cast<char*>(xa_malloc(it->second.size() + 1));
    std::memcpy(buf, it->second.data(), it->second.size());
    buf[it->second.size()] = '\0';
    *v = buf;
    *vl = it->second.size();
    return 0;
  }
  int existTx0(ITransaction*, const void* k, size_t kl) const override {
    return data.count(std::string(static_cast<const char*>(k), kl)) ? 0 : -9;
  }

  std::map<std::string, std::string> data;
  mutable int gets = 0;
  mutable int freed = 0;
  int puts = 0;
  ITransaction* lastTx = reinterpret_cast<ITransaction*>(0x1);
  wdb::ISKVCursor* cursor = nullptr;

 private:
  int* destroyed_;
};

// Records the order of its calls into a shared log.
class LogTx : public ITransaction {
 public:
  explicit LogTx(std::string* log) : log_(log) {}
  ~LogTx() override { *log_ += "delete;"; }
  int begin(unsigned f) override {
    *log_ += "begin" + std::to_string(f) + ";";
    return 0;
  }
  int commit() override {
    *log_ += "commit;";
    return 0;
  }
  int rollback() override {
    *log_ += "rollback;";
    return 0;
  }

 private:
  std::string* log_;
};

class TxStore : public MemStore {
 public:
  ITransaction* makeTransaction() const override { return new LogTx(&log); }
  mutable std::string log;
};

class FakeCursor : public wdb::ISKVCursor {
 public:
  int reset() override { return 0; }
  int next0(void** k, size_t* kl, void** v, size_t* vl) override {
    *k = key.empty() && !giveEmptyKey ? nullptr : const_cast<char*>(key.data());
    *kl = key.size();
    *v = const_cast<char*>(value.data());
    *vl = value.size();
    return 5;
  }
  std::string key, value;
  bool giveEmptyKey = false;
};

std::vector<xstring> keysN(int n, const char* prefix = "k") {
  std::vector<xstring> keys;
  for (int i = 0; i < n; ++i) keys.push_back(xstring(prefix) + std::to_string(i).c_str());
  return keys;
}

}  // namespace

TEST(ResultCodes, AreNegatedECodesWithThreePositiveSuccesses) {
  EXPECT_EQ(wdb::RC_FAIL, -1);
  EXPECT_EQ(wdb::RC_EXCEPTION, -2);
  EXPECT_EQ(wdb::RC_NULL_PTR, -3);
  EXPECT_EQ(wdb::RC_INVALID_PARAM, -4);
  EXPECT_EQ(wdb::RC_INVALID_DATA, -5);
  EXPECT_EQ(wdb::RC_NOT_EXIST, -9);
  EXPECT_EQ(wdb::RC_ALREADY_EXIST, -10);
  EXPECT_EQ(wdb::RC_UNSUPPORTED, -12);
  EXPECT_EQ(wdb::RC_UNDER_FLOW, -16);
  EXPECT_EQ(wdb::RC_REACH_MAX, -27);
  EXPECT_EQ(wdb::RC_NOT_OPENED, -28);
  EXPECT_EQ(wdb::RC_REMOVE_SHORT_KEY, 4);
  EXPECT_EQ(wdb::RC_REMOVE_NOTHING, 9);
  EXPECT_EQ(wdb::RC_SCAN_EMPTY, 11);
}

TEST(AStorage, LimitsAndNotifProc) {
  MemStore s;
  EXPECT_EQ(s.maxMultiRead, 50u);
  EXPECT_EQ(s.maxMultiWrite, 10u);
  EXPECT_EQ(s.notifProcTx(nullptr, nullptr, nullptr), -12);
}

TEST(AStorage, MultiGetHandlesFiftyAndStopsAtFiftyOne) {
  MemStore s;
  for (const xstring& k : keysN(60)) s.data[std::string(k.data(), k.size())] = "v";
  std::map<xstring, xstring> values;
  EXPECT_EQ(s.multiGetTx(nullptr, values, nullptr, keysN(50)), 0);
  EXPECT_EQ(values.size(), 50u);
  values.clear();
  std::map<xstring, int> errors;
  EXPECT_EQ(s.multiGetTx(nullptr, values, &errors, keysN(51)), -27);
  EXPECT_EQ(values.size(), 50u);
  EXPECT_EQ(values.count("k50"), 0u);
  EXPECT_TRUE(errors.empty());
}

TEST(AStorage, MultiGetFetchesARepeatedKeyOnceButCountsItTwice) {
  MemStore s;
  s.data["a"] = "1";
  std::map<xstring, xstring> values{{"pre", "kept"}};
  std::vector<xstring> keys{"a", "a", "pre", "missing"};
  std::map<xstring, int> errors;
  EXPECT_EQ(s.multiGetTx(nullptr, values, &errors, keys), -9);
  EXPECT_EQ(s.gets, 2);  // "a" once, "missing" once; "pre" was already there
  EXPECT_EQ(values, (std::map<xstring, xstring>{{"a", "1"}, {"pre", "kept"}}));
  EXPECT_EQ(errors, (std::map<xstring, int>{{"missing", -9}}));
  // The repeated key counts toward the limit: 49 distinct + 1 repeat + 1 = 51 items.
  std::vector<xstring> many = keysN(49);
  many.push_back("k0");
  many.push_back("k49");
  values.clear();
  EXPECT_EQ(s.multiGetTx(nullptr, values, nullptr, many), -27);
}

TEST(AStorage, MultiPutWritesTenOfElevenAndKeepsTheFailure) {
  MemStore s;
  s.data["k2"] = "old";
  std::vector<wdb::SKVItem> items;
  for (const xstring& k : keysN(11)) items.emplace_back(k, "new");
  std::map<xstring, int> errors{{"k2", 99}};  // an existing entry is overwritten
  EXPECT_EQ(s.multiPutTx(nullptr, &errors, items, 1), -27);
  EXPECT_EQ(s.puts, 10);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"k2", -10}}));
  EXPECT_EQ(s.data["k2"], "old");
  EXPECT_EQ(s.data.count("k10"), 0u);
  items.resize(10);
  errors.clear();
  EXPECT_EQ(s.multiPutTx(nullptr, &errors, items, 3), 0);
  EXPECT_TRUE(errors.empty());
}

TEST(AStorage, ResultIsTheLastFailureInInputOrder) {
  MemStore s;
  s.data["b"] = "x";
  std::vector<wdb::SKVItem> items{{"a", "1"}, {"b", "2"}, {"c", "3"}};
  std::map<xstring, int> errors;
  // UPDATE: a and c fail with -9, b succeeds.
  EXPECT_EQ(s.multiPutTx(nullptr, &errors, items, 2), -9);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"a", -9}, {"c", -9}}));
  EXPECT_EQ(s.multiPutTx(nullptr, nullptr, items, 0), -4);  // null error map allowed
}

TEST(AStorage, MultiRemoveAndExist) {
  MemStore s;
  s.data = {{"a", "1"}, {"b", "2"}};
  std::map<xstring, int> errors;
  EXPECT_EQ(s.multiExistTx(nullptr, &errors, {"a", "x", "b", "y"}), -9);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"x", -9}, {"y", -9}}));
  errors.clear();
  EXPECT_EQ(s.multiRemoveTx(nullptr, &errors, {"a", "zz", "qq"}), 0);  // +9 not recorded
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(s.data.count("a"), 0u);
  EXPECT_EQ(s.multiRemoveTx(nullptr, nullptr, keysN(11)), -27);
  EXPECT_EQ(s.multiExistTx(nullptr, nullptr, keysN(51, "z")), -27);
}

TEST(AStorage, MultiPopOnTheStoreAndThroughTheAdapter) {
  {
    MemStore s;
    s.data["a"] = "1";
    std::map<xstring, xstring> values;
    std::map<xstring, int> errors;
    EXPECT_EQ(s.multiPopTx(nullptr, values, &errors, {"a", "a", "none"}), -9);
    EXPECT_EQ(errors, (std::map<xstring, int>{{"a", -9}, {"none", -9}}));
    // ISKVStorage::popTx emptied the kept entry on the failed second pop.
    EXPECT_EQ(values, (std::map<xstring, xstring>{{"a", ""}}));
    EXPECT_TRUE(s.data.empty());
  }
  MemStore* inner = new MemStore;
  inner->data["a"] = "1";
  SKVAdapterStorage adapter(inner, true);
  std::map<xstring, xstring> values{{"keep", "me"}};
  std::map<xstring, int> errors;
  EXPECT_EQ(adapter.multiPopTx(nullptr, values, &errors, {"a", "a", "keep"}), -9);
  EXPECT_EQ(errors, (std::map<xstring, int>{{"a", -9}, {"keep", -9}}));
  // Through the adapter a failed pop leaves the value alone.
  EXPECT_EQ(values, (std::map<xstring, xstring>{{"a", "1"}, {"keep", "me"}}));
  EXPECT_EQ(adapter.multiPopTx(nullptr, values, nullptr, keysN(11)), -27);
}

TEST(ISKVStorage, StringOperationsMapOntoRawOnes) {
  MemStore s;
  EXPECT_EQ(s.putTx(nullptr, xstring("k\0ey", 4), xstring("v\0al", 4), 1), 0);
  EXPECT_EQ(s.data.at(std::string("k\0ey", 4)), std::string("v\0al", 4));
  xstring v("stale");
  EXPECT_EQ(s.getTx(nullptr, v, xstring("k\0ey", 4)), 0);
  EXPECT_EQ(v, xstring("v\0al", 4));
  EXPECT_EQ(s.freed, 1);
  EXPECT_EQ(s.getTx(nullptr, v, "absent"), -9);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(s.existTx(nullptr, xstring("k\0ey", 4)), 0);
  v = "x";
  EXPECT_EQ(s.popTx(nullptr, v, xstring("k\0ey", 4)), 0);
  EXPECT_EQ(v, xstring("v\0al", 4));
  EXPECT_EQ(s.removeTx(nullptr, "k"), 9);
  EXPECT_EQ(s.makeCursor(nullptr), nullptr);
}

TEST(AStorage, PutAndGetWithoutTransactionPassNull) {
  MemStore s;
  EXPECT_EQ(s.put("a", "1", 1), 0);
  EXPECT_EQ(s.lastTx, nullptr);
  xstring v;
  EXPECT_EQ(s.get(v, "a"), 0);
  EXPECT_EQ(v, "1");
}

TEST(AStorage, PutAndGetDriveTheTransactionGuard) {
  TxStore s;
  EXPECT_EQ(s.put("a", "1", 1), 0);
  EXPECT_EQ(s.log, "begin0;commit;delete;");
  EXPECT_NE(s.lastTx, nullptr);
  s.log.clear();
  EXPECT_EQ(s.put("a", "2", 1), -10);
  EXPECT_EQ(s.log, "begin0;rollback;delete;");
  s.log.clear();
  xstring v;
  EXPECT_EQ(s.get(v, "nope"), -9);
  EXPECT_EQ(s.log, "begin0;rollback;delete;");
}

TEST(ScopeTransaction, AppliesTheOutcomeAndDeletesWhenOwned) {
  std::string log;
  { wdb::ScopeTransaction g(nullptr, true); }
  {
    LogTx tx(&log);
    {
      wdb::ScopeTransaction g(&tx, false);
      g.ok = true;
    }
    EXPECT_EQ(log, "commit;");
  }
  log.clear();
  { wdb::ScopeTransaction g(new LogTx(&log), true); }
  EXPECT_EQ(log, "rollback;delete;");
}

TEST(Adapter, NullInnerAnswersWithoutTouchingMemory) {
  SKVAdapterStorage a(nullptr, true);
  xstring v("keep");
  EXPECT_EQ(a.getInnerStorage(), nullptr);
  EXPECT_EQ(a.putTx(nullptr, "k", "v", 1), -3);
  EXPECT_EQ(a.removeTx(nullptr, "k"), -3);
  EXPECT_EQ(a.existTx(nullptr, "k"), -3);
  EXPECT_EQ(a.getTx(nullptr, v, "k"), -3);
  EXPECT_EQ(a.popTx(nullptr, v, "k"), -3);
  EXPECT_EQ(v, "keep");
  EXPECT_EQ(a.flush(), -3);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.size(), 0u);
  EXPECT_EQ(a.maxSize(), 0u);
  a.clear();
  EXPECT_EQ(a.makeCursor(nullptr), nullptr);
  EXPECT_EQ(a.makeTransaction(), nullptr);
  EXPECT_EQ(a.notifProcTx(nullptr, nullptr, nullptr), -12);
}

TEST(Adapter, ForwardsAndCopiesBuffers) {
  MemStore* inner = new MemStore;
  SKVAdapterStorage a(inner, true);
  EXPECT_EQ(a.getInnerStorage(), inner);
  EXPECT_EQ(a.putTx(nullptr, xstring("k\0", 2), xstring("v\0v", 3), 1), 0);
  EXPECT_EQ(inner->data.at(std::string("k\0", 2)), std::string("v\0v", 3));
  EXPECT_EQ(a.put("b", "2", 1), 0);
  EXPECT_EQ(a.flush(), 7);
  EXPECT_EQ(a.size(), 2u);
  EXPECT_EQ(a.maxSize(), 1000u);
  EXPECT_FALSE(a.empty());
  xstring v("old");
  EXPECT_EQ(a.getTx(nullptr, v, "absent"), -9);
  EXPECT_EQ(v, "old");  // a missing record leaves the value alone
  EXPECT_EQ(a.getTx(nullptr, v, xstring("k\0", 2)), 0);
  EXPECT_EQ(v, xstring("v\0v", 3));
  EXPECT_EQ(inner->freed, 1);
  EXPECT_EQ(a.existTx(nullptr, "b"), 0);
  EXPECT_EQ(a.removeTx(nullptr, "b"), 0);
  EXPECT_EQ(a.removeTx(nullptr, "b"), 9);
  a.clear();
  EXPECT_TRUE(a.empty());
}

TEST(Adapter, EmptyValueIsInvalidData) {
  MemStore* inner = new MemStore;
  SKVAdapterStorage a(inner, true);
  inner->data["e"] = "";
  xstring v("old");
  EXPECT_EQ(a.getTx(nullptr, v, "e"), -5);
  EXPECT_TRUE(v.empty());
  v = "old";
  EXPECT_EQ(a.popTx(nullptr, v, "e"), -5);
  EXPECT_TRUE(v.empty());
  EXPECT_EQ(inner->data.count("e"), 0u);  // the record is gone all the same
  EXPECT_EQ(inner->freed, 2);
}

TEST(Adapter, OwnershipOfTheInnerStore) {
  int destroyed = 0;
  MemStore kept(&destroyed);
  { SKVAdapterStorage a(&kept, false); }
  EXPECT_EQ(destroyed, 0);
  { SKVAdapterStorage a(new MemStore(&destroyed), true); }
  EXPECT_EQ(destroyed, 1);
}

TEST(AdapterCursor, NullRawCursorAndDeserialization) {
  MemStore* inner = new MemStore;
  SKVAdapterStorage a(inner, true);
  wdb::ICursor<xstring, xstring>* c = a.makeCursor(nullptr);
  ASSERT_NE(c, nullptr);  // made even without a raw cursor
  xstring k, v;
  EXPECT_EQ(c->next(k, v), -3);
  delete c;

  FakeCursor raw;
  wdb::SKVAdapterCursor cur(&raw, false);
  raw.key = std::string("k\0", 2);
  raw.value = "val";
  EXPECT_EQ(cur.next(k, v), 5);
  EXPECT_EQ(k, xstring("k\0", 2));
  EXPECT_EQ(v, "val");
  raw.value = "";
  EXPECT_EQ(cur.next(k, v), -5);
  raw.key = "";
  raw.giveEmptyKey = true;
  raw.value = "x";
  EXPECT_EQ(cur.next(k, v), -5);
}

TEST(Serializer, RefersToTheStringsBytesAndDeserializesBySwap) {
  xstring s("abc\0d", 5);
  wdb::XStringSerializer ser;
  EXPECT_EQ(ser.getBuffer(), nullptr);
  EXPECT_EQ(ser.getLength(), 0u);
  EXPECT_EQ(ser.serialize(s), 5u);
  EXPECT_EQ(ser.getBuffer(), static_cast<const void*>(s.data()));
  char buf[3] = {'x', 'y', 'z'};
  xstring out("previous");
  EXPECT_EQ(wdb::XStringSerializer(buf, 3).deserialize(out), 3u);
  EXPECT_EQ(out, "xyz");
  EXPECT_EQ(wdb::XStringSerializer(buf, 0).deserialize(out), 0u);
  EXPECT_TRUE(out.empty());
}

TEST(KComparator, ByteOrderShorterPrefixFirst) {
  wdb::BytewiseKComparator c;
  struct Case {
    std::string a, b;
    int sign;
  } cases[] = {
      {"", "", 0},
      {"", "a", -1},
      {"ab", "abc", -1},
      {"abc", "ab", 1},
      {"abd", "abc", 1},
      {"abc", "abd", -1},
      {std::string("a\x7f"), std::string("a\x80"), -1},  // unsigned bytes
      {std::string("\xff"), std::string("\x01\x02"), 1},
      {std::string("a\0", 2), "a", 1},
      {std::string("a\0b", 3), std::string("a\0c", 3), -1},
      {"same", "same", 0},
  };
  for (const Case& t : cases) {
    const int r = c.compare(t.a.data(), t.a.size(), t.b.data(), t.b.size());
    EXPECT_EQ((r > 0) - (r < 0), t.sign) << t.a << " vs " << t.b;
    EXPECT_EQ(c.equal(t.a.data(), t.a.size(), t.b.data(), t.b.size()), t.sign == 0);
  }
  EXPECT_TRUE(c.equal(nullptr, 0, nullptr, 0));
  EXPECT_EQ(c.compare(nullptr, 0, "a", 1), -1);
  const wdb::KComparator& base = c;
  EXPECT_FALSE(base.equal("ab", 2, "abc", 3));
}
