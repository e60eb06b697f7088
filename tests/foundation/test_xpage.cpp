// Page allocator: free-list reuse and limits, pre-allocation, chains, dumps, fatal checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "default_config.h"
#include "src/xpage.h"

namespace {

std::vector<size_t> g_alloc_sizes;
int g_free_calls = 0;
int g_fail_after = -1;  // allocations left before the recording allocator refuses; -1 never

void* rec_alloc(size_t n) {
  if (g_fail_after == 0) return nullptr;
  if (g_fail_after > 0) --g_fail_after;
  g_alloc_sizes.push_back(n);
  return std::malloc(n);
}
void rec_free(void* p) {
  ++g_free_calls;
  std::free(p);
}

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

class XPage : public ::testing::Test {
 protected:
  void SetUp() override {
    g_alloc_sizes.clear();
    g_free_calls = 0;
    g_fail_after = -1;
  }
  xpage_allocator* make(uint64_t page_size, uint64_t max_pages, uint64_t pre, int64_t limit) {
    testing::internal::CaptureStdout();
    xpage_allocator* a = new_xpage_allocator(page_size, max_pages, pre, limit, rec_alloc, rec_free);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "init xallocator " + hex(a) + " \n");
    return a;
  }
  void destroy(xpage_allocator* a) {
    testing::internal::CaptureStdout();
    delete_xpage_allocator(a);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "uninit xallocator " + hex(a) + " \n");
  }
};

TEST_F(XPage, HeaderIsFortyBytesAndRecordCarriesMagics) {
  EXPECT_EQ(xpage_overhead_size(), 40u);
  xpage_allocator* a = make(100, 0, 0, -1);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(std::string(a->magic, 4), "2010");
  void* p = new_xpage(a);
  xpage* h = reinterpret_cast<xpage*>(static_cast<char*>(p) - 40);
  EXPECT_EQ(std::string(h->magic, 4), "2011");
  EXPECT_EQ(h->page_allocator, a);
  EXPECT_EQ(h->is_free, 0);
  EXPECT_EQ(h->is_pre_alloc, 0);
  EXPECT_EQ(g_alloc_sizes.back(), 140u);  // page + header from alloc_func
  delete_xpage(p);
  destroy(a);
}

TEST_F(XPage, NullArgumentsAreIgnored) {
  EXPECT_EQ(new_xpage(nullptr), nullptr);
  delete_xpage(nullptr);
  delete_xpage_allocator(nullptr);
  EXPECT_EQ(new_xpage_before(nullptr), nullptr);
  EXPECT_EQ(new_xpage_after(nullptr), nullptr);
  EXPECT_EQ(delete_xpages_chain_before(nullptr), 0u);
  EXPECT_EQ(delete_xpages_chain_after(nullptr), 0u);
  EXPECT_EQ(delete_xpages_chain_all(nullptr), 0u);
  detach_xpage(nullptr);
  attach_xpage_before(nullptr, nullptr);
  attach_xpage_after(nullptr, nullptr);
  swap_xpages_in_chain(nullptr, nullptr);
  EXPECT_EQ(xpage_get_next_page(nullptr), nullptr);
  EXPECT_EQ(xpage_get_prev_page(nullptr), nullptr);
  EXPECT_EQ(xpage_allocator_get_page_size(nullptr), 0u);
  EXPECT_EQ(xpage_allocator_get_max_pages(nullptr), 0u);
  EXPECT_EQ(xpage_allocator_get_alloc_func(nullptr), nullptr);
  EXPECT_EQ(xpage_allocator_get_free_func(nullptr), nullptr);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(nullptr), 0u);
  EXPECT_EQ(xpage_allocator_get_free_pages(nullptr), 0u);
  Dump d;
  xpage_allocator_dump_info(nullptr, Dump::cb, &d);
  EXPECT_TRUE(d.kv.empty());
}

