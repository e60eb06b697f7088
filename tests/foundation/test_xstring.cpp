#include "src/xstring.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Sum of the sizes asked for that the normal-page set served so far.
uint64_t normal_total_alloc() { return xlabs_get_total_alloc(find_xlabs_default(1)); }

// Bytes the string itself took from the pools (0 while it lives in its own small buffer).
size_t own_block_bytes(const xstring& s) {
  static const size_t local_capacity = xstring().capacity();
  return s.capacity() > local_capacity ? s.capacity() + 1 : 0;
}

// Getters standing in for the allocator's state: one as after the stop (no set), one
// counting its calls.
struct stopped_getter {
  xlabs* operator()(size_t) const { return nullptr; }
};
int g_getter_calls;
struct counting_getter {
  xlabs* operator()(size_t n) const {
    ++g_getter_calls;
    return find_xlabs_default(n);
  }
};

// The buffers Format takes show in the set's counter: 2 x strlen("%s") + 128 = 132 bytes
// first, then exactly the length + 1 when the text did not fit.
TEST(XStringFormat, BufferGrowthFromFirst132Bytes) {
  struct Case {
    size_t length;
    uint64_t buffers;
  } cases[] = {{0, 132}, {10, 132}, {131, 132}, {132, 132 + 133}, {1000, 132 + 1001}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string text(c.length, 'x');
    uint64_t before = normal_total_alloc();
    xstring s = xstring::Format("%s", text.c_str());
    uint64_t taken = normal_total_alloc() - before;
    EXPECT_EQ(s.size(), c.length);
    EXPECT_EQ(std::string(s.c_str()), text);
    EXPECT_EQ(taken, c.buffers + own_block_bytes(s));
  }
}

TEST(XStringFormat, FirstBufferFollowsFormatLength) {
  uint64_t before = normal_total_alloc();
  xstring s = xstring::Format("%d items of %s", 3, "abc");  // 14 characters
  EXPECT_EQ(s, "3 items of abc");
  EXPECT_EQ(normal_total_alloc() - before, 2 * 14 + 128u);
}

