// Entry records, the item handle with its copy-on-write operations and key-lock guards, the
// entry pool, the key-lock array, and the hasher and comparator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mopralib/inc/xds/xlock_order.h"
#include "tests/tessix-table/test_value.h"

namespace {

uintptr_t addr(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// The allocator chunk behind an entry: the block (count) sits 2 bytes in front of the
// entry and the byte in front of the block holds the padding from the chunk.
const void* chunk_of(const void* entry) {
  const char* block = static_cast<const char*>(entry) - 2;
  return block - (static_cast<uint8_t>(block[-1]) & 0x7f);
}

// Pool of the default set whose class size is exactly class_size, or null.
xpool* default_pool_of(uint64_t class_size) {
  xpool* p = xlabs_get_pool(find_xlabs_default(class_size), class_size);
  return p != nullptr && xpool_get_class_size(p) == class_size ? p : nullptr;
}

struct Dump {
  std::map<std::string, std::string> kv;
  static void cb(void* c, const char* k, const char* v) { static_cast<Dump*>(c)->kv[k] = v; }
};

// Runs first (tests run in declaration order): entries made before the pool exists come
// from malloc, entries made after from the pool, and each goes back where it came from.
TEST(EntryPool, MallocUntilInitPoolThenPoolEachBlockFreedWhereItCameFrom) {
  ASSERT_NE(nullptr, find_xlabs_default(1));  // the allocator runs, the entry pool does not exist
  ASSERT_EQ(nullptr, TestItem::POOL());
  TestItem before;
  before.ctor1(std::string("before"));
  EXPECT_TRUE(xchunk_is_nullpool(chunk_of(before.get_ptr())));
  EXPECT_EQ(0u, addr(before.get_ptr()) % alignof(TestEntry));

  testing::internal::CaptureStdout();
  TestItem::INIT_POOL();
  TestItem::INIT_POOL();  // once only
  const std::string out = testing::internal::GetCapturedStdout();
  xpool* pool = TestItem::POOL();
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(TestItem::POOL_CLASS_SIZE, xpool_get_class_size(pool));
  EXPECT_EQ(pool, default_pool_of(TestItem::POOL_CLASS_SIZE));
  const std::string n = std::to_string(TestItem::POOL_CLASS_SIZE);
  EXPECT_EQ("[inf] xtable_item::INIT_POOL: class_size=" + n + ", pool_class_size=" + n + "\n", out);

  // The pool is one of the default set's pools, in class order.
  std::vector<uint64_t> classes;
  xlabs_traverse_pools(
      find_xlabs_default(TestItem::POOL_CLASS_SIZE),
      [](void* c, xpool* p) {
        static_cast<std::vector<uint64_t>*>(c)->push_back(xpool_get_class_size(p));
      },
      &classes);
  EXPECT_EQ(1, std::count(classes.begin(), classes.end(), TestItem::POOL_CLASS_SIZE));
  EXPECT_TRUE(std::is_sorted(classes.begin(), classes.end()));

  // The pool's figures in the allocator's dump follow the entries.
  std::vector<TestItem> items(100);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].ctor1(std::to_string(i));
    EXPECT_EQ(0u, addr(items[i].get_ptr()) % alignof(TestEntry)) << i;
    EXPECT_EQ(TestItem::POOL_CLASS_SIZE, xchunk_get_class_size(chunk_of(items[i].get_ptr())));
  }
  Dump d;
  xpool_dump_info(pool, &Dump::cb, &d);
  EXPECT_EQ(n, d.kv["class_size"]);
  const uint64_t total = std::stoull(d.kv["total_chunks"]);
  EXPECT_EQ(total - 100, std::stoull(d.kv["free_chunks"]));
  items.clear();
  before.reset();  // a malloc block after the pool exists: still freed by free (ASan checks)
  Dump after;
  xpool_dump_info(pool, &Dump::cb, &after);
  EXPECT_EQ(after.kv["total_chunks"], after.kv["free_chunks"]);
}

