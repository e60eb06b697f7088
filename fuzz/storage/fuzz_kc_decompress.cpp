// Fuzzes the decoders of the snappy and LZF compressed records (kcext). The first input byte
// picks the codec and a threshold, the rest is the stored record. Checks:
//   - a decoded value has its NUL after the data, is what the codec library itself decodes
//     from the payload (raw records: the payload itself), and a record that the library
//     decodes within the decoder's bounds is not refused;
//   - the other codec's tag, an unknown flag or a record under 2 bytes are refused;
//   - the bytes compressed with the codec decode back to themselves (LZF refuses to compress
//     an empty value when the threshold is 0).
#include <lzf.h>
#include <snappy-c.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "kcext/kccompress_lzf.h"
#include "kcext/kccompress_record.h"
#include "kcext/kccompress_snappy.h"

namespace {

using kyotocabinet::Compressor;
namespace rec = kyotocabinet::kcrecord;

typedef std::unique_ptr<char[]> Buf;

// What the codec library decodes from a compressed payload within the decoder's bounds;
// false when it refuses.
bool referenceSnappy(const char* p, size_t n, std::string* out) {
  size_t len = 0;
  if (n == 0 || snappy_uncompressed_length(p, n, &len) != SNAPPY_OK) return false;
  if (len >= rec::MAX_SIZE || len / 64 > n) return false;
  std::vector<char> buf(len + 1);
  size_t got = len;
  if (snappy_uncompress(p, n, buf.data(), &got) != SNAPPY_OK || got != len) return false;
  out->assign(buf.data(), len);
  return true;
}

bool referenceLZF(const char* p, size_t n, std::string* out) {
  if (n == 0) return false;
  const size_t cap = n * 88 + 64;
  std::vector<char> buf(cap + 1);
  const unsigned int got = lzf_decompress(p, static_cast<unsigned int>(n), buf.data(),
                                          static_cast<unsigned int>(cap));
  if (got == 0) return false;
  out->assign(buf.data(), got);
  return true;
}

// The record in an exactly sized heap block, so reads past its end are caught.
Buf decode(Compressor& c, const std::string& record, size_t* size) {
  std::unique_ptr<char[]> copy(new char[record.empty() ? 1 : record.size()]);
  if (!record.empty()) std::memcpy(copy.get(), record.data(), record.size());
  return Buf(c.decompress(record.empty() ? nullptr : copy.get(), record.size(), size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const bool snappy = (data[0] & 1) != 0;
  const size_t threshold = (data[0] >> 1) * 2;  // 0..254
  const std::string record(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::unique_ptr<Compressor> codec;
  if (snappy)
    codec.reset(new kyotocabinet::SnappyCompressor(threshold));
  else
    codec.reset(new kyotocabinet::LZFCompressor(threshold));
  const char tag = snappy ? kyotocabinet::SnappyCompressor::TAG : kyotocabinet::LZFCompressor::TAG;

  // The record as stored.
  size_t n = 12345;
  Buf out = decode(*codec, record, &n);
  const unsigned char flag = record.size() >= 2 ? static_cast<unsigned char>(record[1]) : 0;
  const bool ours = record.size() >= 2 && record[0] == tag;
  if (!ours ||
      (flag != rec::FLAG_RAW && flag != rec::FLAG_RAW_ALT && flag != rec::FLAG_COMPRESSED)) {
    FUZZ_CHECK(out == nullptr);
  } else if (flag != rec::FLAG_COMPRESSED) {
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(n == record.size() - 2);
    FUZZ_CHECK(std::memcmp(out.get(), record.data() + 2, n) == 0);
    FUZZ_CHECK(out[n] == '\0');
  } else {
    std::string expected;
    const bool ok = snappy ? referenceSnappy(record.data() + 2, record.size() - 2, &expected)
                           : referenceLZF(record.data() + 2, record.size() - 2, &expected);
    FUZZ_CHECK(ok == (out != nullptr));
    if (out != nullptr) {
      FUZZ_CHECK(n == expected.size());
      FUZZ_CHECK(std::memcmp(out.get(), expected.data(), n) == 0);
      FUZZ_CHECK(out[n] == '\0');
    }
  }
  if (out == nullptr) FUZZ_CHECK(n == 12345);  // a refusal leaves the size alone

  // The bytes as a value: compressed, then decoded back.
  size_t clen = 0;
  Buf packed(codec->compress(record.data(), record.size(), &clen));
  if (!snappy && record.empty() && threshold == 0) {
    FUZZ_CHECK(packed == nullptr);  // LZF has no encoding of an empty value
    return 0;
  }
  FUZZ_CHECK(packed != nullptr);
  FUZZ_CHECK(clen >= 2 && packed[0] == tag);
  FUZZ_CHECK(static_cast<unsigned char>(packed[1]) ==
             (record.size() < threshold ? rec::FLAG_RAW : rec::FLAG_COMPRESSED));
  size_t dlen = 0;
  Buf back = decode(*codec, std::string(packed.get(), clen), &dlen);
  FUZZ_CHECK(back != nullptr);
  FUZZ_CHECK(dlen == record.size());
  FUZZ_CHECK(record.empty() || std::memcmp(back.get(), record.data(), dlen) == 0);
  FUZZ_CHECK(back[dlen] == '\0');
  return 0;
}