TEST(XStringFormat, MemberFormatReplacesTextAndReturnsItself) {
  xstring s("previous text");
  xstring& r = s.format("%s-%u-%.2f", "k", 42u, 1.25);
  EXPECT_EQ(&r, &s);
  EXPECT_EQ(s, "k-42-1.25");
  EXPECT_EQ(xstring::Format("%s", ""), "");
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
TEST(XStringFormat, NullFormatLeavesStringUnchanged) {
  const char* no_format = nullptr;
  xstring s("kept");
  s.format(no_format);
  EXPECT_EQ(s, "kept");
  EXPECT_TRUE(xstring::Format(no_format).empty());
}
#pragma GCC diagnostic pop

// vsnprintf fails (-1) on a wide character no multibyte text can hold: formatting stops at
// once and leaves the string as it was.
TEST(XStringFormat, OutputErrorStopsAndLeavesStringUnchanged) {
  const wchar_t bad[] = {wchar_t(0x110000), 0};
  char probe[8];
  ASSERT_LT(std::snprintf(probe, sizeof probe, "%ls", bad), 0);
  xstring s("kept");
  s.format("%ls", bad);
  EXPECT_EQ(s, "kept");
  EXPECT_TRUE(xstring::Format("%ls", bad).empty());
}

TEST(XString, ConstructionAndAssignment) {
  const char* null_text = nullptr;
  EXPECT_TRUE(xstring(null_text).empty());
  EXPECT_TRUE(xstring(nullptr).empty());
  EXPECT_EQ(xstring("abc"), "abc");
  EXPECT_EQ(xstring(std::string("a\0b", 3)).size(), 3u);
  EXPECT_EQ(std::memcmp(xstring(std::string("a\0b", 3)).data(), "a\0b", 3), 0);

  xstring s("something");
  s = nullptr;
  EXPECT_TRUE(s.empty());
  s = "again";
  EXPECT_EQ(s, "again");
  s = null_text;
  EXPECT_TRUE(s.empty());
  s = std::string("plain");
  EXPECT_EQ(s, "plain");

  s = "x";
  s.assign_anytraits(null_text);  // ignored
  EXPECT_EQ(s, "x");
  s.assign_deftraits("up to\0here");
  EXPECT_EQ(s, "up to");

  xstd_string base = s + "!";
  xstring from_base(base);
  EXPECT_EQ(from_base, "up to!");
}

// While the allocator runs, string blocks are pool chunks of the class that holds them.
TEST(XString, BlocksComeFromThePools) {
  struct Case {
    size_t length;
    uint64_t class_size;
  } cases[] = {{100, 110}, {1879, 1880}, {1880, 2350}, {5000, 5743}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    xstring s(std::string(c.length, 'y'));
    ASSERT_EQ(s.capacity(), c.length);
    EXPECT_FALSE(xchunk_is_nullpool(s.data()));
    EXPECT_EQ(xchunk_get_class_size(s.data()), c.class_size);
  }
}

TEST(XAllocator, StatelessAndInterchangeable) {
  basic_xal<char, auto_xlabs_getter> a, b;
  basic_xal<int, auto_xlabs_getter> other(a);
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(a == other);
  EXPECT_FALSE(a != b);
  char* p = a.allocate(40);
  std::memset(p, 1, 40);
  EXPECT_EQ(xchunk_get_class_size(p), 40u);
  b.deallocate(p, 40);  // another instance releases it
}

TEST(XAllocator, AsksTheGetterForEachCallsSize) {
  g_getter_calls = 0;
  basic_xal<uint32_t, counting_getter> a;
  uint32_t* p = a.allocate(10);  // 40 bytes
  EXPECT_EQ(g_getter_calls, 1);
  EXPECT_EQ(xchunk_get_class_size(p), 40u);
  a.deallocate(p, 10);
  EXPECT_EQ(g_getter_calls, 2);
}

TEST(XAllocator, OverflowingCountThrowsWithoutAllocating) {
  g_getter_calls = 0;
  basic_xal<uint32_t, counting_getter> a;
  EXPECT_THROW(a.allocate(SIZE_MAX / 2), std::bad_alloc);
  EXPECT_EQ(g_getter_calls, 0);
}

// Without a slab set (as after the stop) a block is a silent null-pool block over malloc,
// released through xpool_free to free.
TEST(XAllocator, WithoutSetBlocksAreSelfDescribingSystemBlocks) {
  basic_xal<char, stopped_getter> a;
  testing::internal::CaptureStdout();
  char* p = a.allocate(5000);
  std::memset(p, 2, 5000);
  EXPECT_TRUE(xchunk_is_nullpool(p));
  EXPECT_EQ(xchunk_get_class_size(p), 5000u);
  a.deallocate(p, 5000);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  typedef std::basic_string<char, std::char_traits<char>, basic_xal<char, stopped_getter>>
      sys_string;
  sys_string s(300, 'z');
  s += s;
  EXPECT_TRUE(xchunk_is_nullpool(s.data()));
}

// A pool chunk reaching the allocator with no set to return it to is kept: handing it to
// free() would corrupt the heap (AddressSanitizer reports that at once).
TEST(XAllocator, PooledChunkWithoutSetIsKept) {
  void* chunk = xa_malloc(10);
  ASSERT_NE(chunk, nullptr);
  basic_xal<char, stopped_getter>().deallocate(static_cast<char*>(chunk), 10);
  EXPECT_EQ(xchunk_get_class_size(chunk), 16u);  // still in use, not freed
  xa_free(chunk);
  EXPECT_EQ(xchunk_get_class_size(chunk), 0u);
}

// Page memory that is unmapped when released, so that any later read of it faults.
void* mapped_alloc(size_t n) {
  const size_t total = n + 16;
  void* m = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (m == MAP_FAILED) return nullptr;
  std::memcpy(m, &total, sizeof total);
  return static_cast<char*>(m) + 16;
}
void mapped_free(void* p) {
  char* m = static_cast<char*>(p) - 16;
  size_t total;
  std::memcpy(&total, m, sizeof total);
  munmap(m, total);
}
xlabs* g_private_set;
struct private_getter {
  xlabs* operator()(size_t) const { return g_private_set; }
};

// A pool chunk released after its set is gone (as after the stop) is kept without being
// read: its page is unmapped here, so a look at its tag would fault.
TEST(XAllocator, ChunkOfAGoneSetIsNotRead) {
  ASSERT_NE(find_xlabs_default(1), nullptr);  // running: the default sets' largest class is known
  xpage_allocator* pages = new_xpage_allocator(3800, 0, 0, 0, mapped_alloc, mapped_free);
  g_private_set = new_xlabs(pages, 20, 0, 2, 1.25);
  ASSERT_NE(g_private_set, nullptr);
  basic_xal<char, private_getter> a;
  struct Case {
    size_t bytes;
    uint64_t class_size;
  } cases[] = {{1, 4}, {10, 16}, {100, 110}, {1880, 1880}};
  std::vector<char*> blocks;
  for (const Case& c : cases) {
    blocks.push_back(a.allocate(c.bytes));
    std::memset(blocks.back(), 7, c.bytes);
    EXPECT_EQ(xchunk_get_class_size(blocks.back()), c.class_size);
  }
  testing::internal::CaptureStdout();
  delete_xlabs(g_private_set);
  g_private_set = nullptr;
  delete_xpage_allocator(pages);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("causes leak 1 chunks"), std::string::npos);
  for (size_t i = 0; i < blocks.size(); ++i) a.deallocate(blocks[i], cases[i].bytes);
}

