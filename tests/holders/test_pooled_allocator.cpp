// MopraX's pooled allocator: its containers draw pooled blocks, counted and returned, and
// a stop of the allocator never lets a pooled block reach free().
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/mopra_containers.h"
#include "src/xlabs.h"
#include "src/xpool.h"

namespace {

template <typename C>
void grow_and_free(int n) {
  const auto before = mopra::pooled_allocator_counters();
  {
    C c;
    for (int i = 0; i < n; ++i) c.emplace_back();
    const auto during = mopra::pooled_allocator_counters();
    EXPECT_GT(during.live_blocks, before.live_blocks);
    EXPECT_GE(during.live_bytes - before.live_bytes,
              static_cast<int64_t>(n * sizeof(typename C::value_type)));
    // The elements are aligned for their type.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(c.data()) % alignof(typename C::value_type), 0u);
  }
  const auto after = mopra::pooled_allocator_counters();
  EXPECT_EQ(after.live_blocks, before.live_blocks);
  EXPECT_EQ(after.live_bytes, before.live_bytes);
}

TEST(PooledAllocator, ContainersCountAndReturnTheirBlocks) {
  const auto start = mopra::pooled_allocator_counters();
  grow_and_free<mopra::int_vector>(1000);
  grow_and_free<mopra::string_vector>(100);
  grow_and_free<mopra::strholder_vector>(100);
  {
    mopra::int_string_map a;
    mopra::string_string_map b;
    mopra::string_int_map c;
    mopra::int_int_map d;
    for (int i = 0; i < 50; ++i) {
      a[i] = "v";
      b[std::to_string(i)] = "v";
      c[std::to_string(i)] = i;
      d[i] = i;
    }
    EXPECT_GE(mopra::pooled_allocator_counters().live_blocks - start.live_blocks, 200);
  }
  const auto end = mopra::pooled_allocator_counters();
  EXPECT_EQ(end.live_blocks, start.live_blocks);
  EXPECT_EQ(end.live_bytes, start.live_bytes);
  EXPECT_EQ(end.kept_blocks, 0);
}

TEST(PooledAllocator, BlocksComeFromTheSlabSets) {
  const uint64_t before = xlabs_get_total_alloc(find_xlabs_default(40 * sizeof(int)));
  mopra::int_vector v(40);
  EXPECT_GT(xlabs_get_total_alloc(find_xlabs_default(40 * sizeof(int))), before);
  std::vector<char, mopra::pooled_allocator<char>> bytes(40);  // unshifted: the chunk itself
  EXPECT_FALSE(xchunk_is_nullpool(bytes.data()));
  EXPECT_GE(xchunk_get_class_size(bytes.data()), 40u);
}

TEST(PooledAllocator, EqualAndRebindable) {
  mopra::pooled_allocator<int> a;
  mopra::pooled_allocator<std::string> b(a);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a != b);
  mopra::string_vector x{"a"}, y{"b"};
  x.swap(y);
  y = std::move(x);
  EXPECT_EQ(y[0], "b");
}

// After the stop: blocks made before it are kept (never read, never freed), blocks made
// after it come from malloc and go back to free(). Runs in a child: the stop is final.
TEST(PooledAllocatorDeathTest, StopKeepsPooledBlocksAndServesLaterOnes) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const auto base = mopra::pooled_allocator_counters();
        // Trivial elements: the blocks' own contents die with their pages at the stop.
        auto* before_stop = new mopra::int_vector(640, 7);
        auto* small = new mopra::int_vector(8, 1);
        uninit_xallocator();
        delete before_stop;  // pooled vector storage, released after the stop
        delete small;
        if (mopra::pooled_allocator_counters().kept_blocks != base.kept_blocks + 2) std::exit(3);
        {
          mopra::string_vector after(10, "y");
          after.resize(1000);
          mopra::int_int_map m;
          for (int i = 0; i < 100; ++i) m[i] = i;
        }
        const auto c = mopra::pooled_allocator_counters();
        std::exit(c.live_blocks == base.live_blocks && c.kept_blocks == base.kept_blocks + 2 ? 0
                                                                                             : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
