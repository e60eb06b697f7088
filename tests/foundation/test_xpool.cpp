// Pools and the null pool: chunk layout and tags, page order, page return, dumps,
// null-pool blocks and their sizes, fatal checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/xasan.h"
#include "src/xpage.h"
#include "src/xpool.h"

namespace {

std::vector<size_t> g_sizes;
std::vector<void*> g_freed;
int g_refuse = 0;

void* rec_alloc(size_t n) {
  if (g_refuse) return nullptr;
  g_sizes.push_back(n);
  return std::malloc(n);
}
void rec_free(void* p) {
  g_freed.push_back(p);
  std::free(p);
}

std::string hex(const void* p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "0x%lx", reinterpret_cast<unsigned long>(p));
  return buf;
}
uint32_t tag_of(const void* chunk) {
  return *reinterpret_cast<const uint32_t*>(static_cast<const char*>(chunk) - 4);
}

struct Dump {
  std::vector<std::pair<std::string, std::string>> kv;
  static void cb(void* ctx, const char* k, const char* v) {
    static_cast<Dump*>(ctx)->kv.emplace_back(k, v);
  }
  std::string get(const std::string& k) const {
    for (auto& e : kv)
      if (e.first == k) return e.second;
    return "<none>";
  }
};

class XPool : public ::testing::Test {
 protected:
  void SetUp() override {
    g_sizes.clear();
    g_freed.clear();
    g_refuse = 0;
    testing::internal::CaptureStdout();
    pa = new_xpage_allocator(3800, 0, 0, -1, nullptr, nullptr);
    testing::internal::GetCapturedStdout();
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    delete_xpage_allocator(pa);
    testing::internal::GetCapturedStdout();
  }
  xpage_allocator* pa = nullptr;
};

TEST_F(XPool, SizeCalculations) {
  EXPECT_EQ(calc_chunks_per_page(pa, 4), 314u);
  EXPECT_EQ(calc_chunks_per_page(pa, 1880), 2u);
  EXPECT_EQ(calc_chunks_per_page(pa, 1885), 1u);
  EXPECT_EQ(calc_chunks_per_page(pa, 0), 0u);
  EXPECT_EQ(calc_chunks_per_page(nullptr, 4), 0u);
  EXPECT_EQ(calc_chunks_per_page(pa, ~0ull), 0u);
  EXPECT_EQ(calc_class_size(pa, 314), 4u);
  EXPECT_EQ(calc_class_size(pa, 2), 1880u);
  EXPECT_EQ(calc_class_size(pa, 0), 0u);
  EXPECT_EQ(calc_class_size(pa, 3776 / 9), 1u);  // quotient 9 gives size 1
  EXPECT_EQ(calc_class_size(pa, 3776 / 8), 0u);  // quotient below 9
  EXPECT_EQ(optm_class_size(pa, 100), 103u);     // 34 chunks fit up to 103 bytes
  EXPECT_EQ(optm_class_size(pa, 0), 0u);
  struct {
    uint64_t page_size;
    uint32_t cpp;
  } bounds[] = {{24, 0}, {25, 0}, {33, 1}, {4294967294ull, 477218585}, {4294967295ull, 0}};
  for (auto& b : bounds) {
    xpage_allocator fake{};
    fake.page_size = b.page_size;
    EXPECT_EQ(calc_chunks_per_page(&fake, 1), b.cpp) << b.page_size;
  }
}

TEST_F(XPool, FirstChunkOfAFreshPageIsTheLastOne) {
  xpool* p = new_xpool(4, pa);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::string(p->magic, 4), "2012");
  EXPECT_EQ(xpool_get_chunks_per_page(p), 314u);
  EXPECT_EQ(xpool_get_class_size(p), 4u);
  EXPECT_EQ(xpool_get_page_allocator(p), pa);
  void* c1 = xpool_alloc(p);
  void* c2 = xpool_alloc(p);
  EXPECT_EQ(tag_of(c1), 3784u);  // 24 + 4 * 314 + 313 * 8
  EXPECT_EQ(tag_of(c2), 3776u);
  char* page = static_cast<char*>(c1) - 4 - 3784;
  EXPECT_EQ(std::string(page, 4), "2013");
  EXPECT_EQ(reinterpret_cast<xpage_in_pool*>(page)->pool, p);
  EXPECT_EQ(reinterpret_cast<xpage_in_pool*>(page)->free_chunks, 312u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(c1) % 4, 0u);
  EXPECT_EQ(xchunk_get_class_size(c1), 4u);
  // LIFO reuse: freed and allocated again at once gives the same chunk.
  xpool_free(c2);
  EXPECT_EQ(tag_of(c2), 0u);
  EXPECT_EQ(xchunk_get_class_size(c2), 0u);
  EXPECT_EQ(xpool_alloc(p), c2);
  xpool_free(c1);
  xpool_free(c2);
  delete_xpool(p);
}

