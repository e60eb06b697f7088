// The LRU table: storing results, LRU order, eviction batches, dirty tracking, counters,
// remove-if-same and entries that outlive the table's hold on them.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "mopralib/inc/xds/xlock_order.h"
#include "mopralib/inc/xds/xlru_table_impl.h"
#include "tests/tessix-table/test_value.h"

namespace {

typedef xlru_table<TestEntry, TestValueHasher, TestValueHasher, TestValueComparator,
                   xtable_null_event<TestValue>, 1, 0>
    TestTable;

class Table : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestItem::INIT_POOL();
    TestLocks::construct(10000);
  }

  static TestItem& make(TestItem& h, const std::string& key, const std::string& data = "d") {
    h.ctor(TestValue(key, data));
    return h;
  }
  static std::string key_of(const TestEntry* e) { return str(e->value.key); }
  // The key lock set_mutex picks for a key: handles the table fills must carry it.
  static Poco::FastMutex* lock_of(const std::string& key) {
    TestItem h;
    h.ctor1(key);
    return h.get_mutex();
  }
  static std::string data_of(TestTable& t, const std::string& key) {
    TestItem h;
    return t.get_key(h, key) ? str(h.data().data) : "<missing>";
  }
  // Keys from the LRU head (most recently used) to the tail.
  static std::vector<std::string> lru_order(TestTable& t) {
    std::vector<std::string> keys;
    for (TestEntry* e = t.lru_head(); e != nullptr; e = e->lru_next) keys.push_back(key_of(e));
    return keys;
  }
  static void put(TestTable& t, const std::string& key, const std::string& data = "d") {
    TestItem h;
    t.add_or_update(make(h, key, data));
  }
};

typedef std::vector<std::string> Keys;

TEST_F(Table, StoringResultsForPresentAndMissingKeys) {
  TestTable t(16, 100, false, true);
  TestItem h;
  EXPECT_FALSE(t.update(make(h, "a", "u0")));  // missing: nothing stored
  EXPECT_EQ(0u, t.size());
  EXPECT_TRUE(t.add(make(h, "a", "1")));
  EXPECT_FALSE(t.add(make(h, "a", "2")));  // present: stored entry kept
  EXPECT_EQ("1", data_of(t, "a"));
  EXPECT_TRUE(t.update(make(h, "a", "3")));
  EXPECT_EQ("3", data_of(t, "a"));
  t.add_or_update(make(h, "a", "4"));
  t.add_or_update(make(h, "b", "5"));
  EXPECT_EQ("4", data_of(t, "a"));
  EXPECT_EQ("5", data_of(t, "b"));

  TestItem out;
  EXPECT_FALSE(t.warmup(&out, make(h, "a", "w"), false));  // present, no force: out shares it
  EXPECT_EQ("4", str(out.data().data));
  EXPECT_EQ(lock_of("a"), out.get_mutex());
  EXPECT_FALSE(t.warmup(nullptr, make(h, "a", "w"), false));
  EXPECT_EQ("4", data_of(t, "a"));
  EXPECT_TRUE(t.warmup(nullptr, make(h, "a", "w"), true));
  EXPECT_EQ("w", data_of(t, "a"));
  EXPECT_TRUE(t.warmup(&out, make(h, "c", "6"), false));
  EXPECT_EQ("6", data_of(t, "c"));
  EXPECT_EQ(3u, t.size());
  EXPECT_TRUE(t.check_invariants());

  // The table stores the handle's very entry: one reference for the table, one for h.
  make(h, "d");
  TestEntry* e = h.get_ptr();
  EXPECT_TRUE(t.add(h));
  EXPECT_EQ(2, refcount(e));
  // update with the entry the table already holds keeps one reference each.
  EXPECT_TRUE(t.update(h));
  EXPECT_EQ(2, refcount(e));
  EXPECT_TRUE(t.check_invariants());
}

