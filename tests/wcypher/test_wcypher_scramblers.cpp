// noise/denoise, the integer tokens, the hashed-secret seal and the keyspace identifiers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "shared-types/WCypher.h"
#include "tests/wcypher/reference_codecs.h"

namespace {

using std::string;

string random_bytes(std::mt19937& rng, size_t n) {
  string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xff);
  return s;
}

// ---- noise --------------------------------------------------------------------------------

TEST(Noise, ShortStringsAreLeftAlone) {
  for (string s : {string(), string("a"), string("abc")}) {
    string t = s;
    EXPECT_EQ(0, wcypher::noise(t));
    EXPECT_EQ(s, t);
  }
  string eleven = "01234567890";
  EXPECT_EQ(0, wcypher::denoise(eleven));
  EXPECT_EQ("01234567890", eleven);
}

TEST(Noise, DrawsTwoWordsAndChainsTheWholeWords) {
  const string five = "abcde";
  std::srand(1234);
  const uint32_t r1 = static_cast<uint32_t>(std::rand());
  const uint32_t r2 = static_cast<uint32_t>(std::rand());
  std::srand(1234);
  string s = five;
  ASSERT_EQ(0, wcypher::noise(s));
  ASSERT_EQ(13u, s.size());
  EXPECT_EQ('e', s[4]);  // the trailing byte is not a whole word
  EXPECT_EQ(ref::noise(five, r1, r2), s);
  ASSERT_EQ(0, wcypher::denoise(s));
  EXPECT_EQ(five, s);

  std::mt19937 rng(5);
  for (size_t n = 4; n < 60; ++n) {
    const string in = random_bytes(rng, n);
    std::srand(static_cast<unsigned>(n));
    const uint32_t a = static_cast<uint32_t>(std::rand());
    const uint32_t b = static_cast<uint32_t>(std::rand());
    std::srand(static_cast<unsigned>(n));
    string t = in;
    ASSERT_EQ(0, wcypher::noise(t));
    ASSERT_EQ(ref::noise(in, a, b), t) << n;
    ASSERT_EQ(0, wcypher::denoise(t));
    ASSERT_EQ(in, t) << n;
  }
}

TEST(Noise, DenoiseUndoesAHandMadeChain) {
  const string in = "The quick brown fox!";  // 20 bytes, five words
  string t = ref::noise(in, 0xdeadbeefu, 0x01020304u);
  ASSERT_EQ(28u, t.size());
  ASSERT_EQ(0, wcypher::denoise(t));
  EXPECT_EQ(in, t);
  // Words with every bit set in the noise words too.
  t = ref::noise(in, 0xffffffffu, 0x80000000u);
  ASSERT_EQ(0, wcypher::denoise(t));
  EXPECT_EQ(in, t);
}

// ---- integer tokens -----------------------------------------------------------------------

const int64_t kValues[] = {0,
                           1,
                           -1,
                           42,
                           std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::max(),
                           0x0123456789abcdefLL};
const int64_t kKeys[] = {0, 1, -1, 0x5555aaaa5555aaaaLL, std::numeric_limits<int64_t>::min()};

TEST(IntegerToken, Version1MatchesTheFormat) {
  for (int64_t v : kValues) {
    for (int64_t k : kKeys) {
      string out = "old";
      ASSERT_EQ(0, wcypher::noise64(out, v, k));
      ASSERT_EQ(32u, out.size());
      EXPECT_EQ(ref::token_v1(v, k), out);
      int64_t back = 77;
      ASSERT_EQ(0, wcypher::denoise64(back, out, k));
      EXPECT_EQ(v, back);
    }
  }
}

