// The string conversions of MopraXJNI (java/MopraX_jconv.h), the thrower's class table and
// the boundary with a binding's own reporter, without a VM (MopraXConvDiffTest compares the
// conversions with the VM's own). String results beyond the Java limits are made from
// multi-GiB texts that cost a few MiB (BigText) over the fake JNI table.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include "java/MopraX_jconv.h"
#include "java/MopraX_jthrow.h"
#include "src/jni/jni_util.h"
#include "tests/tessix/fake_jni.h"

namespace {

std::string u(const char* s, size_t n) { return std::string(s, n); }

TEST(MopraXJNIConv, ValidTextIsUnchangedAndInvalidBecomesReplacement) {
  const std::string R = "\xef\xbf\xbd";
  // One row per case; "\xff" "A" stays on its row (the split ends the hex escape).
  // clang-format off
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain ascii", "plain ascii"},
      {"h\xc3\xa9llo", "h\xc3\xa9llo"},
      {"\xe4\xb8\x96", "\xe4\xb8\x96"},
      {"\xed\xa0\xbd\xed\xb8\x80", "\xed\xa0\xbd\xed\xb8\x80"},  // modified UTF-8 surrogate pair
      {"\xf0\x9f\x98\x80", "\xed\xa0\xbd\xed\xb8\x80"},          // 4-byte form → the same pair
      {"\xc0\x80", "\xc0\x80"},                                  // modified UTF-8's U+0000
      {u("a\0b", 3), "a"},                                       // cut at the first zero byte
      {"\xff" "A", R + "A"},
      {"\x80", R},
      {"\xc3", R},
      {"\xc3" "A", R + "A"},
      {"\xc1\xbf", R},  // overlong 2-byte
      {"\xe4\xb8", R},
      {"\xe4\xb8" "A", R + "A"},
      {"\xe0\x80\x80", R + R + R},
      {"\xf0\x9f\x98", R},
      {"\xf4\x90\x80\x80", R + R + R + R},
      {"\xf8\x88\x80\x80\x80", R + R + R + R + R},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(c.out, mx::toModifiedUtf8(c.in)) << c.in;
}

TEST(MopraXJNIConv, EveryByteStringGivesValidOutput) {
  // Every 1- and 2-byte string ends up without a lone continuation or a 4-byte lead.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string out = mx::toModifiedUtf8(
          std::string{static_cast<char>(a), static_cast<char>(b)});
      for (unsigned char c : out) ASSERT_TRUE(c < 0xf0 && c != 0) << a << " " << b;
    }
  }
}

// Modified UTF-8 of one unit, written out the long way.
std::string unitBytes(unsigned c) {
  if (c >= 1 && c < 0x80) return std::string(1, static_cast<char>(c));
  if (c < 0x800) return {static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f))};
  return {static_cast<char>(0xe0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3f)),
          static_cast<char>(0x80 | (c & 0x3f))};
}

TEST(MopraXJNIConv, ModifiedUtf8OfUnits) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"", ""},
      {u"abc", "abc"},
      {std::u16string(1, u'\0'), u("\xc0\x80", 2)},
      {u"\u007f\u0080\u07ff\u0800", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
      {u"\U0001F600", "\xed\xa0\xbd\xed\xb8\x80"},  // each half of the pair on its own
      {std::u16string{0xdc00, 0xd800}, "\xed\xb0\x80\xed\xa0\x80"},
      {u"\uffff", "\xef\xbf\xbf"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.out, mx::modifiedUtf8(reinterpret_cast<const jchar*>(c.in.data()), c.in.size()));
  }
}

TEST(MopraXJNIConv, ModifiedUtf8AtEveryPositionOfABlock) {
  // One unit of each class at every position of 40 ASCII units: the 16-unit blocks stop at
  // the first unit that is not 1..0x7f, wherever it sits.
  for (unsigned special :
       {0x0u, 0x7fu, 0x80u, 0xffu, 0x100u, 0x7ffu, 0x800u, 0x7fffu, 0x8000u, 0xd800u, 0xffffu}) {
    for (size_t at = 0; at < 40; ++at) {
      std::u16string in(40, u'x');
      in[at] = static_cast<char16_t>(special);
      std::string expected(at, 'x');
      expected += unitBytes(special);
      expected += std::string(39 - at, 'x');
      ASSERT_EQ(expected, mx::modifiedUtf8(reinterpret_cast<const jchar*>(in.data()), in.size()))
          << special << " at " << at;
    }
  }
}

TEST(MopraXJNIConv, AsciiPrefix) {
  struct Case {
    std::string in;
    bool ascii;
    size_t length;
  } cases[] = {
      {"", true, 0},
      {std::string(40, 'a'), true, 40},
      {u("abc\0\xff", 5), true, 3},  // cut at the zero byte before the high one
      {std::string(17, 'a') + "\x80", false, 0},
      {std::string(16, 'a') + u("\0", 1) + std::string(20, 'b'), true, 16},
      {"\x7f", true, 1},
      {"\xc3\xa9", false, 0},
  };
  for (const Case& c : cases) {
    size_t n = 99;
    ASSERT_EQ(c.ascii, mx::asciiPrefix(c.in.data(), c.in.size(), &n)) << c.in;
    if (c.ascii) EXPECT_EQ(c.length, n) << c.in;
  }
}