TEST_F(Table, KeyLookupsGetHasPopRemove) {
  TestTable t(16, 100, false, true);
  put(t, "a", "1");
  put(t, "b", "2");
  TestItem h;
  EXPECT_FALSE(t.get_key(h, std::string("x")));
  EXPECT_TRUE(h.is_null());  // a miss leaves the handle as it was
  EXPECT_TRUE(t.get_key(h, xstring("a")));
  TestEntry* a = h.get_ptr();
  EXPECT_EQ(2, refcount(a));
  EXPECT_EQ(lock_of("a"), h.get_mutex());
  EXPECT_FALSE(t.get_key(h, std::string("x")));
  EXPECT_EQ(a, h.get_ptr());

  EXPECT_TRUE(t.has_key(std::string("b")));
  EXPECT_FALSE(t.has_key(std::string("x")));
  // Any key type with data() and size() looks up the same items.
  TestItem v;
  EXPECT_TRUE(t.get_key(v, std::string_view("b")));
  EXPECT_EQ("2", str(v.data().data));
  EXPECT_EQ(lock_of("b"), v.get_mutex());
  EXPECT_TRUE(t.has_key(std::string_view("a")));
  EXPECT_FALSE(t.has_key(std::string_view("a\0", 2)));

  TestItem p;
  p.ctor1(std::string("junk"));
  EXPECT_FALSE(t.pop_key(p, std::string("x")));
  EXPECT_TRUE(p.is_null());  // a missed pop empties the handle
  EXPECT_TRUE(t.pop_key(p, std::string("a")));
  EXPECT_EQ(a, p.get_ptr());
  EXPECT_EQ(lock_of("a"), p.get_mutex());
  EXPECT_EQ(2, refcount(a));  // h and p; the table let go
  EXPECT_EQ(nullptr, a->lru_next);
  EXPECT_EQ(nullptr, a->lru_prev);
  EXPECT_FALSE(t.has_key(std::string("a")));
  EXPECT_TRUE(t.remove_key(std::string("b")));
  EXPECT_FALSE(t.remove_key(std::string("b")));
  EXPECT_EQ(0u, t.size());
  EXPECT_EQ(nullptr, t.lru_head());
  EXPECT_EQ(nullptr, t.lru_tail());
  EXPECT_EQ("1", str(p.data().data));
}

TEST_F(Table, LruOrderFollowsHitsAndStoresNotHasKey) {
  TestTable t(16, 100, false, true);
  for (const char* k : {"a", "b", "c", "d"}) put(t, k);
  EXPECT_EQ((Keys{"d", "c", "b", "a"}), lru_order(t));
  TestItem h;
  ASSERT_TRUE(t.get_key(h, std::string("b")));
  EXPECT_EQ((Keys{"b", "d", "c", "a"}), lru_order(t));
  ASSERT_TRUE(t.get_key(h, std::string("a")));  // the tail
  EXPECT_EQ((Keys{"a", "b", "d", "c"}), lru_order(t));
  ASSERT_TRUE(t.get_key(h, std::string("a")));  // already the head
  EXPECT_EQ((Keys{"a", "b", "d", "c"}), lru_order(t));
  EXPECT_TRUE(t.has_key(std::string("c")));
  EXPECT_EQ((Keys{"a", "b", "d", "c"}), lru_order(t));
  TestItem u;
  EXPECT_TRUE(t.update(make(u, "d", "new")));
  EXPECT_EQ((Keys{"d", "a", "b", "c"}), lru_order(t));
  EXPECT_FALSE(t.add(make(u, "c")));  // refused add: order unchanged
  EXPECT_EQ((Keys{"d", "a", "b", "c"}), lru_order(t));
  EXPECT_EQ("c", key_of(t.lru_tail()));
  EXPECT_TRUE(t.check_invariants());
}

