// TessiX binding: the module functions tessix__* (log level, information text, start and
// stop of the pooled allocator, memory statistics) and the binding helpers of the cache and
// queue natives (debug dumps of keys and values, the error report jThrowException).
//
// The module log level is one atomic word (0 at load). The information text and the build
// stamp are built once, thread-safely, in plain storage that is never destroyed, so they
// outlive the allocator and the process exit. The other results are pooled strings that
// belong to the caller (system-allocated once the allocator has stopped).
//
// tessix__initialize starts the allocator, creates the cache's item pool and builds the
// process-wide key-lock array once; every cache and every queue calls it. tessix__uninitialize
// stops the allocator only while no cache or queue of this library is alive (src/xlive.h);
// otherwise it prints an error line and leaves it running.
//
// Threads: every function may be called from any thread. They take no lock of their own
// (the allocator's start lock, and the item pool's and key-lock array's once-only guards).
#ifndef TOKA_SRC_TESSIX_IMPL_H
#define TOKA_SRC_TESSIX_IMPL_H

#include <jni.h>

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>

#include "src/xlive.h"
#include "src/xstring.h"

#if __has_include("mopralib/inc/xds/xlru_table_impl.h")
#define TESSIX_HAVE_TABLE 1
#include "mopralib/inc/xds/xlru_table_impl.h"
#include "mopralib/inc/xds/xtable_item.h"
#endif

// Module functions of TessiX.
void tessix__setLogLevel(int level);  // any value is accepted
int tessix__getLogLevel();
xstring tessix__info();               // a copy of the information text
// Starts the allocator, the item pool and the key-lock array of n mutexes (a negative n
// counts as 0; the array is built by the first call with n above 0). Always 1.
int tessix__initialize(int n);
// Stops the allocator for good, unless caches or queues are alive (then an error line).
void tessix__uninitialize();
// Dumps of the huge, big and normal allocators (kind 0: all, 1 normal, 2 big, 3 huge;
// any other kind: empty).
xstring tessix__memstat(int kind);

// The module level tests of the callers: errors, information lines, debug dumps.
inline bool tessix__errOn() { return tessix__getLogLevel() > 1; }
inline bool tessix__infOn() { return tessix__getLogLevel() > 3; }
inline bool tessix__dbgOn() { return tessix__getLogLevel() > 4; }

#ifdef TESSIX_HAVE_TABLE
// The value of a cache item (the payload of a table entry). flags bit 0 or 1 makes the item
// unreadable; compressMed 1 means data holds snappy-compressed bytes; expiry is in whole
// seconds since 1970 (0: none).
struct Tessi_Value {
  xstring key;
  int16_t flags;
  uint16_t compressMed;
  uint32_t expiry;
  xstring data;

  Tessi_Value() : flags(0), compressMed(0), expiry(0) {}
  explicit Tessi_Value(const xstring& k) : key(k), flags(0), compressMed(0), expiry(0) {}
  Tessi_Value(const Tessi_Value& other) = default;
};

// Bucket and key lock of an item: the 32-bit Jenkins hash of its key.
struct Tessi_Value_Hasher {
  static uint64_t HASH(const Tessi_Value& v) { return jenkins_hasher<xstring>::HASH(v.key); }
};
// Order of the index chains: the keys' byte order.
struct Tessi_Value_Comparator {
  static int COMPARE(const Tessi_Value& a, const Tessi_Value& b) {
    return Comparator<xstring>::COMPARE(a.key, b.key);
  }
};
// A bare key against an item.
struct Key_Tessi_Value_Comparator {
  static int COMPARE(const xstring& key, const Tessi_Value& v) {
    return Comparator<xstring>::COMPARE(key, v.key);
  }
};
#endif