TEST(IntegerToken, Version1Errors) {
  string token;
  ASSERT_EQ(0, wcypher::noise64(token, 0, 0));
  int64_t v = 77;
  ASSERT_EQ(0, wcypher::denoise64(v, token, 0));
  EXPECT_EQ(0, v);
  v = 77;
  EXPECT_EQ(-2, wcypher::denoise64(v, token, 1));
  EXPECT_EQ(77, v);
  EXPECT_EQ(-1, wcypher::denoise64(v, token.substr(0, 30), 0));
  EXPECT_EQ(-11, wcypher::denoise64(v, token.substr(0, 31), 0));
  EXPECT_EQ(-11, wcypher::denoise64(v, "zz" + token.substr(2), 0));
  EXPECT_EQ(-1, wcypher::denoise64(v, "", 0));
  EXPECT_EQ(77, v);
  string upper = token;
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(0, wcypher::denoise64(v, upper, 0));
  EXPECT_EQ(0, v);
  // Any changed nibble breaks the check value.
  for (size_t i = 0; i < token.size(); ++i) {
    string bad = token;
    bad[i] = bad[i] == '0' ? '1' : '0';
    v = 77;
    EXPECT_EQ(-2, wcypher::denoise64(v, bad, 0)) << i;
    EXPECT_EQ(77, v);
  }
}

TEST(IntegerToken, Version2MatchesTheFormat) {
  for (int64_t v : kValues) {
    for (int64_t k : kKeys) {
      string out;
      ASSERT_EQ(0, wcypher::noise64v2(out, v, k));
      ASSERT_EQ(20u, out.size());
      EXPECT_EQ(ref::token_v2(v, k), out);
      int64_t back = 77;
      ASSERT_EQ(0, wcypher::denoise64v2(back, out, k));
      EXPECT_EQ(v, back);
    }
  }
}

TEST(IntegerToken, Version2WrongKeysFailUnlessThe16BitCheckCollides) {
  string token;
  ASSERT_EQ(0, wcypher::noise64v2(token, 123456789, 99));
  int collisions = 0;
  for (int64_t k = 0; k < 3000; ++k) {
    if (k == 99) continue;
    // The decoded value does not depend on the key; only the check does.
    const bool collides = ref::token_v2(123456789, k).substr(16) == token.substr(16);
    collisions += collides;
    int64_t v = 77;
    EXPECT_EQ(collides ? 0 : -2, wcypher::denoise64v2(v, token, k)) << k;
    EXPECT_EQ(collides ? 123456789 : 77, v) << k;
  }
  EXPECT_LT(collisions, 5);
  int64_t v = 77;
  EXPECT_EQ(-1, wcypher::denoise64v2(v, token.substr(0, 18), 99));
  EXPECT_EQ(-11, wcypher::denoise64v2(v, token.substr(0, 19), 99));
  EXPECT_EQ(-1, wcypher::denoise64v2(v, token + "00", 99));
  EXPECT_EQ(-1, wcypher::denoise64v2(v, "", 99));
  EXPECT_EQ(77, v);
}

// ---- hashed-secret seal -------------------------------------------------------------------

TEST(Seal, EmptyData) {
  string out = "old";
  EXPECT_EQ(0, wcypher::attach_hashed_secret0(out, "", "secret", 1));
  EXPECT_EQ("", out);
  out = "old";
  EXPECT_EQ(-15, wcypher::detach_hashed_secret0(out, "", "secret", 1));
  EXPECT_EQ("", out);
}

TEST(Seal, ShortSecretLeavesDataUnmasked) {
  string out;
  ASSERT_EQ(0, wcypher::attach_hashed_secret0(out, "ab", "xyz", 1));
  const string expect = "ab" + ref::le(ref::jenkins("abxyz"), 8) + "c7^Wn3&R";
  ASSERT_EQ(18u, expect.size());
  EXPECT_EQ(expect, out);
  string opened;
  ASSERT_EQ(0, wcypher::detach_hashed_secret0(opened, out, "xyz", 1));
  EXPECT_EQ("ab", opened);
}