// UTF-16 units of the string the VM makes of modified UTF-8: one per byte that is not a
// continuation byte; wide when one of them is above U+00FF (a 3-byte sequence, or 2 bytes
// led by c4..df).
mx::TextUnits unitsOfValid(const std::string& m) {
  mx::TextUnits t{0, false};
  for (unsigned char c : m) {
    if ((c & 0xc0) != 0x80) ++t.units;
    if (c >= 0xe0 || (c >= 0xc4 && c < 0xe0)) t.wide = true;
  }
  return t;
}

TEST(MopraXJNIConv, TextUnitsCountWhatTheConversionGives) {
  struct Case {
    std::string in;
    uint64_t units;
    bool wide;
  } cases[] = {
      {"", 0, false},
      {"abc", 3, false},
      {"h\xc3\xa9llo", 5, false},
      {"\xc0\x80", 1, false},         // U+0000
      {"\xc3\xbf\xc4\x80", 2, true},  // U+00FF, U+0100
      {"\xe4\xb8\x96", 1, true},
      {"\xf0\x9f\x98\x80", 2, true},  // the surrogate pair
      {"\xed\xa0\xbd\xed\xb8\x80", 2, true},
      {"\xff", 1, true},  // each invalid sequence is one U+FFFD
      {"\xe4\xb8"
       "A",
       2, true},
      {"\xf4\x90\x80\x80", 4, true},
  };
  for (const Case& c : cases) {
    const mx::TextUnits t = mx::textUnits(c.in.data(), c.in.size());
    EXPECT_EQ(c.units, t.units) << c.in;
    EXPECT_EQ(c.wide, t.wide) << c.in;
  }
  // Every 2-byte text and random texts: the count agrees with the converted text.
  std::mt19937 rnd(20261211);
  std::vector<std::string> texts;
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) texts.push_back({static_cast<char>(a), static_cast<char>(b)});
  }
  for (int i = 0; i < 2000; ++i) {
    std::string t(rnd() % 64, 'x');
    for (char& c : t) c = static_cast<char>(1 + rnd() % 255);
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    const mx::TextUnits got = mx::textUnits(t.data(), t.size());
    const mx::TextUnits want = unitsOfValid(mx::toModifiedUtf8(t));
    ASSERT_EQ(want.units, got.units) << t;
    ASSERT_EQ(want.wide, got.wide) << t;
  }
}

TEST(MopraXJNIConv, JavaStringLimits) {
  const uint64_t maxInt = INT32_MAX;
  struct Case {
    uint64_t units;
    bool wide;
    mx::StringFit fit;
  } cases[] = {
      {0, true, mx::StringFit::kFits},
      {mx::kMaxWideUnits, true, mx::StringFit::kFits},
      {mx::kMaxWideUnits + 1, true, mx::StringFit::kNoRoom},
      {mx::kMaxWideUnits + 1, false, mx::StringFit::kFits},
      {maxInt, false, mx::StringFit::kFits},
      {maxInt, true, mx::StringFit::kNoRoom},
      {maxInt + 1, false, mx::StringFit::kTooLong},
      {maxInt + 1, true, mx::StringFit::kTooLong},
      {UINT64_MAX, false, mx::StringFit::kTooLong},
  };
  EXPECT_EQ(1073741823u, mx::kMaxWideUnits);  // a UTF-16 array of 2 bytes a unit fits a jint
  for (const Case& c : cases) {
    EXPECT_EQ(c.fit, mx::javaStringFit(c.units, c.wide)) << c.units << " " << c.wide;
  }
}

// A read-only text of n bytes of `fill`, then `tail` and a zero byte, that costs a few MiB
// whatever n: the fill is one 2 MiB page of a memory file mapped again and again.
class BigText {
 public:
  BigText(size_t n, char fill, const std::string& tail) : _size(n + tail.size()) {
    const size_t chunk = size_t{2} << 20;
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t whole = n / chunk;
    const size_t rest = n - whole * chunk;
    const size_t restMapped = (rest + tail.size() + 1 + page - 1) / page * page;
    _mapped = whole * chunk + restMapped;
    _fd = ::memfd_create("bigtext", MFD_CLOEXEC);
    if (_fd < 0 || ::ftruncate(_fd, static_cast<off_t>(chunk)) != 0)
      throw std::runtime_error("memfd");
    void* w = ::mmap(nullptr, chunk, PROT_READ | PROT_WRITE, MAP_SHARED, _fd, 0);
    if (w == MAP_FAILED) throw std::runtime_error("mmap fill");
    std::memset(w, fill, chunk);
    ::munmap(w, chunk);
    void* base = ::mmap(nullptr, _mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                        -1, 0);
    if (base == MAP_FAILED) throw std::runtime_error("mmap reserve");
    _base = static_cast<char*>(base);
    for (size_t k = 0; k < whole; ++k) {
      if (::mmap(_base + k * chunk, chunk, PROT_READ, MAP_SHARED | MAP_FIXED, _fd, 0) ==
          MAP_FAILED) {
        throw std::runtime_error("mmap chunk");
      }
    }
    char* r = static_cast<char*>(::mmap(_base + whole * chunk, restMapped, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0));
    if (r == MAP_FAILED) throw std::runtime_error("mmap rest");
    std::memset(r, fill, rest);
    std::memcpy(r + rest, tail.data(), tail.size());
    r[rest + tail.size()] = '\0';
  }
  ~BigText() {
    if (_base != nullptr) ::munmap(_base, _mapped);
    if (_fd >= 0) ::close(_fd);
  }
  BigText(const BigText&) = delete;
  BigText& operator=(const BigText&) = delete;