TEST(EntryPool, MallocRefusesMoreThanAnEntryOnceThePoolExists) {
  TestItem::INIT_POOL();
  EXPECT_DEATH(TestItem::MALLOC(TestItem::ENTRY_BLOCK_SIZE + 1), "size <= sizeof \\(ItemEntry\\)");
}

// A value whose entry's computed class size is a class of the default set already.
struct WideValue {
  xstring key;
  char pad[192];
  WideValue() : pad() {}
  template <typename K>
  explicit WideValue(const K& k) : key(k.data(), k.size()), pad() {}
};
struct WideHasher {
  static uint64_t HASH(const WideValue& v) { return jenkins_hasher::HASH(v.key); }
};
typedef xtable_item<xlru_item_entry<WideValue, 1>, WideHasher, 1> WideItem;

TEST(EntryPool, ClassSizeTakenByTheDefaultSetMovesToTheNextFreeSize) {
  ASSERT_EQ(282u, WideItem::POOL_CLASS_SIZE);
  ASSERT_NE(nullptr, default_pool_of(282)) << "the default set has a class of 282 bytes";
  testing::internal::CaptureStdout();
  WideItem::INIT_POOL();
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, WideItem::POOL());
  EXPECT_EQ(283u, xpool_get_class_size(WideItem::POOL()));
  EXPECT_EQ("[inf] xtable_item::INIT_POOL: class_size=283, pool_class_size=283\n", out);
  WideItem w;
  w.ctor1(std::string("wide"));
  EXPECT_EQ(0u, addr(w.get_ptr()) % alignof(xlru_item_entry<WideValue, 1>));
  EXPECT_EQ("wide", str(w.data().key));
}

TEST(EntryPool, FirstUseFromManyThreadsAddsOnePool) {
  struct Other {
    xstring key;
    char pad[40];
    Other() : pad() {}
  };
  struct OtherHasher {
    static uint64_t HASH(const Other&) { return 0; }
  };
  typedef xtable_item<xlru_item_entry<Other, 7>, OtherHasher, 1> OtherItem;
  const uint64_t pools = xlabs_get_num_pools(find_xlabs_default(OtherItem::POOL_CLASS_SIZE));
  testing::internal::CaptureStdout();
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([] { OtherItem::INIT_POOL(); });
  for (auto& t : threads) t.join();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(pools + 1, xlabs_get_num_pools(find_xlabs_default(OtherItem::POOL_CLASS_SIZE)));
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
}

// The pool whose page holds a pool chunk (the page header in front of the chunk's tag).
xpool* owner_of(const void* chunk) {
  uint32_t tag;
  std::memcpy(&tag, static_cast<const char*>(chunk) - 4, 4);
  return reinterpret_cast<const xpage_in_pool*>(static_cast<const char*>(chunk) - 4 - tag)->pool;
}
uint64_t in_use(const xpool* p) {
  return static_cast<uint64_t>(p->chunks_per_page) * p->total_pages - p->free_chunks;
}

