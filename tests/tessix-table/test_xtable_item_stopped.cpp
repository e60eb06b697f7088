// Entries after the allocator has stopped: the pool pointer stays as it was, new entries come
// from malloc and go back to free, and INIT_POOL makes no new attempt (no error line).
// One process, one stop: the stop cannot be undone.
#include <gtest/gtest.h>

#include <vector>

#include "tests/tessix-table/test_value.h"

namespace {

TEST(EntryPoolAfterStop, HandlesFallBackToMallocAndFreeIt) {
  TestItem::INIT_POOL();
  xpool* const pool = TestItem::POOL();
  ASSERT_NE(nullptr, pool);
  {
    std::vector<TestItem> pooled(10);
    for (auto& h : pooled) h.ctor(TestValue("pooled key beyond the short-string size", "v"));
  }  // pooled entries and strings go back before the stop, as they must

  uninit_xallocator();
  EXPECT_EQ(pool, TestItem::POOL());

  std::vector<TestItem> items(50);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].ctor(
        TestValue("key number " + std::to_string(i) + " beyond the short-string size", "data"));
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(items[i].get_ptr()) % alignof(TestEntry));
  }
  TestItem shared;
  shared.reset(items[3].duplicate());
  EXPECT_TRUE(shared.self_clone());
  EXPECT_EQ(str(items[3].data().key), str(shared.data().key));
  items.clear();  // every block freed by free(): AddressSanitizer reports any other path
  shared.reset();

  for (int i = 0; i < 3; ++i) {  // every later start, as each new cache makes one
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    TestItem::INIT_POOL();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(pool, TestItem::POOL());
    TestItem h;
    h.ctor(TestValue("after the stop, beyond the short-string size", "d"));
    EXPECT_EQ("d", str(h.data().data));
  }
}

}  // namespace
