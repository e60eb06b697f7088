// Slab sets and the process-wide allocator: the default class tables, which class serves
// a request, counters, the malloc-style front, start and stop.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "default_config.h"
#include "src/xlabs.h"

namespace {

std::string hex(const void* p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%lx", reinterpret_cast<unsigned long>(p));
  return buf;
}

struct Dump {
  std::vector<std::pair<std::string, std::string>> kv;
  static void cb(void* ctx, const char* k, const char* v) {
    static_cast<Dump*>(ctx)->kv.emplace_back(k, v);
  }
};

void collect_pool(void* ctx, xpool* pool) {
  static_cast<std::vector<xpool*>*>(ctx)->push_back(pool);
}
std::vector<uint64_t> class_sizes(xlabs* set) {
  std::vector<xpool*> pools;
  xlabs_traverse_pools(set, collect_pool, &pools);
  std::vector<uint64_t> out;
  for (xpool* p : pools) out.push_back(xpool_get_class_size(p));
  return out;
}
xpool* pool_of(const void* chunk) {
  uint32_t tag = *reinterpret_cast<const uint32_t*>(static_cast<const char*>(chunk) - 4);
  return reinterpret_cast<const xpage_in_pool*>(static_cast<const char*>(chunk) - 4 - tag)->pool;
}

// Checks inside a child process: report on stderr and exit non-zero.
#define CHILD_CHECK(cond)                                                          \
  do {                                                                             \
    if (!(cond)) {                                                                 \
      std::fprintf(stderr, "child check failed: %s (line %d)\n", #cond, __LINE__); \
      std::exit(1);                                                                \
    }                                                                              \
  } while (0)
#define CHILD_CHECK_EQ(a, b)                                                               \
  do {                                                                                     \
    auto va = (a);                                                                         \
    auto vb = (b);                                                                         \
    if (!(va == vb)) {                                                                     \
      std::fprintf(stderr, "child check failed: %s == %s (line %d)\n[%s]\n[%s]\n", #a, #b, \
                   __LINE__, ::testing::PrintToString(va).c_str(),                         \
                   ::testing::PrintToString(vb).c_str());                                  \
      std::exit(1);                                                                        \
    }                                                                                      \
  } while (0)
// Runs body in a freshly started copy of this test binary, where the allocator has not run.
void in_fresh_process(const std::function<void()>& body) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        body();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

const std::vector<uint64_t> kSmall = {4,   8,   16,  24,  32,  40,  56,  72,  88,   110,
                                      137, 171, 214, 282, 369, 464, 621, 936, 1250, 1880};
const std::vector<uint64_t> kBig = {
    2350,   2938,   3672,   4594,   5743,   7181,   8978,    11230,   14078,  17660,
    22171,  27789,  34739,  43426,  54856,  69486,  86860,   109720,  138980, 173728,
    219448, 277969, 347464, 463288, 595658, 833924, 1042408, 1389880, 2084824};
const std::vector<uint64_t> kHuge = {2796187, 3595100, 5033144, 6291432, 8388578, 12582872};

class XLabs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::internal::CaptureStdout();
    init_xallocator();
    testing::internal::GetCapturedStdout();
  }
  // A private set over a private 3800-byte page allocator, built like default_xlabs.
  void make_private(int64_t max_pages = 0) {
    testing::internal::CaptureStdout();
    pa = new_xpage_allocator(3800, max_pages, 0, -1, nullptr, nullptr);
    testing::internal::GetCapturedStdout();
    set = new_xlabs(pa, default_xlabs_config.max_pools, default_xlabs_config.first_class_size,
                    default_xlabs_config.min_chunks_per_page,
                    default_xlabs_config.class_size_factor);
    ASSERT_NE(set, nullptr);
  }
  void TearDown() override {
    if (set == nullptr) return;
    testing::internal::CaptureStdout();
    delete_xlabs(set);
    delete_xpage_allocator(pa);
    testing::internal::GetCapturedStdout();
  }
  xpage_allocator* pa = nullptr;
  xlabs* set = nullptr;
};

