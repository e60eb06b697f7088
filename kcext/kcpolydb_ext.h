// Polymorphic database whose open also understands the snappy and LZF compressors.
//
// `kyotocabinet::ExtPolyDB` is a `PolyDB` whose `open` reads two more tuning options after
// the path: "zcomp" (alias "compressor") with the values "snappy" and "lzf", and "zthrh"
// (alias "compressthreshold"), the size below which values are stored raw (default 128).
// Every other path is opened by the stock `PolyDB::open` unchanged. For "snappy" and "lzf"
// the hash, tree, cache, grass, directory or forest database is built here with the same
// tuning options as the stock open, given the compressor and handed over with
// `set_internal_db`; the compressor belongs to this object until `close` (or the destructor)
// has closed the inner database, and is replaced at the next open. As with Kyoto Cabinet's own
// compressors, the compressor is used only when the options turn compression on ("opts" with
// the letter c). The "log" and "mtrg" path options are applied only by the stock open; loggers
// and meta triggers set with `tune_logger` / `tune_meta_trigger` apply in both cases.
//
// Thread-safety: record operations are those of `PolyDB` (safe for concurrent use); `open`
// and `close` must not run concurrently with any other use of the object. No lock of its own.
#ifndef TOKA_KCEXT_KCPOLYDB_EXT_H
#define TOKA_KCEXT_KCPOLYDB_EXT_H

#include <kcpolydb.h>

#include <cstdint>
#include <string>

namespace kyotocabinet {

class ExtPolyDB : public PolyDB {
 public:
  // Default threshold of the snappy and LZF compressors.
  static const size_t DEFAULT_THRESHOLD = 128;

  ExtPolyDB();
  ~ExtPolyDB() override;

  bool open(const std::string& path = ":", uint32_t mode = OWRITER | OCREATE) override;
  bool close() override;

  // The compressor this object built for the open database, or null (stock compressors and
  // closed databases included). Owned by this object.
  Compressor* extCompressor() const { return _zcomp; }

 private:
  ExtPolyDB(const ExtPolyDB&) = delete;
  ExtPolyDB& operator=(const ExtPolyDB&) = delete;

  Compressor* _zcomp;  // our compressor while the inner database is open
  bool _extOpen;       // the inner database was built by this class
};

}  // namespace kyotocabinet

#endif  // TOKA_KCEXT_KCPOLYDB_EXT_H