// Threads alive at once hold different stripes; each takes its entries from its stripe's
// copy of the entry pool, and a free from another thread puts each chunk back into the
// copy that owns it. The dump of POOL reports the sums.
TEST(EntryPool, EachThreadTakesFromItsStripeCopyAndFreesGoBackToTheOwner) {
  TestItem::INIT_POOL();
  xpool* const pool = TestItem::POOL();
  ASSERT_NE(nullptr, pool);
  std::set<xpool*> copies;
  for (unsigned k = 0; k < XPAGE_STRIPES; ++k) copies.insert(xlabs_stripe_pool(pool, k));
  ASSERT_EQ(XPAGE_STRIPES, copies.size());
  EXPECT_EQ(pool, xlabs_stripe_pool(pool, 0));
  const unsigned main_stripe = xlabs_thread_stripe();
  std::vector<uint64_t> before(XPAGE_STRIPES);
  for (unsigned k = 0; k < XPAGE_STRIPES; ++k) before[k] = in_use(xlabs_stripe_pool(pool, k));

  const size_t counts[3] = {11, 23, 37};
  std::vector<TestItem> made[3] = {std::vector<TestItem>(11), std::vector<TestItem>(23),
                                   std::vector<TestItem>(37)};
  unsigned stripe[3];
  std::mutex m;
  std::condition_variable cv;
  int done = 0;
  bool go = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      stripe[t] = xlabs_thread_stripe();
      for (size_t i = 0; i < counts[t]; ++i) made[t][i].ctor1(std::to_string(t * 100 + i));
      std::unique_lock<std::mutex> lock(m);
      ++done;
      cv.notify_all();
      cv.wait(lock, [&] { return go; });  // keeps the stripe until the checks are done
    });
  }
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return done == 3; });
  }
  const std::set<unsigned> distinct = {main_stripe, stripe[0], stripe[1], stripe[2]};
  EXPECT_EQ(4u, distinct.size());
  uint64_t live = 0;
  for (unsigned k = 0; k < XPAGE_STRIPES; ++k)
    live += in_use(xlabs_stripe_pool(pool, k)) - before[k];
  EXPECT_EQ(11u + 23u + 37u, live);
  for (int t = 0; t < 3; ++t) {
    xpool* const own = xlabs_stripe_pool(pool, stripe[t]);
    EXPECT_EQ(before[stripe[t]] + counts[t], in_use(own)) << t;
    for (const TestItem& item : made[t]) EXPECT_EQ(own, owner_of(chunk_of(item.get_ptr()))) << t;
  }
  EXPECT_EQ(before[main_stripe], in_use(xlabs_stripe_pool(pool, main_stripe)));
  Dump d;
  xpool_dump_info(pool, &Dump::cb, &d);
  uint64_t sum = 0;
  for (unsigned k = 0; k < XPAGE_STRIPES; ++k) sum += in_use(xlabs_stripe_pool(pool, k));
  EXPECT_EQ(sum, std::stoull(d.kv["total_chunks"]) - std::stoull(d.kv["free_chunks"]));

  for (auto& items : made) items.clear();  // freed on the main thread's stripe
  for (unsigned k = 0; k < XPAGE_STRIPES; ++k)
    EXPECT_EQ(before[k], in_use(xlabs_stripe_pool(pool, k))) << k;
  {
    std::lock_guard<std::mutex> lock(m);
    go = true;
  }
  cv.notify_all();
  for (auto& th : threads) th.join();
}

TEST(EntryRecord, FieldOrderNaturalAlignmentAndBuildState) {
  TestItem h;
  h.ctor0();
  TestEntry* e = h.get_ptr();
  EXPECT_EQ(addr(e), addr(&e->next));  // the index's link sits first
  EXPECT_LT(addr(&e->next), addr(&e->value));
  EXPECT_LT(addr(&e->value), addr(&e->dirty_next));
  EXPECT_LT(addr(&e->dirty_next), addr(&e->dirty_prev));
  EXPECT_LT(addr(&e->dirty_prev), addr(&e->dirty));
  EXPECT_LT(addr(&e->dirty), addr(&e->evictable));
  EXPECT_LT(addr(&e->evictable), addr(&e->lru_next));
  EXPECT_LT(addr(&e->lru_next), addr(&e->lru_prev));
  for (const void* p :
       {static_cast<const void*>(&e->next), static_cast<const void*>(&e->dirty_next),
        static_cast<const void*>(&e->dirty_prev), static_cast<const void*>(&e->lru_next),
        static_cast<const void*>(&e->lru_prev)})
    EXPECT_EQ(0u, addr(p) % alignof(void*));
  EXPECT_EQ(nullptr, e->next);
  EXPECT_EQ(nullptr, e->dirty_next);
  EXPECT_EQ(nullptr, e->dirty_prev);
  EXPECT_EQ(nullptr, e->lru_next);
  EXPECT_EQ(nullptr, e->lru_prev);
  EXPECT_EQ(0, e->dirty);
  EXPECT_TRUE(e->evictable);
  EXPECT_EQ(1, refcount(e));
  const TestValue& v = h.data();
  EXPECT_TRUE(v.key.empty() && v.data.empty());
  EXPECT_EQ(0, v.flags);
  EXPECT_EQ(0, v.compressMed);
  EXPECT_EQ(0u, v.expiry);
}