TEST_F(XLabs, DefaultClassTables) {
  ASSERT_NE(default_xlabs, nullptr);
  EXPECT_EQ(class_sizes(default_xlabs), kSmall);
  EXPECT_EQ(class_sizes(default_xbiglabs), kBig);
  EXPECT_EQ(class_sizes(default_xhugelabs), kHuge);
  EXPECT_EQ(std::string(default_xlabs->magic, 4), "2014");
  EXPECT_EQ(xpool_get_chunks_per_page(xlabs_get_pool(default_xlabs, 1)), 314u);
  EXPECT_EQ(xpool_get_chunks_per_page(xlabs_get_pool(default_xlabs, 1880)), 2u);
  EXPECT_EQ(xlabs_get_max_class_size(default_xlabs), 1880u);
  EXPECT_EQ(xlabs_get_max_class_size(default_xbiglabs), 2084824u);
  EXPECT_EQ(xlabs_get_max_class_size(default_xhugelabs), 12582872u);
  EXPECT_EQ(xlabs_get_page_allocator(default_xlabs), default_xpage_allocator);
  EXPECT_EQ(xlabs_get_page_allocator(default_xbiglabs), default_xbigpage_allocator);
  EXPECT_EQ(xlabs_get_page_allocator(default_xhugelabs), default_xhugepage_allocator);
  for (xlabs* s : {default_xlabs, default_xbiglabs, default_xhugelabs}) {
    EXPECT_EQ(xlabs_get_num_alloc_pools(s), 200u);
    EXPECT_DOUBLE_EQ(xlabs_get_class_size_factor(s), 1.25);
    for (uint64_t i = 0; i < s->num_pools; ++i) EXPECT_EQ(s->entries[i].is_static, 1);
  }
  EXPECT_EQ(default_xlabs_config.max_pools, 200u);
  EXPECT_EQ(default_xlabs_config.min_chunks_per_page, 2u);
  EXPECT_EQ(default_xlabs_config.first_class_size, 0u);
}

TEST_F(XLabs, WhichClassServesARequest) {
  struct {
    size_t size;
    xlabs** set;
    uint64_t class_size;
  } cases[] = {{1, &default_xlabs, 4},
               {4, &default_xlabs, 4},
               {5, &default_xlabs, 8},
               {111, &default_xlabs, 137},
               {1880, &default_xlabs, 1880},
               {1881, &default_xbiglabs, 2350},
               {2084824, &default_xbiglabs, 2084824},
               {2084825, &default_xhugelabs, 2796187},
               {12582872, &default_xhugelabs, 12582872}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.size);
    EXPECT_EQ(find_xlabs_default(c.size), *c.set);
    void* m = xa_malloc(c.size);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(xchunk_get_class_size(m), c.class_size);
    EXPECT_EQ(pool_of(m), xlabs_get_pool(*c.set, c.size));
    std::memset(m, 0xab, c.size);
    xa_free(m);
  }
  EXPECT_EQ(find_xlabs_default(12582873), default_xhugelabs);
  testing::internal::CaptureStdout();
  void* m = xa_malloc(12582873);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "nullpool_alloc: 12582873 \n");
  ASSERT_NE(m, nullptr);
  EXPECT_TRUE(xchunk_is_nullpool(m));
  EXPECT_EQ(xchunk_get_class_size(m), 12582873u);
  xa_free(m);
  EXPECT_EQ(xa_malloc(0), nullptr);
  EXPECT_EQ(xlabs_get_pool(default_xlabs, 1881), nullptr);
  xa_free(nullptr);
}

// The smallest class >= size, by brute force over the set's classes.
uint64_t expected_class(const std::vector<uint64_t>& classes, uint64_t size) {
  for (uint64_t c : classes)
    if (c >= size) return c;
  return 0;
}
void expect_every_size_finds_its_class(xlabs* set, uint64_t up_to, uint64_t step) {
  const std::vector<uint64_t> classes = class_sizes(set);
  for (uint64_t size = 1; size <= up_to; size += step) {
    xpool* p = xlabs_get_pool(set, size);
    const uint64_t want = expected_class(classes, size);
    if (xpool_get_class_size(p) != want) {
      ADD_FAILURE() << "size " << size << ": class " << xpool_get_class_size(p) << ", want "
                    << want;
      return;
    }
  }
}

