// TessiGeneric in C++ (results through a fake JNIEnv): sizes, settings and their error
// lines, put modes and their information lines, flags, expiry arithmetic, compression at
// the threshold and the decompressed text's NUL (run under ASan: the lengths whose size
// + 4 is a class size), eviction, and the expired-item removal that must spare a fresh put.
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <new>
#include <ctime>
#include <string>
#include <vector>

#include "src/TessiX_impl.h"
#include "tests/tessix/fake_jni.h"
#include "wexception.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using tessi::TessiGeneric;

namespace {

class Cache : public testing::Test {
 protected:
  void SetUp() override {
    tessix__setLogLevel(0);
    c.reset(new TessiGeneric(1000, 100));
  }
  void TearDown() override { tessix__setLogLevel(0); }

  bool put(const std::string& k, const std::string& v, bool flag = true, int expire = 0,
           int mode = 3) {
    return c->put(k.data(), int(k.size()), v.data(), int(v.size()), flag, expire, mode);
  }
  std::string get(const std::string& k) {
    return FakeJni::bytesOf(c->get(jni.env(), k.data(), int(k.size()), false));
  }
  std::string getS(const std::string& k) {
    return FakeJni::stringOf(c->get(jni.env(), k.data(), int(k.size()), true));
  }
  std::string pop(const std::string& k) {
    return FakeJni::bytesOf(c->pop(jni.env(), k.data(), int(k.size()), false));
  }
  std::string popS(const std::string& k) {
    return FakeJni::stringOf(c->pop(jni.env(), k.data(), int(k.size()), true));
  }
  bool exist(const std::string& k, bool check) { return c->exist(k.data(), int(k.size()), check); }
  int flags(const std::string& k) { return c->getItemFlag(k.data(), int(k.size())); }
  bool setFlags(const std::string& k, int v, int op) {
    return c->setItemFlag(k.data(), int(k.size()), v, op);
  }
  int left(const std::string& k) { return c->getItemTimeExp(k.data(), int(k.size())); }
  bool extend(const std::string& k, int d) { return c->extItemTimeExp(k.data(), int(k.size()), d); }

  FakeJni jni;
  std::unique_ptr<TessiGeneric> c;
};

// Bytes in use in the normal allocator's pools, from memstat's normal section.
long usedBytes() {
  const xstring s = tessix__memstat(1);
  const std::string text(s.data(), s.size());
  long used = 0;
  size_t at = 0;
  auto field = [](const std::string& line, const std::string& key) {
    const size_t p = line.find(key + "=");
    return std::stol(line.substr(p + key.size() + 1));
  };
  for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
    const std::string line = text.substr(at, nl - at);
    if (line.compare(0, 3, " * ") != 0) continue;
    used += (field(line, "total_chunks") - field(line, "free_chunks")) * field(line, "class_size");
  }
  return used;
}

TEST(TessiGenericSizes, RefusedWithAnException) {
  struct Case {
    int64_t tbl, lru;
    const char* message;
  } cases[] = {
      {0, 10, "tblSize must be between 2 and 268435456"},
      {1, 10, "tblSize must be between 2 and 268435456"},
      {-1, 10, "tblSize must be between 2 and 268435456"},
      {INT64_MIN, 10, "tblSize must be between 2 and 268435456"},
      {(int64_t(1) << 28) + 1, 10, "tblSize must be between 2 and 268435456"},
      {INT64_MAX, 10, "tblSize must be between 2 and 268435456"},
      {100, 0, "lruSize must be at least 1"},
      {100, -7, "lruSize must be at least 1"},
  };
  for (const Case& k : cases) {
    try {
      TessiGeneric g(k.tbl, k.lru);
      ADD_FAILURE() << k.tbl << " " << k.lru << " accepted";
    } catch (const wexception& e) {
      EXPECT_STREQ(e.what(), k.message);
    }
  }
  TessiGeneric smallest(2, 1);
  EXPECT_EQ(smallest.getTblSize(), 2);
  EXPECT_EQ(smallest.getLruSize(), 1);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOKA_UNDER_SANITIZER 1
#endif

// The largest accepted table in a child process whose address space is limited: the bucket
// array (4 GiB) cannot be had, the constructor throws std::bad_alloc instead of stopping the
// process, and a small cache still works there.
TEST(TessiGenericSizes, TableThatCannotBeHadIsRefused) {
#ifdef TOKA_UNDER_SANITIZER
  GTEST_SKIP() << "sanitizers reserve more address space than the limit leaves";
#else
  { TessiGeneric warm(16, 4); }  // the allocator and the key locks exist before the limit
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(1) << 30);
    const rlimit r = {limit, limit};
    if (pages == 0 || setrlimit(RLIMIT_AS, &r) != 0) _exit(3);
    try {
      TessiGeneric huge(TessiGeneric::kMaxTblSize, 10);
      _exit(4);
    } catch (const std::bad_alloc&) {
    }
    TessiGeneric small(1000, 10);
    _exit(small.put("k", 1, "v", 1, true, 0, 3) ? 0 : 5);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
  EXPECT_EQ(0, WEXITSTATUS(status));
#endif
}

