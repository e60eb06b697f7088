// Test support: records of a byte-buffer store by std::string, the raw value buffer held by
// wdb::ValueBuffer.
#ifndef TOKA_TESTS_SUPPORT_STORE_BUFFER_H
#define TOKA_TESTS_SUPPORT_STORE_BUFFER_H

#include <string>

#include "src/wdb/kc/ISKVStorage.h"

namespace tsupport {

// putTx0 without a transaction; policy 3 is add or update.
inline int put(wdb::ISKVStorage& s, const std::string& key, const std::string& value = "v",
               int policy = 3) {
  return s.putTx0(nullptr, key.data(), key.size(), value.data(), value.size(), policy);
}

// The value, or "<rc>" for a failed get.
inline std::string get(const wdb::ISKVStorage& s, const std::string& key) {
  wdb::ValueBuffer buf(s);
  const int r = s.getTx0(nullptr, buf.out(), buf.outLength(), key.data(), key.size());
  if (buf.data() == nullptr) return "<" + std::to_string(r) + ">";
  return std::string(buf.chars(), buf.length());
}

}  // namespace tsupport

#endif  // TOKA_TESTS_SUPPORT_STORE_BUFFER_H
