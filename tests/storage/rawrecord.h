// Test helper: reads and writes the stored records of a compressed file hash database raw,
// through a compressor that hands records through unchanged.
#ifndef TOKA_TESTS_STORAGE_RAWRECORD_H
#define TOKA_TESTS_STORAGE_RAWRECORD_H

#include <kchashdb.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "kcext/kccompress_lzf.h"
#include "kcext/kccompress_snappy.h"

namespace rawrec {

using kyotocabinet::HashDB;

// Hands records through unchanged, so a compressed hash database can be read and written
// raw. The hash database keeps a checksum of what its compressor makes of a fixed seed, so
// the seed goes through the compressor the file was written with.
class PassThrough : public kyotocabinet::Compressor {
 public:
  explicit PassThrough(kyotocabinet::Compressor* real) : real_(real) {}
  char* compress(const void* buf, size_t size, size_t* sp) override {
    if (size == sizeof(KCHDBCHKSUMSEED) - 1 && std::memcmp(buf, KCHDBCHKSUMSEED, size) == 0)
      return real_->compress(buf, size, sp);
    return copy(buf, size, sp);
  }
  char* decompress(const void* buf, size_t size, size_t* sp) override {
    return copy(buf, size, sp);
  }

 private:
  static char* copy(const void* buf, size_t size, size_t* sp) {
    char* out = new char[size + 1];
    std::memcpy(out, buf, size);
    out[size] = '\0';
    *sp = size;
    return out;
  }
  kyotocabinet::Compressor* real_;
};

// The compressor a file was written with: the one its ExtPolyDB built.
struct Real {
  std::unique_ptr<kyotocabinet::Compressor> comp;
};
inline Real realFor(char tag, size_t threshold = 128) {
  Real r;
  if (tag == 'n') {
    r.comp.reset(new kyotocabinet::SnappyCompressor(threshold));
  } else {
    r.comp.reset(new kyotocabinet::LZFCompressor(threshold));
  }
  return r;
}

// The stored record of key in a compressed file hash database, read raw.
inline std::string rawRecordWith(const std::string& file, const std::string& key,
                                 kyotocabinet::Compressor* real) {
  PassThrough pt(real);
  HashDB db;
  db.tune_compressor(&pt);
  if (!db.open(file, HashDB::OREADER))
    return std::string("<open failed: ") + db.error().message() + ">";
  std::string v;
  if (!db.get(key, &v)) v = "<missing>";
  db.close();
  return v;
}

inline std::string rawRecord(const std::string& file, const std::string& key, char tag,
                             size_t threshold = 128) {
  Real real = realFor(tag, threshold);
  return rawRecordWith(file, key, real.comp.get());
}

inline void putRaw(const std::string& file, const std::string& key, const std::string& record,
                   char tag) {
  Real real = realFor(tag);
  PassThrough pt(real.comp.get());
  HashDB db;
  db.tune_compressor(&pt);
  ASSERT_TRUE(db.open(file, HashDB::OWRITER));
  ASSERT_TRUE(db.set(key, record));
  ASSERT_TRUE(db.close());
}

}  // namespace rawrec

using namespace rawrec;

#endif  // TOKA_TESTS_STORAGE_RAWRECORD_H
