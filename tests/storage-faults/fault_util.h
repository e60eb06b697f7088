// Test helpers for the storage fault tests: a fresh temporary directory, a layered
// configuration for wdb::OpenKCFromConfig, self-checking record values and a snapshot of
// every file under a directory (size, modification time, content hash).
#ifndef TOKA_TESTS_STORAGE_FAULTS_FAULT_UTIL_H
#define TOKA_TESTS_STORAGE_FAULTS_FAULT_UTIL_H

#include <Poco/Util/LayeredConfiguration.h>
#include <ftw.h>
#include <kcdb.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/map_config.h"
#include "tests/support/store_buffer.h"
#include "tests/support/tmpdir.h"

#include "src/wdb/kc/ISKVStorage.h"

namespace faulttest {

using ::TmpDir;

inline std::string readFile(const std::string& path) { return readWholeFile(path); }

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

using tsupport::Config;

// splitmix64: the deterministic source of every derived choice.
inline uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

inline std::string keyOf(uint32_t n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "k%08u", n);
  return buf;
}

// The value written for a key at a version: a header naming both and a filler derived from
// them, 0..600 bytes long. A value is intact when it is exactly what valueOf gives for the key
// and the version it names, so a torn, shifted or foreign value is always detected.
inline std::string valueOf(const std::string& key, uint32_t version) {
  std::string v = key + "|" + std::to_string(version) + "|";
  uint64_t h = mix((static_cast<uint64_t>(version) << 20) ^ std::hash<std::string>()(key));
  const size_t len = static_cast<size_t>(h % 601);
  for (size_t i = 0; i < len; ++i) {
    if (i % 8 == 0) h = mix(h);
    v.push_back(static_cast<char>('a' + ((h >> (8 * (i % 8))) & 0xFF) % 26));
  }
  return v;
}

// The version an intact value names; false for a value that is not intact for this key.
inline bool checkValue(const std::string& key, const std::string& value, uint32_t* version) {
  if (value.compare(0, key.size() + 1, key + "|") != 0) return false;
  const size_t bar = value.find('|', key.size() + 1);
  if (bar == std::string::npos || bar == key.size() + 1 || bar - key.size() - 1 > 10) return false;
  const std::string digits = value.substr(key.size() + 1, bar - key.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long n = std::stoull(digits);
  if (n > UINT32_MAX) return false;
  if (valueOf(key, static_cast<uint32_t>(n)) != value) return false;
  *version = static_cast<uint32_t>(n);
  return true;
}

using tsupport::get;
using tsupport::put;

// Collects every record of 2 bytes of key or more (the contiguous store's reserved one-byte
// record is left out).
class Collect : public kyotocabinet::DB::Visitor {
 public:
  std::map<std::string, std::string> records;
  const char* visit_full(const char* k, size_t ks, const char* v, size_t vs, size_t*) override {
    if (ks >= 2) records[std::string(k, ks)] = std::string(v, vs);
    return NOP;
  }
};

// One file's state.
struct FileState {
  bool directory;
  int64_t size;
  int64_t mtimeNs;
  uint64_t hash;
  bool operator==(const FileState& o) const {
    return directory == o.directory && size == o.size && mtimeNs == o.mtimeNs && hash == o.hash;
  }
  bool operator!=(const FileState& o) const { return !(*this == o); }
};
typedef std::map<std::string, FileState> Snapshot;  // by path relative to the root

inline uint64_t fnv1a(const std::string& bytes) {
  uint64_t h = 1469598103934665603ULL;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ULL;
  return h;
}

inline std::string describe(const FileState& s) {
  std::ostringstream o;
  o << (s.directory ? "dir" : "file") << " size=" << s.size << " mtime=" << s.mtimeNs
    << " hash=" << s.hash;
  return o.str();
}

// Every entry under root (root itself left out), links not followed.
inline Snapshot snapshot(const std::string& root) {
  static thread_local Snapshot* out;
  static thread_local size_t rootLen;
  Snapshot result;
  out = &result;
  rootLen = root.size() + 1;
  nftw(
      root.c_str(),
      [](const char* f, const struct stat* st, int type, struct FTW*) {
        const std::string path(f);
        if (path.size() < rootLen) return 0;
        FileState s;
        s.directory = type == FTW_D || type == FTW_DP;
        s.size = s.directory ? 0 : st->st_size;
        s.mtimeNs = static_cast<int64_t>(st->st_mtim.tv_sec) * 1000000000 + st->st_mtim.tv_nsec;
        s.hash = s.directory ? 0 : fnv1a(readFile(path));
        (*out)[path.substr(rootLen)] = s;
        return 0;
      },
      16, FTW_PHYS);
  return result;
}

}  // namespace faulttest

#endif  // TOKA_TESTS_STORAGE_FAULTS_FAULT_UTIL_H
