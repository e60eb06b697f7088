// The stores' log lines: exact text with and without a tag, also beyond 1 KiB, while the
// pooled allocator runs and after it has stopped.
#include <gtest/gtest.h>

#include <string>

#include "src/wdb/kc/storelog.h"
#include "src/xlabs.h"

namespace {

std::string lineOf(const char* tag, const char* place, const std::string& text) {
  testing::internal::CaptureStdout();
  wdb::storeLine(stdout, tag, place, tag != nullptr ? "%s" : "%s\n", text.c_str());
  return testing::internal::GetCapturedStdout();
}

TEST(StoreLog, LinesAreExactInEveryAllocatorState) {
  const std::string longText(5000, 'x');
  struct Case {
    const char* tag;
    const char* place;
    std::string text, want;
  } cases[] = {
      {"ERR", "wdb::X::open", "Fail open DB", "[ERR] wdb::X::open: Fail open DB\n"},
      {"inf", "p", "", "[inf] p: \n"},
      {nullptr, nullptr, "Partition[0]: /h/a-0.kch", "Partition[0]: /h/a-0.kch\n"},
      {"WRN", "p", longText, "[WRN] p: " + longText + "\n"},
      {nullptr, nullptr, longText, longText + "\n"},
  };
  testing::internal::CaptureStdout();
  init_xallocator();  // its start lines are not the store's
  testing::internal::GetCapturedStdout();
  for (int stopped = 0; stopped < 2; ++stopped) {
    if (stopped) {
      testing::internal::CaptureStdout();
      uninit_xallocator();
      testing::internal::GetCapturedStdout();
    }
    for (const Case& c : cases)
      EXPECT_EQ(lineOf(c.tag, c.place, c.text), c.want) << c.text.size() << " " << stopped;
  }
}

}  // namespace
