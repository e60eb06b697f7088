// Snappy and LZF compressors: record format, thresholds, damaged records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kcext/kccompress_lzf.h"
#include "kcext/kccompress_snappy.h"

using kyotocabinet::Compressor;
using kyotocabinet::LZFCompressor;
using kyotocabinet::SnappyCompressor;

namespace {

struct Codec {
  const char* name;
  char tag;
  char otherTag;
  std::unique_ptr<Compressor> (*make)(size_t threshold);
};

std::unique_ptr<Compressor> makeSnappy(size_t t) { return std::make_unique<SnappyCompressor>(t); }
std::unique_ptr<Compressor> makeLZF(size_t t) { return std::make_unique<LZFCompressor>(t); }

const Codec CODECS[] = {{"snappy", 'n', 'f', makeSnappy}, {"lzf", 'f', 'n', makeLZF}};

// Owns a buffer returned by a compressor.
using Buf = std::unique_ptr<char[]>;

std::string pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>("abcab"[i % 5]);
  return s;
}

// Decompresses a copy held in an exactly sized heap block, so that AddressSanitizer
// catches any read past the record.
Buf decompressExact(Compressor& c, const std::string& record, size_t* size) {
  std::unique_ptr<char[]> copy(new char[record.size() ? record.size() : 1]);
  std::memcpy(copy.get(), record.data(), record.size());
  return Buf(c.decompress(copy.get(), record.size(), size));
}

class CompressorTest : public ::testing::TestWithParam<Codec> {};

}  // namespace

TEST(CompressorDefaults, ThresholdIs128) {
  EXPECT_EQ(SnappyCompressor().threshold, 128u);
  EXPECT_EQ(LZFCompressor().threshold, 128u);
  EXPECT_EQ(SnappyCompressor(7).threshold, 7u);
  EXPECT_EQ(LZFCompressor(0).threshold, 0u);
}

TEST_P(CompressorTest, BelowThresholdIsStoredRawAtThresholdCompressed) {
  const Codec& codec = GetParam();
  auto c = codec.make(128);
  const std::string v127 = pattern(127), v128 = pattern(128);

  size_t n = 0;
  Buf raw(c->compress(v127.data(), v127.size(), &n));
  ASSERT_TRUE(raw);
  ASSERT_EQ(n, 129u);
  EXPECT_EQ(raw[0], codec.tag);
  EXPECT_EQ(raw[1], 0);
  EXPECT_EQ(std::string(raw.get() + 2, 127), v127);

  Buf comp(c->compress(v128.data(), v128.size(), &n));
  ASSERT_TRUE(comp);
  EXPECT_EQ(comp[0], codec.tag);
  EXPECT_EQ(comp[1], 1);
  EXPECT_LT(n, 128u);  // the pattern repeats: really compressed
  size_t m = 0;
  Buf back(c->decompress(comp.get(), n, &m));
  ASSERT_TRUE(back);
  EXPECT_EQ(std::string(back.get(), m), v128);
  EXPECT_EQ(back[m], '\0');

  size_t k = 0;
  Buf rawBack(c->decompress(raw.get(), 129, &k));
  ASSERT_TRUE(rawBack);
  EXPECT_EQ(std::string(rawBack.get(), k), v127);
  EXPECT_EQ(rawBack[k], '\0');
}

TEST_P(CompressorTest, RoundTripOfLongRepetitiveAndRandomValues) {
  auto c = GetParam().make(128);
  std::string same(1 << 20, 'x');
  std::string noise(70000, '\0');
  unsigned x = 12345;
  for (char& ch : noise) ch = static_cast<char>((x = x * 1103515245u + 12345u) >> 23);
  for (const std::string* v : {&same, &noise}) {
    size_t n = 0, m = 0;
    Buf rec(c->compress(v->data(), v->size(), &n));
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec[1], 1);  // no fall-back to raw above the threshold
    Buf back(decompressExact(*c, std::string(rec.get(), n), &m));
    ASSERT_TRUE(back);
    ASSERT_EQ(m, v->size());
    EXPECT_TRUE(std::memcmp(back.get(), v->data(), m) == 0);
    EXPECT_EQ(back[m], '\0');
  }
}

TEST_P(CompressorTest, RejectsForeignShortAndUnknownRecords) {
  const Codec& codec = GetParam();
  auto c = codec.make(128);
  size_t n = 99;
  const std::string cases[] = {
      std::string(),                             // empty
      std::string(1, codec.tag),                 // no flag byte
      std::string{codec.otherTag, 0, 'a', 'b'},  // the other compressor's record
      std::string{codec.tag, 2, 'a', 'b'},       // unknown flag
      std::string{'\x78', '\x9c', 'a', 'b'},     // not tagged at all
  };
  for (const std::string& rec : cases) {
    EXPECT_FALSE(decompressExact(*c, rec, &n)) << "record size " << rec.size();
  }
}

