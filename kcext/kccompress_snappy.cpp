#include "kcext/kccompress_snappy.h"

#include <snappy-c.h>

#include <new>

#include "kcext/kccompress_record.h"

namespace kyotocabinet {

namespace {
// A snappy element of n input bytes never expands to more than about 22 n output bytes;
// a header claiming much more than this is corrupt and is refused before any allocation.
const size_t SNAPPY_MAX_EXPANSION = 64;
}  // namespace

SnappyCompressor::SnappyCompressor() : threshold(128) {}
SnappyCompressor::SnappyCompressor(size_t threshold) : threshold(threshold) {}
SnappyCompressor::~SnappyCompressor() {}

char* SnappyCompressor::compress(const void* data, size_t size, size_t* resultSize) {
  if (size >= kcrecord::MAX_SIZE) return nullptr;
  if (size < threshold) return kcrecord::makeRaw(TAG, data, size, resultSize);
  size_t outLen = snappy_max_compressed_length(size);
  char* out = new (std::nothrow) char[outLen + 2];
  if (out == nullptr) return nullptr;
  out[0] = TAG;
  out[1] = static_cast<char>(kcrecord::FLAG_COMPRESSED);
  if (snappy_compress(static_cast<const char*>(data), size, out + 2, &outLen) != SNAPPY_OK) {
    delete[] out;
    return nullptr;
  }
  if (resultSize) *resultSize = outLen + 2;
  return out;
}

char* SnappyCompressor::decompress(const void* record, size_t size, size_t* resultSize) {
  const unsigned char* rec = static_cast<const unsigned char*>(record);
  if (size < 2 || rec[0] != static_cast<unsigned char>(TAG)) return nullptr;
  if (rec[1] == kcrecord::FLAG_RAW || rec[1] == kcrecord::FLAG_RAW_ALT)
    return kcrecord::readRaw(record, size, resultSize);
  if (rec[1] != kcrecord::FLAG_COMPRESSED) return nullptr;
  const char* payload = reinterpret_cast<const char*>(rec + 2);
  const size_t payloadLen = size - 2;
  size_t length = 0;
  if (payloadLen == 0 || snappy_uncompressed_length(payload, payloadLen, &length) != SNAPPY_OK)
    return nullptr;
  if (length >= kcrecord::MAX_SIZE || length / SNAPPY_MAX_EXPANSION > payloadLen) return nullptr;
  char* out = new (std::nothrow) char[length + 1];
  if (out == nullptr) return nullptr;
  size_t outLen = length;
  if (snappy_uncompress(payload, payloadLen, out, &outLen) != SNAPPY_OK || outLen != length) {
    delete[] out;
    return nullptr;
  }
  out[length] = '\0';
  if (resultSize) *resultSize = length;
  return out;
}

}  // namespace kyotocabinet