TEST_F(XPage, DefaultFunctionsAreMallocAndFree) {
  testing::internal::CaptureStdout();
  xpage_allocator* a = new_xpage_allocator(64, 0, 0, -1, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(xpage_allocator_get_alloc_func(a), &std::malloc);
  EXPECT_EQ(xpage_allocator_get_free_func(a), &std::free);
  EXPECT_EQ(xpage_allocator_get_page_size(a), 64u);
  testing::internal::CaptureStdout();
  delete_xpage_allocator(a);
  testing::internal::GetCapturedStdout();
}

TEST_F(XPage, LimitFreePagesReleasesBeyondTheLimit) {
  xpage_allocator* a = make(100, 0, 0, 2);
  void* p[3] = {new_xpage(a), new_xpage(a), new_xpage(a)};
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 3u);
  for (void* x : p) delete_xpage(x);
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 2u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 2u);
  EXPECT_EQ(g_free_calls, 1);
  // LIFO: the page released last is handed out next.
  EXPECT_EQ(new_xpage(a), p[1]);
  EXPECT_EQ(new_xpage(a), p[0]);
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 0u);
  delete_xpage(p[0]);
  delete_xpage(p[1]);
  destroy(a);
  EXPECT_EQ(g_free_calls, 1 + 2 + 1);  // two free pages and the record
}

TEST_F(XPage, MaxPagesBoundsPreAllocationAndNewPages) {
  xpage_allocator* a = make(100, 3, 5, -1);
  EXPECT_EQ(a->pre_alloc_pages, 3u);
  EXPECT_EQ(g_alloc_sizes.back(), 3u * 140u);  // one block for all pre-allocated pages
  void* p[3];
  for (auto& x : p) ASSERT_NE(x = new_xpage(a), nullptr);
  EXPECT_EQ(new_xpage(a), nullptr);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 3u);
  for (void* x : p) delete_xpage(x);
  destroy(a);
}

TEST_F(XPage, PreAllocatedPagesComeInAddressOrderAndAlwaysReturn) {
  xpage_allocator* a = make(100, 0, 4, 0);
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 4u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 4u);
  char* base = static_cast<char*>(a->pre_alloc_block);
  void* p[4];
  for (int i = 0; i < 4; ++i) {
    p[i] = new_xpage(a);
    EXPECT_EQ(p[i], base + i * 140 + 40);
    EXPECT_EQ(reinterpret_cast<xpage*>(static_cast<char*>(p[i]) - 40)->is_pre_alloc, 1);
  }
  void* extra = new_xpage(a);  // beyond the block: from alloc_func
  delete_xpage(extra);         // limit 0: given back at once
  EXPECT_EQ(g_free_calls, 1);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 4u);
  delete_xpage(p[2]);  // pre-allocated: back to the free list despite limit 0
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 1u);
  EXPECT_EQ(g_free_calls, 1);
  EXPECT_EQ(new_xpage(a), p[2]);
  for (void* x : p) delete_xpage(x);
  destroy(a);
  EXPECT_EQ(g_free_calls, 1 + 1 + 1);  // the extra page, the block, the record
}

TEST_F(XPage, OverflowingPreAllocationIsSkippedNotShortened) {
  xpage_allocator* a = make(3800, 0, uint64_t(1) << 62, -1);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(g_alloc_sizes.size(), 1u);  // only the record: no short block was asked for
  EXPECT_EQ(a->pre_alloc_block, nullptr);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 0u);
  void* p = new_xpage(a);
  EXPECT_NE(p, nullptr);
  delete_xpage(p);
  destroy(a);
}

TEST_F(XPage, FailedPreAllocationStillGivesAnAllocator) {
  g_fail_after = 1;  // the record, then refusal
  testing::internal::CaptureStdout();
  xpage_allocator* a = new_xpage_allocator(100, 0, 4, -1, rec_alloc, rec_free);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->pre_alloc_pages, 0u);
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 0u);
  g_fail_after = -1;
  destroy(a);
}

TEST_F(XPage, RecordAllocationFailureGivesNull) {
  g_fail_after = 0;
  EXPECT_EQ(new_xpage_allocator(100, 0, 0, -1, rec_alloc, rec_free), nullptr);
}

// Builds a chain p[0] <-> ... <-> p[n-1].
std::vector<void*> chain(xpage_allocator* a, int n) {
  std::vector<void*> p{new_xpage(a)};
  for (int i = 1; i < n; ++i) p.push_back(new_xpage_after(p.back()));
  return p;
}
std::vector<void*> walk(void* any) {
  void* head = any;
  while (xpage_get_prev_page(head) != nullptr) head = xpage_get_prev_page(head);
  std::vector<void*> out;
  for (void* p = head; p != nullptr; p = xpage_get_next_page(p)) out.push_back(p);
  return out;
}