TEST_F(XLabs, EverySizeFindsTheSmallestClassThatHoldsIt) {
  expect_every_size_finds_its_class(default_xlabs, 2000, 1);
  expect_every_size_finds_its_class(default_xbiglabs, 2100000, 1);
  expect_every_size_finds_its_class(default_xhugelabs, 12600000, 7);
  for (uint64_t size :
       {2350ull, 2351ull, 2084824ull, 2084825ull, 12582872ull, 12582873ull, 0xFFFFFFFFFFFFull})
    EXPECT_EQ(xpool_get_class_size(xlabs_get_pool(default_xhugelabs, size)),
              expected_class(kHuge, size))
        << size;
  make_private();
  expect_every_size_finds_its_class(set, 2000, 1);
}

TEST(XLabsProcess, LookupStaysExactAfterAddingPools) {
  in_fresh_process([] {
    testing::internal::CaptureStdout();
    init_xallocator();
    testing::internal::GetCapturedStdout();
    // Classes one byte apart, in the small set (fine buckets) and in the big set (too fine
    // for buckets: searched instead).
    for (uint64_t cs : {68ull, 1879ull, 3ull})
      CHILD_CHECK_EQ(xlabs_add_pool(default_xlabs, cs, 0), 1);
    for (uint64_t cs : {2351ull, 100000ull})
      CHILD_CHECK_EQ(xlabs_add_pool(default_xbiglabs, cs, 0), 1);
    for (xlabs* set : {default_xlabs, default_xbiglabs}) {
      const std::vector<uint64_t> classes = class_sizes(set);
      for (uint64_t size = 1; size <= classes.back() + 10; size += (size < 5000 ? 1 : 13)) {
        const uint64_t got = xpool_get_class_size(xlabs_get_pool(set, size));
        if (got != expected_class(classes, size)) {
          std::fprintf(stderr, "size %llu: class %llu\n", static_cast<unsigned long long>(size),
                       static_cast<unsigned long long>(got));
          std::exit(1);
        }
      }
    }
    void* m = xa_malloc(1879);
    CHILD_CHECK_EQ(xchunk_get_class_size(m), 1879u);
    xa_free(m);
    m = xa_malloc(2351);
    CHILD_CHECK_EQ(xchunk_get_class_size(m), 2351u);
    xa_free(m);
  });
}

TEST_F(XLabs, CountersAddTheSizeAskedFor) {
  make_private();
  EXPECT_EQ(class_sizes(set), kSmall);
  void* a = xlabs_alloc(set, 10);
  void* b = xlabs_alloc(set, 100);
  testing::internal::CaptureStdout();
  void* c = xlabs_alloc(set, 5000);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "nullpool_alloc: 5000 \n");
  EXPECT_TRUE(xchunk_is_nullpool(c));
  EXPECT_EQ(xlabs_get_total_alloc(set), 110u);
  EXPECT_EQ(xlabs_get_nullpool_alloc(set), 5000u);
  EXPECT_EQ(xlabs_get_total_alloc_fail(set), 0u);
  EXPECT_EQ(xlabs_alloc(set, 0), nullptr);
  EXPECT_EQ(xlabs_alloc(nullptr, 10), nullptr);
  Dump d;
  xlabs_dump_info(set, Dump::cb, &d);
  std::vector<std::pair<std::string, std::string>> want = {
      {"class_size_factor", "1.25"}, {"num_pools", "20"},       {"num_alloc_pools", "200"},
      {"total_alloc", "110"},        {"total_alloc_fail", "0"}, {"nullpool_alloc", "5000"}};
  EXPECT_EQ(d.kv, want);
  xpool_free(a);
  xpool_free(b);
  xpool_free(c);
}

TEST_F(XLabs, RefusedPageCountsAsFailure) {
  make_private(1);
  void* a = xlabs_alloc(set, 1000);  // 1250 class: 3 chunks on the only page
  void* b = xlabs_alloc(set, 1000);
  void* c = xlabs_alloc(set, 1000);
  EXPECT_EQ(xlabs_alloc(set, 1001), nullptr);
  EXPECT_EQ(xlabs_alloc(set, 10), nullptr);  // another class needs another page
  EXPECT_EQ(xlabs_get_total_alloc(set), 3000u);
  EXPECT_EQ(xlabs_get_total_alloc_fail(set), 1011u);
  xpool_free(a);
  xpool_free(b);
  xpool_free(c);
}