TEST(Handle, EmptyHandle) {
  TestItem h;
  EXPECT_TRUE(h.is_null());
  EXPECT_EQ(nullptr, h.get_ptr());
  EXPECT_EQ(nullptr, h.get_mutex());
  EXPECT_EQ(nullptr, h.duplicate());
  EXPECT_FALSE(h.self_clone());
  try {
    h.data();
    FAIL() << "no exception";
  } catch (const wexception& e) {
    EXPECT_STREQ("xtable_item is null", e.what());
  }
  h.ctor1(std::string("k"));
  h.reset();
  EXPECT_THROW(static_cast<const TestItem&>(h).data(), wexception);
}

TEST(Handle, DuplicateResetSwapCountReferences) {
  TestItem a, b;
  a.ctor(TestValue("k", "v"));
  TestEntry* e = a.get_ptr();
  b.reset(a.duplicate());
  EXPECT_EQ(e, b.get_ptr());
  EXPECT_EQ(2, refcount(e));
  EXPECT_EQ(a.get_mutex(), b.get_mutex());

  // reset with another reference on the entry it already holds keeps one count per holder.
  b.reset(b.duplicate());
  EXPECT_EQ(2, refcount(e));

  TestItem c;
  c.ctor1(std::string("other"));
  TestEntry* f = c.get_ptr();
  c.swap(b);
  EXPECT_EQ(e, c.get_ptr());
  EXPECT_EQ(f, b.get_ptr());
  c.swap(c);
  EXPECT_EQ(e, c.get_ptr());
  EXPECT_EQ(2, refcount(e));
  EXPECT_EQ(1, refcount(f));
  c.reset();
  EXPECT_EQ(1, refcount(e));
  EXPECT_EQ("v", str(a.data().data));
}

TEST(Handle, CloneAndSelfCloneCopyOnWrite) {
  TestItem a;
  a.ctor(TestValue("key", "old"));
  EXPECT_FALSE(a.self_clone());  // sole holder: nothing to do
  TestEntry* e = a.get_ptr();
  EXPECT_EQ(e, a.get_ptr());

  TestItem other;
  other.reset(a.duplicate());
  ASSERT_EQ(2, refcount(e));
  EXPECT_TRUE(a.self_clone());
  EXPECT_NE(e, a.get_ptr());
  EXPECT_EQ(1, refcount(e));
  EXPECT_EQ(1, refcount(a.get_ptr()));
  a.data().data = "new";
  EXPECT_EQ("old", str(other.data().data));
  EXPECT_EQ("key", str(a.data().key));
  EXPECT_EQ(other.get_mutex(), a.get_mutex());  // same key, same key lock

  TestItem copy;
  a.clone(copy);
  EXPECT_NE(a.get_ptr(), copy.get_ptr());
  EXPECT_EQ("new", str(copy.data().data));
  EXPECT_EQ(nullptr, copy.get_ptr()->lru_next);
  TestItem empty;
  empty.clone(copy);  // an empty source empties the target
  EXPECT_TRUE(copy.is_null());
  a.clone(a);
  EXPECT_EQ(1, refcount(a.get_ptr()));

  // ctor with the handle's own value builds the copy before letting go of the old entry.
  a.ctor(a.data());
  EXPECT_EQ("new", str(a.data().data));
}