TEST_F(XPool, LastFreeReturnsThePage) {
  xpool* p = new_xpool(100, pa);
  void* c = xpool_alloc(p);
  EXPECT_EQ(p->total_pages, 1u);
  EXPECT_EQ(xpage_allocator_get_free_pages(pa), 0u);
  xpool_free(c);
  EXPECT_EQ(p->total_pages, 0u);
  EXPECT_EQ(p->free_chunks, 0u);
  EXPECT_EQ(p->first_free_page, nullptr);
  EXPECT_EQ(p->last_page, nullptr);
  EXPECT_EQ(xpage_allocator_get_free_pages(pa), 1u);
  xpool_free(c);  // second free: tag 0, nothing happens
  EXPECT_EQ(xpage_allocator_get_free_pages(pa), 1u);
  delete_xpool(p);
}

TEST_F(XPool, FullPageFreedBecomesFirstFreeAtTheEnd) {
  xpool* p = new_xpool(1880, pa);  // 2 chunks per page
  std::vector<void*> c;
  for (int i = 0; i < 6; ++i) c.push_back(xpool_alloc(p));
  EXPECT_EQ(p->total_pages, 3u);
  EXPECT_EQ(p->first_free_page, nullptr);
  void* first_page = static_cast<char*>(c[0]) - 4 - tag_of(c[0]);
  xpool_free(c[0]);
  EXPECT_EQ(p->first_free_page, first_page);
  EXPECT_EQ(p->last_page, first_page);
  Dump d;
  xpool_dump_info(p, Dump::cb, &d);
  EXPECT_EQ(d.get("free_pages"), "1");
  EXPECT_EQ(d.get("free_chunks"), "1");
  EXPECT_EQ(xpool_alloc(p), c[0]);
  EXPECT_EQ(p->first_free_page, nullptr);
  // A page of the middle with one freed chunk moves before the first free page.
  void* mid_page = static_cast<char*>(c[2]) - 4 - tag_of(c[2]);
  void* last_page = static_cast<char*>(c[4]) - 4 - tag_of(c[4]);
  xpool_free(c[4]);
  xpool_free(c[2]);
  EXPECT_EQ(p->first_free_page, mid_page);
  EXPECT_EQ(xpage_get_next_page(mid_page), last_page);
  EXPECT_EQ(p->last_page, last_page);
  for (void* x : c) xpool_free(x);
  EXPECT_EQ(p->total_pages, 0u);
  delete_xpool(p);
}

// The page order holds after every step of random work: the chain runs from its head to
// last_page, full pages first, then from first_free_page on only pages with a free chunk.
// Covers a full page that already sits right before the first free page and one that
// has to move there.
TEST_F(XPool, PageOrderHoldsUnderRandomWork) {
  xpool* p = new_xpool(1250, pa);  // 3 chunks per page
  auto check = [&](int step) {
    SCOPED_TRACE(step);
    std::vector<void*> chain;
    for (void* pg = p->last_page; pg != nullptr; pg = xpage_get_prev_page(pg))
      chain.insert(chain.begin(), pg);
    ASSERT_EQ(chain.size(), p->total_pages);
    bool seen_first_free = p->first_free_page == nullptr;
    uint64_t free_sum = 0;
    for (void* pg : chain) {
      const uint32_t f = reinterpret_cast<xpage_in_pool*>(pg)->free_chunks;
      if (pg == p->first_free_page) seen_first_free = true;
      EXPECT_LT(f, p->chunks_per_page);  // an empty page is never kept
      EXPECT_EQ(f > 0, seen_first_free && p->first_free_page != nullptr) << "page order broken";
      free_sum += f;
    }
    EXPECT_TRUE(seen_first_free);
    EXPECT_EQ(free_sum, p->free_chunks);
  };
  // Pages A B C full; freeing in B (right before nothing: every page full) moves it to the
  // end; then a chunk of C (now right before B, the first free page) stays in place.
  std::vector<void*> c;
  for (int i = 0; i < 9; ++i) c.push_back(xpool_alloc(p));
  auto page_of = [](void* x) { return static_cast<void*>(static_cast<char*>(x) - 4 - tag_of(x)); };
  void* const a = page_of(c[0]);
  void* const b = page_of(c[4]);
  void* const cc = page_of(c[7]);
  xpool_free(c[4]);
  check(-2);
  EXPECT_EQ(p->last_page, b);
  EXPECT_EQ(xpage_get_next_page(a), cc);
  xpool_free(c[7]);
  check(-1);
  EXPECT_EQ(p->first_free_page, cc);
  EXPECT_EQ(xpage_get_next_page(a), cc);
  EXPECT_EQ(xpage_get_next_page(cc), b);
  c.erase(c.begin() + 7);
  c.erase(c.begin() + 4);
  std::mt19937 rng(11);
  for (int step = 0; step < 4000; ++step) {
    if (!c.empty() && (c.size() > 40 || rng() % 2 == 0)) {
      size_t i = rng() % c.size();
      xpool_free(c[i]);
      c[i] = c.back();
      c.pop_back();
    } else {
      c.push_back(xpool_alloc(p));
    }
    check(step);
    if (HasFailure()) break;
  }
  for (void* x : c) xpool_free(x);
  EXPECT_EQ(p->total_pages, 0u);
  delete_xpool(p);
}

