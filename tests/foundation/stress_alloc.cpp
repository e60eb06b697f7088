// Multi-threaded alloc/free on the shared default pools, with blocks freed on other
// threads than the ones that allocated them, and pools added to a set while other threads
// look classes up in it. Bounded by iteration counts, not by time.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "src/xlabs.h"
#include "src/xlock.h"

namespace {

struct Block {
  unsigned char* mem;
  size_t size;
  unsigned char fill;
};

// Fills the whole block; a block that another one overlaps fails its check later.
void fill(const Block& b) { std::memset(b.mem, b.fill, b.size); }
bool intact(const Block& b) {
  for (size_t i = 0; i < b.size; ++i)
    if (b.mem[i] != b.fill) return false;
  return true;
}

size_t pick_size(std::mt19937& rng) {
  uint32_t r = rng();
  switch (r % 16) {
    case 0: return 1881 + (r >> 8) % 20000;  // big pages
    case 1: return 1 + (r >> 8) % 1880;
    default: return 1 + (r >> 8) % 128;
  }
}

struct Exchange {
  std::mutex mu;
  std::vector<Block> blocks;
};

uint64_t pool_pages(xlabs* set) {
  uint64_t pages = 0;
  xlabs_traverse_pools(
      set, [](void* ctx, xpool* p) { *static_cast<uint64_t*>(ctx) += p->total_pages; }, &pages);
  return pages;
}

TEST(StressAlloc, SharedPoolsWithCrossThreadFrees) {
  testing::internal::CaptureStdout();
  init_xallocator();
  testing::internal::GetCapturedStdout();
  const int kThreads = 8, kIters = 8000, kLive = 64;
  Exchange ex;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(1234 + t);
      std::vector<Block> live;
      for (int i = 0; i < kIters; ++i) {
        size_t size = pick_size(rng);
        Block b{static_cast<unsigned char*>(xa_malloc(size)), size,
                static_cast<unsigned char>(rng())};
        if (b.mem == nullptr || xchunk_get_class_size(b.mem) < size) {
          ++bad;
          continue;
        }
        fill(b);
        live.push_back(b);
        if (live.size() < kLive) continue;
        // Hand one block to whoever comes next, free one from another thread, free one of ours.
        size_t k = rng() % live.size();
        Block mine = live[k];
        live[k] = live.back();
        live.pop_back();
        Block theirs{nullptr, 0, 0};
        {
          std::lock_guard<std::mutex> lock(ex.mu);
          ex.blocks.push_back(mine);
          if (ex.blocks.size() > 32) {
            size_t j = rng() % ex.blocks.size();
            theirs = ex.blocks[j];
            ex.blocks[j] = ex.blocks.back();
            ex.blocks.pop_back();
          }
        }
        if (theirs.mem != nullptr) {
          if (!intact(theirs)) ++bad;
          xa_free(theirs.mem);
        }
        k = rng() % live.size();
        if (!intact(live[k])) ++bad;
        xa_free(live[k].mem);
        live[k] = live.back();
        live.pop_back();
      }
      for (const Block& b : live) {
        if (!intact(b)) ++bad;
        xa_free(b.mem);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (const Block& b : ex.blocks) {
    EXPECT_TRUE(intact(b));
    xa_free(b.mem);
  }
  EXPECT_EQ(bad.load(), 0);
  // Everything came back: every pool has returned all its pages.
  EXPECT_EQ(pool_pages(default_xlabs), 0u);
  EXPECT_EQ(pool_pages(default_xbiglabs), 0u);
  EXPECT_EQ(xlabs_get_total_alloc_fail(default_xlabs), 0u);
}

TEST(StressAlloc, AddPoolWhileOthersAllocate) {
  testing::internal::CaptureStdout();
  xpage_allocator* pa = new_xpage_allocator(3800, 0, 0, -1, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  xlabs* set = new_xlabs(pa, 200, 0, 2, 1.25);
  ASSERT_EQ(xlabs_get_num_pools(set), 20u);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(99 + t);
      std::vector<void*> live;
      int rounds = 0;
      while (!done.load(std::memory_order_acquire) || rounds < 2000) {
        ++rounds;
        size_t size = 1 + rng() % 1880;
        void* m = xlabs_alloc(set, size);
        xpool* p = xlabs_get_pool(set, size);
        if (m == nullptr || xchunk_get_class_size(m) < size || p == nullptr || p->class_size < size)
          ++bad;
        if (m != nullptr) std::memset(m, 0x11, size);
        live.push_back(m);
        if (live.size() > 32) {
          xpool_free(live.front());
          live.erase(live.begin());
        }
      }
      for (void* m : live) xpool_free(m);
    });
  }
  int added = 0;
  for (uint64_t cs = 5; cs < 1880; cs += 11) added += xlabs_add_pool(set, cs, 0);
  done.store(true, std::memory_order_release);
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(added, 100);
  EXPECT_EQ(xlabs_get_num_pools(set), 20u + added);
  uint64_t prev = 0;
  for (uint64_t i = 0; i < set->num_pools; ++i) {
    EXPECT_LT(prev, set->entries[i].class_size);
    prev = set->entries[i].class_size;
  }
  testing::internal::CaptureStdout();
  delete_xlabs(set);
  delete_xpage_allocator(pa);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("leak"), std::string::npos);
}