TEST_F(Cache, SettingsAndTheirErrorLines) {
  EXPECT_EQ(c->getCompressMed(), 0);
  EXPECT_EQ(c->getThresholdComp(), 128);
  EXPECT_EQ(c->getExpTime(), 3600);
  for (int level : {1, 2}) {
    tessix__setLogLevel(level);
    CaptureStdout();
    c->setExpTime(-1);
    c->setCompressMed(3);
    c->setCompressMed(-1);
    c->setThresholdComp(-1);
    EXPECT_EQ(GetCapturedStdout(), level < 2 ? ""
                                             : "[ERR] setExpTime: value is negative!\n"
                                               "[ERR] setCompressMed: value is not valid!\n"
                                               "[ERR] setCompressMed: value is not valid!\n"
                                               "[ERR] setThresholdComp: value is negative!\n");
  }
  EXPECT_EQ(c->getCompressMed(), 0);
  EXPECT_EQ(c->getThresholdComp(), 128);
  EXPECT_EQ(c->getExpTime(), 3600);
  c->setExpTime(0);
  c->setCompressMed(2);
  c->setThresholdComp(0);
  EXPECT_EQ(c->getExpTime(), 0);
  EXPECT_EQ(c->getCompressMed(), 2);
  EXPECT_EQ(c->getThresholdComp(), 0);
}

TEST_F(Cache, PutModesAndTheirInformationLines) {
  tessix__setLogLevel(4);
  CaptureStdout();
  EXPECT_FALSE(put("k", "u", true, 0, 2));
  EXPECT_TRUE(put("k", "a1", true, 0, 1));
  EXPECT_FALSE(put("k", "a2", true, 0, 1));
  EXPECT_FALSE(put("k", "x", true, 0, 4));
  EXPECT_FALSE(put(std::string("n\0ul", 4), "x", true, 0, 0));
  EXPECT_EQ(GetCapturedStdout(),
            "[inf] put: \"k\" Not exist!\n"
            "[inf] put: \"k\" Already exist!\n"
            "[inf] put: \"k\" Invalid parameter!\n"
            "[inf] put: \"n\" Invalid parameter!\n");
  tessix__setLogLevel(3);
  CaptureStdout();
  EXPECT_FALSE(put("k", "a2", true, 0, 1));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(get("k"), "a1");
  EXPECT_TRUE(put("k", "u1", true, 0, 2));
  EXPECT_EQ(get("k"), "u1");
  EXPECT_TRUE(put("k2", "v2", true, 0, 3));
  EXPECT_TRUE(put("k2", "v3", true, 0, 3));
  EXPECT_EQ(c->size(), 2u);
  EXPECT_EQ(pop("k2"), "v3");
  EXPECT_EQ(pop("k2"), "<null>");
  EXPECT_TRUE(c->remove("k", 1));
  EXPECT_FALSE(c->remove("k", 1));
  EXPECT_EQ(c->size(), 0u);
  // Binary keys and values, whole byte strings.
  const std::string bk("a\0b", 3), bv("\0\1\2\xff", 4);
  EXPECT_TRUE(put(bk, bv));
  EXPECT_EQ(get(bk), bv);
  EXPECT_EQ(get("a"), "<null>");
  EXPECT_EQ(getS(bk), "");  // the text ends at the first NUL
  // An empty or null value is stored and reads as null.
  EXPECT_TRUE(c->put("e", 1, nullptr, 0, true, 0, 3));
  EXPECT_TRUE(exist("e", false));
  EXPECT_FALSE(exist("e", true));
  EXPECT_EQ(get("e"), "<null>");
  c->clear();
  EXPECT_EQ(c->size(), 0u);
}

