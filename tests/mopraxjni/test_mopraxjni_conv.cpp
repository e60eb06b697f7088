// The string-result conversion of MopraXJNI (java/MopraX_jconv.h) and the thrower's class
// table, without a VM.
#include <gtest/gtest.h>

#include <string>

#include "java/MopraX_jconv.h"
#include "java/MopraX_jthrow.h"

namespace {

std::string u(const char* s, size_t n) { return std::string(s, n); }

TEST(MopraXJNIConv, ValidTextIsUnchangedAndInvalidBecomesReplacement) {
  const std::string R = "\xef\xbf\xbd";
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
  for (const Case& c : cases) EXPECT_EQ(c.out, mx::toModifiedUtf8(c.in)) << c.in;
}

TEST(MopraXJNIConv, EveryByteStringGivesValidOutput) {
  // Every 1- and 2-byte string ends up without a lone continuation or a 4-byte lead.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const std::string out = mx::toModifiedUtf8(std::string{static_cast<char>(a), static_cast<char>(b)});
      for (unsigned char c : out) ASSERT_TRUE(c < 0xf0 && c != 0) << a << " " << b;
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

}  // namespace