// More threads than cores on one pool of few chunks per page: the pool and page allocator
// locks see long waits and sleeping takers, and pages come and go on almost every call.
// A chunk handed to two threads at once, or pool bookkeeping done outside the lock, shows
// up as a clobbered owner mark or as counters that disagree at the end.
TEST(StressAlloc, OnePoolManyThreads) {
  testing::internal::CaptureStdout();
  xpage_allocator* pa = new_xpage_allocator(3800, 0, 0, 4, nullptr, nullptr);
  testing::internal::GetCapturedStdout();
  xpool* pool = new_xpool(900, pa);  // 4 chunks per page
  ASSERT_EQ(xpool_get_chunks_per_page(pool), 4u);
  const int kThreads = 16, kIters = 4000;
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<uint32_t*> live;
      for (int i = 0; i < kIters; ++i) {
        uint32_t* m = static_cast<uint32_t*>(xpool_alloc(pool));
        if (m == nullptr) {
          ++bad;
          continue;
        }
        m[0] = static_cast<uint32_t>(t);
        m[224] = static_cast<uint32_t>(i);
        live.push_back(m);
        if (live.size() < 3) continue;
        uint32_t* old = live[i % 3];
        live[i % 3] = live.back();
        live.pop_back();
        if (old[0] != static_cast<uint32_t>(t)) ++bad;
        xpool_free(old);
      }
      for (uint32_t* m : live) {
        if (m[0] != static_cast<uint32_t>(t)) ++bad;
        xpool_free(m);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(pool->total_pages, 0u);
  EXPECT_EQ(pool->free_chunks, 0u);
  EXPECT_EQ(xpage_allocator_get_free_pages(pa), xpage_allocator_get_total_alloc_pages(pa));
  EXPECT_LE(xpage_allocator_get_free_pages(pa), 4u);
  testing::internal::CaptureStdout();
  delete_xpool(pool);
  delete_xpage_allocator(pa);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("leak"), std::string::npos);
}

// Eight threads on eight stripes: the published set and page allocator report the sums
// over the stripes, and the stripes' free page lists together keep no more than the one
// limit_free_pages (2048 normal pages): 8 x 300 pages come back, 2048 are kept.
TEST(StressAlloc, StripesReportSumsAndShareTheFreePageLimit) {
  testing::internal::CaptureStdout();
  init_xallocator();
  testing::internal::GetCapturedStdout();
  const int kThreads = 8, kChunks = 600;  // class 1880: 2 chunks per page, 300 pages each
  std::atomic<int> allocated{0};
  std::atomic<bool> release{false};
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      std::vector<void*> mine;
      for (int i = 0; i < kChunks; ++i) {
        void* m = xa_malloc(1800);
        if (m == nullptr) ++bad;
        mine.push_back(m);
      }
      allocated.fetch_add(1);
      while (!release.load()) std::this_thread::yield();
      for (void* m : mine) xa_free(m);
    });
  }
  while (allocated.load() < kThreads) std::this_thread::yield();
  xpool* pool = xlabs_get_pool(default_xlabs, 1800);
  std::vector<std::pair<std::string, std::string>> kv;
  xpool_dump_info(
      pool,
      [](void* ctx, const char* k, const char* v) {
        static_cast<std::vector<std::pair<std::string, std::string>>*>(ctx)->emplace_back(k, v);
      },
      &kv);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"class_size", "1880"}, {"chunks_per_page", "2"}, {"total_pages", "2400"},
      {"free_pages", "0"},    {"total_chunks", "4800"}, {"free_chunks", "0"}};
  EXPECT_EQ(kv, expected);
  EXPECT_EQ(xlabs_get_total_alloc(default_xlabs), 1800ull * kThreads * kChunks);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(default_xpage_allocator), 2400u);
  release.store(true);
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 2048u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(default_xpage_allocator), 2048u);
}