TEST_F(Cache, Flags) {
  EXPECT_TRUE(put("f", "v", false));
  EXPECT_EQ(flags("f"), 1);
  EXPECT_TRUE(exist("f", false));
  EXPECT_FALSE(exist("f", true));
  EXPECT_EQ(get("f"), "<null>");
  EXPECT_TRUE(setFlags("f", 0xFFFC, 2));
  EXPECT_EQ(get("f"), "v");
  struct Case {
    int op, value, want;
  } cases[] = {{1, 0x12345, 0x2345},
               {2, 0x00FF, 0x000F},
               {3, 0xF000, int16_t(0xFF0F)},
               {4, 0x0FF0, 0x00FF},
               {5, 999, int16_t(0xF0F0)}};
  for (const Case& k : cases) {
    EXPECT_TRUE(setFlags("f", 0x0F0F, 1));
    EXPECT_TRUE(setFlags("f", k.value, k.op));
    EXPECT_EQ(flags("f"), k.want) << k.op;
  }
  for (int bad : {0, 6, -1}) EXPECT_FALSE(setFlags("f", 0, bad));
  EXPECT_EQ(flags("f"), int16_t(0xF0F0));
  EXPECT_TRUE(setFlags("f", 0, 1));
  EXPECT_TRUE(setFlags("f", 0, 5));
  EXPECT_EQ(flags("f"), -1);  // all ones: the same answer as a missing key
  EXPECT_EQ(flags("missing"), -1);
  EXPECT_FALSE(setFlags("missing", 0, 1));
  EXPECT_TRUE(setFlags("f", 2, 1));
  EXPECT_EQ(get("f"), "<null>");
  EXPECT_TRUE(setFlags("f", 4, 1));
  EXPECT_EQ(get("f"), "v");
}

TEST_F(Cache, ExpiryIn64Bits) {
  EXPECT_TRUE(put("e", "v", true, -1));
  EXPECT_TRUE(exist("e", false));
  EXPECT_LT(left("e"), 0);
  EXPECT_EQ(get("e"), "<null>");
  EXPECT_FALSE(exist("e", false));  // removed by get
  EXPECT_TRUE(put("e", "v", true, -1));
  EXPECT_FALSE(exist("e", true));
  EXPECT_FALSE(exist("e", false));  // removed by exist with check
  EXPECT_TRUE(put("e", "v", true, -1));
  EXPECT_EQ(popS("e"), "<null>");
  EXPECT_FALSE(exist("e", false));

  // expire × 1,000,000 leaves 32 bits past 2,147 s; the default 3600 must work.
  for (int e : {60, 2147, 2148, 3600, 100000000, 2000000000, INT_MAX}) {
    EXPECT_TRUE(put("l", "v", true, e));
    const int64_t want = std::min<int64_t>(e, 0xFFFFFFFFLL - time(nullptr));
    EXPECT_LE(left("l"), want) << e;
    EXPECT_GE(left("l"), want - 2) << e;
    EXPECT_EQ(get("l"), "v") << e;
  }
  // A negative expiry far in the past is clamped to 1 s after 1970, never wrapped.
  EXPECT_TRUE(put("p", "v", true, INT_MIN));
  EXPECT_EQ(get("p"), "<null>");

  EXPECT_FALSE(extend("missing", 5));
  EXPECT_EQ(left("missing"), -1);

  // Without expiry: minus the current time; a positive extension makes it expired.
  EXPECT_TRUE(put("n", "v"));
  EXPECT_NEAR(left("n"), -double(time(nullptr)), 2);
  EXPECT_TRUE(extend("n", 0));
  EXPECT_EQ(get("n"), "v");
  EXPECT_TRUE(extend("n", 60));
  EXPECT_TRUE(exist("n", false));
  EXPECT_EQ(get("n"), "<null>");
  EXPECT_FALSE(exist("n", false));
}

