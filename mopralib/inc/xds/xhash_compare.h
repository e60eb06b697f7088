// Generic key policies of the tables: the Jenkins hasher and the byte-string comparator.
//
// jenkins_hasher::HASH(s) is libhashkit's libhashkit_jenkins (Jenkins lookup3, initial
// value 13) over the bytes of s, widened without sign. Comparator::COMPARE(a, b) orders byte
// strings as std::string does: bytes as unsigned characters over the shorter length, then
// the shorter string first; negative, 0 or positive. Both accept any string type with
// data() and size() (pooled strings, std::string, std::string_view), so a lookup by a bare
// key needs no pooled copy of it.
// Threads: pure functions; no state, no lock.
#ifndef TOKA_MOPRALIB_INC_XDS_XHASH_COMPARE_H
#define TOKA_MOPRALIB_INC_XDS_XHASH_COMPARE_H

#include <libhashkit-1.0/hashkit.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

struct jenkins_hasher {
  static uint64_t HASH(const char* data, size_t size) {
    return static_cast<uint64_t>(static_cast<uint32_t>(libhashkit_jenkins(data, size)));
  }
  template <typename _String>
  static uint64_t HASH(const _String& s) {
    return HASH(s.data(), s.size());
  }
};

struct Comparator {
  static int COMPARE(const char* a, size_t na, const char* b, size_t nb) {
    const size_t n = na < nb ? na : nb;
    if (n != 0) {
      const int c = std::memcmp(a, b, n);  // memcmp compares as unsigned char
      if (c != 0) return c;
    }
    return na < nb ? -1 : (na > nb ? 1 : 0);
  }
  template <typename _StringA, typename _StringB>
  static int COMPARE(const _StringA& a, const _StringB& b) {
    return COMPARE(a.data(), a.size(), b.data(), b.size());
  }
};

#endif  // TOKA_MOPRALIB_INC_XDS_XHASH_COMPARE_H
