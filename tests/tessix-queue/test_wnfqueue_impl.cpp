// wnfqueue::WNfQueueGeneric on the C++ side: payload copies, limits and their log line,
// dumpData, the live-object count, payloads given back when the VM cannot take them. The
// Java conversions are covered by the Java tests.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <string>

#include "WNfQueue_impl.h"
#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "tests/tessix-queue/nfq_test_util.h"
#include "tests/tessix/fake_jni.h"

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

// A JNIEnv whose NewByteArray and NewStringUTF fail (as with a full heap) after running a
// step of the test; the other calls are FakeJni's.
class FullHeapJni {
 public:
  explicit FullHeapJni(FakeJni& ok) : _table(*ok.env()->functions) {
    _table.NewByteArray = [](JNIEnv*, jsize) -> jbyteArray {
      runStep();
      return nullptr;
    };
    _table.NewStringUTF = [](JNIEnv*, const char*) -> jstring {
      runStep();
      return nullptr;
    };
    _env.functions = &_table;
  }
  JNIEnv* env() { return &_env; }
  // Runs once, between the take and the give-back, on the consumer's thread.
  static std::function<void()>& step() {
    static std::function<void()> f;
    return f;
  }

 private:
  static void runStep() {
    std::function<void()> f;
    f.swap(step());
    if (f) f();
  }
  JNINativeInterface_ _table;
  JNIEnv _env;
};

// A payload the VM cannot take goes back to the head, also when producers have filled the
// queue to its limit meanwhile, or straight to a consumer that began waiting meanwhile.
TEST(WNfQueueGeneric, PayloadTheVmCannotTakeGoesBackToTheHead) {
  FakeJni ok;
  FullHeapJni full(ok);
  for (bool asString : {false, true}) {
    for (long timeout : {-2L, 0L, -1L}) {  // -2: dequeue, else waitDequeue(timeout)
      SCOPED_TRACE(std::string(asString ? "as string, " : "as bytes, ") + std::to_string(timeout));
      WNfQueueGeneric q;
      auto take = [&](JNIEnv* env) {
        return timeout == -2 ? q.dequeue(env, asString) : q.waitDequeue(env, timeout, asString);
      };
      auto text = [&](jobject o) { return asString ? FakeJni::stringOf(o) : FakeJni::bytesOf(o); };
      q.setMaxNfSize(2);
      ASSERT_TRUE(q.enqueue("first", 5, false));
      ASSERT_TRUE(q.enqueue("second", 6, false));
      EXPECT_EQ(take(full.env()), nullptr);
      EXPECT_EQ(q.size(), 2);
      // Meanwhile a producer fills the queue to its limit.
      FullHeapJni::step() = [&] { EXPECT_TRUE(q.enqueue("third", 5, false)); };
      EXPECT_EQ(take(full.env()), nullptr);
      EXPECT_FALSE(FullHeapJni::step());
      EXPECT_EQ(q.size(), 3);
      for (const char* want : {"first", "second", "third"}) EXPECT_EQ(text(take(ok.env())), want);
      // Meanwhile a consumer begins to wait: the payload goes to it.
      ASSERT_TRUE(q.enqueue("handed", 6, false));
      std::future<std::string> waiter;
      FullHeapJni::step() = [&] {
        waiter = std::async(std::launch::async, [&] {
          FakeJni own;
          return FakeJni::bytesOf(q.waitDequeue(own.env(), -1, false));
        });
        waitForWaiters(q.queue(), 1);
      };
      EXPECT_EQ(take(full.env()), nullptr);
      EXPECT_EQ(waiter.get(), "handed");
      EXPECT_EQ(q.size(), 0);
    }
  }
  // An empty payload is null without any VM call; nothing goes back.
  WNfQueueGeneric q;
  ASSERT_TRUE(q.enqueue(nullptr, 0, false));
  EXPECT_EQ(q.dequeue(full.env(), false), nullptr);
  EXPECT_EQ(q.size(), 0);
}

}  // namespace
