#include "src/xds/shobject.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int g_dtor_calls;
void* g_dtor_last;
void count_dtor(void* object) {
  ++g_dtor_calls;
  g_dtor_last = object;
}

std::vector<size_t> g_alloc_sizes;
std::vector<void*> g_freed_blocks;
void* tracking_alloc(size_t n) {
  g_alloc_sizes.push_back(n);
  return std::malloc(n);
}
void tracking_free(void* block) {
  g_freed_blocks.push_back(block);
  std::free(block);
}

class ShObject : public ::testing::Test {
 protected:
  void SetUp() override {
    g_dtor_calls = 0;
    g_dtor_last = nullptr;
    g_alloc_sizes.clear();
    g_freed_blocks.clear();
  }
};

TEST_F(ShObject, LastOfThreeReleasesRunsDestructorOnce) {
  void* obj = new_shobject(24, nullptr);
  ASSERT_NE(obj, nullptr);
  std::memset(obj, 0xab, 24);  // the whole payload is usable
  EXPECT_TRUE(shobject_alone(obj));
  EXPECT_EQ(sh_shobject(obj), obj);
  EXPECT_EQ(sh_shobject(obj), obj);
  EXPECT_FALSE(shobject_alone(obj));

  delete_shobject(obj, count_dtor, nullptr);
  EXPECT_FALSE(shobject_alone(obj));  // count 2
  delete_shobject(obj, count_dtor, nullptr);
  EXPECT_TRUE(shobject_alone(obj));  // count 1
  EXPECT_EQ(g_dtor_calls, 0);
  delete_shobject(obj, count_dtor, nullptr);
  EXPECT_EQ(g_dtor_calls, 1);
  EXPECT_EQ(g_dtor_last, obj);
}

TEST_F(ShObject, BlockComesFromAndGoesBackToTheGivenFunctions) {
  void* obj = new_shobject(10, tracking_alloc);
  ASSERT_NE(obj, nullptr);
  ASSERT_EQ(g_alloc_sizes.size(), 1u);
  EXPECT_EQ(g_alloc_sizes[0], 12u);  // payload + 16-bit count
  delete_shobject(obj, nullptr, tracking_free);
  ASSERT_EQ(g_freed_blocks.size(), 1u);
  EXPECT_EQ(g_freed_blocks[0], static_cast<char*>(obj) - 2);  // the block starts at the count
}

TEST_F(ShObject, FailedAllocationGivesNull) {
  EXPECT_EQ(new_shobject(8, [](size_t) -> void* { return nullptr; }), nullptr);
  EXPECT_EQ(new_shobject(SIZE_MAX, tracking_alloc), nullptr);  // length + 2 would wrap
  EXPECT_TRUE(g_alloc_sizes.empty());
}

TEST_F(ShObject, NullIsAccepted) {
  EXPECT_EQ(sh_shobject(nullptr), nullptr);
  EXPECT_FALSE(shobject_alone(nullptr));
  delete_shobject(nullptr, count_dtor, tracking_free);
  EXPECT_EQ(g_dtor_calls, 0);
  EXPECT_TRUE(g_freed_blocks.empty());
}

// 65535 references are the most the 16-bit count holds; they must all be honoured, the
// object freed by exactly the last release.
TEST_F(ShObject, FullCountOf65535ReferencesReleasesOnlyAtTheLast) {
  void* obj = new_shobject(4, nullptr);
  for (int i = 1; i < 0xffff; ++i) sh_shobject(obj);
  for (int i = 1; i < 0xffff; ++i) delete_shobject(obj, count_dtor, nullptr);
  EXPECT_EQ(g_dtor_calls, 0);
  EXPECT_TRUE(shobject_alone(obj));
  delete_shobject(obj, count_dtor, nullptr);
  EXPECT_EQ(g_dtor_calls, 1);
}

using ShObjectDeathTest = ShObject;

TEST_F(ShObjectDeathTest, ReferenceBeyond65535Aborts) {
  EXPECT_DEATH(
      {
        void* obj = new_shobject(4, nullptr);
        for (int i = 1; i < 0xffff; ++i) sh_shobject(obj);
        sh_shobject(obj);  // would wrap to 0
      },
      "Assertion failed: refcount < 0xffff");
}

TEST_F(ShObjectDeathTest, OverReleaseAborts) {
  // Own the block so that the second release reads the count of a still-live block.
  alignas(8) static unsigned char block[16];
  EXPECT_DEATH(
      {
        void* obj = new_shobject(8, [](size_t) -> void* { return block; });
        delete_shobject(obj, nullptr, [](void*) {});
        delete_shobject(obj, nullptr, [](void*) {});
      },
      "Assertion failed: refcount < 0xffff");
}

}  // namespace
