#include "kcext/kccompress_record.h"

#include <cstring>
#include <new>

namespace kyotocabinet {
namespace kcrecord {

char* makeRaw(char tag, const void* data, size_t size, size_t* resultSize) {
  if (size >= MAX_SIZE) return nullptr;
  char* out = new (std::nothrow) char[size + 2];
  if (out == nullptr) return nullptr;
  out[0] = tag;
  out[1] = static_cast<char>(FLAG_RAW);
  if (size > 0) std::memcpy(out + 2, data, size);
  if (resultSize) *resultSize = size + 2;
  return out;
}

char* readRaw(const void* record, size_t size, size_t* resultSize) {
  if (size < 2 || size - 2 >= MAX_SIZE) return nullptr;
  const size_t n = size - 2;
  char* out = new (std::nothrow) char[n + 1];
  if (out == nullptr) return nullptr;
  if (n > 0) std::memcpy(out, static_cast<const char*>(record) + 2, n);
  out[n] = '\0';
  if (resultSize) *resultSize = n;
  return out;
}

}  // namespace kcrecord
}  // namespace kyotocabinet