TEST(KeyLocks, EmptyArrayThenBuiltOnceThenKept) {
  typedef global_locks<TestEntry, 2> Locks;
  typedef xtable_item<TestEntry, TestValueHasher, 2> Item;
  EXPECT_TRUE(Locks::empty());
  EXPECT_FALSE(Locks::construct(0));
  EXPECT_FALSE(Locks::construct(static_cast<uint64_t>(int64_t{-5})));  // negative: as 0
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Locks::construct(uint64_t(1) << 40));
  EXPECT_EQ("[ERR] global_locks::construct: refused mutexs_array size 1099511627776\n",
            testing::internal::GetCapturedStderr());
  EXPECT_TRUE(Locks::empty());
  try {
    Locks::mutex_at_hash(1);
    FAIL() << "no exception";
  } catch (const wexception& e) {
    EXPECT_STREQ("mutexs array is null", e.what());
  }

  // Without key locks a guard locks nothing.
  Item h;
  h.ctor1(std::string("k"));
  EXPECT_EQ(nullptr, h.get_mutex());
  {
    Item::scope_write_lock g(h, true);
    EXPECT_FALSE(g.locked());
    EXPECT_FALSE(g.lock());
  }

  EXPECT_TRUE(Locks::construct(10000));
  EXPECT_EQ(10000u, Locks::size());
  h.set_mutex();
  Poco::FastMutex* m = h.get_mutex();
  ASSERT_NE(nullptr, m);
  EXPECT_EQ(Locks::mutex_at_hash(jenkins_hasher::HASH(std::string("k"))), m);

  // A second construct, while another thread holds a key lock, changes nothing.
  Item::scope_write_lock held(h, true);
  ASSERT_TRUE(held.locked());
  std::string out;
  std::thread t([&] {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Locks::construct(5));
    out = testing::internal::GetCapturedStdout();
  });
  t.join();
  EXPECT_EQ("global_locks: mutexs_array was already constructed\n", out);
  EXPECT_EQ(10000u, Locks::size());
  h.set_mutex();
  EXPECT_EQ(m, h.get_mutex());
}

TEST(KeyLocks, FirstConstructFromManyThreadsBuildsOnce) {
  typedef global_locks<TestEntry, 3> Locks;
  std::atomic<int> built{0};
  testing::internal::CaptureStdout();
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      if (Locks::construct(10000 + i)) ++built;
    });
  for (auto& t : threads) t.join();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(1, built.load());
  EXPECT_GE(Locks::size(), 10000u);
  EXPECT_LT(Locks::size(), 10008u);
  EXPECT_EQ(7, std::count(out.begin(), out.end(), '\n')) << out;
}

TEST(KeyLocks, ChosenByJenkinsHashModuloTheSize) {
  TestLocks::construct(10000);
  ASSERT_EQ(10000u, TestLocks::size());
  Poco::FastMutex* base = TestLocks::mutex_at_hash(0);
  // Find two keys whose hashes agree modulo 10000, and one that does not.
  std::map<uint64_t, std::string> seen;
  std::string k1, k2;
  for (int i = 0; k2.empty(); ++i) {
    std::string k = "key" + std::to_string(i);
    uint64_t slot = jenkins_hasher::HASH(k) % 10000;
    auto it = seen.find(slot);
    if (it != seen.end()) {
      k1 = it->second;
      k2 = k;
    } else {
      seen[slot] = k;
    }
  }
  TestItem a, b, c;
  a.ctor1(k1);
  b.ctor1(k2);
  c.ctor1(std::string("key-unrelated"));
  EXPECT_EQ(a.get_mutex(), b.get_mutex());
  EXPECT_EQ(base + jenkins_hasher::HASH(k1) % 10000, a.get_mutex());
  EXPECT_EQ(base + jenkins_hasher::HASH(std::string("key-unrelated")) % 10000, c.get_mutex());

  // ctor0 has an empty key; setting the key needs set_mutex again.
  TestItem d;
  d.ctor0();
  EXPECT_EQ(base + jenkins_hasher::HASH(std::string()) % 10000, d.get_mutex());
  d.data().key = k1;
  d.set_mutex();
  EXPECT_EQ(a.get_mutex(), d.get_mutex());
}