// After the stop (in a child process: the stop cannot be undone) strings live on the system
// heap, a block made before the stop that is no pool chunk still goes back correctly, and
// Format gives empty strings.
TEST(XStringDeathTest, AfterStopStringsUseTheSystemHeap) {
  auto child = [] {
    auto fail = [](const char* what) {
      std::fprintf(stderr, "FAILED: %s\n", what);
      std::exit(1);
    };
    {
      xstring pooled(std::string(100, 'p'));
      if (xchunk_is_nullpool(pooled.data())) fail("pooled block before the stop");
    }
    // Beyond the largest class: a null-pool block of the running allocator.
    xstring* huge = new xstring(std::string(12582873, 'h'));
    if (!xchunk_is_nullpool(huge->data())) fail("huge block is a null-pool block");
    // Pool chunks outliving the stop (the caller's error): kept, their pages never read.
    std::vector<xstring*> pooled;
    for (size_t n : {10, 100, 1879, 5000, 2084825})
      pooled.push_back(new xstring(std::string(n, 'k')));

    uninit_xallocator();
    if (find_xlabs_default(1) != nullptr) fail("allocator stopped");

    testing::internal::CaptureStdout();
    {
      xstring s(std::string(100, 's'));
      if (!xchunk_is_nullpool(s.data())) fail("block after the stop is a system block");
      s.append(3000, 't');
      if (s.size() != 3100 || s[3099] != 't') fail("string grows after the stop");
      if (!xstring::Format("%d", 5).empty()) fail("Format after the stop is empty");
      xstring kept("kept");
      kept.format("%s", "x");
      if (kept != "kept") fail("format after the stop leaves the string");
    }
    delete huge;  // freed after the stop through its own header
    for (xstring* p : pooled) delete p;
    if (testing::internal::GetCapturedStdout() != "") fail("no output after the stop");
    std::exit(0);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

// Blocks live at the stop keep their memory: blocks made after the stop (system blocks,
// which the release tells apart by their address) never share it, never change it, and
// releasing the old blocks afterwards (kept, as the stop's rule says) frees none of the new
// ones. Raw blocks and pooled strings on normal, big and huge pages.
TEST(XStringDeathTest, BlocksLiveAtTheStopKeepTheirMemory) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: the stop is final
  auto child = [] {
    auto fail = [](const char* what) {
      std::fprintf(stderr, "FAILED: %s\n", what);
      std::exit(1);
    };
    struct Old {
      char* at;
      size_t n;
      char fill;
      xstring* s;  // the string that owns the block, or null for an xa_malloc block
    };
    std::vector<Old> old;
    char fill = 'A';
    for (size_t n : {24, 1000, 1880, 3000, 2100000}) {
      char* p = static_cast<char*>(xa_malloc(n));
      std::memset(p, fill, n);
      old.push_back({p, n, fill++, nullptr});
    }
    for (size_t n : {100, 1800, 5000}) {
      xstring* s = new xstring(std::string(n, fill));
      old.push_back({&(*s)[0], n, fill++, s});
    }
    testing::internal::CaptureStdout();
    uninit_xallocator();
    testing::internal::GetCapturedStdout();

    // Every third one the size of a normal page's system block, the others spread up to 4 kB.
    std::vector<xstring*> fresh;
    for (size_t i = 0; i < 3000; ++i) {
      const size_t n = i % 3 == 0 ? 3803 : 16 + (i * 1237) % 4000;
      fresh.push_back(new xstring(std::string(n, static_cast<char>('a' + i % 26))));
    }
    for (const xstring* f : fresh) {
      const char* b = f->data();
      for (const Old& o : old)
        if (b < o.at + o.n && o.at < b + f->size() + 1)
          fail("a block made after the stop shares memory with a block live at the stop");
    }
    for (const Old& o : old)
      if (std::count(o.at, o.at + o.n, o.fill) != static_cast<long>(o.n))
        fail("a block live at the stop changed");
    for (const Old& o : old) {
      if (o.s != nullptr)
        delete o.s;
      else
        xa_free(o.at);
    }
    for (size_t i = 0; i < fresh.size(); ++i) {
      const xstring& f = *fresh[i];
      if (std::count(f.begin(), f.end(), static_cast<char>('a' + i % 26)) !=
          static_cast<long>(f.size()))
        fail("a block made after the stop changed when the old ones were released");
    }
    for (xstring* f : fresh) delete f;
    std::exit(0);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
