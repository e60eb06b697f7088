// wdb::SKV_ContMKCStg: the contiguous partitioned store. Records are spread over partition
// databases (one SKV_KCStg each, files "<dbName>-<index>.<dbType>" in the home directory) so
// that every partition holds one contiguous key range starting at its smallest key (keyMin).
// A key above the greatest key seen (KeyMAX) goes to the newest partition, a new partition is
// opened first when the newest one is full, and the oldest one is retired (renamed ".obs")
// when more than `partitions` are live. The meta database "<dbName>.kct" records the live
// partitions (see SKV_ContMKCStg_priv.h for its format). Every partition keeps its keyMin
// under the reserved one-byte key 0x00; user keys are at least 2 bytes long.
//
// Ownership: value buffers from getTx0/popTx0 belong to the caller (freeData). The key
// comparator is not owned. Partition databases are shared: a total (kc_count, kc_size,
// kc_iterate) or the background KeyMAX scan keeps the partitions it works on alive, and the
// last holder of a dropped partition closes it.
//
// Threads: every public operation is safe to call concurrently. Locks, always in this order:
// `mutex` (every public operation; the totals only while they copy the partition list), then
// `keyMaxMutex` (KeyMAX alone; also taken alone by getKeyMax and the KeyMAX task); internal
// task/user counters take a leaf lock of their own. Every lock and thread of the store is
// POCO's. The KeyMAX scan runs on POCO's default thread pool (or a thread of its own when the
// pool is full) without `mutex`; close and the destructor wait for it and for the totals
// still working on partitions.
#ifndef TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_H
#define TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_H

#include <Poco/Mutex.h>
#include <kcdb.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "src/wdb/kc/ISKVStorage.h"
#include "src/wdb/kc/KComparator.h"
#include "src/wdb/kc/PartitionedSettings.h"
#include "src/wdb/kc/SKV_KCStg.h"
#include "src/xstring.h"

namespace apache {
namespace thrift {
namespace protocol {
class TProtocol;
}
}  // namespace thrift
}  // namespace apache
namespace Poco {
class Thread;
namespace Util {
class AbstractConfiguration;
}
}  // namespace Poco

namespace wdb {

class IterateKeyMAXProc;
class IterateKeyRangeProc;
class TaskGate;

// Home, name, type, tuning, partition count (the most partitions kept live) and candidate
// paths, with their getters and setters, and the store mutex are PartitionedSettings'.
class SKV_ContMKCStg : public ISKVStorage, public PartitionedSettings {
 public:
  typedef wdb::KComparator KComparator;

  // One partition record. Copies share the partition database.
  struct DBEntry {
    std::shared_ptr<SKV_KCStg> db;
    uint32_t index;
    xstring keyMin;  // empty while unknown

    DBEntry() : index(0) {}
    DBEntry(const std::shared_ptr<SKV_KCStg>& d, uint32_t i, const xstring& k)
        : db(d), index(i), keyMin(k) {}

    // Thrift struct "DBEntry": field 1 "path" (db's path; db must be set), field 2 "keyMin".
    // Both return the bytes written or read; read lets the protocol's exceptions through.
    uint32_t write(apache::thrift::protocol::TProtocol* oprot) const;
    uint32_t read(apache::thrift::protocol::TProtocol* iprot);
  };
  typedef std::vector<DBEntry> DBEntries;

  // Orders records by keyMin in the store's key order.
  struct DBECmpByKeyMin {
    explicit DBECmpByKeyMin(const KComparator* c) : cmp(c) {}
    bool operator()(const DBEntry& a, const DBEntry& b) const;
    const KComparator* cmp;
  };
  // Orders records by index.
  struct DBECmpByPartition {
    bool operator()(const DBEntry& a, const DBEntry& b) const { return a.index < b.index; }
  };

  SKV_ContMKCStg();
  // Closes (waiting for the background scan and the totals still at work).
  ~SKV_ContMKCStg() override;

  // Reads "<name>.home" and "<name>.dbname" (required: POCO's not-found exception passes),
  // ".dbtype", ".partitions", ".tune_options", ".partition_megabytes", ".partition_records"
  // and ".partitions[i].path". A limit of 0 or below (or a negative partition count) is
  // refused with a warning line and the old value kept. Returns 0.
  int loadConfig(const std::string& name, const Poco::Util::AbstractConfiguration& config);

  void setKComparator(const KComparator* comparator);
  const KComparator* getKComparator() const;
  void setPartitionBytes(uint64_t bytes);
  uint64_t getPartitionBytes() const;
  void setPartitionRecords(uint32_t records);
  uint32_t getPartitionRecords() const;

  // 0; RC_INVALID_DATA for an incomplete configuration or names too long for their files;
  // the meta database's negative open result; RC_FAIL when a partition file that exists
  // cannot be opened or scanned (the store stays closed, the file stays in place). A
  // file-system exception (listing the home directory) passes out after rolling back to
  // closed. An open store answers 0 and stays as it is.
  int open(unsigned mode);
  // Always 0. Waits for the KeyMAX scan and for totals working on partitions.
  int close();
  bool isOpen() const;

  // Gives an empty store its first partition with the lower bound key: 0; RC_INVALID_PARAM
  // for a null or short key; RC_ALREADY_EXIST when partitions exist; RC_NOT_OPENED on a
  // closed store; the negative result of the partition creation.
  int setKeyMin(const void* key, size_t keyLen);
  xstring getKeyMin() const;
  // KeyMAX once known, else empty.
  xstring getKeyMax() const;