// Extensions and the seconds left are 32-bit sums and differences: they wrap. Each case runs
// within one second, so the figures are exact.
TEST_F(Cache, ExpiryExtensionsWrapIn32Bits) {
  struct Case {
    int expire;               // put
    std::vector<int> deltas;  // extItemTimeExp, in order
    int64_t left;             // getItemTimeExp afterwards, relative to expiry - now
    bool readable;            // get afterwards
  } cases[] = {
      // now + INT_MAX + INT_MAX wraps to now - 2: expired.
      {INT_MAX, {INT_MAX}, -2, false},
      // now + 3600 + INT_MAX does not wrap, but its distance from now does not fit an int.
      {3600, {INT_MAX}, int64_t(3600) + INT_MAX - (int64_t(1) << 32), true},
      // Two INT_MIN steps add -2^32: back where it was.
      {3600, {INT_MAX, INT_MIN, INT_MIN}, int64_t(3600) + INT_MAX - (int64_t(1) << 32), true},
      {60, {-120}, -60, false},
      {60, {-60}, 0, false},
      {60, {-59}, 1, true},
  };
  for (const Case& k : cases) {
    for (int attempt = 0;; ++attempt) {
      ASSERT_LT(attempt, 10);
      const int64_t t0 = Poco::Timestamp().epochMicroseconds() / 1000000;  // the cache's clock
      ASSERT_TRUE(put("w", "v", true, k.expire));
      for (int d : k.deltas) ASSERT_TRUE(extend("w", d));
      const int l = left("w");
      const bool readable = exist("w", true);
      if (Poco::Timestamp().epochMicroseconds() / 1000000 != t0)
        continue;  // a second passed: the figures moved
      EXPECT_EQ(l, k.left) << k.expire;
      EXPECT_EQ(readable, k.readable) << k.expire;
      break;
    }
  }
}

TEST_F(Cache, CompressionAtTheThreshold) {
  c->setCompressMed(1);
  const long before128 = usedBytes();
  EXPECT_TRUE(put("c128", std::string(128, 'a')));
  const long raw = usedBytes() - before128;
  const long before129 = usedBytes();
  EXPECT_TRUE(put("c129", std::string(129, 'a')));
  const long packed = usedBytes() - before129;
  EXPECT_GE(raw, packed + 128) << raw << " " << packed;
  EXPECT_EQ(get("c129"), std::string(129, 'a'));
  EXPECT_EQ(get("c128"), std::string(128, 'a'));
  for (int method : {0, 2}) {
    c->setCompressMed(method);
    const long before = usedBytes();
    EXPECT_TRUE(put("m", std::string(1000, 'b')));
    EXPECT_GE(usedBytes() - before, 1000) << method;
    c->remove("m", 1);
  }
  c->setCompressMed(1);
  c->setThresholdComp(0);
  EXPECT_TRUE(put("one", "x"));  // 1 byte > 0: compressed
  EXPECT_EQ(get("one"), "x");
  EXPECT_EQ(getS("one"), "x");
}

// The decompressed text gets its NUL in a byte of its own: at these lengths the block's
// size + 4 is a class size, and a NUL past the block would overwrite the next chunk's tag.
TEST_F(Cache, DecompressedTextsAtClassSizes) {
  c->setCompressMed(1);
  for (int n : {129, 133, 167, 210, 278, 365, 482, 636, 840, 1109, 4096, 65536, 300000}) {
    std::string v(size_t(n), 'z');
    v[size_t(n) / 2] = 'y';
    const std::string key = "f3-" + std::to_string(n);
    EXPECT_TRUE(put(key, v));
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(getS(key), v) << n;
      EXPECT_EQ(get(key), v) << n;
    }
    EXPECT_EQ(popS(key), v) << n;
  }
  std::string withNul(300, 'q');
  withNul[10] = '\0';
  EXPECT_TRUE(put("nul1", withNul));
  EXPECT_EQ(getS("nul1"), std::string(10, 'q'));
  EXPECT_EQ(get("nul1"), withNul);
  c->setCompressMed(0);
  EXPECT_TRUE(put("nul0", withNul));
  EXPECT_EQ(getS("nul0"), std::string(10, 'q'));
}

