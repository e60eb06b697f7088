// TessiX cache and module: the cache object tessi::TessiGeneric behind a TessiJNI handle
// with its item value Tessi_Value (and the value's hasher and comparators for the table
// templates of mopralib/inc/xds), the module functions tessix__* (log level, information
// text, start and stop of the pooled allocator, memory statistics) and the binding helpers
// of the cache and queue natives (debug dumps of keys and values, the error report
// jThrowException).
//
// The module log level and information text are a tjni::Module (src/jni/jni_module.h): one
// atomic word (0 at load), and a text built once, thread-safely, in plain storage that is
// never destroyed, so it outlives the allocator and the process exit. The other results are
// pooled strings that belong to the caller (system-allocated once the allocator has
// stopped).
//
// tessix__initialize starts the allocator, creates the cache's item pool and builds the
// process-wide key-lock array once; every cache and every queue calls it. tessix__uninitialize
// stops the allocator only while no cache or queue of this library is alive (src/xlive.h);
// otherwise it prints an error line and leaves it running.
//
// Threads: every module function may be called from any thread. They take no lock of their
// own (the allocator's start lock, and the item pool's and key-lock array's once-only
// guards). TessiGeneric's locking is told at the class.
#ifndef TOKA_SRC_TESSIX_IMPL_H
#define TOKA_SRC_TESSIX_IMPL_H

#include <jni.h>

#include <boost/shared_ptr.hpp>
#include <atomic>
#include <cstdint>
#include <string_view>

#include "src/jni/jni_log.h"
#include "src/xlive.h"
#include "src/xstring.h"

#include "mopralib/inc/xds/xhash_compare.h"
#include "mopralib/inc/xds/xtable_item.h"
#include "mopralib/inc/xds/xlru_table_impl.h"

// Module functions of TessiX.
void tessix__setLogLevel(int level);  // any value is accepted
int tessix__getLogLevel();
xstring tessix__info();  // a copy of the information text
// Starts the allocator, the item pool and the key-lock array of n mutexes (a negative n
// counts as 0; the array is built by the first call with n above 0). Always 1.
int tessix__initialize(int n);
// Stops the allocator for good, unless caches or queues are alive (then an error line).
void tessix__uninitialize();
// Dumps of the huge, big and normal allocators (kind 0: all, 1 normal, 2 big, 3 huge;
// any other kind: empty).
xstring tessix__memstat(int kind);

// The module level tests of the callers: errors, information lines, debug dumps.
bool tessix__errOn();
bool tessix__infOn();
bool tessix__dbgOn();

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
  // From a key (any byte string with data() and size()); everything else default.
  template <typename _Key>
  explicit Tessi_Value(const _Key& k)
      : key(k.data(), k.size()), flags(0), compressMed(0), expiry(0) {}
  Tessi_Value(const Tessi_Value& other) = default;
};

// Bucket and key lock of an item: the 32-bit Jenkins hash of its key.
struct Tessi_Value_Hasher {
  static uint64_t HASH(const Tessi_Value& v) { return jenkins_hasher::HASH(v.key); }
};
// Order of the index chains: the keys' byte order.
struct Tessi_Value_Comparator {
  static int COMPARE(const Tessi_Value& a, const Tessi_Value& b) {
    return Comparator::COMPARE(a.key, b.key);
  }
};
// A bare key (any byte string with data() and size()) against an item.
struct Key_Tessi_Value_Comparator {
  template <typename _Key>
  static int COMPARE(const _Key& key, const Tessi_Value& v) {
    return Comparator::COMPARE(key, v.key);
  }
};