  const char* data() const { return _base; }
  size_t size() const { return _size; }

 private:
  size_t _size;
  size_t _mapped = 0;
  int _fd = -1;
  char* _base = nullptr;
};

TEST(MopraXJNIConv, ResultsBeyondTheJavaLimits) {
  // More than INT_MAX units: null, whatever the characters, with no call into the VM (the
  // fake would answer NewStringUTF with a string); a wide text beyond the VM's UTF-16 limit:
  // OutOfMemoryError.
  const size_t over = (size_t{1} << 31) + 1000;
  const size_t wideLimit = size_t{1} << 30;
  struct Case {
    size_t n;
    const char* tail;
    bool noRoom;
  } cases[] = {
      {over, "\xe4\xb8\x96", false},  // U+4E16
      {over, "\xc3\xa9", false},      // U+00E9
      {over, "", false},              // plain ASCII
      {wideLimit, "\xe4\xb8\x96", true},
  };
  FakeJni fake;
  for (const Case& c : cases) {
    BigText text(c.n, 'a', c.tail);
    if (c.noRoom) {
      try {
        mx::jstr(fake.env(), text.data(), text.size());
        ADD_FAILURE() << "no exception for " << c.n << " + " << c.tail;
      } catch (const mx::JavaFailure& f) {
        EXPECT_EQ(mx::kOutOfMemoryError, f.code);
        EXPECT_STREQ("String result too long for the VM", f.text);
      }
    } else {
      EXPECT_EQ(nullptr, mx::jstr(fake.env(), text.data(), text.size())) << c.n << " + " << c.tail;
    }
  }
}

TEST(MopraXJNIThrow, ClassTable) {
  EXPECT_STREQ("java/lang/OutOfMemoryError", mx::javaExceptionClass(1));
  EXPECT_STREQ("java/io/IOException", mx::javaExceptionClass(2));
  EXPECT_STREQ("java/lang/RuntimeException", mx::javaExceptionClass(3));
  EXPECT_STREQ("java/lang/IndexOutOfBoundsException", mx::javaExceptionClass(4));
  EXPECT_STREQ("java/lang/ArithmeticException", mx::javaExceptionClass(5));
  EXPECT_STREQ("java/lang/IllegalArgumentException", mx::javaExceptionClass(6));
  EXPECT_STREQ("java/lang/NullPointerException", mx::javaExceptionClass(7));
  EXPECT_STREQ("java/lang/RuntimeException", mx::javaExceptionClass(8));
  EXPECT_STREQ("java/lang/UnknownError", mx::javaExceptionClass(0));
  EXPECT_STREQ("java/lang/UnknownError", mx::javaExceptionClass(99));
}

// What the recording reporter saw, by rethrowing the exception being handled.
std::string g_seen;

void recordCurrent(JNIEnv*) noexcept {
  try {
    throw;
  } catch (const std::out_of_range& e) {
    g_seen = std::string("out_of_range ") + e.what();
  } catch (const std::exception& e) {
    g_seen = std::string("exception ") + e.what();
  } catch (...) {
    g_seen = "other";
  }
}

TEST(JniGuardedCurrentReporter, ReportsInsideTheCatchAndAnswersZero) {
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x1);  // handed to the reporter only
  g_seen.clear();
  EXPECT_EQ(7, tjni::guarded<jint>(env, recordCurrent, [] { return jint{7}; }));
  EXPECT_EQ("", g_seen);

  EXPECT_EQ(0,
            tjni::guarded<jint>(env, recordCurrent, []() -> jint { throw mx::IndexError("i"); }));
  EXPECT_EQ("out_of_range i", g_seen);
  EXPECT_EQ(nullptr, tjni::guarded<jstring>(env, recordCurrent,
                                            []() -> jstring { throw std::runtime_error("r"); }));
  EXPECT_EQ("exception r", g_seen);
  EXPECT_EQ(JNI_FALSE, tjni::guarded<jboolean>(env, recordCurrent, []() -> jboolean { throw 1; }));
  EXPECT_EQ("other", g_seen);

  int ran = 0;
  tjni::guarded<void>(env, recordCurrent, [&] { ++ran; });
  g_seen.clear();
  tjni::guarded<void>(env, recordCurrent, [&] {
    ++ran;
    throw mx::VmPending();
  });
  EXPECT_EQ(2, ran);
  EXPECT_EQ("other", g_seen);
}

}  // namespace