// The same with the decompression buffer's neighbours in use: a NUL written past the
// buffer would change the next chunk's tag, which its class size then reads wrong.
TEST_F(Cache, DecompressedTextLeavesTheNextChunkAlone) {
  c->setCompressMed(1);
  for (size_t n : {133u, 167u, 210u, 278u, 365u}) {  // n + 4: a class size
    const std::string v(n, 'w');
    const std::string key = "k" + std::to_string(n);
    ASSERT_TRUE(put(key, v));
    std::vector<void*> blocks;
    for (int i = 0; i < 64; ++i) blocks.push_back(xa_malloc(n + 4));
    const uint64_t cls = xchunk_get_class_size(blocks[1]);
    for (size_t i = 0; i < blocks.size(); i += 2) xa_free(blocks[i]);  // holes between used chunks
    for (int i = 0; i < 8; ++i) EXPECT_EQ(getS(key), v) << n;
    for (size_t i = 1; i < blocks.size(); i += 2) {
      EXPECT_EQ(xchunk_get_class_size(blocks[i]), cls) << n << " block " << i;
      xa_free(blocks[i]);
    }
  }
}

// A pop whose Java result cannot be made (the VM's heap is full) leaves the item exactly as
// it was: still stored, same flags and expiry, same LRU place; the next pop takes it.
TEST_F(Cache, PopWithoutAJavaResultKeepsTheItem) {
  struct Case {
    bool asString;
    bool compressed;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  const std::string body(200, 'x');
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.asString) + " " + std::to_string(k.compressed));
    c.reset(new TessiGeneric(16, 3));
    c->setCompressMed(k.compressed ? 1 : 0);
    auto popK = [&](const std::string& key) { return k.asString ? popS(key) : pop(key); };
    put("a", body, true, 60);
    ASSERT_TRUE(setFlags("a", 4, 1));  // a readable flag bit
    put("b", body);
    put("c", body);
    get("b");
    get("c");  // LRU order, oldest first: a, b, c

    FakeJni::failResults(true);
    EXPECT_EQ(popK("a"), "<null>");
    EXPECT_EQ(popK("b"), "<null>");
    FakeJni::failResults(false);
    EXPECT_EQ(c->size(), 3u);
    put("d", body);  // evicts the oldest: still a
    EXPECT_FALSE(exist("a", false));
    EXPECT_TRUE(exist("b", false));

    put("a", body, true, 60);
    ASSERT_TRUE(setFlags("a", 4, 1));
    FakeJni::failResults(true);
    EXPECT_EQ(popK("a"), "<null>");
    FakeJni::failResults(false);
    EXPECT_EQ(flags("a"), 4);
    EXPECT_GE(left("a"), 58);
    EXPECT_LE(left("a"), 60);
    EXPECT_EQ(popK("a"), body);
    EXPECT_FALSE(exist("a", false));
  }
}

// A put or a remove of the key (neither takes the key lock) lands while a pop builds its
// result: the pop drops that result and answers as if it had come after (with the item put
// meanwhile, or with nothing), so that no item is both removed and popped.
TEST_F(Cache, PopOvertakenWhileItBuildsItsResult) {
  struct Case {
    const char* name;
    std::function<void(TessiGeneric&)> meanwhile;
    std::string popped;  // the pop's answer
    long dropped;        // results dropped
  } cases[] = {
      {"replaced", [](TessiGeneric& g) { g.put("k", 1, "new", 3, true, 0, 3); }, "new", 1},
      {"removed", [](TessiGeneric& g) { EXPECT_TRUE(g.remove("k", 1)); }, "<null>", 1},
  };
  for (const Case& k : cases) {
    put("k", "old");
    const long before = FakeJni::deleted();
    FakeJni::beforeNextResult([&]() { k.meanwhile(*c); });
    EXPECT_EQ(pop("k"), k.popped) << k.name;
    EXPECT_EQ(FakeJni::deleted() - before, k.dropped) << k.name;
    EXPECT_FALSE(exist("k", false)) << k.name;
  }
}