namespace tessi {

// Debug lines "key[%d]=\"%s\"", "value[%d]=\"%s\"" and "key[%d]=\"%s\", value[%d]=\"%s\""
// at place: a buffer prints as at most its length of bytes, ending early at a NUL; null as
// "<null>". They do not test the module level.
void dumpKey(const char* place, const char* key, int keyLen);
void dumpValue(const char* place, const char* value, int valueLen);
void dumpKeyValue(const char* place, const char* key, int keyLen, const char* value,
                  int valueLen);
// Error line "[ERR] jThrowException: Exception <clsName> occurred: <message>" at every level
// (a null message prints as empty); raises no Java exception. Never throws. It is the
// reporter of the JNI helper layer (tjni::Reporter) for the TessiX natives.
void jThrowException(JNIEnv* jenv, const char* clsName, const char* message);

#ifdef TESSIX_HAVE_TABLE
typedef xlru_item_entry<Tessi_Value, 1> TableEntry;
typedef xtable_item<TableEntry, Tessi_Value_Hasher, 1> TableItem;
typedef global_locks<TableEntry, 1> TableLocks;
typedef xlru_table<TableEntry, Tessi_Value_Hasher, Tessi_Value_Hasher, Tessi_Value_Comparator,
                   xtable_null_event<Tessi_Value>, 1, 0>
    TessiTable;

// The cache object behind a TessiJNI handle: byte-string values under byte-string keys in
// one LRU table, with per-item flags, expiry and snappy compression above a threshold.
//
// Ownership: the cache owns its table; items live while the table or a handle holds them.
// get and pop return new local references (or null) that belong to the Java caller.
// Threads: every operation may run concurrently with every other on one cache (not with the
// destructor). Structural work takes the table lock; an item's value is read and changed
// only under its key lock, which is taken after the table call that found the item and
// may be held while the table lock is taken (never the reverse). The settings are relaxed
// atomics: a put sees either the old or the new value of each.
class TessiGeneric {
 public:
  // Refused with wexception (nothing is built): tblSize below 2 or above kMaxTblSize,
  // lruSize below 1. Calls tessix__initialize(10000).
  TessiGeneric(int64_t tblSize, int64_t lruSize);
  ~TessiGeneric();

  // The largest table size accepted: its bucket array (8 bytes per bucket, rounded up to a
  // power of two) stays within 8 GiB.
  static const int64_t kMaxTblSize = int64_t(1) << 30;

  int64_t getTblSize() const { return _tblSize; }
  int64_t getLruSize() const { return _lruSize; }
  // Refused with an error line (level 2 and above): a negative expiry or threshold, a
  // method other than 0, 1, 2.
  void setExpTime(int value);
  void setCompressMed(int value);
  void setThresholdComp(int value);
  int getExpTime() const { return _expTime.load(std::memory_order_relaxed); }
  int getCompressMed() const { return _compressMed.load(std::memory_order_relaxed); }
  int getThresholdComp() const { return _thresholdComp.load(std::memory_order_relaxed); }

  uint64_t size() const;
  void clear();

  // mode: 1 add, 2 update, 3 add or update; others refused. flag false stores flags 1
  // (unreadable). expire: seconds from now, 0 for none. value may be null (empty value).
  bool put(const char* key, int keyLen, const char* value, int valueLen, bool flag, int expire,
           int mode);
  // A fresh byte array, or a string up to the value's first NUL byte; null when absent,
  // unreadable, expired (get removes the expired item) or when the Java result cannot be made.
  jobject get(JNIEnv* env, const char* key, int keyLen, bool asString);
  jobject pop(JNIEnv* env, const char* key, int keyLen, bool asString);
  bool remove(const char* key, int keyLen);
  // check true: present and readable (an expired item is removed); false: present.
  bool exist(const char* key, int keyLen, bool check);
  // The flags widened with their sign; -1 when absent.
  int getItemFlag(const char* key, int keyLen);
  // op 1 set, 2 and, 3 or, 4 xor, 5 not; false for a missing item or another op.
  bool setItemFlag(const char* key, int keyLen, int value, int op);
  // Seconds until expiry (negative once expired, minus the current time without expiry);
  // -1 when absent.
  int getItemTimeExp(const char* key, int keyLen);
  // Moves the expiry by delta seconds; false when absent.
  bool extItemTimeExp(const char* key, int keyLen, int delta);

 private:
  TessiGeneric(const TessiGeneric&) = delete;
  TessiGeneric& operator=(const TessiGeneric&) = delete;

  void _ctorItem(TableItem& item, const char* key, int keyLen, const char* value, int valueLen,
                 bool flag, int expire);
  // Readable now; an expired item is removed when asked, if the table still holds this
  // very entry (a fresh put under the key meanwhile stays). Caller holds the key lock.
  bool _canExtract(TableItem& item, bool removeExpired);
  // A length-prefixed pooled buffer (xa_delete) of the decompressed bytes followed by one
  // NUL byte that *length does not count; null on failure.
  char* _decompress(const TableItem& item, size_t* length);
  jobject _extract(JNIEnv* env, TableItem& item, bool asString, bool removeExpired);

  XLiveToken _live;  // first: counted until everything below is gone
  std::atomic<int32_t> _compressMed;
  std::atomic<int32_t> _thresholdComp;
  std::atomic<int32_t> _expTime;
  int64_t _tblSize;
  int64_t _lruSize;
  boost::shared_ptr<TessiTable> _table;
};
#endif

}  // namespace tessi

#endif  // TOKA_SRC_TESSIX_IMPL_H
