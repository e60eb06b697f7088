// Shared pieces of the tagged record format of the snappy and LZF compressors:
// [tag][flag][payload], flag 1 = compressed payload, 0 or 0xFF = raw value.
//
// The helpers return buffers from array new (nothrow) that belong to the caller, or null.
// Stateless and thread-safe; no lock.
#ifndef TOKA_KCEXT_KCCOMPRESS_RECORD_H
#define TOKA_KCEXT_KCCOMPRESS_RECORD_H

#include <cstddef>
#include <cstdint>

namespace kyotocabinet {
namespace kcrecord {

// Values and records of this size or more are refused (LZF works on 32-bit sizes).
const uint64_t MAX_SIZE = UINT64_C(0xFFFFFFFF);

const unsigned char FLAG_RAW = 0;
const unsigned char FLAG_COMPRESSED = 1;
const unsigned char FLAG_RAW_ALT = 0xFF;

// A record holding the value raw: tag, 0, value; *resultSize = size + 2.
char* makeRaw(char tag, const void* data, size_t size, size_t* resultSize);

// The value of a raw record (flag 0 or 0xFF) with a NUL after it; *resultSize = size - 2.
char* readRaw(const void* record, size_t size, size_t* resultSize);

}  // namespace kcrecord
}  // namespace kyotocabinet

#endif  // TOKA_KCEXT_KCCOMPRESS_RECORD_H