// Runs steps[i] inside the i-th result the code under test makes from now on (before the VM
// call), and counts every result made, until it goes.
class ResultSteps {
 public:
  explicit ResultSteps(std::vector<std::function<void()>> steps)
      : _steps(std::move(steps)), _made(0) {
    _arm();
  }
  ~ResultSteps() {
    FakeJni::beforeNextResult(nullptr);
    FakeJni::failResults(false);
  }
  int made() const { return _made; }

 private:
  void _arm() {
    FakeJni::beforeNextResult([this] {
      const size_t i = static_cast<size_t>(_made++);
      if (i < _steps.size()) _steps[i]();
      _arm();
    });
  }
  std::vector<std::function<void()>> _steps;
  int _made;
};

// Writers replace the key while a pop makes its result: once overtaken, the pop takes the
// key's present item out of the table before it makes the next result, so it makes at most
// two, and answers with a value that was stored. When that second result cannot be made,
// the item goes back (its expiry kept) unless the key was stored again meanwhile.
TEST_F(Cache, PopUnderWritersOfTheSameKeyMakesAtMostTwoResults) {
  auto v = [](int i) { return "v" + std::to_string(i) + std::string(300, char('a' + i % 26)); };
  struct Case {
    const char* what;
    // The steps' writes: one per result made, -1 fails that result, -2 removes the key.
    std::vector<std::vector<int>> writes;
    const char* popped;  // "v<i>", or "<null>"
    int made;
    const char* left;  // the key's value afterwards, or "<null>"
  };
  std::vector<std::vector<int>> everyTime;
  for (int i = 1; i <= 1000; ++i) everyTime.push_back({i});
  const Case cases[] = {
      {"a writer at every result", everyTime, "v1", 2, "v2"},
      {"taken out, no result: given back", {{1}, {-1}}, "<null>", 2, "v1"},
      {"taken out, stored again, no result", {{1}, {2, -1}}, "<null>", 2, "v2"},
      {"removed", {{-2}}, "<null>", 1, "<null>"},
  };
  for (bool compressed : {false, true}) {
    for (bool asString : {false, true}) {
      for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.what) + (compressed ? ", compressed" : "") +
                     (asString ? ", as string" : ""));
        c->setCompressMed(compressed ? 1 : 0);
        put("k", v(0));
        std::vector<std::function<void()>> steps;
        for (const std::vector<int>& writes : k.writes) {
          steps.push_back([this, writes, &v] {
            for (int w : writes) {
              if (w == -1) FakeJni::failResults(true);
              if (w == -2) {
                EXPECT_TRUE(c->remove("k", 1));
              } else if (w >= 0) {
                // Stored by a writer, expiring in 60 s (no key lock here: the pop holds it).
                EXPECT_TRUE(put("k", v(w), true, 60));
              }
            }
          });
        }
        std::string popped;
        int made;
        {
          ResultSteps inside(steps);
          popped = asString ? popS("k") : pop("k");
          made = inside.made();
        }
        const std::string want = k.popped[0] == 'v' ? v(std::atoi(k.popped + 1)) : k.popped;
        EXPECT_EQ(popped, want);
        EXPECT_EQ(made, k.made);
        const std::string stays = k.left[0] == 'v' ? v(std::atoi(k.left + 1)) : k.left;
        EXPECT_EQ(get("k"), stays);
        if (stays != "<null>") {
          EXPECT_GE(left("k"), 58);
        }
        c->remove("k", 1);
      }
    }
  }
}

TEST_F(Cache, EvictionFollowsUse) {
  c.reset(new TessiGeneric(16, 3));
  put("a", "a");
  put("b", "b");
  put("c", "c");
  EXPECT_EQ(get("a"), "a");        // a to the head
  EXPECT_TRUE(exist("b", false));  // no move
  put("d", "d");
  EXPECT_EQ(c->size(), 3u);
  EXPECT_FALSE(exist("b", false));
  flags("c");  // c to the head: a is now the oldest
  put("e", "e");
  EXPECT_FALSE(exist("a", false));
  EXPECT_TRUE(exist("c", false));
  EXPECT_TRUE(put("c", "c2", true, 0, 2));  // an update never evicts
  EXPECT_EQ(c->size(), 3u);
}

}  // namespace
