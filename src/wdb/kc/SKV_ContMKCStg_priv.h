// Private unit of the contiguous store: the meta database format and its writer/reader, the
// meta database with its write batches, the log lines, the partition database with a
// reader-locked scan, the background tasks and the task counter.
//
// Meta database "<dbName>.kct" (a file tree database), records written with put policy 3:
//   "num_partitions"   4 bytes, live partition count, unsigned 32-bit little-endian
//   "newest_partition" 4 bytes, index of the newest partition, unsigned 32-bit little-endian
//   "partition-<i>"    Thrift binary struct DBEntry {1: string path, 2: string keyMin}:
//                      0B 0001 <P: i32 BE> path 0B 0002 <K: i32 BE> keyMin 00 (15 + P + K)
//
// Ownership: strings returned belong to the caller; a task object owns itself and deletes
// itself at the end of its run. Threads: the free functions are stateless and thread-safe;
// TaskGate locks a leaf mutex of its own (never held while another lock is taken); the meta
// database and its batches are used only by holders of the store's mutex.
#ifndef TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_PRIV_H
#define TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_PRIV_H

#include <Poco/Condition.h>
#include <Poco/Mutex.h>
#include <Poco/Runnable.h>
#include <kcdb.h>
#include <kcpolydb.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_KCStg.h"
#include "src/xstring.h"

namespace apache {
namespace thrift {
namespace transport {
class TMemoryBuffer;
}
}  // namespace thrift
}  // namespace apache

