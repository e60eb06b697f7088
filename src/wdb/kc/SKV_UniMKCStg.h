// wdb::SKV_UniMKCStg: the "uniform" partitioned store. A fixed number of Kyoto Cabinet
// partition files "<dbname>-<index>.<dbtype>" (in the home directory, or at configured
// per-partition paths), each behind a wdb::SKV_KCStg. A key goes to partition
// hash(key) % count: libhashkit's Jenkins lookup3 (initial value 13) or an installed KHasher;
// an empty key goes to partition 0. Records never move between partitions.
//
// Notes for callers (the Java binding included):
// - size() is always 0, empty() always true and clear() does nothing: clear KEEPS EVERY
//   RECORD. This is deliberate; the real counts are kc_count() and kc_size().
// - The partition count used for routing is the one the store opened with. setPartitions
//   and a later loadConfig take effect at the next open (after close); getPartitions
//   returns the configured count.
// - open fails when no partition opens (the store then stays closed); when only some open,
//   it succeeds and a key routed to a partition that did not open answers RC_NOT_OPENED.
// - A raw operation on a closed store answers RC_NOT_OPENED.
// - When two files claim one partition, the canonical name (exactly "<dbname>-<n>.<dbtype>")
//   wins over names such as "<dbname>-05.<dbtype>" or "<dbname>-5.old.<dbtype>"; among equals
//   the path last in byte order wins. Every file not used is named in a "[WRN]" line and left
//   alone. A partition that is already open keeps its file.
// - The listings of open ("=== List of DB ... ===", "Partition[%u]: %s") go to standard
//   output whatever the log level.
//
// Ownership: the store owns its partitions (shared with the copies kc_count, kc_size and
// kc_iterate take); the KHasher stays its owner's and must outlive its use; a buffer from
// getTx0/popTx0 belongs to the caller, who returns it through freeData.
// Threads: one mutex (`mutex`) guards every operation for its whole run, partition work and
// hasher call included, so raw operations never run concurrently, even on different
// partitions. kc_count, kc_size and kc_iterate hold it only to copy the partition list;
// freeData and the fixed answers take no lock. No other lock of this store is ever taken
// while it is held (the partitions' locks are Kyoto Cabinet's own).
#ifndef TOKA_SRC_WDB_KC_SKV_UNIMKCSTG_H
#define TOKA_SRC_WDB_KC_SKV_UNIMKCSTG_H

#include <Poco/Mutex.h>
#include <kcdb.h>

#include <boost/shared_ptr.hpp>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "src/wdb/kc/ISKVStorage.h"
#include "src/wdb/kc/PartitionedSettings.h"
#include "src/wdb/kc/SKV_KCStg.h"
#include "src/xstring.h"

namespace Poco {
namespace Util {
class AbstractConfiguration;
}
}  // namespace Poco

namespace wdb {

// Home, name, type, tuning, partition count and candidate paths, with their getters and
// setters, and the store mutex are PartitionedSettings'.
class SKV_UniMKCStg : public ISKVStorage, public PartitionedSettings {
 public:
  // A key hash supplied by the store's user; never owned or deleted by the store.
  class KHasher {
   public:
    virtual ~KHasher() {}
    virtual uint64_t hash(const void* key, size_t keyLen) const = 0;
  };

  // One partition. Copies share the partition object; the last owner destroys (closes) it.
  struct DBEntry {
    boost::shared_ptr<SKV_KCStg> db;
    uint32_t index;
  };

  SKV_UniMKCStg();
  // Closes; the hasher is left to its owner.
  ~SKV_UniMKCStg() override;

  // Reads "<name>.home" and "<name>.dbname" (required: Poco::NotFoundException), and
  // "<name>.dbtype", "<name>.partitions", "<name>.tune_options" (current values as
  // defaults) and the candidate paths "<name>.partitions[<i>].path", i below the partition
  // count. Candidates add to the earlier ones. A partition count that is not a number
  // raises Poco::SyntaxException, a negative one Poco::InvalidArgumentException; the store
  // is then unchanged from that key on. Returns 0.
  int loadConfig(const std::string& name, const Poco::Util::AbstractConfiguration& config);

