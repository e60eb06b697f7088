// Hex, serialized lists, hashes and compression of the wcypher codecs.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <lzf.h>

#include "shared-types/WCypher.h"
#include "tests/wcypher/reference_codecs.h"

namespace {

using Strings = std::vector<std::string>;
using std::string;

string bytes(std::initializer_list<int> b) {
  string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

string random_bytes(std::mt19937& rng, size_t n) {
  string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xff);
  return s;
}

// A sign-extended negative `extra` as it arrives from the bindings.
constexpr uint64_t kNegativeExtra = static_cast<uint64_t>(int64_t{-1});
constexpr uint64_t kHugeExtra = uint64_t{1} << 62;

// ---- hex ----------------------------------------------------------------------------------

TEST(Hex, EncodesLowerCaseHighNibbleFirst) {
  string out = "old";
  EXPECT_EQ(0, wcypher::hexing0(out, "abc"));
  EXPECT_EQ("616263", out);
  EXPECT_EQ(0, wcypher::hexing0(out, "abc", 10));
  EXPECT_EQ("616263", out);
  EXPECT_EQ(0, wcypher::hexing0(out, bytes({0x00, 0x0f, 0xf0, 0xff, 0x9a})));
  EXPECT_EQ("000ff0ff9a", out);
  EXPECT_EQ(0, wcypher::hexing0(out, ""));
  EXPECT_EQ("", out);
}

TEST(Hex, DecodeTable) {
  struct Case {
    const char* text;
    int rc;
    string out;  // after the call, starting from "keep"
  };
  const Case cases[] = {
      {"6A6b", 0, "\x6a\x6b"},
      {"616", -11, "keep"},  // odd length: output untouched
      {"61zz", -11, "a"},    // bytes of the pairs before the bad one
      {"zz61", -11, ""},
      {"6", -11, "keep"},
      {"", 0, ""},
      {"00fFFf", 0, bytes({0x00, 0xff, 0xff})},
      {"6g", -11, ""},
      {"G0", -11, ""},
      {"0 ", -11, ""},
  };
  for (const Case& c : cases) {
    string out = "keep";
    EXPECT_EQ(c.rc, wcypher::unhexing0(out, c.text)) << c.text;
    EXPECT_EQ(c.out, out) << c.text;
  }
}

TEST(Hex, AllByteValuesRoundTripInBothCases) {
  string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  string text, back;
  ASSERT_EQ(0, wcypher::hexing0(text, all));
  EXPECT_EQ(ref::hex(all), text);
  ASSERT_EQ(0, wcypher::unhexing0(back, text));
  EXPECT_EQ(all, back);
  for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(0, wcypher::unhexing0(back, text));
  EXPECT_EQ(all, back);
}

TEST(Hex, NonAsciiCharactersAreRejected) {
  string out;
  EXPECT_EQ(-11, wcypher::unhexing0(out, string("\xb0\x30", 2)));
  EXPECT_EQ(-11, wcypher::unhexing0(out, string("0\0", 2)));
  // Every byte value, in either place of the pair after a good one: only hex digits pass.
  for (int c = 0; c < 256; ++c) {
    const bool digit = std::isxdigit(c) != 0;
    const char ch = static_cast<char>(c);
    for (const string& text : {string("61") + ch + '0', string("61") + '0' + ch}) {
      EXPECT_EQ(digit ? 0 : -11, wcypher::unhexing0(out, text)) << c;
      EXPECT_EQ(digit ? 2u : 1u, out.size()) << c;
    }
  }
}

// ---- serialized lists ---------------------------------------------------------------------

TEST(Serialize, PinnedBytes) {
  string out = "old";
  ASSERT_EQ(0, wcypher::serialize0(out, Strings{"ab", ""}));
  EXPECT_EQ(bytes({2, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0}), out);

  ASSERT_EQ(0, wcypher::serialize0(out, Strings{}));
  EXPECT_EQ("", out);
  ASSERT_EQ(0, wcypher::serialize0(out, Strings{""}));
  EXPECT_EQ(bytes({1, 0, 0, 0, 0, 0, 0, 0}), out);

  const string big(0x1234, 'x');
  ASSERT_EQ(0, wcypher::serialize0(out, Strings{big}, 100));
  EXPECT_EQ(bytes({1, 0, 0, 0, 0x34, 0x12, 0, 0}) + big, out);
}

TEST(Serialize, RandomListsMatchTheFormat) {
  std::mt19937 rng(42);
  for (int round = 0; round < 200; ++round) {
    Strings list(rng() % 6);
    for (auto& s : list) s = random_bytes(rng, rng() % 40);
    string out;
    ASSERT_EQ(0, wcypher::serialize0(out, list));
    ASSERT_EQ(ref::serialize(list), out);
    Strings back{"stale"};
    ASSERT_EQ(0, wcypher::deserialize0(back, out));
    ASSERT_EQ(list, back);
  }
}

TEST(Deserialize, MalformedInputs) {
  const string good = bytes({2, 0, 0, 0, 2, 0, 0, 0, 'a', 'b', 0, 0, 0, 0});
  struct Case {
    const char* what;
    string in;
    int rc;
    Strings kept;
  };
  const Case cases[] = {
      {"valid", good, 0, {"ab", ""}},
      {"trailing byte", good + "x", -3, {"ab", ""}},
      {"empty", "", 0, {}},
      {"three bytes", bytes({0, 0, 0}), -3, {}},
      {"count 0", bytes({0, 0, 0, 0}), 0, {}},
      {"count 0 with a byte more", bytes({0, 0, 0, 0, 0}), -3, {}},
      {"count above what fits", bytes({2, 0, 0, 0, 0, 0, 0, 0}), -3, {}},
      {"huge count", bytes({0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0}), -3, {}},
      {"huge length", bytes({1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 'a'}), -3, {}},
      {"length one too big", bytes({1, 0, 0, 0, 3, 0, 0, 0, 'a', 'b'}), -3, {}},
      {"second length cut", bytes({2, 0, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0}), -3, {"a"}},
      {"second item cut", bytes({2, 0, 0, 0, 1, 0, 0, 0, 'a', 2, 0, 0, 0, 'b'}), -3, {"a"}},
      {"one empty item", bytes({1, 0, 0, 0, 0, 0, 0, 0}), 0, {""}},
  };
  for (const Case& c : cases) {
    Strings list{"stale"};
    EXPECT_EQ(c.rc, wcypher::deserialize0(list, c.in)) << c.what;
    EXPECT_EQ(c.kept, list) << c.what;
  }
}

// A list that claims sizes it cannot hold, to reach the 32-bit limits without 4 GiB.
struct FakeItem {
  size_t n;
  size_t size() const { return n; }
  const char* data() const { return ""; }
};
struct FakeList {
  std::vector<FakeItem> items;
  size_t claimed;
  size_t size() const { return claimed; }
  std::vector<FakeItem>::const_iterator begin() const { return items.begin(); }
  std::vector<FakeItem>::const_iterator end() const { return items.end(); }
};

TEST(Serialize, RefusesWhatDoesNotFitIn32Bits) {
  string out = "old";
  const FakeList too_many{{}, size_t{1} << 32};
  EXPECT_EQ(-3, wcypher::serialize0(out, too_many));
  EXPECT_EQ("", out);
  const FakeList too_long{{FakeItem{size_t{1} << 32}}, 1};
  EXPECT_EQ(-3, wcypher::serialize0(out, too_long));
  EXPECT_EQ("", out);
}

// Lists with another allocator use the same templates.
template <class T>
struct CountingAllocator {
  using value_type = T;
  static inline int allocations = 0;
  CountingAllocator() = default;
  template <class U>
  CountingAllocator(const CountingAllocator<U>&) {}
  T* allocate(size_t n) {
    ++allocations;
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) { std::allocator<T>().deallocate(p, n); }
  template <class U>
  bool operator==(const CountingAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const CountingAllocator<U>&) const {
    return false;
  }
};

TEST(Serialize, WorksOverListsWithAnotherAllocator) {
  using List = std::vector<string, CountingAllocator<string>>;
  const List list{"ab", ""};
  string out;
  ASSERT_EQ(0, wcypher::serialize0(out, list));
  EXPECT_EQ(ref::serialize({"ab", ""}), out);
  List back;
  const int before = CountingAllocator<string>::allocations;
  ASSERT_EQ(0, wcypher::deserialize0(back, out));
  EXPECT_EQ(list, back);
  EXPECT_GT(CountingAllocator<string>::allocations, before);
  string token;
  ASSERT_EQ(0, wcypher::wma_encode0(token, list, "secret", 0x300));
  List parts{"stale"};
  ASSERT_EQ(0, wcypher::wma_decode0(parts, token, "secret", 0x300, 60));
  EXPECT_EQ(list, parts);
}

// ---- hashes -------------------------------------------------------------------------------

TEST(Hash, ReferenceLookup3MatchesPublishedVectors) {
  // Guards the test's own second implementation.
  EXPECT_EQ(0xdeadbeefu, ref::lookup3("", 0));
  EXPECT_EQ(0x17770551u, ref::lookup3("Four score and seven years ago", 0));
  EXPECT_EQ(0xcd628161u, ref::lookup3("Four score and seven years ago", 1));
}

TEST(Hash, EmptyInputAndUnknownKinds) {
  for (int kind : {0, 1, 2, 3, 4, 7, 255, -1, std::numeric_limits<int>::min()})
    EXPECT_EQ(0, wcypher::hash0("", kind)) << kind;
  for (int kind : {4, 7, 255, -1, -3, std::numeric_limits<int>::max()})
    EXPECT_EQ(-1, wcypher::hash0("a", kind)) << kind;
}

TEST(Hash, KindsMatchJenkinsWithInitialValue13AndMurmur) {
  std::mt19937 rng(7);
  std::vector<string> inputs = {"a", "ab", "abc", "Four score and seven years ago"};
  for (size_t n = 1; n <= 40; ++n) inputs.push_back(random_bytes(rng, n));
  inputs.push_back(random_bytes(rng, 1000));
  for (const string& s : inputs) {
    const int64_t j = wcypher::hash0(s, 1);
    EXPECT_EQ(int64_t{ref::jenkins(s)}, j);
    EXPECT_EQ(j, wcypher::hash0(s, 0));
    const int64_t m = wcypher::hash0(s, 2);
    EXPECT_EQ(int64_t{ref::murmur(s)}, m);
    EXPECT_GE(m, 0);  // unsigned 32-bit, never sign-extended
    const uint64_t both = static_cast<uint64_t>(wcypher::hash0(s, 3));
    EXPECT_EQ(static_cast<uint64_t>(m), both >> 32);
    EXPECT_EQ(static_cast<uint64_t>(j), both & 0xffffffffu);
  }
}

// ---- compression --------------------------------------------------------------------------

TEST(Compress, MethodsAndPlainCopy) {
  const string in = "some text some text some text";
  string out = "old";
  EXPECT_EQ(-4, wcypher::compress0(out, in, 1));
  EXPECT_EQ("", out);
  out = "old";
  EXPECT_EQ(-5, wcypher::decompress0(out, in, 1));
  EXPECT_EQ("", out);
  for (int m : {3, 254, 256, -1, 511}) EXPECT_EQ(-4, wcypher::compress0(out, in, m)) << m;
  for (int m : {3, 254, 256, -1, 511}) EXPECT_EQ(-5, wcypher::decompress0(out, in, m)) << m;

  EXPECT_EQ(0, wcypher::compress0(out, in, 255));
  EXPECT_EQ(in, out);
  EXPECT_EQ(0, wcypher::decompress0(out, in, 255));
  EXPECT_EQ(in, out);

  // Empty input succeeds before the method is looked at.
  out = "old";
  EXPECT_EQ(0, wcypher::compress0(out, "", 1));
  EXPECT_EQ("", out);
  out = "old";
  EXPECT_EQ(0, wcypher::decompress0(out, "", 0));
  EXPECT_EQ("", out);
}

TEST(Compress, LzfIsTheRawStream) {
  std::mt19937 rng(3);
  std::vector<string> inputs = {"a", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", random_bytes(rng, 5000)};
  string text;
  for (int i = 0; i < 2000; ++i) text += "entry " + std::to_string(i % 37) + ";";
  inputs.push_back(text);
  for (const string& in : inputs) {
    // liblzf itself, with a buffer large enough for any input.
    string expect(in.size() * 2 + 64, '\0');
    const unsigned n = lzf_compress(in.data(), in.size(), &expect[0], expect.size());
    ASSERT_GT(n, 0u);
    expect.resize(n);
    for (int method : {0, 2}) {
      string packed, back;
      ASSERT_EQ(0, wcypher::compress0(packed, in, method));
      EXPECT_EQ(expect, packed);
      ASSERT_EQ(0, wcypher::decompress0(back, packed, method));
      EXPECT_EQ(in, back);
    }
  }
}

TEST(Compress, DecompressionGrowsItsBufferForHighRatios) {
  // 1 MiB of zeros packs about 88:1, far beyond the first buffer of 4 x n + 128.
  const string zeros(1 << 20, '\0');
  string packed, back;
  ASSERT_EQ(0, wcypher::compress0(packed, zeros, 0));
  ASSERT_LT(packed.size() * 4 + 128, zeros.size());
  ASSERT_EQ(0, wcypher::decompress0(back, packed, 2));
  EXPECT_EQ(zeros, back);
}

TEST(Compress, DecompressionReachesTheLargestPossibleRatio) {
  // Built by hand: a literal run of one byte, then back-references of the longest form
  // (control 0xe0: length 7 + extra byte 255 + 2 = 264 bytes, offset 0 = the previous byte),
  // 3 input bytes for 264 output bytes each, the most any LZF stream expands.
  for (int refs : {1, 7, 1000}) {
    string stream = bytes({0x00, 'x'});
    for (int i = 0; i < refs; ++i) stream += bytes({0xe0, 0xff, 0x00});
    string out;
    ASSERT_EQ(0, wcypher::decompress0(out, stream, 0)) << refs;
    EXPECT_EQ(string(1 + 264 * size_t(refs), 'x'), out) << refs;
  }
}

TEST(Compress, DamagedStreamsFail) {
  string packed, out;
  string text;
  for (int i = 0; i < 500; ++i) text += "value-" + std::to_string(i % 11);
  ASSERT_EQ(0, wcypher::compress0(packed, text, 0));
  // Cut in the middle, or a back-reference before the start of the output.
  EXPECT_EQ(-5, wcypher::decompress0(out, packed.substr(0, packed.size() / 2 + 1), 0));
  EXPECT_EQ("", out);
  EXPECT_EQ(-5, wcypher::decompress0(out, bytes({0xe0, 0xff, 0xff}), 0));
  EXPECT_EQ(-5, wcypher::decompress0(out, bytes({0x05, 'a'}), 0));  // literal run cut
  EXPECT_EQ("", out);
}

TEST(Extra, ImpossibleReservationsLeaveContentAlone) {
  for (uint64_t extra : {kNegativeExtra, kNegativeExtra - 20, kHugeExtra}) {
    string out;
    EXPECT_EQ(0, wcypher::hexing0(out, "abc", extra));
    EXPECT_EQ("616263", out);
    EXPECT_EQ(0, wcypher::unhexing0(out, "6162", extra));
    EXPECT_EQ("ab", out);
    EXPECT_EQ(0, wcypher::serialize0(out, Strings{"ab", ""}, extra));
    EXPECT_EQ(ref::serialize({"ab", ""}), out);
    EXPECT_EQ(0, wcypher::compress0(out, "abcabcabc", 255, extra));
    EXPECT_EQ("abcabcabc", out);
    string packed;
    EXPECT_EQ(0, wcypher::compress0(packed, "abcabcabcabcabc", 0, extra));
    EXPECT_EQ(0, wcypher::decompress0(out, packed, 0, extra));
    EXPECT_EQ("abcabcabcabcabc", out);
    EXPECT_EQ(0, wcypher::base64_encode0(out, "\xff\xff\xff", extra));
    EXPECT_EQ("____", out);
    EXPECT_EQ(0, wcypher::base64_decode0(out, "____", extra));
    EXPECT_EQ("\xff\xff\xff", out);
    EXPECT_EQ(0, wcypher::attach_hashed_secret0(out, "ab", "xyz", 1, extra));
    string opened;
    EXPECT_EQ(0, wcypher::detach_hashed_secret0(opened, out, "xyz", 1, extra));
    EXPECT_EQ("ab", opened);
    EXPECT_EQ(0, wcypher::wma_encode0(out, Strings{"p"}, "secret", 0x1ff, extra));
    Strings parts;
    EXPECT_EQ(0, wcypher::wma_decode0(parts, out, "secret", 0x1ff, 0));
    EXPECT_EQ(Strings{"p"}, parts);
  }
}

}  // namespace