// Chunks of class 1880 (2 a page) filling `pages` pages of the default page allocator.
std::vector<void*> take(size_t pages) {
  std::vector<void*> chunks;
  for (size_t i = 0; i < 2 * pages; ++i) chunks.push_back(xa_malloc(1800));
  return chunks;
}

void give_back(const std::vector<void*>& chunks) {
  for (void* m : chunks) xa_free(m);
}

// Numbered steps that the threads of a test wait for and reach.
class Phases {
 public:
  void wait_for(int p) {
    std::unique_lock<std::mutex> lock(_m);
    _cv.wait(lock, [&] { return _phase >= p; });
  }
  void reach(int p) {
    std::lock_guard<std::mutex> lock(_m);
    _phase = p;
    _cv.notify_all();
  }

 private:
  std::mutex _m;
  std::condition_variable _cv;
  int _phase = 0;
};

// The free pages of one copy may use the places on the free lists that another copy took
// but holds no page in: the copies' free pages together still reach exactly the limit.
// Thread A (its own stripe) empties and refills 1100 pages, so that its copy holds unused
// places; then thread B (another stripe) frees 2100 pages: it keeps exactly 2048, and the
// pages A frees afterwards all go back to the system.
TEST(StressAlloc, FreePagesOfOneStripeUseThePlacesAnotherHoldsUnused) {
  testing::internal::CaptureStdout();
  init_xallocator();
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 0u);
  Phases phases;  // 1: A holds its pages again; 2: B is done
  unsigned stripe_a = 0, stripe_b = 0;
  std::thread a([&] {
    give_back(take(1100));
    std::vector<void*> again = take(1100);  // from the free list: its places stay with A
    stripe_a = xlabs_thread_stripe();
    phases.reach(1);
    phases.wait_for(2);
    give_back(again);
  });
  phases.wait_for(1);
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 0u);
  std::thread b([&] {
    give_back(take(2100));
    stripe_b = xlabs_thread_stripe();
  });
  b.join();
  EXPECT_NE(stripe_a, stripe_b);
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 2048u);
  phases.reach(2);
  a.join();
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 2048u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(default_xpage_allocator), 2048u);
}

// A return to a copy whose places are all used looks at the other copies with its own
// mutex released. Thread A (stripe 0) leaves its copy with 2047 free pages and one unused
// place; the test holds copy 0's mutex while thread X (stripe 1) returns a page: X waits
// for copy 0 with copy 1's mutex free, then takes A's unused place and keeps its page, so
// the copies together keep exactly 2048.
TEST(StressAlloc, ReturnShortOfPlacesWaitsForAnotherCopyWithItsOwnReleased) {
  testing::internal::CaptureStdout();
  init_xallocator();
  testing::internal::GetCapturedStdout();
  Phases phases;  // 1: A is set; 2: X holds its page; 3: X may return it; 4: A may finish
  std::thread a([&] {
    give_back(take(2100));             // 2048 kept, every place used
    std::vector<void*> one = take(1);  // one page back: one unused place
    phases.reach(1);
    phases.wait_for(4);
    give_back(one);  // no place left anywhere: back to the system
  });
  phases.wait_for(1);
  std::thread x([&] {
    std::vector<void*> one = take(1);  // a new page of copy 1
    phases.reach(2);
    phases.wait_for(3);
    give_back(one);
  });
  phases.wait_for(2);
  xpage_allocator* copy0 = default_xpage_allocator;
  xpage_allocator* copy1 = copy0->stripe_next;
  uint32_t* word0 = reinterpret_cast<uint32_t*>(&copy0->mutex);
  uint32_t* word1 = reinterpret_cast<uint32_t*>(&copy1->mutex);
  xlock_acquire(&copy0->mutex);
  phases.reach(3);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (__atomic_load_n(word0 + 1, __ATOMIC_RELAXED) == 0 &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(__atomic_load_n(word0 + 1, __ATOMIC_RELAXED), 1u) << "X waits for copy 0";
  EXPECT_EQ(__atomic_load_n(word1, __ATOMIC_RELAXED), 0u) << "with copy 1's mutex free";
  xlock_release(&copy0->mutex);
  x.join();
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 2048u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(default_xpage_allocator), 2049u);
  phases.reach(4);
  a.join();
  EXPECT_EQ(xpage_allocator_get_free_pages(default_xpage_allocator), 2048u);
  EXPECT_EQ(xpage_allocator_get_total_alloc_pages(default_xpage_allocator), 2048u);
}

}  // namespace