TEST_F(XLabs, AddPoolKeepsTheArraySorted) {
  make_private();
  EXPECT_EQ(xlabs_add_pool(set, 68, 4), 0);  // 72 lies within the tolerance
  EXPECT_EQ(xlabs_get_num_pools(set), 20u);
  EXPECT_EQ(xlabs_add_pool(set, 68, 0), 1);
  EXPECT_EQ(xlabs_add_pool(set, 68, 0), 0);
  std::vector<uint64_t> want = kSmall;
  want.insert(want.begin() + 7, 68);
  EXPECT_EQ(class_sizes(set), want);
  EXPECT_EQ(set->entries[7].is_static, 0);
  EXPECT_EQ(xpool_get_class_size(xlabs_get_pool(set, 57)), 68u);
  EXPECT_EQ(xpool_get_class_size(xlabs_get_pool(set, 69)), 72u);
  EXPECT_EQ(xlabs_add_pool(set, 3000, 0), 1);  // above every class: at the end
  EXPECT_EQ(xlabs_get_max_class_size(set), 3000u);
  EXPECT_EQ(xlabs_add_pool(set, 3769, 0), 0);  // no chunk fits a page
  EXPECT_EQ(xlabs_add_pool(set, 0, 0), 0);
  EXPECT_EQ(xlabs_add_pool(nullptr, 68, 0), 0);
  void* m = xlabs_alloc(set, 60);
  EXPECT_EQ(xchunk_get_class_size(m), 68u);
  xpool_free(m);
}

