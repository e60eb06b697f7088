// wnfqueue::WNfQueueGeneric on the C++ side: payload copies, limits and their log line,
// dumpData, the live-object count. The Java conversions are covered by the Java tests.
#include <gtest/gtest.h>

#include <string>

#include "WNfQueue_impl.h"
#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "tests/tessix-queue/nfq_test_util.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using wnfqueue::WNfQueueGeneric;

namespace {

TEST(WNfQueueGeneric, PayloadsAreCopiedIntoQueueNotifications) {
  WNfQueueGeneric q;
  const char bytes[] = {'a', 'b', '\0', 'c'};
  EXPECT_TRUE(q.enqueue(bytes, 4, false));
  EXPECT_TRUE(q.enqueue(nullptr, 0, false));  // an empty payload is allowed
  EXPECT_TRUE(q.enqueue("urgent", 6, true));
  EXPECT_EQ(q.size(), 3);
  EXPECT_EQ(takeText(q.queue().dequeueNotification()), "urgent");
  EXPECT_EQ(takeText(q.queue().dequeueNotification()), std::string(bytes, 4));
  EXPECT_EQ(takeText(q.queue().dequeueNotification()), "");
  EXPECT_EQ(q.dequeue(nullptr, false), nullptr);  // empty: no Java call is made
  EXPECT_EQ(q.waitDequeue(nullptr, 0, true), nullptr);
}

TEST(WNfQueueGeneric, LimitAndNegativeValue) {
  WNfQueueGeneric q;
  EXPECT_EQ(q.getMaxNfSize(), 0);
  q.setMaxNfSize(1);
  EXPECT_TRUE(q.enqueue("a", 1, false));
  EXPECT_FALSE(q.enqueue("b", 1, false));
  EXPECT_FALSE(q.enqueue("b", 1, true));
  EXPECT_EQ(q.size(), 1);
  for (int level : {1, 2, 5}) {
    tessix__setLogLevel(level);
    CaptureStdout();
    q.setMaxNfSize(-1);
    EXPECT_EQ(GetCapturedStdout(), level >= 2 ? "[ERR] setMaxNfSize: value is negative!\n" : "");
    EXPECT_EQ(q.getMaxNfSize(), 1);
  }
  tessix__setLogLevel(0);
  q.clear();
  EXPECT_EQ(q.size(), 0);
  q.setMaxNfSize(0);
  for (int i = 0; i < 50; ++i) EXPECT_TRUE(q.enqueue("x", 1, false));
}

TEST(WNfQueueGeneric, DumpData) {
  init_xallocator();  // its start line is not part of the dump
  CaptureStdout();
  wnfqueue::dumpData("enqueue", "abcdef", 3);
  wnfqueue::dumpData("enqueue", nullptr, 0);
  wnfqueue::dumpData("enqueueString", "ab\0cd", 5);
  EXPECT_EQ(GetCapturedStdout(),
            "[dbg] enqueue: data[3]=\"abc\"\n"
            "[dbg] enqueue: data[0]=\"<null>\"\n"
            "[dbg] enqueueString: data[5]=\"ab\"\n");
}

TEST(WNfQueueGeneric, CountsAsALiveObject) {
  const int64_t before = xlive_count();
  {
    WNfQueueGeneric a, b;
    EXPECT_EQ(xlive_count(), before + 2);
  }
  EXPECT_EQ(xlive_count(), before);
}

}  // namespace