  // Opens every partition with the Kyoto Cabinet open-mode bits. 0 when at least one
  // partition is open; RC_INVALID_DATA (nothing changed) for an empty home, name or type or
  // a partition count of 0; RC_INVALID_PARAM (nothing changed) when home, name or type hold
  // '#' or a NUL byte or a partition file name would exceed 255 characters; otherwise, when
  // no partition opened, the failure of the last one tried (the store stays closed). A home
  // directory that cannot be listed raises Poco's file exception (the store stays as it was
  // when it was open, closed otherwise).
  int open(unsigned mode);
  // Releases every partition and the candidates found in the home directory (configured
  // ones stay for the next open). Returns 0.
  int close();
  bool isOpen() const;

  void setKHasher(const KHasher* hasher);
  const KHasher* getKHasher() const;

  // Records in all partitions (a partition that is not open counts 0).
  int64_t kc_count() const;
  // Bytes of all partition files.
  int64_t kc_size() const;
  // Visits every partition from 0 up with one thread; RC_UNSUPPORTED for threads > 1. The
  // result is the last negative partition result, else 0. Exceptions of the visitor pass.
  int kc_iterate(kyotocabinet::DB::Visitor* visitor, uint64_t threads) const;

  // Fixed answers, no lock: null, 0, true, 0 (size: see above), all ones, nothing.
  ITransaction* makeTransaction() const override;
  int flush() override;
  bool empty() const override;
  uint64_t size() const override;
  uint64_t maxSize() const override;
  void clear() override;

  // releaseValueBuffer; no lock.
  void freeData(void* data) const override;
  ISKVCursor* makeSKVCursor(ITransaction* tx) const override;
  // The routed partition's result; RC_NOT_OPENED on a closed store; RC_INVALID_PARAM for a
  // null key with a length above 0.
  int putTx0(ITransaction* tx, const void* key, size_t keyLen, const void* value, size_t valueLen,
             int policy) override;
  int removeTx0(ITransaction* tx, const void* key, size_t keyLen) override;
  int popTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
             size_t keyLen) override;
  int getTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
             size_t keyLen) const override;
  int existTx0(ITransaction* tx, const void* key, size_t keyLen) const override;

  virtual ITransaction* makeTransaction(unsigned flags) const;

 private:
  SKV_UniMKCStg(const SKV_UniMKCStg&) = delete;
  SKV_UniMKCStg& operator=(const SKV_UniMKCStg&) = delete;

  // Callers hold mutex.
  int _close();
  void _scanDBPaths();
  void _appyDBPaths();
  int _openPartitions(unsigned mode);
  void _printDBPaths() const;
  void _printDBEntries() const;
  // The partition for a key; null on a closed store. *kbuf becomes a valid buffer also for
  // an empty key. Exceptions of the hasher pass.
  SKV_KCStg* _route(const void* key, size_t keyLen, const char** kbuf) const;
  // A raw operation under mutex: RC_NOT_OPENED on a closed store, RC_INVALID_PARAM for a
  // null key with a length above 0, else op(routed partition, key buffer).
  template <typename Op>
  int _forward(const void* key, size_t keyLen, Op op) const;
  // The partition list, copied under mutex (the copies share the partitions).
  std::vector<DBEntry> _copyEntries() const;
  // The sum of one measure (kc_count, kc_size) over the copied partitions.
  int64_t _sum(uint64_t (SKV_KCStg::*measure)() const) const;
  // home + "/" + fileName (no second separator when home ends with one).
  xstring _homePath(const xstring& fileName) const;

  const KHasher* kHasher;
  std::vector<DBEntry> dbEntries;
  uint32_t openMode;
  // The configured candidates: kept across close, so a reopen finds the same files.
  std::set<xstring> _cfgPaths;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_SKV_UNIMKCSTG_H