TEST_P(CompressorTest, FlagFFIsARawPayload) {
  const Codec& codec = GetParam();
  auto c = codec.make(128);
  size_t n = 0;
  Buf v(decompressExact(*c, std::string{codec.tag, '\xFF', 'x', 'y', 'z'}, &n));
  ASSERT_TRUE(v);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(v.get(), 3), "xyz");
  EXPECT_EQ(v[3], '\0');
  Buf empty(decompressExact(*c, std::string{codec.tag, 0}, &n));
  ASSERT_TRUE(empty);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(empty[0], '\0');
}

TEST_P(CompressorTest, DamagedCompressedRecordsFailWithoutOverRead) {
  const Codec& codec = GetParam();
  auto c = codec.make(128);
  size_t n = 0;
  // Compressed flag with no payload at all.
  EXPECT_FALSE(decompressExact(*c, std::string{codec.tag, 1}, &n));
  // A compressed record cut short at every length.
  const std::string v = pattern(5000) + std::string(300, 'q') + pattern(777);
  Buf rec(c->compress(v.data(), v.size(), &n));
  ASSERT_TRUE(rec);
  const std::string whole(rec.get(), n);
  for (size_t len = 2; len < whole.size(); len += (len < 64 ? 1 : 37)) {
    size_t m = 0;
    Buf out(decompressExact(*c, whole.substr(0, len), &m));
    if (out) {
      // LZF cannot always tell a cut at an instruction boundary: what comes back must be a
      // prefix of the value, never bytes from beyond the record.
      EXPECT_EQ(codec.tag, 'f');
      ASSERT_LE(m, v.size());
      EXPECT_EQ(std::string(out.get(), m), v.substr(0, m));
    }
  }
  // Flipped bytes in the payload must not crash and must not read past the record.
  for (size_t i = 2; i < whole.size(); i += 13) {
    std::string bad = whole;
    bad[i] = static_cast<char>(bad[i] ^ 0x5A);
    size_t m = 0;
    Buf out(decompressExact(*c, bad, &m));
    (void)out;
  }
}

TEST(SnappyCompressorTest, RecordClaimingHugeLengthFails) {
  SnappyCompressor c;
  size_t n = 0;
  // clang-format off
  // Varint 0xFFFFFFFF0F: an uncompressed length of about 4 GiB over a 3-byte body.
  EXPECT_FALSE(decompressExact(c, std::string("n\x01\xFF\xFF\xFF\xFF\x0F" "abc", 10), &n));
  // 1 GiB claimed, far more than the body can expand to.
  EXPECT_FALSE(decompressExact(c, std::string("n\x01\x80\x80\x80\x80\x04" "abc", 10), &n));
  // clang-format on
  // A length varint that never ends.
  EXPECT_FALSE(decompressExact(c, std::string("n\x01\xFF\xFF", 4), &n));
}

TEST_P(CompressorTest, SizesOf4GiBOrMoreAreRefused) {
  auto c = GetParam().make(0);
  char byte = 'x';
  size_t n = 0;
  // The size is checked before the data is read: the single byte is never overrun.
  EXPECT_EQ(c->compress(&byte, size_t(1) << 32, &n), nullptr);
  EXPECT_EQ(c->compress(&byte, (size_t(1) << 32) + 5, &n), nullptr);
  auto raw = GetParam().make(size_t(-1));
  EXPECT_EQ(raw->compress(&byte, size_t(1) << 32, &n), nullptr);
}

TEST_P(CompressorTest, ThresholdZeroCompressesEverything) {
  const Codec& codec = GetParam();
  auto c = codec.make(0);
  size_t n = 0;
  const char one = 'a';
  Buf rec(c->compress(&one, 1, &n));
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec[1], 1);
  Buf empty(c->compress("", 0, &n));
  if (codec.tag == 'f') {
    EXPECT_FALSE(empty);  // LZF cannot compress an empty value
  } else {
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty[1], 1);
    size_t m = 7;
    Buf back(c->decompress(empty.get(), n, &m));
    ASSERT_TRUE(back);
    EXPECT_EQ(m, 0u);
  }
}

TEST_P(CompressorTest, NullResultSizeIsAllowed) {
  auto c = GetParam().make(128);
  const std::string v = pattern(300);
  Buf rec(c->compress(v.data(), v.size(), nullptr));
  ASSERT_TRUE(rec);
  Buf small(c->compress("ab", 2, nullptr));
  ASSERT_TRUE(small);
  Buf back(c->decompress(small.get(), 4, nullptr));
  ASSERT_TRUE(back);
  EXPECT_STREQ(back.get(), "ab");
}

INSTANTIATE_TEST_SUITE_P(Codecs, CompressorTest, ::testing::ValuesIn(CODECS),
                         [](const ::testing::TestParamInfo<Codec>& i) {
                           return std::string(i.param.name);
                         });