TEST_F(Table, EvictsTheLeastRecentlyUsed) {
  TestTable t(16, 3, false, true);
  for (const char* k : {"a", "b", "c"}) put(t, k);
  TestItem h;
  ASSERT_TRUE(t.get_key(h, std::string("a")));  // protects a
  put(t, "d");
  EXPECT_EQ((Keys{"d", "a", "c"}), lru_order(t));
  EXPECT_FALSE(t.has_key(std::string("b")));
  TestItem e;
  EXPECT_TRUE(t.add(make(e, "e")));
  EXPECT_EQ((Keys{"e", "d", "a"}), lru_order(t));
  EXPECT_TRUE(t.warmup(nullptr, make(e, "f"), false));
  EXPECT_EQ((Keys{"f", "e", "d"}), lru_order(t));
  // Updates and replacements never evict, and never shrink the table.
  EXPECT_TRUE(t.update(make(e, "d", "x")));
  put(t, "e", "y");
  EXPECT_EQ((Keys{"e", "d", "f"}), lru_order(t));
  // The evicted entry lives on in the handle that shares it, unlinked.
  EXPECT_EQ("a", str(h.data().key));
  EXPECT_EQ(nullptr, h.get_ptr()->lru_next);
  EXPECT_EQ(1, refcount(h.get_ptr()));
  EXPECT_TRUE(t.check_invariants());
}

TEST_F(Table, EvictionBatchesByLruSize) {
  struct Case {
    uint64_t lru_size, table_size, left_after_overflow;
  } cases[] = {
      {1, 2, 1}, {10, 16, 10}, {9999, 16384, 9999}, {10000, 16384, 9999}, {100000, 131072, 99990}};
  for (const Case& c : cases) {
    TestTable t(c.table_size, c.lru_size, false, true);
    for (uint64_t i = 0; i < c.lru_size; ++i) put(t, std::to_string(i));
    ASSERT_EQ(c.lru_size, t.size());
    put(t, "overflow");
    EXPECT_EQ(c.left_after_overflow, t.size()) << c.lru_size;
    // The oldest went first; the newest stays.
    EXPECT_TRUE(t.has_key(std::string("overflow")));
    EXPECT_FALSE(t.has_key(std::string("0"))) << c.lru_size;
    if (c.lru_size > 1) {
      const uint64_t evicted = c.lru_size + 1 - c.left_after_overflow;
      EXPECT_FALSE(t.has_key(std::to_string(evicted - 1))) << c.lru_size;
      EXPECT_TRUE(t.has_key(std::to_string(evicted))) << c.lru_size;
    }
    EXPECT_TRUE(t.check_invariants()) << c.lru_size;
  }
}

TEST_F(Table, EvictionStopsAtATailThatIsNotEvictable) {
  TestTable t(16, 2, false, true);
  put(t, "a");
  put(t, "b");
  t.lru_tail()->evictable = false;  // as a dirty-linked entry would be
  put(t, "c");
  EXPECT_EQ(3u, t.size());
  EXPECT_EQ((Keys{"c", "b", "a"}), lru_order(t));
  t.lru_tail()->evictable = true;
  t.evict_lru();
  EXPECT_EQ((Keys{"c", "b"}), lru_order(t));
}

