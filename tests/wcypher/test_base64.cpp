// Base64 over the codecs' alphabet: encodeBase64/decodeBase64 and the wcypher wrappers.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "shared-types/WCypher.h"
#include "shared-types/base64.h"
#include "tests/wcypher/reference_codecs.h"

namespace {

using std::string;

TEST(Base64, EncodeTable) {
  struct Case {
    string in;
    const char* unpadded;
    const char* padded;
  };
  const Case cases[] = {
      {string(1, '\0'), "00", "00=="},
      {"\xff\xff\xff", "____", "____"},
      {string(2, '\0'), "000", "000="},
      {string(3, '\0'), "0000", "0000"},
      {"\xff", "_m", "_m=="},       // 111111 11(0000): 63 48
      {"\xff\xff", "__y", "__y="},  // 111111 111111 1111(00): 63 63 60
      {"\x04\x10\x41", "1111", "1111"},
      {"\x28\xa2\x8a", "AAAA", "AAAA"},  // 001010 x4: 10 is "A"
      {"\x92\x49\x24", "aaaa", "aaaa"},  // 100100 x4: 36 is "a"
      {"\xfb\xef\xbe", "----", "----"},  // 111110 x4: 62 is "-"
      {"", "", ""},
  };
  for (const Case& c : cases) {
    string out = "old";
    encodeBase64(out, c.in, 0, false);
    EXPECT_EQ(c.unpadded, out);
    EXPECT_EQ(ref::base64(c.in, false), out);
    encodeBase64(out, c.in, 3, true);
    EXPECT_EQ(c.padded, out);
    EXPECT_EQ(ref::base64(c.in, true), out);
  }
}

TEST(Base64, DecodeTable) {
  struct Case {
    string in;
    bool ok;
    string out;  // after the call, starting from "keep"
  };
  const Case cases[] = {
      {"0", false, "keep"},  // length 4k+1: untouched
      {"00000", false, "keep"},
      {"00", true, string(1, '\0')},
      {"00==", true, string(1, '\0')},
      {"000", true, string(2, '\0')},
      {"000=", true, string(2, '\0')},
      {"____", true, "\xff\xff\xff"},
      {"0=00", false, ""},
      {"=000", false, ""},
      {"00=", false, ""},  // "=" last, but only two characters before it
      {"00+0", false, ""},
      {"+0", false, ""},
      {"0000+0", false, string(3, '\0')},  // bytes of the groups before the failing one
      {"0000==", false, string(3, '\0')},
      {"00==0000", false, ""},  // "=" in the middle
      {"000=0000", false, ""},
      {"01", true, string(1, '\0')},  // unused low bits are not checked
      {"__", true, "\xff"},
      {string("\xb0\x30\x30\x30", 4), false, ""},  // bytes above 0x7f
      {string("00\0000", 4), false, ""},
      {"AAAA", true, "\x28\xa2\x8a"},
      {"aaaa", true, "\x92\x49\x24"},
      {"----", true, "\xfb\xef\xbe"},
  };
  for (const Case& c : cases) {
    string out = "keep";
    EXPECT_EQ(c.ok, decodeBase64(out, c.in, 0)) << c.in;
    EXPECT_EQ(c.out, out) << c.in;
  }
}

TEST(Base64, EveryAlphabetCharacterDecodesToItsValue) {
  const string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  for (int v = 0; v < 64; ++v) {
    // v in the top six bits of one byte: character v, then "0".
    const string text = string(1, alphabet[v]) + "0";
    string out;
    ASSERT_TRUE(decodeBase64(out, text, 0));
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(v << 2, static_cast<unsigned char>(out[0]));
  }
  for (int c = 0; c < 256; ++c) {
    if (c == '=' || alphabet.find(static_cast<char>(c)) != string::npos) continue;
    string out;
    const string text = string("0") + static_cast<char>(c) + "00";
    EXPECT_FALSE(decodeBase64(out, text, 0)) << c;
  }
}

TEST(Base64, RandomRoundTrips) {
  std::mt19937 rng(11);
  for (int round = 0; round < 300; ++round) {
    string in(rng() % 50, '\0');
    for (auto& c : in) c = static_cast<char>(rng() & 0xff);
    for (bool pad : {false, true}) {
      string text, back;
      encodeBase64(text, in, 0, pad);
      ASSERT_EQ(ref::base64(in, pad), text);
      ASSERT_TRUE(decodeBase64(back, text, 0));
      ASSERT_EQ(in, back);
    }
  }
}

TEST(Base64, CodecWrappers) {
  string out = "old";
  EXPECT_EQ(0, wcypher::base64_encode0(out, ""));
  EXPECT_EQ("", out);
  EXPECT_EQ(0, wcypher::base64_encode0(out, string(1, '\0')));
  EXPECT_EQ("00", out);
  EXPECT_EQ(0, wcypher::base64_encode_withpadding(out, string(1, '\0')));
  EXPECT_EQ("00==", out);
  out = "old";
  EXPECT_EQ(0, wcypher::base64_decode0(out, ""));
  EXPECT_EQ("", out);
  EXPECT_EQ(0, wcypher::base64_decode0(out, "00=="));
  EXPECT_EQ(string(1, '\0'), out);
  out = "old";
  EXPECT_EQ(-7, wcypher::base64_decode0(out, "0"));
  EXPECT_EQ("", out);  // the wrapper clears first
  EXPECT_EQ(-7, wcypher::base64_decode0(out, "0=00"));
  EXPECT_EQ(-7, wcypher::base64_decode0(out, "ab+c"));
}

// The group-at-a-time loops against the plain reference, over every length up to past the
// unrolled strides (several groups of 12 input bytes or 8 characters) and every byte value.
TEST(Base64, MatchesReferenceForEveryLengthAndByte) {
  std::mt19937 rng(5);
  for (size_t n = 0; n <= 70; ++n) {
    for (int start = 0; start < 256; start += 37) {
      string in(n, '\0');
      for (size_t k = 0; k < n; ++k) in[k] = static_cast<char>((start + 101 * k) & 0xff);
      for (bool pad : {false, true}) {
        string text = "old";
        encodeBase64(text, in, start % 3 == 0 ? 0 : 64, pad);
        ASSERT_EQ(ref::base64(in, pad), text) << n << " " << start;
        string back = "old";
        ASSERT_TRUE(decodeBase64(back, text, 0));
        ASSERT_EQ(in, back);
      }
      string out = "old";
      ASSERT_EQ(0, wcypher::base64_encode0(out, in));
      ASSERT_EQ(ref::base64(in, false), out);
      ASSERT_EQ(0, wcypher::base64_encode_withpadding(out, in));
      ASSERT_EQ(ref::base64(in, true), out);
    }
  }
  string all(256, '\0');
  for (int c = 0; c < 256; ++c) all[c] = static_cast<char>(c);
  for (bool pad : {false, true}) {
    string text, back;
    encodeBase64(text, all, 0, pad);
    EXPECT_EQ(ref::base64(all, pad), text);
    EXPECT_TRUE(decodeBase64(back, text, 0));
    EXPECT_EQ(all, back);
  }
}

// Decoding agrees with the reference (result, and output including "untouched") for valid
// texts of every length with every byte value put at every position, and for random texts
// of alphabet characters, "=" and other bytes; the wrapper gives 0 or -7 accordingly.
TEST(Base64, DecodeMatchesReferenceOnDamagedTexts) {
  const string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  auto check = [](const string& text) {
    string want = "keep", got = "keep";
    const bool ok = ref::unbase64(want, text);
    ASSERT_EQ(ok, decodeBase64(got, text, 0)) << testing::PrintToString(text);
    ASSERT_EQ(want, got) << testing::PrintToString(text);
    string wrapped = "keep";
    const bool wrapper_ok = ok || text.empty();
    ASSERT_EQ(wrapper_ok ? 0 : -7, wcypher::base64_decode0(wrapped, text, 3));
    ASSERT_EQ(want == "keep" ? string() : want, wrapped) << testing::PrintToString(text);
  };
  std::mt19937 rng(17);
  for (size_t n = 0; n <= 70; ++n) {
    string text(n, '0');
    for (auto& c : text) c = alphabet[rng() % 64];
    check(text);
    for (size_t pos = 0; pos < n; ++pos) {
      for (int c = 0; c < 256; ++c) {
        string damaged = text;
        damaged[pos] = static_cast<char>(c);
        check(damaged);
      }
    }
  }
  for (int round = 0; round < 20000; ++round) {
    string text(rng() % 90, '0');
    for (auto& c : text) {
      const uint32_t r = rng() % 100;
      c = r < 90 ? alphabet[rng() % 64] : r < 97 ? '=' : static_cast<char>(rng() & 0xff);
    }
    check(text);
    if (!text.empty()) {
      text.back() = '=';
      check(text);
      if (text.size() > 1) {
        text[text.size() - 2] = '=';
        check(text);
      }
    }
  }
}

}  // namespace
