// MopraX's pooled containers grown, copied and freed on several threads at once; the
// allocator's counters return to where they started.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "shared-types/MopraX_impl.h"
#include "shared-types/mopra_containers.h"

namespace {

TEST(PooledAllocatorStress, ThreadsGrowAndFreeContainers) {
  const auto start = mopra::pooled_allocator_counters();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < 200; ++round) {
        mopra::string_vector list;
        mopra::int_int_map map;
        for (int i = 0; i < 50; ++i) {
          list.push_back(std::to_string(t * 1000 + i));
          map[i] = round;
        }
        mopra::strholder_vector holders;
        mopra::conv_list_str(holders, list);
        mopra::StrHolder out;
        ASSERT_EQ(mopra::serialize2(out, holders, 0), 0);
        mopra::string_vector back;
        ASSERT_EQ(mopra::deserialize(back, out), 0);
        ASSERT_EQ(back, list);
      }
    });
  }
  for (auto& th : threads) th.join();
  const auto end = mopra::pooled_allocator_counters();
  EXPECT_EQ(end.live_blocks, start.live_blocks);
  EXPECT_EQ(end.live_bytes, start.live_bytes);
}

}  // namespace
