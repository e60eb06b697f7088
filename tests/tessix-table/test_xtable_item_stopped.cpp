// Entries after the allocator has stopped: the pool pointer reads null, new entries come
// from malloc and go back to free, and creating the pool again fails with its error line.
// One process, one stop: the stop cannot be undone.
#include <gtest/gtest.h>

#include <vector>

#include "tests/tessix-table/test_value.h"

namespace {

TEST(EntryPoolAfterStop, HandlesFallBackToMallocAndFreeIt) {
  TestItem::INIT_POOL();
  ASSERT_NE(nullptr, TestItem::POOL());
  {
    std::vector<TestItem> pooled(10);
    for (auto& h : pooled) h.ctor(TestValue("pooled key beyond the short-string size", "v"));
  }  // pooled entries and strings go back before the stop, as they must

  uninit_xallocator();
  EXPECT_EQ(nullptr, TestItem::POOL());

  std::vector<TestItem> items(50);
  for (size_t i = 0; i < items.size(); ++i) {
    items[i].ctor(TestValue("key number " + std::to_string(i) + " beyond the short-string size", "data"));
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(items[i].get_ptr()) % alignof(TestEntry));
  }
  TestItem shared;
  shared.reset(items[3].duplicate());
  EXPECT_TRUE(shared.self_clone());
  EXPECT_EQ(str(items[3].data().key), str(shared.data().key));
  items.clear();  // every block freed by free(): AddressSanitizer reports any other path
  shared.reset();

  testing::internal::CaptureStderr();
  TestItem::INIT_POOL();
  EXPECT_EQ("[ERR] xtable_item::INIT_POOL: FAIL create pool with class_size=" +
                std::to_string(TestItem::POOL_CLASS_SIZE) + "\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(nullptr, TestItem::POOL());
}

}  // namespace