TEST_F(Table, DirtyTrackingListsKindsTombstonesAndCounters) {
  TestTable t(200, 2, true, true);
  TestItem h;
  EXPECT_TRUE(t.add(make(h, "a")));
  TestEntry* a = h.get_ptr();
  TestItem keep_a;  // holds the first entry past its replacement, to look at it after
  keep_a.reset(h.duplicate());
  EXPECT_EQ(TestTable::ADD, a->dirty);
  EXPECT_FALSE(a->evictable);
  EXPECT_EQ(a, t.dirty_head());
  EXPECT_EQ(1u, t.counter(TestTable::CNT_DIRTY));

  EXPECT_TRUE(t.update(make(h, "a", "2")));  // keeps the first kind
  EXPECT_EQ(TestTable::ADD, h.get_ptr()->dirty);
  EXPECT_EQ(1u, t.counter(TestTable::CNT_DIRTY));
  EXPECT_EQ(nullptr, a->dirty_next);  // the replaced entry was unlinked

  EXPECT_TRUE(t.warmup(nullptr, make(h, "w"), false));  // warm-up stores clean
  EXPECT_EQ(TestTable::CLEAN, h.get_ptr()->dirty);
  EXPECT_TRUE(h.get_ptr()->evictable);
  EXPECT_TRUE(t.update(make(h, "w", "2")));
  EXPECT_EQ(TestTable::UPDATE, h.get_ptr()->dirty);
  t.add_or_update(make(h, "n"));
  EXPECT_EQ(TestTable::ADD_OR_UPDATE, h.get_ptr()->dirty);
  EXPECT_EQ(3u, t.counter(TestTable::CNT_DIRTY));
  // Dirty entries are not evicted: the table stays above its LRU size.
  EXPECT_EQ(3u, t.size());

  // A pop leaves a pending delete (the entry itself) in the dirty-delete list.
  TestItem p;
  EXPECT_TRUE(t.pop_key(p, std::string("a")));
  EXPECT_EQ(2u, t.counter(TestTable::CNT_DIRTY));
  EXPECT_EQ(1u, t.counter(TestTable::CNT_DIRTY_DEL));
  EXPECT_EQ(p.get_ptr(), t.dirty_del_head());
  EXPECT_EQ(TestTable::DELETE, p.get_ptr()->dirty);
  TestItem g;
  EXPECT_FALSE(t.get_key(g, std::string("a")));
  EXPECT_FALSE(t.has_key(std::string("a")));
  EXPECT_FALSE(t.remove_key(std::string("a")));
  EXPECT_FALSE(t.pop_key(g, std::string("a")));
  EXPECT_FALSE(t.update(make(h, "a")));
  // A remove of an absent key records a tombstone built from the key.
  EXPECT_FALSE(t.remove_key(std::string("ghost")));
  EXPECT_EQ(2u, t.counter(TestTable::CNT_DIRTY_DEL));
  EXPECT_EQ(2u, t.dirty_del_size());
  // An add drops the pending delete of its key.
  EXPECT_TRUE(t.add(make(h, "a", "again")));
  EXPECT_EQ(1u, t.counter(TestTable::CNT_DIRTY_DEL));
  EXPECT_EQ("ghost", key_of(t.dirty_del_head()));
  EXPECT_EQ(3u, t.counter(TestTable::CNT_DIRTY));
  EXPECT_TRUE(t.check_invariants());

  // Storing again the entry the table holds (a handle from get_key) keeps the lists sound.
  TestItem same;
  ASSERT_TRUE(t.get_key(same, std::string("w")));
  EXPECT_TRUE(t.update(same));
  t.add_or_update(same);
  EXPECT_EQ(TestTable::UPDATE, same.get_ptr()->dirty);
  EXPECT_EQ(3u, t.counter(TestTable::CNT_DIRTY));
  EXPECT_TRUE(t.check_invariants());

  for (int c = TestTable::CNT_SPARE1; c <= TestTable::CNT_BK_GET_MISS; ++c)
    EXPECT_EQ(0u, t.counter(TestTable::counter_id(c))) << c;  // no back end in this table
  t.clear();
  EXPECT_EQ(0u, t.size());
  EXPECT_EQ(0u, t.dirty_del_size());
  for (int c = 0; c < TestTable::CNT_COUNT; ++c)
    EXPECT_EQ(0u, t.counter(TestTable::counter_id(c))) << c;
  EXPECT_EQ(nullptr, t.dirty_head());
  EXPECT_EQ(nullptr, t.dirty_del_head());
  // Entries still held survive clear with clean links, and can be stored again.
  EXPECT_EQ("again", str(h.data().data));
  EXPECT_EQ(nullptr, h.get_ptr()->dirty_next);
  EXPECT_EQ(nullptr, h.get_ptr()->dirty_prev);
  EXPECT_EQ(nullptr, h.get_ptr()->lru_next);
  EXPECT_TRUE(t.add(h));
  EXPECT_TRUE(t.check_invariants());
}