TEST_F(XPage, ChainsLinkAndDeleteAroundAPage) {
  xpage_allocator* a = make(100, 0, 0, -1);
  std::vector<void*> p = chain(a, 5);
  EXPECT_EQ(walk(p[2]), p);
  void* before = new_xpage_before(p[0]);
  EXPECT_EQ(xpage_get_next_page(before), p[0]);
  EXPECT_EQ(xpage_get_prev_page(p[0]), before);
  EXPECT_EQ(delete_xpages_chain_before(p[0]), 1u);
  EXPECT_EQ(xpage_get_prev_page(p[0]), nullptr);
  EXPECT_EQ(delete_xpages_chain_all(p[2]), 5u);
  EXPECT_EQ(xpage_allocator_get_free_pages(a), 6u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(a), 6u);
  // A free page takes part in no chain operation.
  EXPECT_EQ(new_xpage_after(p[0]), nullptr);
  EXPECT_EQ(delete_xpages_chain_after(p[0]), 0u);
  EXPECT_EQ(xpage_get_next_page(p[0]), nullptr);
  destroy(a);
}

TEST_F(XPage, ChainAfterCountsOnlyFollowers) {
  xpage_allocator* a = make(100, 0, 0, -1);
  std::vector<void*> p = chain(a, 4);
  EXPECT_EQ(delete_xpages_chain_after(p[1]), 2u);
  EXPECT_EQ(walk(p[0]), (std::vector<void*>{p[0], p[1]}));
  detach_xpage(p[1]);
  EXPECT_EQ(xpage_get_next_page(p[0]), nullptr);
  EXPECT_EQ(xpage_get_prev_page(p[1]), nullptr);
  delete_xpage(p[0]);
  delete_xpage(p[1]);
  destroy(a);
}

TEST_F(XPage, AttachAndSwapReorderTheChain) {
  xpage_allocator* a = make(100, 0, 0, -1);
  std::vector<void*> p = chain(a, 5);
  auto order = [&](std::vector<int> idx) {
    std::vector<void*> v;
    for (int i : idx) v.push_back(p[i]);
    return v;
  };
  attach_xpage_after(p[0], p[4]);
  EXPECT_EQ(walk(p[1]), order({1, 2, 3, 4, 0}));
  attach_xpage_before(p[0], p[1]);
  EXPECT_EQ(walk(p[1]), order({0, 1, 2, 3, 4}));
  swap_xpages_in_chain(p[1], p[2]);  // adjacent
  EXPECT_EQ(walk(p[1]), order({0, 2, 1, 3, 4}));
  swap_xpages_in_chain(p[3], p[2]);  // not adjacent, given in reverse order
  EXPECT_EQ(walk(p[1]), order({0, 3, 1, 2, 4}));
  swap_xpages_in_chain(p[0], p[4]);  // both ends
  EXPECT_EQ(walk(p[1]), order({4, 3, 1, 2, 0}));
  swap_xpages_in_chain(p[0], p[2]);  // adjacent, later one first
  EXPECT_EQ(walk(p[1]), order({4, 3, 1, 0, 2}));
  // Same page, or a free page: nothing changes.
  attach_xpage_after(p[1], p[1]);
  swap_xpages_in_chain(p[1], p[1]);
  void* f = new_xpage(a);
  delete_xpage(f);
  attach_xpage_after(f, p[1]);
  attach_xpage_before(p[1], f);
  swap_xpages_in_chain(f, p[1]);
  EXPECT_EQ(walk(p[1]), order({4, 3, 1, 0, 2}));
  EXPECT_EQ(delete_xpages_chain_all(p[0]), 5u);
  destroy(a);
}

TEST_F(XPage, DumpReportsCountersInOrder) {
  xpage_allocator* a = make(100, 7, 2, -1);
  void* p = new_xpage(a);
  Dump d;
  xpage_allocator_dump_info(a, Dump::cb, &d);
  std::vector<std::pair<std::string, std::string>> want = {
      {"page_size", "100"},
      {"max_pages", "7"},
      {"limit_free_pages", "18446744073709551615"},
      {"pre_alloc_pages", "2"},
      {"total_alloc_pages", "2"},
      {"free_pages", "1"}};
  EXPECT_EQ(d.kv, want);
  delete_xpage(p);
  destroy(a);
}