// Every class size gets every chunk of its pages back, whatever the free order: the index
// recovered from a tag is exact for odd, even and power-of-two strides.
TEST_F(XPool, ChunkIndexesSurviveAnyFreeOrder) {
  std::mt19937 rng(7);
  for (uint64_t cs :
       {1ull, 3ull, 4ull, 5ull, 12ull, 60ull, 68ull, 110ull, 137ull, 1250ull, 1880ull, 3768ull}) {
    SCOPED_TRACE(cs);
    xpool* p = new_xpool(cs, pa);
    const uint32_t n = 3 * p->chunks_per_page;
    std::vector<void*> c;
    for (uint32_t i = 0; i < n; ++i) c.push_back(xpool_alloc(p));
    EXPECT_EQ(std::set<void*>(c.begin(), c.end()).size(), n);
    for (int round = 0; round < 3; ++round) {
      std::shuffle(c.begin(), c.end(), rng);
      std::vector<void*> kept(c.begin(), c.begin() + n / 2);
      for (uint32_t i = n / 2; i < n; ++i) xpool_free(c[i]);
      Dump d;
      xpool_dump_info(p, Dump::cb, &d);
      EXPECT_EQ(d.get("diff_free_chunks"), "<none>");
      std::set<void*> want(c.begin() + n / 2, c.end());
      std::set<void*> got;
      c = kept;
      while (c.size() < n) {
        void* x = xpool_alloc(p);
        got.insert(x);
        c.push_back(x);
      }
      EXPECT_EQ(got, want);  // exactly the freed chunks come back
    }
    for (void* x : c) xpool_free(x);
    EXPECT_EQ(p->total_pages, 0u);
    delete_xpool(p);
  }
}

// Every chunk handed out is the one a stack filled with 0, 1, ..., n - 1 on the page's
// creation gives, whatever the order of work (the stack is filled lazily).
TEST_F(XPool, ChunkOrderIsThatOfAFullyFilledStack) {
  std::mt19937 rng(11);
  xpool* p = new_xpool(24, pa);
  const uint32_t cpp = p->chunks_per_page;
  const uint32_t first = 24 + 4 * cpp;
  std::vector<uint32_t> model;  // the page's stack, top at the back; empty: no page
  std::vector<void*> live;
  for (int step = 0; step < 20000; ++step) {
    const bool alloc = live.empty() || (live.size() < cpp && rng() % 2 == 0);
    if (alloc) {
      if (model.empty() && live.empty()) {
        for (uint32_t i = 0; i < cpp; ++i) model.push_back(i);
      }
      const uint32_t want = model.back();
      model.pop_back();
      void* c = xpool_alloc(p);
      ASSERT_EQ(tag_of(c), first + want * 28) << step;
      live.push_back(c);
    } else {
      const size_t k = rng() % live.size();
      void* c = live[k];
      live.erase(live.begin() + k);
      model.push_back((tag_of(c) - first) / 28);
      xpool_free(c);
      if (live.empty()) {
        model.clear();  // the page went back
        ASSERT_EQ(p->total_pages, 0u);
      }
    }
  }
  for (void* c : live) xpool_free(c);
  delete_xpool(p);
}