TEST_F(Table, WithoutDirtyTrackingNothingIsTracked) {
  TestTable t(16, 10, false, true);
  TestItem h;
  t.add(make(h, "a"));
  t.update(make(h, "a"));
  t.add_or_update(make(h, "b"));
  t.remove_key(std::string("a"));
  t.remove_key(std::string("absent"));
  TestItem p;
  t.pop_key(p, std::string("b"));
  EXPECT_EQ(nullptr, t.dirty_head());
  EXPECT_EQ(nullptr, t.dirty_del_head());
  for (int c = 0; c < TestTable::CNT_COUNT; ++c)
    EXPECT_EQ(0u, t.counter(TestTable::counter_id(c))) << c;
  EXPECT_TRUE(p.get_ptr()->evictable);
  EXPECT_EQ(TestTable::CLEAN, p.get_ptr()->dirty);
}

TEST_F(Table, RemoveIfSameRefusesAReplacedEntry) {
  TestTable t(16, 10, false, true);
  put(t, "k", "old");
  TestItem seen;
  ASSERT_TRUE(t.get_key(seen, std::string("k")));
  put(t, "k", "new");  // another writer replaces the item meanwhile
  {
    TestItem::scope_write_lock lock(seen);  // the expired-item path holds the key lock
    EXPECT_FALSE(t.remove_if_same(seen));
  }
  EXPECT_EQ("new", data_of(t, "k"));
  ASSERT_TRUE(t.get_key(seen, std::string("k")));
  {
    TestItem::scope_write_lock lock(seen);
    EXPECT_TRUE(t.remove_if_same(seen));
    EXPECT_FALSE(t.remove_if_same(seen));
  }
  EXPECT_FALSE(t.has_key(std::string("k")));
  TestItem empty;
  EXPECT_FALSE(t.remove_if_same(empty));
  EXPECT_TRUE(t.check_invariants());
}

TEST_F(Table, ClearKeepsHeldEntriesReadableAndDestructionReleasesTheRest) {
  TestItem held;
  {
    TestTable t(16, 10, false, true);
    for (int i = 0; i < 5; ++i) put(t, std::to_string(i), "v" + std::to_string(i));
    ASSERT_TRUE(t.get_key(held, std::string("3")));
    t.clear();
    EXPECT_EQ(0u, t.size());
    EXPECT_EQ(1, refcount(held.get_ptr()));
    EXPECT_EQ("v3", str(held.data().data));
    EXPECT_EQ(nullptr, held.get_ptr()->lru_next);
    EXPECT_EQ(nullptr, held.get_ptr()->lru_prev);
    put(t, "x");
    ASSERT_TRUE(t.get_key(held, std::string("x")));
  }
  EXPECT_EQ(1, refcount(held.get_ptr()));  // the table is gone, the entry is not
  EXPECT_EQ("x", str(held.data().key));
}

TEST_F(Table, EmptyHandleIsABrokenPrecondition) {
  TestTable t(16, 10, false, true);
  TestItem empty;
  EXPECT_DEATH(t.add(empty), "!data.is_null\\(\\)");
  EXPECT_DEATH(t.update(empty), "!data.is_null\\(\\)");
  EXPECT_DEATH(t.add_or_update(empty), "!data.is_null\\(\\)");
  EXPECT_DEATH(t.warmup(nullptr, empty, true), "!data.is_null\\(\\)");
  EXPECT_DEATH(TestTable(16, 0, false, true), "_lru_size > 0");
}

