// A live queue keeps tessix__uninitialize from stopping the allocator; a queue made after
// the stop refuses every enqueue (no pooled memory for the notification) instead of
// crashing. One process per run: the stop is for good.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "WNfQueue_impl.h"
#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "tests/tessix-queue/nfq_test_util.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using wnfqueue::WNfQueueGeneric;

TEST(WNfQueueStopped, LiveQueueKeepsTheAllocatorThenEnqueueAnswersFalse) {
  std::unique_ptr<WNfQueueGeneric> q(new WNfQueueGeneric());
  EXPECT_TRUE(q->enqueue("stored", 6, false));
  CaptureStdout();
  tessix__uninitialize();
  EXPECT_EQ(GetCapturedStdout(),
            "[ERR] tessix__uninitialize: 1 caches or queues are still alive: the allocator "
            "keeps running\n");
  // The stored payload is still intact.
  EXPECT_EQ(takeText(q->queue().dequeueNotification()), "stored");
  EXPECT_TRUE(q->enqueue("again", 5, false));
  q.reset();  // drops the stored payload while the allocator still runs

  CaptureStdout();
  tessix__uninitialize();
  GetCapturedStdout();
  ASSERT_EQ(xa_malloc(16), nullptr) << "stopped";
  WNfQueueGeneric after;
  EXPECT_FALSE(after.enqueue("lost?", 5, false));
  EXPECT_FALSE(after.enqueue("lost?", 5, true));
  EXPECT_EQ(after.size(), 0);
  EXPECT_EQ(after.queue().waitDequeueNotification(0), nullptr);
}