TEST_F(XLabs, AddPoolStopsAtCapacity) {
  testing::internal::CaptureStdout();
  pa = new_xpage_allocator(3800, 0, 0, -1, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  set = new_xlabs(pa, 3, 0, 2, 1.25);
  EXPECT_EQ(class_sizes(set), (std::vector<uint64_t>{4, 8, 16}));
  EXPECT_EQ(xlabs_add_pool(set, 12, 0), 0);
  EXPECT_EQ(xlabs_get_num_alloc_pools(set), 3u);
}

TEST_F(XLabs, SetWithoutPoolsSendsEverythingToTheNullPool) {
  testing::internal::CaptureStdout();
  pa = new_xpage_allocator(30, 0, 0, -1, nullptr, nullptr);
  set = new_xlabs(pa, 10, 0, 2, 1.25);
  void* m = xlabs_alloc(set, 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(xlabs_get_num_pools(set), 0u);
  EXPECT_EQ(xlabs_get_max_class_size(set), 0u);
  EXPECT_TRUE(xchunk_is_nullpool(m));
  xpool_free(m);
}

TEST_F(XLabs, TraversePrintsEachPoolDump) {
  make_private();
  void* m = xlabs_alloc(set, 4);
  testing::internal::CaptureStdout();
  xlabs_traverse_pools(set, nullptr, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  const std::string first =
      "class_size=4 | chunks_per_page=314 | total_pages=1 | free_pages=1 | total_chunks=314 | free_chunks=313 | \n";
  const std::string second =
      "class_size=8 | chunks_per_page=236 | total_pages=0 | free_pages=0 | total_chunks=0 | free_chunks=0 | "
      "clssz_factor=2.00 \n";
  EXPECT_EQ(out.substr(0, first.size() + second.size()), first + second);
  EXPECT_NE(
      out.find(
          "class_size=110 | chunks_per_page=32 | total_pages=0 | free_pages=0 | total_chunks=0 | "
          "free_chunks=0 | clssz_factor=1.25 \n"),
      std::string::npos);
  testing::internal::CaptureStdout();
  xlabs_dump_info(set, nullptr, nullptr);
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      "XLA class_size_factor=1.25 \nXLA num_pools=20 \nXLA num_alloc_pools=200 \nXLA total_alloc=4 \n"
      "XLA total_alloc_fail=0 \nXLA nullpool_alloc=0 \n");
  xpool_free(m);
}

TEST_F(XLabs, NullSet) {
  EXPECT_EQ(xlabs_get_pool(nullptr, 1), nullptr);
  EXPECT_EQ(xlabs_get_max_class_size(nullptr), 0u);
  EXPECT_EQ(xlabs_get_page_allocator(nullptr), nullptr);
  EXPECT_EQ(xlabs_get_class_size_factor(nullptr), 0.0);
  EXPECT_EQ(xlabs_get_num_pools(nullptr), 0u);
  EXPECT_EQ(xlabs_get_num_alloc_pools(nullptr), 0u);
  EXPECT_EQ(xlabs_get_total_alloc(nullptr), 0u);
  EXPECT_EQ(xlabs_get_total_alloc_fail(nullptr), 0u);
  EXPECT_EQ(xlabs_get_nullpool_alloc(nullptr), 0u);
  Dump d;
  xlabs_dump_info(nullptr, Dump::cb, &d);
  xlabs_traverse_pools(nullptr, nullptr, nullptr);
  xlabs_print_pool(nullptr, nullptr);
  delete_xlabs(nullptr);
  EXPECT_TRUE(d.kv.empty());
}

// A striped set's pool has one copy per stripe, each over its stripe's page allocator;
// an unstriped pool answers itself; stripes past the chain's end answer its last copy.
TEST_F(XLabs, StripePoolWalksTheCopiesOfAClass) {
  EXPECT_EQ(nullptr, xlabs_stripe_pool(nullptr, 3));
  xpool* huge = xlabs_get_pool(default_xhugelabs, 3000000);
  for (unsigned k : {0u, 1u, XPAGE_STRIPES - 1}) EXPECT_EQ(huge, xlabs_stripe_pool(huge, k)) << k;
  for (xlabs* set : {default_xlabs, default_xbiglabs}) {
    xpool* first = xlabs_get_pool(set, 100);
    xpage_allocator* pages = xlabs_get_page_allocator(set);
    for (unsigned k = 0; k < XPAGE_STRIPES; ++k, pages = pages->stripe_next) {
      xpool* copy = xlabs_stripe_pool(first, k);
      EXPECT_EQ(xpool_get_class_size(first), xpool_get_class_size(copy)) << k;
      EXPECT_EQ(pages, xpool_get_page_allocator(copy)) << k;
      EXPECT_EQ(k == 0, copy == first) << k;
    }
    EXPECT_EQ(xlabs_stripe_pool(first, XPAGE_STRIPES - 1),
              xlabs_stripe_pool(first, XPAGE_STRIPES + 5));
  }
  // The calling thread keeps its stripe; its allocations come from that stripe's copy.
  const unsigned mine = xlabs_thread_stripe();
  EXPECT_LT(mine, XPAGE_STRIPES);
  EXPECT_EQ(mine, xlabs_thread_stripe());
  void* m = xa_malloc(100);
  EXPECT_EQ(xlabs_stripe_pool(xlabs_get_pool(default_xlabs, 100), mine), pool_of(m));
  xa_free(m);
}

TEST_F(XLabs, ReallocAlwaysMovesAndCopiesTheSmallerSize) {
  unsigned char* a = static_cast<unsigned char*>(xa_malloc(10));
  for (int i = 0; i < 16; ++i) a[i] = static_cast<unsigned char>(i + 1);  // the whole 16-byte class
  unsigned char* b = static_cast<unsigned char*>(xa_realloc(a, 12));
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, a);
  EXPECT_EQ(xchunk_get_class_size(b), 16u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b[i], i + 1) << i;  // 12 bytes, not 10
  EXPECT_EQ(xchunk_get_class_size(a), 0u);                   // old block freed
  unsigned char* c = static_cast<unsigned char*>(xa_realloc(b, 3000));
  for (int i = 0; i < 12; ++i) EXPECT_EQ(c[i], i + 1) << i;
  unsigned char* d = static_cast<unsigned char*>(xa_realloc(c, 5));  // shrink: 5 bytes copied
  for (int i = 0; i < 5; ++i) EXPECT_EQ(d[i], i + 1) << i;
  EXPECT_EQ(xchunk_get_class_size(d), 8u);
  // A chunk that is already free: a fresh block, nothing copied or freed.
  void* e = xa_realloc(c, 20);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(xchunk_get_class_size(e), 24u);
  EXPECT_EQ(xa_realloc(d, 0), nullptr);
  EXPECT_EQ(xchunk_get_class_size(d), 0u);
  void* f = xa_realloc(nullptr, 7);
  EXPECT_EQ(xchunk_get_class_size(f), 8u);
  // A null-pool block copies the size it was asked for.
  testing::internal::CaptureStdout();
  unsigned char* g = static_cast<unsigned char*>(xa_malloc(12582900));
  std::memset(g, 0x5a, 12582900);
  unsigned char* h = static_cast<unsigned char*>(xa_realloc(g, 12582950));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(h[12582899], 0x5a);
  xa_free(e);
  xa_free(f);
  xa_free(h);
}

TEST_F(XLabs, CallocZeroesAndRefusesOverflow) {
  unsigned char* a = static_cast<unsigned char*>(xa_malloc(100));
  std::memset(a, 0xff, 100);
  xa_free(a);
  unsigned char* b = static_cast<unsigned char*>(xa_calloc(25, 4));  // reuses that chunk
  ASSERT_NE(b, nullptr);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(b[i], 0) << i;
  xa_free(b);
  EXPECT_EQ(xa_calloc(SIZE_MAX / 2 + 1, 2), nullptr);
  EXPECT_EQ(xa_calloc(size_t(1) << 33, size_t(1) << 31), nullptr);
  EXPECT_EQ(xa_calloc(0, 10), nullptr);
}

TEST_F(XLabs, LengthPrefixedBuffers) {
  char* a = xa_new<char>(10);
  ASSERT_NE(a, nullptr);
  uint32_t n;
  std::memcpy(&n, a - 4, 4);
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(xchunk_get_class_size(a - 4), 16u);
  xa_delete(a);
  EXPECT_EQ(xchunk_get_class_size(a - 4), 0u);
  char* z = xa_new<char>(0);
  std::memcpy(&n, z - 4, 4);
  EXPECT_EQ(n, 0u);
  xa_delete(z);
  // The 32-bit prefix cannot hold more: refused instead of a wrong length.
  EXPECT_EQ(xa_new<char>(0x100000000ull), nullptr);
  EXPECT_EQ(xa_new<char>(SIZE_MAX - 2), nullptr);
  {
    xa_auto_ptr<char> p(xa_new<char>(20));
    char* raw = p.get();
    ASSERT_NE(raw, nullptr);
    xa_auto_ptr<char> q(xa_new<char>(20));
    char* kept = q.release();
    EXPECT_EQ(q.get(), nullptr);
    p._delete();
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_EQ(xchunk_get_class_size(raw - 4), 0u);
    xa_auto_ptr<char> r(kept);
    xa_auto_ptr<char> empty;
  }
}

TEST(XLabsProcess, StartPrintsThreeAllocatorsAndADefaultDump) {
  in_fresh_process([] {
    testing::internal::CaptureStdout();
    xlabs* s = find_xlabs_default(1);  // starts the allocator by itself
    std::string out = testing::internal::GetCapturedStdout();
    CHILD_CHECK(s == default_xlabs && s != nullptr);
    CHILD_CHECK_EQ(out, "init xallocator " + hex(default_xpage_allocator) + " \ninit xallocator " +
                            hex(default_xbigpage_allocator) + " \ninit xallocator " +
                            hex(default_xhugepage_allocator) + " \n");
    testing::internal::CaptureStdout();
    init_xallocator();
    xlabs_dump_info(default_xlabs, nullptr, nullptr);
    CHILD_CHECK_EQ(
        testing::internal::GetCapturedStdout(),
        std::string("XLA class_size_factor=1.25 \nXLA num_pools=20 \nXLA num_alloc_pools=200 \n"
                    "XLA total_alloc=0 \nXLA total_alloc_fail=0 \nXLA nullpool_alloc=0 \n"));
  });
}

TEST(XLabsProcess, AddPoolToTheDefaultSet) {
  in_fresh_process([] {
    CHILD_CHECK_EQ(xa_max_class_size(), 0u);  // not started
    testing::internal::CaptureStdout();
    init_xallocator();
    CHILD_CHECK_EQ(xlabs_add_pool(default_xlabs, 68, 0), 1);
    CHILD_CHECK_EQ(xlabs_add_pool(default_xlabs, 68, 0), 0);
    CHILD_CHECK_EQ(xlabs_get_num_pools(default_xlabs), 21u);
    void* m = xa_malloc(68);
    CHILD_CHECK_EQ(xchunk_get_class_size(m), 68u);
    xa_free(m);
    CHILD_CHECK_EQ(xlabs_add_pool(default_xlabs, 1900, 0), 1);  // new largest class
    void* big = xa_malloc(1890);
    CHILD_CHECK_EQ(xchunk_get_class_size(big), 1900u);
    CHILD_CHECK(find_xlabs_default(1900) == default_xlabs);
    xa_free(big);
    // The largest class over all default sets follows additions and outlives the stop.
    CHILD_CHECK_EQ(xa_max_class_size(), 12582872u);
    CHILD_CHECK_EQ(xlabs_add_pool(default_xhugelabs, 20000000, 0), 1);
    CHILD_CHECK_EQ(xa_max_class_size(), 20000000u);
    uninit_xallocator();  // the added pools are deleted
    CHILD_CHECK_EQ(xa_max_class_size(), 20000000u);
    testing::internal::GetCapturedStdout();
  });
}

TEST(XLabsProcess, StopIsFinal) {
  in_fresh_process([] {
    testing::internal::CaptureStdout();
    init_xallocator();
    void* leaked = xa_malloc(1);
    void* kept = xa_malloc(100);
    xpage_allocator* pages[3] = {default_xpage_allocator, default_xbigpage_allocator,
                                 default_xhugepage_allocator};
    xpool* pool4 = xlabs_get_pool(default_xlabs, 1);
    xpool* pool110 = xlabs_get_pool(default_xlabs, 100);
    testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    uninit_xallocator();
    std::string out = testing::internal::GetCapturedStdout();
    CHILD_CHECK_EQ(out, "xpool " + hex(pool4) + " causes leak 1 chunks (x4 bytes) of memory \n" +
                            "xpool " + hex(pool110) +
                            " causes leak 1 chunks (x110 bytes) of memory \n" +
                            "uninit xallocator " + hex(pages[2]) + " \nuninit xallocator " +
                            hex(pages[1]) + " \nuninit xallocator " + hex(pages[0]) + " \n");
    CHILD_CHECK(default_xlabs == nullptr && default_xpage_allocator == nullptr);
    testing::internal::CaptureStdout();
    init_xallocator();  // nothing restarts it
    uninit_xallocator();
    CHILD_CHECK_EQ(testing::internal::GetCapturedStdout(), std::string());
    CHILD_CHECK(xa_malloc(10) == nullptr);
    CHILD_CHECK(xa_calloc(1, 10) == nullptr);
    CHILD_CHECK(xa_new<char>(10) == nullptr);
    CHILD_CHECK(find_xlabs_default(10) == nullptr);
    CHILD_CHECK(xa_realloc(kept, 200) == nullptr);
    xa_free(kept);  // kept: no crash, nothing released
    (void)leaked;
    // A self-describing system block still goes back through xpool_free.
    void* sys = nullpool_alloc_silent(50, 1, std::malloc, std::free);
    CHILD_CHECK(xchunk_is_nullpool(sys));
    xpool_free(sys);
  });
}

TEST(XLabsProcess, FreeAndReallocStartTheAllocator) {
  in_fresh_process([] {
    void* sys = nullpool_alloc_silent(50, 1, std::malloc, std::free);
    testing::internal::CaptureStdout();
    xa_free(sys);
    std::string out = testing::internal::GetCapturedStdout();
    CHILD_CHECK(out.find("init xallocator") == 0);
    CHILD_CHECK(default_xlabs != nullptr);
  });
}

TEST(XLabsDeath, CreationPreconditions) {
  testing::internal::CaptureStdout();
  xpage_allocator* pa = new_xpage_allocator(3800, 0, 0, -1, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  const char* text = "page_allocator != 0 && max_pools > 0 && class_size_factor > 1";
  EXPECT_DEATH(new_xlabs(nullptr, 10, 0, 2, 1.25), text);
  EXPECT_DEATH(new_xlabs(pa, 0, 0, 2, 1.25), text);
  EXPECT_DEATH(new_xlabs(pa, 10, 0, 2, 1.0), text);
  EXPECT_EQ(new_xlabs(pa, uint64_t(1) << 62, 0, 2, 1.25), nullptr);  // entry array overflows
  testing::internal::CaptureStdout();
  delete_xpage_allocator(pa);
  testing::internal::GetCapturedStdout();
}

}  // namespace
