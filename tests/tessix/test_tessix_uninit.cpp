// tessix__uninitialize refuses to stop the allocator while caches or queues are alive, and
// stops it once they are gone; the module's texts survive the stop; caches made after the
// stop work on the system heap without a word on stderr. One process per run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "tests/tessix/fake_jni.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(TessixUninit, RefusedUnderLiveObjectsThenStops) {
  tessix__initialize(10000);
  std::unique_ptr<XLiveToken> a(new XLiveToken()), b(new XLiveToken());
  for (int level : {0, 5}) {  // at every level
    tessix__setLogLevel(level);
    CaptureStdout();
    tessix__uninitialize();
    EXPECT_EQ(GetCapturedStdout(),
              "[ERR] tessix__uninitialize: 2 caches or queues are still alive: the allocator "
              "keeps running\n");
    void* p = xa_malloc(64);
    EXPECT_NE(p, nullptr) << "the allocator must still run";
    xa_free(p);
  }
  a.reset();
  b.reset();
  const std::string info(tessix__info().c_str());
  CaptureStdout();
  tessix__uninitialize();
  const std::string stop = GetCapturedStdout();
  EXPECT_EQ(stop.find("[ERR]"), std::string::npos) << stop;
  EXPECT_NE(stop.find("uninit xallocator"), std::string::npos) << stop;
  EXPECT_EQ(xa_malloc(64), nullptr) << "stopped";
  EXPECT_EQ(std::string(tessix__info().c_str()), info);  // plain storage outlives the stop
  EXPECT_EQ(tessix__initialize(10000), 1);               // nothing restarts it
  EXPECT_EQ(xa_malloc(64), nullptr);
  EXPECT_EQ(std::string(tessix__memstat(0).c_str()), "\n\n\n\n\n\n\n\n\n");

  // Every cache made after the stop, not only the first, starts silently and works.
  FakeJni jni;
  for (int i = 0; i < 3; ++i) {
    testing::internal::CaptureStderr();
    CaptureStdout();
    std::unique_ptr<tessi::TessiGeneric> c(new tessi::TessiGeneric(100, 10));
    EXPECT_EQ(GetCapturedStdout(), "global_locks: mutexs_array was already constructed\n") << i;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << i;
    const std::string key = "a key beyond the short-string size " + std::to_string(i);
    ASSERT_TRUE(c->put(key.data(), int(key.size()), "value", 5, true, 0, 3));
    EXPECT_EQ(FakeJni::bytesOf(c->get(jni.env(), key.data(), int(key.size()), false)), "value");
  }
}
