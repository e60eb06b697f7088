// LZF compressor for Kyoto Cabinet databases.
//
// Each stored record is a one-byte tag 'f', a one-byte flag (1: the payload is LZF data,
// 0: the payload is the raw value; 0xFF is also read as raw) and the payload. Values shorter
// than `threshold` are stored raw. Buffers returned by compress/decompress are allocated with
// array new and belong to the caller (Kyoto Cabinet releases them with array delete); a
// decompressed buffer has one NUL byte after the data. No exception leaves either call.
// Thread-safe: the only state is the threshold, fixed at construction; takes no lock.
#ifndef TOKA_KCEXT_KCCOMPRESS_LZF_H
#define TOKA_KCEXT_KCCOMPRESS_LZF_H

#include <kccompress.h>

#include <cstddef>

namespace kyotocabinet {

class LZFCompressor : public Compressor {
 public:
  static const char TAG = 'f';
  LZFCompressor();
  explicit LZFCompressor(size_t threshold);
  ~LZFCompressor() override;

  char* compress(const void* data, size_t size, size_t* resultSize) override;
  char* decompress(const void* record, size_t size, size_t* resultSize) override;

  // Values shorter than this are stored raw.
  const size_t threshold;
};

}  // namespace kyotocabinet

#endif  // TOKA_KCEXT_KCCOMPRESS_LZF_H