namespace tessi {

// The binding's log helpers are the JNI helper layer's (src/jni/jni_log.h): key and value
// dumps and the error line of a failure report.
// jThrowException is the reporter of the JNI helper layer (tjni::Reporter) for the TessiX
// natives.
using tjni::dumpKey;
using tjni::dumpValue;
using tjni::dumpKeyValue;
using tjni::jThrowException;

// The cache's instances of the table templates: entries, handles and the process-wide
// key-lock array (shared with the queues through tessix__initialize).
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
  // lruSize below 1. std::bad_alloc when the table's bucket array cannot be had. Calls
  // tessix__initialize(10000).
  TessiGeneric(int64_t tblSize, int64_t lruSize);
  ~TessiGeneric();

  // The largest table size accepted: its bucket array (16 bytes per bucket, a power of two
  // of them) stays within 4 GiB.
  static const int64_t kMaxTblSize = int64_t(1) << 28;

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
  // As get, the item leaving the table; an unreadable or expired item is removed too. When
  // the Java result cannot be made (the VM's exception stays pending) the item stays, with
  // its flags, expiry and LRU place. Puts of the same key meanwhile cost at most one more
  // result: the pop then takes the key's present item out of the table before it makes the
  // result, and when that result cannot be made gives the item back at the LRU head (unless
  // the key was stored again meanwhile: the newer item stays).
  jobject pop(JNIEnv* env, const char* key, int keyLen, bool asString);
  bool remove(const char* key, int keyLen);
  // check true: present and readable (an expired item is removed); false: present.
  bool exist(const char* key, int keyLen, bool check);
  // The flags widened with their sign; -1 when absent.
  int getItemFlag(const char* key, int keyLen);
  // op 1 set, 2 and, 3 or, 4 xor, 5 not; false for a missing item or another op.
  bool setItemFlag(const char* key, int keyLen, int value, int op);
  // Seconds until expiry, expiry minus now in 32-bit arithmetic (negative once expired,
  // minus the current time without expiry); -1 when absent.
  int getItemTimeExp(const char* key, int keyLen);
  // Moves the expiry by delta seconds in 32-bit arithmetic (it may wrap); false when absent.
  bool extItemTimeExp(const char* key, int keyLen, int delta);

 private:
  TessiGeneric(const TessiGeneric&) = delete;
  TessiGeneric& operator=(const TessiGeneric&) = delete;

  void _ctorItem(TableItem& item, const char* key, int keyLen, const char* value, int valueLen,
                 bool flag, int expire);
  // Readable now; an expired item is removed when asked, if the table still holds this
  // very entry (a fresh put under the key meanwhile stays). Caller holds the key lock.
  bool _canExtract(TableItem& item, bool removeExpired);
  // A work buffer for compression and decompression: pooled while the allocator runs,
  // from the system heap once it has stopped (so a cache keeps working then); freed by its
  // destructor. get() is null when no memory was had.
  class Scratch {
   public:
    Scratch() : _data(nullptr), _pooled(false) {}
    ~Scratch() { reset(); }
    // A new buffer of length bytes (the old one is freed first); false without memory.
    bool allocate(size_t length);
    void reset();
    char* get() const { return _data; }

   private:
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    char* _data;
    bool _pooled;
  };

  // The decompressed bytes into buffer, followed by one NUL byte that *length does not
  // count; false (an information line) on failure.
  bool _decompress(const TableItem& item, Scratch& buffer, size_t* length);
  jobject _extract(JNIEnv* env, TableItem& item, bool asString, bool removeExpired);
  // pop's second attempt: takes the key's entry out of the table, then makes its result.
  jobject _popTakenOut(JNIEnv* env, std::string_view key, bool asString);
  // The Java result of a readable item, or null when it could not be made.
  jobject _result(JNIEnv* env, const TableItem& item, bool asString);

  XLiveToken _live;  // first: counted until everything below is gone
  std::atomic<int32_t> _compressMed;
  std::atomic<int32_t> _thresholdComp;
  std::atomic<int32_t> _expTime;
  int64_t _tblSize;
  int64_t _lruSize;
  boost::shared_ptr<TessiTable> _table;
};

}  // namespace tessi

#endif  // TOKA_SRC_TESSIX_IMPL_H