// Index hashers that look at the lock state of the thread that calls them: the table runs
// them under its table lock.
int g_table_locks_seen = -1;
struct RecordingHasher {
  static uint64_t HASH(const TestValue& v) {
    g_table_locks_seen = xlock_order::table_locks_held();
    return TestValueHasher::HASH(v);
  }
};
TestItem* g_other_item = nullptr;
struct KeyLockingHasher {
  static uint64_t HASH(const TestValue& v) {
    if (g_other_item != nullptr) TestItem::scope_write_lock lock(*g_other_item);
    return TestValueHasher::HASH(v);
  }
};

TEST_F(Table, TableLockIsTrackedForTheLockOrderChecks) {
  xlru_table<TestEntry, TestValueHasher, RecordingHasher, TestValueComparator,
             xtable_null_event<TestValue>, 1, 0>
      t(16, 10, false, true);
  TestItem h;
  EXPECT_TRUE(t.add(make(h, "a")));
  EXPECT_EQ(1, g_table_locks_seen);
  EXPECT_EQ(0, xlock_order::table_locks_held());
  // Holding a key lock while the table lock is taken is the permitted order.
  {
    TestItem::scope_write_lock key_lock(h);
    g_table_locks_seen = -1;
    EXPECT_TRUE(t.update(h));
    EXPECT_EQ(1, g_table_locks_seen);
    EXPECT_EQ(1, xlock_order::key_locks_held());
  }
  EXPECT_EQ(0, xlock_order::key_locks_held());
}

TEST_F(Table, KeyLockTakenUnderTheTableLockAborts) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  xlru_table<TestEntry, TestValueHasher, KeyLockingHasher, TestValueComparator,
             xtable_null_event<TestValue>, 1, 0>
      t(16, 10, false, true);
  TestItem other, h;
  other.ctor1(std::string("other"));
  g_other_item = &other;
  EXPECT_DEATH(t.add(make(h, "a")), "lock order: key lock taken while a table lock is held");
  g_other_item = nullptr;
}

// A value that records whether it is destroyed while its thread holds a table lock.
int g_released = 0;
int g_released_under_lock = 0;
struct WatchedValue : TestValue {
  using TestValue::TestValue;
  WatchedValue(const WatchedValue&) = default;
  ~WatchedValue() {
    ++g_released;
    if (xlock_order::table_locks_held() > 0) ++g_released_under_lock;
  }
};
typedef xlru_item_entry<WatchedValue, 2> WatchedEntry;
typedef xtable_item<WatchedEntry, TestValueHasher, 1> WatchedItem;
typedef xlru_table<WatchedEntry, TestValueHasher, TestValueHasher, TestValueComparator,
                   xtable_null_event<WatchedValue>, 1, 0>
    WatchedTable;

// Entries that leave the table by eviction, replacement, removal or pop are released after
// the table lock is released, never under it.
TEST(TableReleases, EntriesLeavingTheTableAreReleasedOutsideTheTableLock) {
  WatchedItem::INIT_POOL();
  g_released = g_released_under_lock = 0;
  {
    WatchedTable t(64, 3, false, true);
    auto store = [&](const std::string& key, int how) {
      WatchedItem h;
      h.ctor(WatchedValue(key, "d"));
      if (how == 0) t.add(h);
      if (how == 1) t.update(h);
      if (how == 2) t.add_or_update(h);
    };
    for (const char* k : {"a", "b", "c", "d", "e", "f"}) store(k, 0);  // evicts a, b, c
    store("d", 1);                                                     // replaces d
    store("e", 2);                                                     // replaces e
    EXPECT_TRUE(t.remove_key(std::string("f")));
    {
      WatchedItem popped;
      EXPECT_TRUE(t.pop_key(popped, std::string("d")));
      WatchedItem h;
      ASSERT_TRUE(t.get_key(h, std::string("e")));
      EXPECT_TRUE(t.remove_if_same(h));
    }
    EXPECT_EQ(0u, t.size());
  }
  EXPECT_GE(g_released, 8);
  EXPECT_EQ(0, g_released_under_lock);
}

}  // namespace
