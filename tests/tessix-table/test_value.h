// A small value for the table templates, laid out like the cache's item value: key, flags,
// method, expiry, data.
#ifndef TOKA_TESTS_TESSIX_TABLE_TEST_VALUE_H
#define TOKA_TESTS_TESSIX_TABLE_TEST_VALUE_H

#include <cstdint>
#include <string>

#include "mopralib/inc/xds/xhash_compare.h"
#include "mopralib/inc/xds/xtable_item.h"
#include "src/xstring.h"

struct TestValue {
  xstring key;
  int16_t flags = 0;
  uint16_t compressMed = 0;
  uint32_t expiry = 0;
  xstring data;

  TestValue() {}
  template <typename _Key>
  explicit TestValue(const _Key& k) : key(k.data(), k.size()) {}
  TestValue(const std::string& k, const std::string& d) : key(k), data(d) {}
  TestValue(const TestValue&) = default;
};

struct TestValueHasher {
  static uint64_t HASH(const TestValue& v) { return jenkins_hasher::HASH(v.key); }
};
struct TestValueComparator {
  static int COMPARE(const TestValue& a, const TestValue& b) {
    return Comparator::COMPARE(a.key, b.key);
  }
};

typedef xlru_item_entry<TestValue, 1> TestEntry;
typedef xtable_item<TestEntry, TestValueHasher, 1> TestItem;
typedef global_locks<TestEntry, 1> TestLocks;

inline uint16_t refcount(const void* entry) {
  uint16_t n;
  __builtin_memcpy(&n, static_cast<const char*>(entry) - 2, 2);
  return n;
}

inline std::string str(const xstring& s) { return std::string(s.data(), s.size()); }

#endif  // TOKA_TESTS_TESSIX_TABLE_TEST_VALUE_H