TEST_F(XPool, RefusedPageGivesNullAndLeavesThePool) {
  testing::internal::CaptureStdout();
  xpage_allocator* one = new_xpage_allocator(3800, 1, 0, -1, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  xpool* p = new_xpool(1880, one);
  void* a = xpool_alloc(p);
  void* b = xpool_alloc(p);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(xpool_alloc(p), nullptr);
  EXPECT_EQ(p->total_pages, 1u);
  EXPECT_EQ(p->free_chunks, 0u);
  xpool_free(a);
  EXPECT_EQ(xpool_alloc(p), a);
  xpool_free(a);
  xpool_free(b);
  delete_xpool(p);
  testing::internal::CaptureStdout();
  delete_xpage_allocator(one);
  testing::internal::GetCapturedStdout();
}

TEST_F(XPool, DumpKeysInOrder) {
  xpool* p = new_xpool(4, pa);
  Dump d;
  xpool_dump_info(p, Dump::cb, &d);
  std::vector<std::pair<std::string, std::string>> empty = {
      {"class_size", "4"}, {"chunks_per_page", "314"}, {"total_pages", "0"},
      {"free_pages", "0"}, {"total_chunks", "0"},      {"free_chunks", "0"}};
  EXPECT_EQ(d.kv, empty);
  void* c = xpool_alloc(p);
  testing::internal::CaptureStdout();
  xpool_dump_info(p, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "XPO class_size=4 \nXPO chunks_per_page=314 \nXPO total_pages=1 \nXPO free_pages=1 \n"
            "XPO total_chunks=314 \nXPO free_chunks=313 \n");
  // The pages' own counts disagreeing with the pool's shows as diff_free_chunks.
  xpage_in_pool* page = reinterpret_cast<xpage_in_pool*>(p->first_free_page);
  page->free_chunks -= 2;
  Dump d2;
  xpool_dump_info(p, Dump::cb, &d2);
  ASSERT_EQ(d2.kv.size(), 7u);
  EXPECT_EQ(d2.kv[6], (std::pair<std::string, std::string>{"diff_free_chunks", "-2"}));
  page->free_chunks += 2;
  xpool_free(c);
  delete_xpool(p);
}

TEST_F(XPool, TearDownReportsLeakAndReturnsPages) {
  xpool* p = new_xpool(4, pa);
  void* a = xpool_alloc(p);
  void* b = xpool_alloc(p);
  (void)a;
  (void)b;
  testing::internal::CaptureStdout();
  delete_xpool(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "xpool " + hex(p) + " causes leak 2 chunks (x4 bytes) of memory \n");
  EXPECT_EQ(xpage_allocator_get_free_pages(pa), 1u);
  xpool q;
  __init_xpool(&q, 8, pa);
  xpool_free(xpool_alloc(&q));
  testing::internal::CaptureStdout();
  __uninit_xpool(&q);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(XPool, NullArguments) {
  EXPECT_EQ(xpool_alloc(nullptr), nullptr);
  xpool_free(nullptr);
  delete_xpool(nullptr);
  __uninit_xpool(nullptr);
  EXPECT_EQ(xchunk_get_class_size(nullptr), 0u);
  EXPECT_FALSE(xchunk_is_nullpool(nullptr));
  EXPECT_EQ(xpool_get_class_size(nullptr), 0u);
  EXPECT_EQ(xpool_get_chunks_per_page(nullptr), 0u);
  EXPECT_EQ(xpool_get_page_allocator(nullptr), nullptr);
  Dump d;
  xpool_dump_info(nullptr, Dump::cb, &d);
  EXPECT_TRUE(d.kv.empty());
}

TEST_F(XPool, NullPoolBlockSizesAndHeader) {
  struct {
    size_t size, align, block;
  } cases[] = {{100, 4096, 4096}, {4060, 4096, 4096}, {4061, 4096, 8192},
               {10, 1, 46},       {10, 8, 48},        {12, 16, 48}};
  for (auto& c : cases) {
    g_sizes.clear();
    g_freed.clear();
    testing::internal::CaptureStdout();
    void* m = nullpool_alloc(c.size, c.align, rec_alloc, rec_free);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "nullpool_alloc: " + std::to_string(c.size) + " \n");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(g_sizes.size(), 1u);
    EXPECT_EQ(g_sizes[0], c.block) << c.size << "/" << c.align;
    EXPECT_EQ(tag_of(m), 0xFFFFFFFFu);
    EXPECT_TRUE(xchunk_is_nullpool(m));
    EXPECT_EQ(xchunk_get_class_size(m), c.size);
    const char* h = static_cast<const char*>(m) - 36;
    EXPECT_EQ(*reinterpret_cast<void* (*const*)(size_t)>(h), &rec_alloc);
    EXPECT_EQ(*reinterpret_cast<void (*const*)(void*)>(h + 8), &rec_free);
    EXPECT_EQ(*reinterpret_cast<const uint64_t*>(h + 16), c.size);
    EXPECT_EQ(*reinterpret_cast<const uint64_t*>(h + 24), c.align);
    xpool_free(m);
    EXPECT_EQ(g_freed, std::vector<void*>{const_cast<char*>(h)});
  }
}

TEST_F(XPool, NullPoolDefaultsSilentFormAndFailures) {
  testing::internal::CaptureStdout();
  void* m = nullpool_alloc_silent(5000000, 4096, nullptr, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(xchunk_get_class_size(m), 5000000u);
  const char* h = static_cast<const char*>(m) - 36;
  EXPECT_EQ(*reinterpret_cast<void* (*const*)(size_t)>(h), &std::malloc);
  EXPECT_EQ(*reinterpret_cast<void (*const*)(void*)>(h + 8), &std::free);
  xpool_free(m);
  g_refuse = 1;
  EXPECT_EQ(nullpool_alloc_silent(10, 1, rec_alloc, rec_free), nullptr);
  g_refuse = 0;
  // Overflowing size arithmetic never asks for a short block.
  g_sizes.clear();
  EXPECT_EQ(nullpool_alloc_silent(SIZE_MAX - 10, 1, rec_alloc, rec_free), nullptr);
  EXPECT_EQ(nullpool_alloc_silent(SIZE_MAX - 4000, 4096, rec_alloc, rec_free), nullptr);
  EXPECT_TRUE(g_sizes.empty());
}

using XPoolDeath = XPool;

TEST_F(XPoolDeath, CreationPreconditions) {
  EXPECT_DEATH(new_xpool(0, pa), "class_size > 0 && page_allocator != 0");
  EXPECT_DEATH(new_xpool(4, nullptr), "class_size > 0 && page_allocator != 0");
  EXPECT_DEATH(new_xpool(3769, pa), "chunks_per_page > 0");
  xpage_allocator tiny{};
  tiny.page_size = 24;
  EXPECT_DEATH(
      new_xpool(4, &tiny),
      "page_size < \\(\\(page_offset_type\\)-1\\) && page_size > sizeof \\(xpage_in_pool\\)");
  tiny.page_size = 0xFFFFFFFFull;
  EXPECT_DEATH(new_xpool(4, &tiny), "page_size < \\(\\(page_offset_type\\)-1\\)");
  EXPECT_DEATH(nullpool_alloc(0, 1, nullptr, nullptr), "size > 0 && align > 0");
  EXPECT_DEATH(nullpool_alloc_silent(1, 0, nullptr, nullptr), "size > 0 && align > 0");
}

#if XASAN_POISONING
// Under AddressSanitizer the pools poison what they hold free: a write into a freed chunk,
// into a chunk of a carved page never handed out, or into a page on the free list is
// reported; a chunk handed out again is whole and usable.
TEST_F(XPoolDeath, WritesIntoFreePooledMemoryAreReported) {
  struct Case {
    const char* what;
    uint64_t class_size;
    size_t offset;  // of the byte written, from the chunk's start
    // Gives the address of a chunk the pool holds free (its page holds another in use).
    char* (*free_chunk)(xpool* pool);
  } cases[] = {
      {"freed chunk, first byte", 16, 0,
       [](xpool* pool) {
         char* a = static_cast<char*>(xpool_alloc(pool));
         xpool_alloc(pool);
         xpool_free(a);
         return a;
       }},
      {"freed chunk, middle", 1880, 940,
       [](xpool* pool) {
         xpool_alloc(pool);
         char* b = static_cast<char*>(xpool_alloc(pool));
         xpool_free(b);
         return b;
       }},
      {"chunk never handed out", 137, 0,
       [](xpool* pool) {
         char* a = static_cast<char*>(xpool_alloc(pool));
         return a - (xpool_get_class_size(pool) + 4);  // the next one down, still free
       }},
      {"page on the free list", 56, 8,
       [](xpool* pool) {
         char* a = static_cast<char*>(xpool_alloc(pool));
         xpool_free(a);  // its page goes back to the page allocator
         return a;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    xpool* pool = new_xpool(c.class_size, pa);
    char* chunk = c.free_chunk(pool);
    EXPECT_DEATH(chunk[c.offset] = 1, "use-after-poison");
    testing::internal::CaptureStdout();
    delete_xpool(pool);
    testing::internal::GetCapturedStdout();
  }
  xpool* pool = new_xpool(1880, pa);
  char* a = static_cast<char*>(xpool_alloc(pool));
  xpool_alloc(pool);
  xpool_free(a);
  ASSERT_EQ(xpool_alloc(pool), a);
  std::fill(a, a + 1880, 'x');
  testing::internal::CaptureStdout();
  delete_xpool(pool);
  testing::internal::GetCapturedStdout();
}
#endif

}  // namespace