namespace wdb {

// The reserved key under which every partition keeps its keyMin.
extern const char kReservedKey[1];
extern const char kMetaNumPartitions[];    // "num_partitions"
extern const char kMetaNewestPartition[];  // "newest_partition"

// Log lines of the store (storelog.h), whatever the log level. "[inf] place: text\n" and
// "[WRN] place: text\n" on standard output, "[ERR] place: text\n" on standard error; lines
// without prefix on standard output. Never throw.
void contPrintInf(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void contPrintWrn(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void contPrintErr(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void contPrintLine(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The error line of a caught exception: what() of a standard exception, else
// "Unknown exception". Call inside a catch block only.
void contPrintCurrentException(const char* place) noexcept;

// The store's key order: the comparator when set, else byte order (a key before every longer
// key that begins with it). Equality: the comparator's equal, else same length and bytes.
int compareKeys(const KComparator* cmp, const void* a, size_t aLen, const void* b, size_t bLen);
bool equalKeys(const KComparator* cmp, const void* a, size_t aLen, const void* b, size_t bLen);

// "partition-<index>": the meta record key of a partition, also the name of its scan task.
// Formatted by the C library, so it comes out right in every allocator state.
xstring metaPartitionKey(uint32_t index);

// Key bytes as a printable C text: up to keyLen bytes, ending at a zero byte.
xstring keyText(const void* key, size_t keyLen);

// A 4-byte meta value in host byte order.
xstring encodeMetaU32(uint32_t value);
// The first 4 bytes of a meta value; false when it is shorter.
bool decodeMetaU32(const xstring& value, uint32_t* out);

// Serializes one record through a protocol over a Thrift memory buffer of the default
// capacity (1024 bytes), made on first use.
template <class Record, class Protocol>
class TSerializer {
 public:
  TSerializer();
  ~TSerializer();
  // Bytes written, or 0 when any exception was raised.
  uint32_t serialize(const Record& record);
  // The serialized bytes (from the buffer's start to its write position).
  xstring bytes() const;

 private:
  TSerializer(const TSerializer&) = delete;
  TSerializer& operator=(const TSerializer&) = delete;
  std::shared_ptr<apache::thrift::transport::TMemoryBuffer> _buffer;
};

// A "partition-<i>" value for a path and keyMin: 15 + P + K bytes; empty when it cannot be
// written (no memory, a part longer than 2^31 - 1 bytes).
xstring encodeMetaEntry(const xstring& path, const xstring& keyMin);
// Reads a "partition-<i>" value through the binary protocol over the bytes (no copy). A field
// missing leaves its output as it was. Returns the bytes read; 0 for a value that is cut
// short, has a negative length, is empty or otherwise fails to decode. Never throws.
uint32_t decodeMetaEntry(const void* data, size_t size, xstring* path, xstring* keyMin);

// A partition database whose internal scans take Kyoto Cabinet's reader lock (scan_parallel
// with one thread) instead of freezing the database as iterate does. The checker may abort
// the scan.
class ContPartitionDB : public SKV_KCStg {
 public:
  // 0, RC_FAIL when Kyoto Cabinet failed or the checker aborted, RC_NOT_OPENED when closed.
  int scanReadLocked(kyotocabinet::DB::Visitor* visitor,
                     kyotocabinet::BasicDB::ProgressChecker* checker) const;
};
// The meta database. Its writes come in groups (the write-back at open, the records of a new
// partition) that reach the file as a whole, in one Kyoto Cabinet transaction each.
//
// Kyoto Cabinet keeps its write-ahead log file ("<path>.wal") from one transaction to the next
// and, at commit, only overwrites the logged bytes with zeros. Linux ends a large write early,
// at a page boundary, when the process gets SIGKILL; a log message cut that way then reads as
// whole, its missing tail taken from the zeros of an earlier transaction, and the recovery at
// the next open copies those zeros over records already committed ("broken file" on reopen).
// Tree leaves are several kilobytes, so their messages cross pages. Each batch therefore
// starts on an empty log, where a cut message ends at the end of the file and is dropped.
class ContMetaDB : public SKV_KCStg {
 public:
  // Kyoto Cabinet's begin_transaction / end_transaction (the log emptied before and after);
  // false when closed or on failure.
  bool beginBatch(bool hard);
  bool endBatch(bool commit);

 private:
  // Truncates the write-ahead log to 0 bytes when it is a regular file; never creates it.
  // Not after a transaction failed to end: Kyoto Cabinet may still need its log then.
  void _emptyLog();
  bool _logReusable = true;
};

// One group of meta writes inside one transaction of the meta database: committed by commit(),
// rolled back when the batch ends without it (an exception mid-way), so the file holds either
// the old or the new group. A meta database that is no ContMetaDB, is closed or refuses the
// transaction gets the writes one by one, as without a batch.
class MetaBatch {
 public:
  MetaBatch(const std::shared_ptr<SKV_KCStg>& meta, bool hard);
  ~MetaBatch();
  // True when the transaction was committed (or there was none to commit).
  bool commit();

 private:
  MetaBatch(const MetaBatch&) = delete;
  MetaBatch& operator=(const MetaBatch&) = delete;
  ContMetaDB* _db;  // null: no transaction running
};

// scanReadLocked on a ContPartitionDB, kc_iterate with 0 threads on any other store.
int scanPartition(const SKV_KCStg& db, kyotocabinet::DB::Visitor* visitor,
                  kyotocabinet::BasicDB::ProgressChecker* checker);

// Scans a partition for its greatest (sign > 0) or smallest (sign < 0) key of 2 bytes or more
// and widens `bound` to it (an empty bound takes the first key; a partition without such a key
// leaves it as it is). A scan whose generation has moved on (gen not null, *gen != mine) only
// skips the remaining records. Returns scanPartition's result, or RC_EXCEPTION after printing
// the error line at `place`. Never throws.
int scanKeyBound(const SKV_KCStg& db, xstring* bound, const KComparator* cmp, int sign,
                 const std::atomic<uint32_t>* gen, uint32_t mine, const char* place);

// Counts running tasks or users; waitIdle blocks until the count is 0.
class TaskGate {
 public:
  TaskGate() : _count(0) {}
  void enter();
  void leave();
  void waitIdle();

 private:
  Poco::FastMutex _m;
  Poco::Condition _idle;
  int _count;
};

// The KeyMAX task: scans the job's partition, merges the result, signs off from the gate and
// deletes itself. Holds the partition and a copy of its keyMin, so it never reads the list.
class IterateKeyMAXProc : public Poco::Runnable {
 public:
  IterateKeyMAXProc(SKV_ContMKCStg* store, const SKV_ContMKCStg::KeyMaxJob& job,
                    const std::shared_ptr<TaskGate>& gate);
  ~IterateKeyMAXProc() override;
  void run() override;

 private:
  SKV_ContMKCStg* _store;
  SKV_ContMKCStg::KeyMaxJob _job;
  std::shared_ptr<TaskGate> _gate;
};

// The keyMin scan of one partition record during open; the open joins its thread. Deletes
// itself at the end of its run. *result gets the scan's result.
class IterateKeyRangeProc : public Poco::Runnable {
 public:
  IterateKeyRangeProc(const xstring& name, SKV_ContMKCStg* store, SKV_ContMKCStg::DBEntry* entry,
                      int* result);
  ~IterateKeyRangeProc() override;
  void run() override;

 private:
  xstring _name;
  SKV_ContMKCStg* _store;
  SKV_ContMKCStg::DBEntry* _entry;
  int* _result;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_SKV_CONTMKCSTG_PRIV_H