TEST(Seal, LongerSecretMasksTheWholeWords) {
  const string secret = "8-bytes!";
  string out;
  ASSERT_EQ(0, wcypher::attach_hashed_secret0(out, "ab", secret, 1));
  ASSERT_EQ(18u, out.size());
  const string plain = "ab" + ref::le(ref::jenkins("ab" + secret), 8) + "c7^Wn3&R";
  EXPECT_EQ(ref::seal("ab", secret, 1), out);
  EXPECT_EQ("&R", out.substr(16));  // the two trailing bytes stay unmasked
  // Word j is XORed with secret word (j mod 2) ^ low 32 bits of the secret's hash.
  const uint32_t h = ref::jenkins(secret);
  const uint32_t key[2] = {ref::word(secret, 0) ^ h, ref::word(secret, 4) ^ h};
  for (size_t j = 0; j < 4; ++j)
    EXPECT_EQ(ref::word(plain, 4 * j) ^ key[j % 2], ref::word(out, 4 * j)) << j;
  string opened;
  ASSERT_EQ(0, wcypher::detach_hashed_secret0(opened, out, secret, 1));
  EXPECT_EQ("ab", opened);
}

TEST(Seal, AllKindsAndSecretLengthsMatchTheFormat) {
  std::mt19937 rng(9);
  for (int kind : {0, 1, 2, 3, 5, 255}) {
    for (size_t secret_len : {0, 1, 3, 4, 5, 7, 8, 13, 32}) {
      for (size_t data_len : {1, 2, 4, 5, 31, 64, 301}) {
        const string secret = random_bytes(rng, secret_len);
        const string data = random_bytes(rng, data_len);
        string sealed;
        ASSERT_EQ(0, wcypher::attach_hashed_secret0(sealed, data, secret, kind, 5));
        ASSERT_EQ(ref::seal(data, secret, kind), sealed) << kind << " " << secret_len;
        string opened = "old";
        ASSERT_EQ(0, wcypher::detach_hashed_secret0(opened, sealed, secret, kind));
        ASSERT_EQ(data, opened);
      }
    }
  }
}

TEST(Seal, UnknownKindsCarryHashMinusOneAndTheLongSuffix) {
  const string secret = "abc";  // unmasked, so the bytes are visible
  string sealed;
  ASSERT_EQ(0, wcypher::attach_hashed_secret0(sealed, "data", secret, 5));
  EXPECT_EQ("data" + string(8, '\xff') + "m4#Kq8@Lz2&Vr6*Tn1%Bw9^Hd3!Fs7(X", sealed);
  string opened;
  EXPECT_EQ(0, wcypher::detach_hashed_secret0(opened, sealed, secret, 5));
  EXPECT_EQ("data", opened);
  EXPECT_EQ(0, wcypher::detach_hashed_secret0(opened, sealed, secret, 200));
  EXPECT_EQ(0, wcypher::detach_hashed_secret0(opened, sealed, secret, -7));
  EXPECT_EQ(-15, wcypher::detach_hashed_secret0(opened, sealed, secret, 0));
  EXPECT_EQ("", opened);
  // Kind 0 hashes with Jenkins and has the long suffix too.
  ASSERT_EQ(0, wcypher::attach_hashed_secret0(sealed, "data", secret, 0));
  EXPECT_EQ("data" + ref::le(ref::jenkins("dataabc"), 8) + "m4#Kq8@Lz2&Vr6*Tn1%Bw9^Hd3!Fs7(X",
            sealed);
}

TEST(Seal, DetachFailures) {
  const string secret = "a secret of 19 byte";
  string sealed;
  ASSERT_EQ(0, wcypher::attach_hashed_secret0(sealed, "payload bytes", secret, 2));
  struct Case {
    const char* what;
    string in;
    string secret;
    int kind;
  };
  string flipped_hash = sealed;
  flipped_hash[14] ^= 1;
  string flipped_data = sealed;
  flipped_data[0] ^= 0x40;
  string flipped_suffix = sealed;
  flipped_suffix[sealed.size() - 1] ^= 1;
  const Case cases[] = {
      {"wrong secret", sealed, "another secret", 2},
      {"secret one byte short", sealed, secret.substr(0, 18), 2},
      {"other kind with same suffix length", sealed, secret, 1},
      {"kind 0 needs 40 bytes", sealed.substr(0, 39), secret, 0},
      {"hash byte changed", flipped_hash, secret, 2},
      {"data byte changed", flipped_data, secret, 2},
      {"suffix byte changed", flipped_suffix, secret, 2},
      {"cut to 15 bytes", sealed.substr(sealed.size() - 15), secret, 2},
      {"first byte missing", sealed.substr(1), secret, 2},
  };
  for (const Case& c : cases) {
    string out = "old";
    EXPECT_EQ(-15, wcypher::detach_hashed_secret0(out, c.in, c.secret, c.kind)) << c.what;
    EXPECT_EQ("", out) << c.what;
  }
  // The shortest seal: 8 hash bytes and the suffix around an empty payload.
  const string minimal = ref::le(ref::murmur("xyz"), 8) + "k2*Mb9!T";
  string out = "old";
  EXPECT_EQ(0, wcypher::detach_hashed_secret0(out, minimal, "xyz", 2));
  EXPECT_EQ("", out);
}

