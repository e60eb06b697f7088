// Threads taking and releasing references on one shared object at once. Run under
// ThreadSanitizer in CI: the count's atomics must order every holder's payload writes
// before the destructor.
#include "src/xds/shobject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 20000;

struct Payload {
  uint64_t slots[kThreads];  // each thread writes only its own slot
};

std::atomic<int> g_dtor_calls{0};
uint64_t g_sum_seen;

void sum_dtor(void* object) {
  g_dtor_calls.fetch_add(1);
  const Payload* p = static_cast<const Payload*>(object);
  g_sum_seen = 0;
  for (uint64_t v : p->slots) g_sum_seen += v;  // plain reads of every thread's writes
}

TEST(ShObjectStress, ConcurrentTakeAndReleaseDestroysOnceAfterEveryHolder) {
  for (int trial = 0; trial < 5; ++trial) {
    g_dtor_calls = 0;
    void* obj = new_shobject(sizeof(Payload), nullptr);
    ASSERT_NE(obj, nullptr);
    *static_cast<Payload*>(obj) = Payload{};
    // One reference per thread, handed over; the creator's is dropped at once.
    for (int i = 0; i < kThreads; ++i) sh_shobject(obj);
    delete_shobject(obj, sum_dtor, nullptr);

    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load()) std::this_thread::yield();
        for (int i = 0; i < kRounds; ++i) {
          void* mine = sh_shobject(obj);
          static_cast<Payload*>(mine)->slots[t] += 1;
          if (shobject_alone(obj)) ADD_FAILURE() << "two references are held";
          delete_shobject(mine, sum_dtor, nullptr);
        }
        delete_shobject(obj, sum_dtor, nullptr);  // the thread's own reference
      });
    }
    go = true;
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(g_dtor_calls.load(), 1);
    EXPECT_EQ(g_sum_seen, uint64_t(kThreads) * kRounds);
  }
}

}  // namespace