TEST_F(XPage, DefaultAllocatorDumpAndLines) {
  testing::internal::CaptureStdout();
  init_default_xpage_allocator();
  init_default_xpage_allocator();  // already built: nothing
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_NE(default_xpage_allocator, nullptr);
  EXPECT_EQ(out, "init xallocator " + hex(default_xpage_allocator) + " \n");
  testing::internal::CaptureStdout();
  xpage_allocator_dump_info(default_xpage_allocator, nullptr, nullptr);
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      "XPG page_size=3800 \nXPG max_pages=0 \nXPG limit_free_pages=2048 \nXPG pre_alloc_pages=0 \n"
      "XPG total_alloc_pages=0 \nXPG free_pages=0 \n");
  xpage_allocator* rec = default_xpage_allocator;
  testing::internal::CaptureStdout();
  uninit_default_xpage_allocator();
  uninit_default_xpage_allocator();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "uninit xallocator " + hex(rec) + " \n");
  EXPECT_EQ(default_xpage_allocator, nullptr);
}

TEST_F(XPage, DefaultConfigurations) {
  EXPECT_EQ(default_xpage_config.page_size + 40, 3840u);
  EXPECT_EQ(default_xbigpage_config.page_size + 40, 1018u * 4096u);
  EXPECT_EQ(default_xhugepage_config.page_size + 40, 24u * 1024u * 1024u);
  EXPECT_EQ(default_xpage_config.limit_free_pages, 2048);
  EXPECT_EQ(default_xbigpage_config.limit_free_pages, 48);
  EXPECT_EQ(default_xhugepage_config.limit_free_pages, 8);
  for (const xpage_config* c :
       {&default_xpage_config, &default_xbigpage_config, &default_xhugepage_config}) {
    EXPECT_EQ(c->max_pages, 0u);
    EXPECT_EQ(c->pre_alloc_pages, 0u);
    EXPECT_EQ(c->alloc_func, &std::malloc);
    EXPECT_EQ(c->free_func, &std::free);
  }
}

using XPageDeath = XPage;

TEST_F(XPageDeath, DoubleReleaseStopsWithTheLine) {
  xpage_allocator* a = make(3800, 0, 0, -1);
  void* p = new_xpage(a);
  delete_xpage(p);
  EXPECT_DEATH(
      {
        dup2(2, 1);
        delete_xpage(p);
      },
      "xpage " + hex(p) + " \\(3800 bytes\\) was freed before \n.*!\"double_free_xpage\"");
  destroy(a);
}

TEST_F(XPageDeath, SystemRefusalIsFatal) {
  xpage_allocator* a = make(3800, 0, 0, -1);
  EXPECT_DEATH(
      {
        dup2(2, 1);
        g_fail_after = 0;
        new_xpage(a);
      },
      "xpage_allocator " + hex(a) +
          " could not allocate more \\(3800 bytes\\): out of memory \n.*!\"out_of_memory\"");
  destroy(a);
}

TEST_F(XPageDeath, CreationAndCrossAllocatorChecks) {
  EXPECT_DEATH(new_xpage_allocator(0, 0, 0, -1, nullptr, nullptr),
               "page_size > 0 && max_pages >= 0 && pre_alloc_pages >= 0");
  xpage_allocator* a = make(100, 0, 0, -1);
  xpage_allocator* b = make(100, 0, 0, -1);
  void* pa = new_xpage(a);
  void* pb = new_xpage(b);
  EXPECT_DEATH(attach_xpage_after(pa, pb), "p_new_xp->page_allocator == p_xp->page_allocator");
  EXPECT_DEATH(attach_xpage_before(pa, pb), "p_new_xp->page_allocator == p_xp->page_allocator");
  EXPECT_DEATH(swap_xpages_in_chain(pa, pb), "p_xp1->page_allocator == p_xp2->page_allocator");
  delete_xpage(pa);
  delete_xpage(pb);
  destroy(a);
  destroy(b);
}

}  // namespace