// ---- keyspace identifiers -----------------------------------------------------------------

TEST(Keyspace, HandComputedValue) {
  // id 0, keyspace 0, key 0: words K1 and K2 through the byte cascade.
  EXPECT_EQ(int64_t{0x3c94973101250605LL}, wcypher::encode_i32_to_i64_by_keyspace(0, 0, 0));
  EXPECT_EQ(int64_t{0x3c94973101250605LL} ^ 0x1234,
            wcypher::encode_i32_to_i64_by_keyspace(0, 0, 0x1234));
}

TEST(Keyspace, RoundTripsAndForeignKeyspaces) {
  std::mt19937_64 rng(17);
  std::vector<int32_t> ids = {
      0, 1, -1, 5, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
  std::vector<int32_t> spaces = {0, -2, 1, std::numeric_limits<int32_t>::min(), 0x7f7f7f7f};
  for (int i = 0; i < 20; ++i) {
    ids.push_back(static_cast<int32_t>(rng()));
    spaces.push_back(static_cast<int32_t>(rng()));
  }
  const int64_t keys[] = {0, -1, static_cast<int64_t>(rng()), static_cast<int64_t>(rng())};
  for (int32_t id : ids) {
    for (int32_t ks : spaces) {
      for (int64_t key : keys) {
        const int64_t v = wcypher::encode_i32_to_i64_by_keyspace(id, ks, key);
        ASSERT_EQ(ref::keyspace_encode(id, ks, key), v);
        ASSERT_EQ(id, wcypher::decode_i64_to_i32_by_keyspace(v, ks, key));
        int32_t got_ks = 12345;
        ASSERT_EQ(id, wcypher::decode_i64_to_i32_by_keyspace(&got_ks, v, key));
        ASSERT_EQ(ks, got_ks);
        ASSERT_EQ(id, wcypher::decode_i64_to_i32_by_keyspace(nullptr, v, key));
        ASSERT_EQ(-1, wcypher::decode_i64_to_i32_by_keyspace(v, ks ^ 0x100, key));
        ASSERT_EQ(-1, wcypher::decode_i64_to_i32_by_keyspace(v, ks + 1, key));
      }
    }
  }
}

TEST(Keyspace, IdMinusOneLooksLikeAFailure) {
  const int64_t v = wcypher::encode_i32_to_i64_by_keyspace(-1, 7, 99);
  EXPECT_EQ(-1, wcypher::decode_i64_to_i32_by_keyspace(v, 7, 99));
  EXPECT_EQ(-1, wcypher::decode_i64_to_i32_by_keyspace(v, 8, 99));
  EXPECT_EQ(5, wcypher::decode_i64_to_i32_by_keyspace(
                   wcypher::encode_i32_to_i64_by_keyspace(5, -2, 0), -2, 0));
}

TEST(Keyspace, EveryValueDecodesToThePairThatEncodesIt) {
  std::mt19937_64 rng(23);
  for (int i = 0; i < 20000; ++i) {
    const int64_t v = static_cast<int64_t>(rng());
    const int64_t key = (i % 2) ? static_cast<int64_t>(rng()) : 0;
    int32_t ks = 0;
    const int32_t id = wcypher::decode_i64_to_i32_by_keyspace(&ks, v, key);
    ASSERT_EQ(v, ref::keyspace_encode(id, ks, key)) << i;
  }
}

}  // namespace