// The slot is exactly h % size for every hash, 32-bit or wider, and for any array size.
template <unsigned INST>
void expect_slots_are_hash_modulo_size(uint64_t n) {
  typedef global_locks<TestEntry, INST> Locks;
  ASSERT_TRUE(Locks::construct(n));
  Poco::FastMutex* base = Locks::mutex_at_hash(0);
  const uint64_t hashes[] = {0,          1,          n - 1,       n,
                             n + 1,      2 * n - 1,  0x7fffffff,  0x80000000,
                             0xfffffffe, 0xffffffff, 0x100000000, 0x123456789abcdef0,
                             UINT64_MAX};
  for (uint64_t h : hashes)
    EXPECT_EQ(base + h % n, Locks::mutex_at_hash(h)) << "size " << n << " hash " << h;
  for (uint32_t h = 1; h != 0 && h < 0xfff00000u; h = h * 3 + 7)
    EXPECT_EQ(base + h % n, Locks::mutex_at_hash(h)) << "size " << n << " hash " << h;
}

TEST(KeyLocks, SlotIsHashModuloSizeForEveryHashAndSize) {
  expect_slots_are_hash_modulo_size<10>(1);
  expect_slots_are_hash_modulo_size<11>(3);
  expect_slots_are_hash_modulo_size<12>(10000);
  expect_slots_are_hash_modulo_size<13>(65536);
  expect_slots_are_hash_modulo_size<14>(999983);  // prime
}

TEST(KeyLocks, GuardsLockOnceAndExcludeEachOther) {
  TestLocks::construct(10000);
  TestItem h;
  h.ctor1(std::string("guarded"));
  TestItem::scope_read_lock r(h, false);
  EXPECT_FALSE(r.locked());
  EXPECT_TRUE(r.lock());
  EXPECT_FALSE(r.lock());
  bool other_got_it = true;
  std::thread t([&] { other_got_it = h.get_mutex()->tryLock(); });
  t.join();
  EXPECT_FALSE(other_got_it);  // read guards are exclusive
  r.unlock();
  EXPECT_FALSE(r.locked());
  r.unlock();  // harmless
  EXPECT_EQ(0, xlock_order::key_locks_held());
}

TEST(KeyLocksDeathTest, SecondKeyLockOrKeyLockUnderTableLockAborts) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  TestLocks::construct(10000);
  TestItem a, b;
  a.ctor1(std::string("a"));
  b.ctor1(std::string("b"));
  EXPECT_DEATH(
      {
        TestItem::scope_write_lock ga(a);
        TestItem::scope_read_lock gb(b);
      },
      "lock order: second key lock taken by one thread");
  EXPECT_DEATH(
      {
        xlock_order::table_locked();
        TestItem::scope_write_lock ga(a);
      },
      "lock order: key lock taken while a table lock is held");
}

TEST(Policies, JenkinsHashIsLookup3WithInitialValue13) {
  EXPECT_EQ(0xdeadbefcu, jenkins_hasher::HASH(std::string()));
  EXPECT_EQ(0xe0a38690u, jenkins_hasher::HASH(xstring("a")));
  EXPECT_EQ(0x2e0cc8f3u, jenkins_hasher::HASH(std::string("hello")));
  EXPECT_EQ(0x2e0cc8f3u, TestValueHasher::HASH(TestValue(std::string("hello"))));
}

TEST(Policies, ComparatorOrdersBytesUnsignedThenShorterFirst) {
  struct Case {
    std::string a, b;
    int sign;
  } cases[] = {
      {"", "", 0},
      {"a", "a", 0},
      {"a", "b", -1},
      {"b", "a", 1},
      {"a", "ab", -1},
      {"ab", "a", 1},
      {"", "a", -1},
      {"\xff", "a", 1},
      {std::string("a\0b", 3), std::string("a\0c", 3), -1},
      {std::string("a\0", 2), "a", 1},
  };
  for (const Case& c : cases) {
    int r = Comparator::COMPARE(c.a, c.b);
    EXPECT_EQ(c.sign, (r > 0) - (r < 0)) << c.a << " / " << c.b;
    EXPECT_EQ(c.sign, (c.a.compare(c.b) > 0) - (c.a.compare(c.b) < 0));
  }
}

}  // namespace
