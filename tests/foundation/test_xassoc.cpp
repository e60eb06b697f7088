#include "src/xds/xassoc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Test objects: a shared object whose payload holds the chain link at a chosen offset and
// an int key at KEY_OFFSET. Keys hash by key / 100, so 10, 20 and 30 share bucket 0.
constexpr size_t KEY_OFFSET = 16;
constexpr size_t PAYLOAD = 24;

std::vector<int> g_destroyed;

int key_of(const void* object) {
  int k;
  std::memcpy(&k, static_cast<const char*>(object) + KEY_OFFSET, sizeof k);
  return k;
}

void* make(int key) {
  void* obj = new_shobject(PAYLOAD, nullptr);
  std::memset(obj, 0x5a, PAYLOAD);  // a stale link must not matter
  std::memcpy(static_cast<char*>(obj) + KEY_OFFSET, &key, sizeof key);
  return obj;
}

uint64_t hash_by_hundreds(const void* key) { return uint64_t(*static_cast<const int*>(key) / 100); }
uint64_t hash_zero(const void*) { return 0; }
int compare_key(const void* key, const void* object) {
  int a = *static_cast<const int*>(key), b = key_of(object);
  return a < b ? -1 : a > b ? 1 : 0;
}
void record_dtor(void* object) { g_destroyed.push_back(key_of(object)); }

// Runs every case with the link first in the object and at an odd offset, as in a packed
// record whose payload starts 2 bytes into its block.
class XAssoc : public ::testing::TestWithParam<uint64_t> {
 protected:
  void SetUp() override {
    g_destroyed.clear();
    table = new_xassoc(3, GetParam(), hash_by_hundreds, compare_key, record_dtor, nullptr);
    ASSERT_NE(table, nullptr);
  }
  void TearDown() override { delete_xassoc(table); }

  xassoc_find_result find(int key) {
    xassoc_find_result r;
    xassoc_find(&r, table, &key);
    return r;
  }
  // Inserts at the position of the key's own lookup; returns the object.
  void* insert(int key) {
    void* obj = make(key);
    xassoc_find_result r = find(key);
    xassoc_insert(table, &r, obj);
    return obj;
  }
  std::vector<int> chain(uint64_t bucket) {
    std::vector<int> keys;
    for (void* o = xassoc_get_bucket(table, bucket); o; o = xassoc_get_next_item(table, o))
      keys.push_back(key_of(o));
    return keys;
  }

  xassoc* table = nullptr;
};

INSTANTIATE_TEST_SUITE_P(LinkOffsets, XAssoc, ::testing::Values(0u, 5u));

