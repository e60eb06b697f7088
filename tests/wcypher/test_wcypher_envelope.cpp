// The wma envelope: tokens built by hand decode, encoded tokens have the pinned layout,
// and the seal, version, time and age checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include <lzf.h>

#include "shared-types/WCypher.h"
#include "shared-types/base64.h"
#include "tests/wcypher/reference_codecs.h"

namespace {

using Strings = std::vector<std::string>;
using std::string;

constexpr int kPlain = 255;
constexpr int kLzf = 0;

int flags_of(int method, int kind) { return (kind << 8) | method; }

uint64_t now() { return static_cast<uint64_t>(std::time(nullptr)); }

string lzf(const string& in) {
  string out(in.size() * 2 + 64, '\0');
  const unsigned n = lzf_compress(in.data(), in.size(), &out[0], out.size());
  out.resize(n);
  return out;
}

// A token made without the codecs: items, the method's bytes, seal, noise words, Base64.
struct HandToken {
  Strings parts;
  string version = ref::le(1, 4);
  string time = ref::le(now(), 8);
  string secret = "shared secret";
  int method = kPlain;
  int kind = 1;
  uint32_t r1 = 0x13572468u;
  uint32_t r2 = 0x7badcafeu;
  bool pad = false;

  string build() const {
    Strings items = parts;
    items.push_back(version);
    items.push_back(time);
    string body = ref::serialize(items);
    if (method != kPlain) body = lzf(body);
    return ref::base64(ref::noise(ref::seal(body, secret, kind), r1, r2), pad);
  }
  int flags() const { return flags_of(method, kind); }
};

TEST(Envelope, HandBuiltTokenDecodes) {
  HandToken t;
  t.parts = {"hello", "", string("bin\0ary\xff", 8), string(300, 'z')};
  for (bool pad : {false, true}) {
    t.pad = pad;
    Strings parts{"stale"};
    ASSERT_EQ(0, wcypher::wma_decode0(parts, t.build(), t.secret, t.flags(), 60));
    EXPECT_EQ(t.parts, parts);
  }
}

TEST(Envelope, HandBuiltTokenWithRawLzfDecodes) {
  HandToken t;
  t.parts = {string(1000, 'a'), "tail"};
  t.method = kLzf;
  for (int kind : {0, 1, 2, 3, 9}) {
    t.kind = kind;
    for (int method : {0, 2}) {
      Strings parts;
      ASSERT_EQ(0, wcypher::wma_decode0(parts, t.build(), t.secret, flags_of(method, kind), 0));
      EXPECT_EQ(t.parts, parts);
    }
  }
}

TEST(Envelope, EncodedTokenHasThePinnedLayout) {
  const Strings parts = {"alpha", "", "gamma gamma gamma"};
  const string secret = "k3y-of-16-bytes!";
  for (int kind : {0, 1, 2, 3}) {
    for (bool pad : {false, true}) {
      const uint64_t before = now();
      string token = "old";
      const int flags = flags_of(kPlain, kind);
      ASSERT_EQ(0, pad ? wcypher::wma_encode_withpadding(token, parts, secret, flags)
                       : wcypher::wma_encode0(token, parts, secret, flags));
      const uint64_t after = now();
      string raw;
      ASSERT_TRUE(decodeBase64(raw, token, 0));
      ASSERT_GE(raw.size(), 8u);
      const uint32_t r1 = ref::word(raw, raw.size() - 8);
      const uint32_t r2 = ref::word(raw, raw.size() - 4);
      bool matched = false;
      for (uint64_t t = before; t <= after && !matched; ++t) {
        Strings items = parts;
        items.push_back(ref::le(1, 4));
        items.push_back(ref::le(t, 8));
        const string expect = ref::noise(ref::seal(ref::serialize(items), secret, kind), r1, r2);
        matched = ref::base64(expect, pad) == token;
      }
      EXPECT_TRUE(matched) << kind << " " << pad;
      if (pad) {
        EXPECT_EQ(0u, token.size() % 4);
      }
    }
  }
}

TEST(Envelope, RoundTripsForEveryMethodAndKind) {
  Strings parts;
  for (int i = 0; i < 20; ++i) parts.push_back("part " + std::to_string(i) + string(i * 7, 'x'));
  for (int method : {0, 2, 255}) {
    for (int kind : {0, 1, 2, 3, 4, 200}) {
      for (const string& secret : {string(), string("abc"), string("longer secret")}) {
        string token;
        ASSERT_EQ(0, wcypher::wma_encode0(token, parts, secret, flags_of(method, kind)));
        Strings back;
        ASSERT_EQ(0, wcypher::wma_decode0(back, token, secret, flags_of(method, kind), 60));
        ASSERT_EQ(parts, back);
        ASSERT_EQ(0, wcypher::wma_encode_withpadding(token, parts, secret, flags_of(method, kind)));
        ASSERT_EQ(0, wcypher::wma_decode0(back, token, secret, flags_of(method, kind), 60));
        ASSERT_EQ(parts, back);
      }
    }
  }
}

TEST(Envelope, EmptyListStillMakesAToken) {
  string token;
  ASSERT_EQ(0, wcypher::wma_encode0(token, Strings{}, "s", flags_of(kLzf, 1)));
  EXPECT_FALSE(token.empty());
  Strings parts{"stale"};
  EXPECT_EQ(0, wcypher::wma_decode0(parts, token, "s", flags_of(kLzf, 1), 60));
  EXPECT_TRUE(parts.empty());
}

TEST(Envelope, FlagsBeyondTheLowTwoBytesAreIgnored) {
  string token;
  ASSERT_EQ(0, wcypher::wma_encode0(token, Strings{"x"}, "s", 0x7f0000 | flags_of(kPlain, 2)));
  Strings parts;
  EXPECT_EQ(0, wcypher::wma_decode0(parts, token, "s", flags_of(kPlain, 2), 0));
  EXPECT_EQ(Strings{"x"}, parts);
  // A negative flags value still selects its low bytes.
  ASSERT_EQ(0, wcypher::wma_encode0(token, Strings{"y"}, "s", -1));  // method 255, kind 255
  EXPECT_EQ(0, wcypher::wma_decode0(parts, token, "s", flags_of(kPlain, 255), 0));
  EXPECT_EQ(Strings{"y"}, parts);
}

TEST(Envelope, Failures) {
  string token;
  ASSERT_EQ(0, wcypher::wma_encode0(token, Strings{"a", "b"}, "secret", flags_of(kPlain, 1)));
  struct Case {
    const char* what;
    string in;
    string secret;
    int flags;
    int rc;
  };
  string damaged = token;
  damaged[damaged.size() / 2] = damaged[damaged.size() / 2] == 'A' ? 'B' : 'A';
  const Case cases[] = {
      {"opened with kind 2", token, "secret", flags_of(kPlain, 2), -15},
      {"wrong secret", token, "Secret", flags_of(kPlain, 1), -15},
      {"empty input", "", "secret", flags_of(kPlain, 1), -15},
      {"not Base64", token + "+", "secret", flags_of(kPlain, 1), -7},
      {"length 4k+1", "00000", "secret", flags_of(kPlain, 1), -7},
      {"one character changed", damaged, "secret", flags_of(kPlain, 1), -15},
      {"foreign Base64", "0123456789abcdefghij", "secret", flags_of(kPlain, 1), -15},
      {"plain opened as LZF", token, "secret", flags_of(kLzf, 1), -5},
      {"unknown method", token, "secret", flags_of(1, 1), -5},
  };
  for (const Case& c : cases) {
    Strings parts{"stale"};
    EXPECT_EQ(c.rc, wcypher::wma_decode0(parts, c.in, c.secret, c.flags, 0)) << c.what;
    EXPECT_TRUE(parts.empty()) << c.what;
  }
  token = "old";
  EXPECT_EQ(-4, wcypher::wma_encode0(token, Strings{"a"}, "secret", flags_of(1, 1)));
  EXPECT_EQ("", token);
  token = "old";
  EXPECT_EQ(-4, wcypher::wma_encode_withpadding(token, Strings{"a"}, "secret", flags_of(7, 1)));
  EXPECT_EQ("", token);
}

TEST(Envelope, MalformedItemLists) {
  HandToken t;
  t.parts = {"p"};
  struct Case {
    const char* what;
    string version;
    string time;
    int rc;
  };
  const Case cases[] = {
      {"version 0", ref::le(0, 4), ref::le(now(), 8), -12},
      {"version 3 bytes", ref::le(1, 3), ref::le(now(), 8), -9},
      {"time 7 bytes", ref::le(1, 4), ref::le(now(), 7), -9},
      {"version 0 and short time", ref::le(0, 4), "", -12},
      {"version 2", ref::le(2, 4), ref::le(now(), 8), 0},
      {"version -1, longer items", ref::le(0xffffffffu, 4) + "x", ref::le(now(), 8) + "yz", 0},
  };
  for (const Case& c : cases) {
    t.version = c.version;
    t.time = c.time;
    Strings parts{"stale"};
    EXPECT_EQ(c.rc, wcypher::wma_decode0(parts, t.build(), t.secret, t.flags(), 60)) << c.what;
    EXPECT_EQ(c.rc == 0 ? Strings{"p"} : Strings{}, parts) << c.what;
  }
  // Fewer than two items: success with no parts.
  for (const Strings& items : {Strings{"only"}, Strings{}}) {
    string body = ref::serialize(items);
    if (body.empty()) body = ref::le(0, 4);
    const string token = ref::base64(ref::noise(ref::seal(body, "s", 1), 1, 2), false);
    Strings parts{"stale"};
    EXPECT_EQ(0, wcypher::wma_decode0(parts, token, "s", flags_of(kPlain, 1), 60));
    EXPECT_TRUE(parts.empty());
  }
  // A broken list inside a valid seal.
  const string token = ref::base64(ref::noise(ref::seal(ref::le(3, 4), "s", 1), 1, 2), false);
  Strings parts{"stale"};
  EXPECT_EQ(-3, wcypher::wma_decode0(parts, token, "s", flags_of(kPlain, 1), 60));
  EXPECT_TRUE(parts.empty());
}

TEST(Envelope, AgeLimitStillDeliversTheParts) {
  HandToken t;
  t.parts = {"a", "b"};
  struct Case {
    int64_t offset;
    uint64_t max_age;
    int rc;
  };
  const Case cases[] = {
      {-61, 60, -13},   {61, 60, -13},   {-30, 60, 0},         {30, 60, 0},
      {-1000000, 0, 0}, {1000000, 0, 0}, {-61, UINT64_MAX, 0},
  };
  for (const Case& c : cases) {
    t.time = ref::le(now() + static_cast<uint64_t>(c.offset), 8);
    Strings parts;
    EXPECT_EQ(c.rc, wcypher::wma_decode0(parts, t.build(), t.secret, t.flags(), c.max_age))
        << c.offset << " " << c.max_age;
    EXPECT_EQ(t.parts, parts) << c.offset;
  }
  // Times far from now in both directions, in unsigned arithmetic.
  for (uint64_t when : {uint64_t{0}, UINT64_MAX, uint64_t{1} << 63}) {
    t.time = ref::le(when, 8);
    Strings parts;
    EXPECT_EQ(-13, wcypher::wma_decode0(parts, t.build(), t.secret, t.flags(), 3600)) << when;
    EXPECT_EQ(t.parts, parts);
  }
}

TEST(Aliasing, OutputMayBeOneOfTheInputs) {
  string s = "abc";
  EXPECT_EQ(0, wcypher::hexing0(s, s));
  EXPECT_EQ("616263", s);
  EXPECT_EQ(0, wcypher::unhexing0(s, s));
  EXPECT_EQ("abc", s);
  s = "616";
  EXPECT_EQ(-11, wcypher::unhexing0(s, s));
  EXPECT_EQ("616", s);
  s = string(100, 'q');
  EXPECT_EQ(0, wcypher::compress0(s, s, 0));
  EXPECT_EQ(0, wcypher::decompress0(s, s, 2));
  EXPECT_EQ(string(100, 'q'), s);
  EXPECT_EQ(0, wcypher::base64_encode_withpadding(s, s));
  EXPECT_EQ(0, wcypher::base64_decode0(s, s));
  EXPECT_EQ(string(100, 'q'), s);
  encodeBase64(s, s, 0, false);
  EXPECT_TRUE(decodeBase64(s, s, 0));
  EXPECT_EQ(string(100, 'q'), s);
  s = "0";
  EXPECT_FALSE(decodeBase64(s, s, 0));
  EXPECT_EQ("0", s);

  string secret = "a secret";
  string data = "data to seal";
  const string sealed = ref::seal(data, secret, 2);
  EXPECT_EQ(0, wcypher::attach_hashed_secret0(data, data, secret, 2));
  EXPECT_EQ(sealed, data);
  EXPECT_EQ(0, wcypher::detach_hashed_secret0(data, data, secret, 2));
  EXPECT_EQ("data to seal", data);
  EXPECT_EQ(0, wcypher::attach_hashed_secret0(secret, data, secret, 2));
  EXPECT_EQ(sealed, secret);

  // The secret may be the output, a part may be the output, the token may be a part.
  const Strings parts = {"one", "two"};
  string key = "key";
  ASSERT_EQ(0, wcypher::wma_encode0(key, parts, key, flags_of(kLzf, 1)));
  Strings list = {key, "x"};
  ASSERT_EQ(0, wcypher::wma_decode0(list, list[0], "key", flags_of(kLzf, 1), 0));
  EXPECT_EQ(parts, list);
  ASSERT_EQ(0, wcypher::wma_encode0(list[1], list, "k", flags_of(kPlain, 3)));
  Strings back;
  ASSERT_EQ(0, wcypher::wma_decode0(back, list[1], "k", flags_of(kPlain, 3), 0));
  EXPECT_EQ(parts, back);
}

}  // namespace