  int64_t kc_count() const;
  int64_t kc_size() const;
  // The visitor must not call back into this store: a close meanwhile waits for the walk
  // while it holds the store's lock.
  int kc_iterate(kyotocabinet::DB::Visitor* visitor, uint64_t threads) const;

  ITransaction* makeTransaction() const override;
  int flush() override;
  bool empty() const override;
  uint64_t size() const override;
  uint64_t maxSize() const override;
  void clear() override;

  void freeData(void* data) const override;
  ISKVCursor* makeSKVCursor(ITransaction* tx) const override;
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
  friend class IterateKeyMAXProc;
  friend class IterateKeyRangeProc;

  SKV_ContMKCStg(const SKV_ContMKCStg&) = delete;
  SKV_ContMKCStg& operator=(const SKV_ContMKCStg&) = delete;

  // What the KeyMAX scan works on, taken under `mutex` when it starts.
  struct KeyMaxJob {
    std::shared_ptr<SKV_KCStg> db;
    xstring keyMin;
    const KComparator* comparator;
    uint32_t generation;
  };

  // Meta database (SKV_ContMKCStg_priv.cpp); `mutex` held.
  int _storeMeta();
  int _loadMeta();
  // "num_partitions" and "newest_partition"; "partition-<index>" of one record (when it
  // serializes). Results ignored.
  void _putMetaCounts();
  void _putMetaEntry(const DBEntry& entry);
  // Opening and partition lifecycle (SKV_ContMKCStg_priv.cpp); `mutex` held.
  void _scanDBPaths();
  void _appyDBPaths();
  // Opens the window of at most `partitions` records from the newest down, then joins the
  // keyMin scans it started, then retires what lies beyond the window or holds no user key.
  int _openPartitions(unsigned mode);
  struct PartitionOpening;
  void _openWindow(unsigned mode, PartitionOpening& opening);
  void _joinScans(PartitionOpening& opening);
  void _retireBeyondWindow(const PartitionOpening& opening);
  // Starts the keyMin scan of a record on a thread of its own and returns the thread for the
  // caller to join and delete; null when the scan already ran here (no thread to be had).
  Poco::Thread* _iterateKeyRangeThread(DBEntry* entry, int* result);
  int _iterateKeyRange(DBEntry* entry);
  bool _obsoleteDBFile(const xstring& path);
  void _sortDBEntries(DBEntries& entries, bool verify);
  void _verifyDBEntriesOrder(const DBEntries& entries);
  int _createNewPartition(const void* key, size_t keyLen);
  void _closeLocked();
  void _warnPartitionBytes();
  void _printDBEntries(const DBEntries& entries) const;
  void _printDBPaths() const;

  // Routing and KeyMAX (SKV_ContMKCStg.cpp).
  int _compare(const void* a, size_t aLen, const void* b, size_t bLen) const;
  bool _equal(const void* a, size_t aLen, const void* b, size_t bLen) const;
  const DBEntry* _findDBEntry(const DBEntries& entries, const void* key, size_t keyLen) const;
  static DBEntries::iterator _findDBEntry(DBEntries& entries, uint32_t index);
  bool _needCreateNewPartition() const;
  // A record operation other than put: shortKey for a null or short key, noPartition when no
  // partition holds the key, else op(partition) under `mutex`; RC_EXCEPTION (with the error
  // line at place) for an exception.
  template <typename Op>
  int _forward(const char* place, const void* key, size_t keyLen, int shortKey, int noPartition,
               Op op) const;
  // The key against KeyMAX; for putTx0 while KeyMAX is known, `mutex` held: then only holders
  // of `mutex` change keyMax, so it is read without keyMaxMutex (one lock less per put).
  int _cmpKeyMax(const void* key, size_t keyLen) const;
  int _udpKeyMax(const void* key, size_t keyLen);
  void _forceUdpKeyMax(const void* key, size_t keyLen);
  void _asynIterateKeyMAX();
  int _iterateKeyMAX(const KeyMaxJob& job);
  void _waitKeyMaxTask();
  // The partition list for a total: copied under `mutex` and counted in `_users`; the caller
  // signs off from `_users` once it has dropped the copies.
  DBEntries _acquireEntries() const;
  // The sum of one measure (kc_count, kc_size) over the partitions, outside `mutex`.
  int64_t _sum(uint64_t (SKV_KCStg::*measure)() const) const;

  const KComparator* kComparator;
  DBEntries dbEntries;
  std::shared_ptr<SKV_KCStg> _metaDB;
  uint32_t openMode;
  uint64_t partitionBytes;
  uint32_t partitionRecords;
  uint32_t newestPartition;
  std::atomic<int32_t> keyMaxReady;
  xstring keyMax;
  mutable Poco::FastMutex keyMaxMutex;

  // Bumped by every open and close (under keyMaxMutex): a scan of an older open never marks
  // KeyMAX known, and stops early.
  std::atomic<uint32_t> _generation;
  // Running KeyMAX tasks; shared with them so that a task may sign off after the store.
  std::shared_ptr<TaskGate> _keyMaxTasks;
  // The KeyMAX scan's own thread when the pool had none free; joined by close.
  std::unique_ptr<Poco::Thread> _keyMaxThread;
  // Totals working on copied partitions.
  std::shared_ptr<TaskGate> _users;
  // Size of an empty partition file for (dbType, tuneOptions), measured once per setting.
  xstring _probedSetting;
  int64_t _probedBytes;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_H
