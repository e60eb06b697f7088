#include "kcext/kccompress_lzf.h"

#include <lzf.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "kcext/kccompress_record.h"

namespace kyotocabinet {

namespace {
// One LZF back reference of 3 input bytes yields at most 264 output bytes, so no valid
// payload decodes to more than 88 times its size; growing the output beyond that is useless.
const uint64_t LZF_MAX_EXPANSION = 88;
}  // namespace

LZFCompressor::LZFCompressor() : threshold(128) {}
LZFCompressor::LZFCompressor(size_t threshold) : threshold(threshold) {}
LZFCompressor::~LZFCompressor() {}

char* LZFCompressor::compress(const void* data, size_t size, size_t* resultSize) {
  if (size >= kcrecord::MAX_SIZE) return nullptr;
  if (size < threshold) return kcrecord::makeRaw(TAG, data, size, resultSize);
  const uint64_t c0 = std::min<uint64_t>((static_cast<uint64_t>(size) * 11) / 10 + 64,
                                         kcrecord::MAX_SIZE);
  uint64_t c = c0;
  for (;;) {
    char* out = new (std::nothrow) char[c + 2];
    if (out == nullptr) return nullptr;
    const unsigned int n = lzf_compress(data, static_cast<unsigned int>(size), out + 2,
                                        static_cast<unsigned int>(c));
    if (n != 0) {
      out[0] = TAG;
      out[1] = static_cast<char>(kcrecord::FLAG_COMPRESSED);
      if (resultSize) *resultSize = static_cast<size_t>(n) + 2;
      return out;
    }
    delete[] out;
    if (c > 2 * c0 || c >= kcrecord::MAX_SIZE) return nullptr;
    c = std::min<uint64_t>(c + std::max<uint64_t>(c / 2, 64), kcrecord::MAX_SIZE);
  }
}

char* LZFCompressor::decompress(const void* record, size_t size, size_t* resultSize) {
  const unsigned char* rec = static_cast<const unsigned char*>(record);
  if (size < 2 || rec[0] != static_cast<unsigned char>(TAG)) return nullptr;
  if (rec[1] == kcrecord::FLAG_RAW || rec[1] == kcrecord::FLAG_RAW_ALT)
    return kcrecord::readRaw(record, size, resultSize);
  if (rec[1] != kcrecord::FLAG_COMPRESSED) return nullptr;
  const uint64_t payloadLen = size - 2;
  // lzf_decompress reads its first byte before looking at the length: an empty payload
  // would be read past its end.
  if (payloadLen == 0 || payloadLen >= kcrecord::MAX_SIZE) return nullptr;
  const uint64_t limit = std::min<uint64_t>(payloadLen * LZF_MAX_EXPANSION + 64,
                                            kcrecord::MAX_SIZE - 1);
  uint64_t c = std::min<uint64_t>(static_cast<uint64_t>(size) * 4 + 56, limit);
  for (;;) {
    char* out = new (std::nothrow) char[c + 1];
    if (out == nullptr) return nullptr;
    errno = 0;
    const unsigned int n = lzf_decompress(rec + 2, static_cast<unsigned int>(payloadLen), out,
                                          static_cast<unsigned int>(c));
    if (n != 0) {
      out[n] = '\0';
      if (resultSize) *resultSize = n;
      return out;
    }
    const int err = errno;
    delete[] out;
    if (err != E2BIG || c >= limit) return nullptr;
    c = std::min<uint64_t>(c + std::max<uint64_t>(c / 2, 64), limit);
  }
}

}  // namespace kyotocabinet