TEST_P(XAssoc, InsertKeepsChainSortedAndCounts) {
  void* o30 = insert(30);
  void* o10 = insert(10);
  void* o20 = insert(20);
  insert(150);  // bucket 1
  EXPECT_EQ(chain(0), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(chain(1), (std::vector<int>{150}));
  EXPECT_EQ(xassoc_get_size(table), 4u);
  EXPECT_EQ(xassoc_get_bucket_size(table, 0), 3);
  EXPECT_EQ(xassoc_get_bucket_size(table, 1), 1);
  EXPECT_EQ(xassoc_get_max_bucket_size(table), 3);

  struct Case {
    int key;
    void* found;
    void* prev;
  } cases[] = {{25, nullptr, o20},
               {5, nullptr, nullptr},
               {20, o20, o10},
               {10, o10, nullptr},
               {35, nullptr, o30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    xassoc_find_result r = find(c.key);
    EXPECT_EQ(r.found, c.found);
    EXPECT_EQ(r.prev, c.prev);
    EXPECT_EQ(r.bucket, 0);
  }
}

TEST_P(XAssoc, InsertAtAnEqualObjectGoesJustBeforeIt) {
  insert(10);
  void* first20 = insert(20);
  void* second20 = insert(20);
  EXPECT_EQ(chain(0), (std::vector<int>{10, 20, 20}));
  EXPECT_EQ(xassoc_get_next_item(table, second20), first20);
}

TEST_P(XAssoc, RemoveReleasesAndKeepsMaxBucketSizeUntilClear) {
  insert(30);
  insert(10);
  insert(20);
  for (int key : {20, 10, 30}) {
    xassoc_find_result r = find(key);
    ASSERT_NE(r.found, nullptr);
    xassoc_remove(table, &r);
  }
  EXPECT_EQ(g_destroyed, (std::vector<int>{20, 10, 30}));
  EXPECT_EQ(xassoc_get_size(table), 0u);
  EXPECT_EQ(xassoc_get_bucket_size(table, 0), 0);
  EXPECT_EQ(xassoc_get_bucket(table, 0), nullptr);
  EXPECT_EQ(xassoc_get_max_bucket_size(table), 3);
  xassoc_clear(table);
  EXPECT_EQ(xassoc_get_max_bucket_size(table), 0);
}

// Clearing stops after the last stored object: objects in the first and the last bucket, and
// a bucket detached before, are each handled exactly once.
TEST_P(XAssoc, ClearReleasesEveryObjectOfASparseTable) {
  insert(10);   // bucket 0
  insert(310);  // bucket 3
  insert(320);
  void* detached = insert(120);  // bucket 1
  EXPECT_EQ(xassoc_unlink_bucket(table, 1), detached);
  xassoc_clear(table);
  EXPECT_EQ(g_destroyed, (std::vector<int>{10, 310, 320}));
  EXPECT_EQ(xassoc_get_size(table), 0u);
  for (uint64_t b = 0; b < 4; ++b) EXPECT_EQ(xassoc_get_bucket(table, b), nullptr) << b;
  delete_shobject(detached, record_dtor, nullptr);
  insert(220);  // the table is usable again
  EXPECT_EQ(xassoc_get_size(table), 1u);
}

TEST_P(XAssoc, ReplaceSwapsInPlaceAndReleasesTheOld) {
  insert(10);
  void* old20 = insert(20);
  insert(30);
  sh_shobject(old20);         // keep the old one alive to look at its link
  for (int key : {20, 10}) {  // middle of the chain, then its head
    void* fresh = make(key);
    xassoc_find_result r = find(key);
    xassoc_replace(table, &r, fresh);
    EXPECT_EQ(find(key).found, fresh);
  }
  EXPECT_EQ(g_destroyed, (std::vector<int>{10}));  // old 20 still has our reference
  EXPECT_EQ(xassoc_get_next_item(table, old20), nullptr);
  EXPECT_EQ(chain(0), (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(xassoc_get_size(table), 3u);
  EXPECT_EQ(xassoc_get_bucket_size(table, 0), 3);
  delete_shobject(old20, record_dtor, nullptr);
  EXPECT_EQ(g_destroyed, (std::vector<int>{10, 20}));
}

TEST_P(XAssoc, UnlinkBucketHandsTheChainOverWithoutReleasing) {
  insert(30);
  insert(10);
  insert(20);
  insert(150);
  void* head = xassoc_unlink_bucket(table, 0);
  ASSERT_NE(head, nullptr);
  EXPECT_EQ(key_of(head), 10);
  void* second = xassoc_get_next_item(table, head);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(key_of(second), 20);
  EXPECT_EQ(key_of(xassoc_get_next_item(table, second)), 30);
  EXPECT_EQ(xassoc_get_size(table), 1u);
  EXPECT_EQ(xassoc_get_bucket(table, 0), nullptr);
  EXPECT_EQ(xassoc_get_bucket_size(table, 0), 0);
  EXPECT_TRUE(g_destroyed.empty());
  EXPECT_EQ(xassoc_unlink_bucket(table, 4), nullptr);  // out of range
  for (void* o = head; o;) {
    void* next = xassoc_get_next_item(table, o);
    delete_shobject(o, record_dtor, nullptr);
    o = next;
  }
  EXPECT_EQ(g_destroyed.size(), 3u);
}

TEST_P(XAssoc, TableReleasesOnlyItsOwnReference) {
  void* obj = insert(40);
  sh_shobject(obj);  // a caller's reference
  xassoc_find_result r = find(40);
  xassoc_remove(table, &r);
  EXPECT_TRUE(g_destroyed.empty());
  EXPECT_TRUE(shobject_alone(obj));
  delete_shobject(obj, record_dtor, nullptr);
  EXPECT_EQ(g_destroyed, (std::vector<int>{40}));
}

TEST_P(XAssoc, OverridesSteerTheLookup) {
  void* o10 = insert(10);
  void* o20 = insert(20);
  insert(30);
  // Identity compare: 0 for the same object, otherwise "after", so the walk never stops early.
  auto same_object = [](const void* key, const void* object) { return key == object ? 0 : 1; };
  auto hash_object = [](const void* object) { return uint64_t(key_of(object) / 100); };
  xassoc_find_result r;
  xassoc_find_key(&r, table, o20, hash_object, same_object);
  EXPECT_EQ(r.found, o20);
  EXPECT_EQ(r.prev, o10);
  EXPECT_EQ(xassoc_find_bucket_key(table, o20, hash_object), 0);
  int k = 270;
  EXPECT_EQ(xassoc_find_bucket(table, &k), 2);
  k = 570;  // 5 & mask 3
  EXPECT_EQ(xassoc_find_bucket(table, &k), 1);
}

TEST_P(XAssoc, OutOfRangePositionsAndNullsDoNothing) {
  void* obj = make(10);
  xassoc_find_result r;
  make_not_found_result(&r);
  EXPECT_EQ(r.found, nullptr);
  EXPECT_EQ(r.prev, nullptr);
  EXPECT_EQ(r.bucket, -1);
  xassoc_insert(table, &r, obj);
  xassoc_replace(table, &r, obj);
  xassoc_remove(table, &r);
  r.bucket = 4;  // == table_size
  xassoc_insert(table, &r, obj);
  EXPECT_EQ(xassoc_get_size(table), 0u);
  r.bucket = 0;
  xassoc_insert(table, &r, nullptr);
  EXPECT_EQ(xassoc_get_size(table), 0u);

  xassoc_find_result f;
  f.bucket = 7;
  xassoc_find(&f, table, nullptr);
  EXPECT_EQ(f.bucket, -1);
  EXPECT_EQ(xassoc_find_bucket(table, nullptr), -1);
  EXPECT_EQ(xassoc_get_bucket(table, 4), nullptr);
  EXPECT_EQ(xassoc_get_bucket_size(table, 4), 0);
  EXPECT_TRUE(g_destroyed.empty());
  delete_shobject(obj, record_dtor, nullptr);
}

TEST(XAssocCreate, BucketCountIsNextPowerOfTwo) {
  struct Case {
    uint64_t asked, buckets;
  } cases[] = {{2, 2}, {3, 4}, {1000, 1024}, {1024, 1024}, {1025, 2048}};
  for (const Case& c : cases) {
    xassoc* t = new_xassoc(c.asked, 0, hash_zero, compare_key, nullptr, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(xassoc_get_table_size(t), c.buckets) << c.asked;
    EXPECT_EQ(xassoc_get_hash_fn(t), &hash_zero);
    EXPECT_EQ(xassoc_get_compare_fn(t), &compare_key);
    EXPECT_EQ(xassoc_get_size(t), 0u);
    delete_xassoc(t);
  }
}

TEST(XAssocCreate, NullTableIsAccepted) {
  xassoc_find_result r;
  int key = 1;
  xassoc_find(&r, nullptr, &key);
  EXPECT_EQ(r.bucket, -1);
  EXPECT_EQ(xassoc_find_bucket(nullptr, &key), -1);
  EXPECT_EQ(xassoc_get_table_size(nullptr), 0u);
  EXPECT_EQ(xassoc_get_size(nullptr), 0u);
  EXPECT_EQ(xassoc_get_max_bucket_size(nullptr), 0);
  EXPECT_EQ(xassoc_get_hash_fn(nullptr), nullptr);
  EXPECT_EQ(xassoc_get_compare_fn(nullptr), nullptr);
  EXPECT_EQ(xassoc_get_bucket(nullptr, 0), nullptr);
  EXPECT_EQ(xassoc_unlink_bucket(nullptr, 0), nullptr);
  EXPECT_EQ(xassoc_get_next_item(nullptr, &key), nullptr);
  xassoc_insert(nullptr, &r, &key);
  xassoc_remove(nullptr, &r);
  xassoc_clear(nullptr);
  delete_xassoc(nullptr);
}

TEST(XAssocCreate, DeleteReleasesEveryStoredObject) {
  g_destroyed.clear();
  xassoc* t = new_xassoc(8, 0, hash_by_hundreds, compare_key, record_dtor, nullptr);
  for (int key : {1, 101, 102, 801}) {
    void* obj = make(key);
    xassoc_find_result r;
    xassoc_find(&r, t, &key);
    xassoc_insert(t, &r, obj);
  }
  delete_xassoc(t);
  EXPECT_EQ(g_destroyed.size(), 4u);
}

// A chain longer than the 16-bit counts: size stays exact, the reported chain lengths
// saturate at 65535.
TEST(XAssocCreate, ChainBeyond65535KeepsSizeExact) {
  g_destroyed.clear();
  xassoc* t = new_xassoc(2, 0, hash_zero, compare_key, nullptr, nullptr);
  const int n = 70000;
  xassoc_find_result head{nullptr, nullptr, 0};
  for (int key = n; key > 0; --key) xassoc_insert(t, &head, make(key));  // descending, at the head
  EXPECT_EQ(xassoc_get_size(t), uint64_t(n));
  EXPECT_EQ(xassoc_get_bucket_size(t, 0), 0xffff);
  EXPECT_EQ(xassoc_get_max_bucket_size(t), 0xffff);

  xassoc_remove(t, &head);  // key 1
  EXPECT_EQ(xassoc_get_size(t), uint64_t(n - 1));

  void* chain = xassoc_unlink_bucket(t, 0);
  EXPECT_EQ(xassoc_get_size(t), 0u);
  EXPECT_EQ(key_of(chain), 2);
  int released = 0;
  for (void* o = chain; o; ++released) {
    void* next = xassoc_get_next_item(t, o);
    delete_shobject(o, nullptr, nullptr);
    o = next;
  }
  EXPECT_EQ(released, n - 1);
  delete_xassoc(t);
}

TEST(XAssocDeathTest, BrokenPreconditionsAbort) {
  EXPECT_DEATH(new_xassoc(1, 0, hash_zero, compare_key, nullptr, nullptr),
               "Assertion failed: table_size > 1 && hash_fn != 0 && compare_fn != 0");
  EXPECT_DEATH(new_xassoc(16, 0, nullptr, compare_key, nullptr, nullptr),
               "Assertion failed: table_size > 1 && hash_fn != 0 && compare_fn != 0");
  EXPECT_DEATH(new_xassoc(16, 0, hash_zero, nullptr, nullptr, nullptr),
               "Assertion failed: table_size > 1 && hash_fn != 0 && compare_fn != 0");
}

TEST(XAssocDeathTest, ReplacingOrRemovingNothingAborts) {
  xassoc* t = new_xassoc(4, 0, hash_by_hundreds, compare_key, nullptr, nullptr);
  int key = 10;
  xassoc_find_result r;
  xassoc_find(&r, t, &key);  // empty bucket: nothing at the position
  EXPECT_DEATH(xassoc_remove(t, &r), "Assertion failed: found != 0");
  void* obj = make(10);
  EXPECT_DEATH(xassoc_replace(t, &r, obj), "Assertion failed: found != 0");
  delete_shobject(obj, nullptr, nullptr);
  delete_xassoc(t);
}

}  // namespace
