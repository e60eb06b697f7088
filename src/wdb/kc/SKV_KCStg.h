// wdb::SKV_KCStg: one Kyoto Cabinet polymorphic database behind the byte-buffer interface.
//
// The store maps the put policies onto add/replace/set, copies values out inside Kyoto
// Cabinet's record lock into value buffers (value + one NUL; pooled, or from the system
// allocator when the store was opened after the allocator stopped; the caller gives them
// back through freeData), turns every failure into a result code and reports
// exceptions and failed opens/flushes/clears/closes as "[ERR] %s: %s\n" lines on standard
// error ("[inf]" lines of open on standard output). The database is opened with the
// extended open of kcext (tuning options "zcomp"/"zthrh" included) from the path followed by
// the tuning options; the store owns the database object.
// Threads: record operations may run on many threads at once (Kyoto Cabinet locks its
// records); writes that can log more than a page take one lock of the store (see below).
// open, close, setDBPath and setTuneOptions must not run concurrently with any other use of
// the same store.
//
// Write-ahead log: a hash or tree file opened for writing with automatic transactions logs
// every write in "<path>.wal". Kyoto Cabinet keeps that file between transactions and, after
// one of up to 16 KB, only overwrites the logged bytes with zeros. Linux ends a large write
// early, at a page boundary, when the process gets SIGKILL; a log message cut that way then
// reads as whole, its missing tail taken from those zeros, and the recovery at the next open
// copies the zeros over committed records. So the store keeps the log at most one page long
// between transactions: after each write that may have logged more, it cuts a longer log back
// to one page (under Kyoto Cabinet's exclusive lock, only when no transaction is open in it).
// A message cut at a page boundary then ends at the end of the file and is dropped. Writes
// that may log more than a page: every write of a tree file or of a hash file tuned with
// "apow" or "dfunit"; otherwise (a hash write logs record headers, bucket and meta data and at
// most twice the new record) only puts of 1 KB of key and value or more. Those writes run one
// at a time.
//
// This header also brings the interfaces (ISKVStorage.h), the typed adapter
// (TSKVAdapterStorage.h) and the key comparators (KComparator.h).
#ifndef TOKA_SRC_WDB_KC_SKV_KCSTG_H
#define TOKA_SRC_WDB_KC_SKV_KCSTG_H

#include <kcdb.h>

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "src/wdb/kc/ISKVStorage.h"
#include "src/wdb/kc/KComparator.h"
#include "src/wdb/kc/TSKVAdapterStorage.h"
#include "src/xstring.h"

namespace kyotocabinet {
class PolyDB;
}
namespace Poco {
namespace Util {
class AbstractConfiguration;
}
}  // namespace Poco

namespace wdb {

class SKV_KCStg : public ISKVStorage {
 public:
  SKV_KCStg();
  // Closes; a database object left by a close that failed with an exception is deleted.
  ~SKV_KCStg() override;

  // Kyoto Cabinet open-mode bits, passed through. 0 on success (also when already open),
  // RC_INVALID_DATA for an empty path, RC_INVALID_PARAM for a path holding '#' (Kyoto Cabinet
  // would read it as an option separator), RC_FAIL when the database does not open.
  // Kyoto Cabinet takes two thread-specific keys per open database and a process has 1024,
  // so about 510 databases can be open at once in a process, over all its stores; an open
  // beyond that fails with one more error line that names the cause. Close gives them back.
  int open(unsigned mode);
  // 0 when closed (also when it was not open); RC_FAIL when Kyoto Cabinet's close fails
  // (the database is closed all the same) or raises an exception (the store stays open).
  int close();
  bool isOpen() const { return polyDB != nullptr; }

  xstring getDBPath() const { return dbPath; }
  void setDBPath(const xstring& path) { dbPath = path; }
  xstring getTuneOptions() const { return tuneOptions; }
  void setTuneOptions(const xstring& options) { tuneOptions = options; }
  // Path from "<name>.dbpath" and tuning from "<name>.tune_options"; both required: a missing
  // key raises Poco::NotFoundException and leaves the store unchanged from that key on.
  void loadConfig(const char* name, const Poco::Util::AbstractConfiguration& config);

  uint64_t kc_count() const;
  uint64_t kc_size() const;
  // iterate (threads 0 or 1) or scan_parallel; lets exceptions through.
  int kc_iterate(kyotocabinet::DB::Visitor* visitor, size_t threads) const;

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
  // 0 removed; RC_REMOVE_NOTHING (+9) when there was no record; RC_FAIL when the database
  // refused for another reason.
  int removeTx0(ITransaction* tx, const void* key, size_t keyLen) override;
  // RC_EXCEPTION when no value buffer can be had: the record then stays in place.
  int popTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
             size_t keyLen) override;
  int getTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
             size_t keyLen) const override;
  int existTx0(ITransaction* tx, const void* key, size_t keyLen) const override;

  virtual ITransaction* makeTransaction(unsigned flags) const;

 protected:
  kyotocabinet::PolyDB* polyDB;  // owned; null while closed
  xstring dbPath;
  xstring tuneOptions;

  // Cuts the write-ahead log "<path>.wal" to `size` bytes when it is a regular file longer than
  // that; never creates it. Takes the log lock; the caller makes sure that no transaction is
  // halfway through the log. Never throws.
  void _cutLog(int64_t size);

 private:
  SKV_KCStg(const SKV_KCStg&) = delete;
  SKV_KCStg& operator=(const SKV_KCStg&) = delete;

  int _read(const char* place, bool remove, void** value, size_t* valueLen, const void* key,
            size_t keyLen) const;

  // Which writes may leave a write-ahead log longer than a page (see above).
  enum LogWatch { LOG_UNWATCHED, LOG_LARGE_PUTS, LOG_EVERY_WRITE };
  bool _watchesWrite(size_t keyLen, size_t valueLen) const {
    return _logWatch == LOG_EVERY_WRITE ||
           (_logWatch == LOG_LARGE_PUTS && keyLen + valueLen >= LARGE_PUT);
  }
  // Holds _logLock around a write that may log more than a page, and shortens the log after it.
  class LogWatchScope;
  // Cuts the write-ahead log back to one page when it is longer and no transaction is open in
  // it. Called with _logLock held; never throws.
  void _shortenLog();
  // The log's descriptor, opened on first need (-1 while the log does not exist). Called with
  // _logLock held.
  int _openLog();
  static const size_t LARGE_PUT = 1024;

  LogWatch _logWatch;
  int _logFd;  // "<path>.wal" once it exists, opened on first need; -1 before
  // Opened after the pooled allocator stopped: value buffers come from the system allocator.
  bool _unpooledBuffers;
  std::mutex _logLock;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_SKV_KCSTG_H
