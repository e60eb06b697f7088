// Abstract storage layer of namespace wdb: result codes, transactions, cursors, the typed
// interface IStorage, its partial implementation AStorage (multi-item operations) and the
// byte-buffer interface ISKVStorage whose string operations map onto raw operations.
//
// Results: 0 success, a negated mopra::ECode value for a failure, and three positive
// successes (RC_REMOVE_SHORT_KEY, RC_REMOVE_NOTHING, RC_SCAN_EMPTY); callers test >= 0.
// Ownership: makeTransaction/makeCursor results belong to the caller; a raw value buffer
// from getTx0/popTx0 (value bytes and one NUL, not counted) belongs to the caller, who gives
// it back through freeData of the same store, or lets a ValueBuffer hold it.
// Threads: the interfaces hold no state that needs a lock (the multi-item limits are
// constant); each store guards itself, and a multi-item operation is a sequence of
// single-item calls that other threads may interleave with.
#ifndef TOKA_SRC_WDB_KC_ISKVSTORAGE_H
#define TOKA_SRC_WDB_KC_ISKVSTORAGE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "shared-types/mopra_types.h"
#include "src/wdb/INotification.h"
#include "src/xstring.h"

namespace wdb {

// Result codes of the stores.
const int RC_OK = 0;
const int RC_FAIL = -mopra::ECode::C_FAIL;                  // -1
const int RC_EXCEPTION = -mopra::ECode::EXCEPTION;          // -2
const int RC_NULL_PTR = -mopra::ECode::NULL_PTR;            // -3
const int RC_INVALID_PARAM = -mopra::ECode::INVALID_PARAM;  // -4
const int RC_INVALID_DATA = -mopra::ECode::INVALID_DATA;    // -5
const int RC_NOT_EXIST = -mopra::ECode::NOT_EXIST;          // -9
const int RC_ALREADY_EXIST = -mopra::ECode::ALREADY_EXIST;  // -10
const int RC_UNSUPPORTED = -mopra::ECode::UNSUPPORTED;      // -12
const int RC_UNDER_FLOW = -mopra::ECode::UNDER_FLOW;        // -16
const int RC_REACH_MAX = -mopra::ECode::REACH_MAX;          // -27
const int RC_NOT_OPENED = -mopra::ECode::NOT_OPENED;        // -28
// Positive results that count as success.
const int RC_REMOVE_SHORT_KEY = mopra::ECode::INVALID_PARAM;  // +4
const int RC_REMOVE_NOTHING = mopra::ECode::NOT_EXIST;        // +9
const int RC_SCAN_EMPTY = mopra::ECode::C_EMPTY;              // +11

// No store of the system implements transactions.
class ITransaction {
 public:
  virtual ~ITransaction();
  virtual int begin(unsigned flags = 0) = 0;
  virtual int commit() = 0;
  virtual int rollback() = 0;
};

// Applies the outcome to a transaction when it goes out of scope: commit when ok, rollback
// otherwise, then delete the transaction when owned. A null transaction is left alone.
class ScopeTransaction {
 public:
  ScopeTransaction(ITransaction* t, bool own) : tx(t), owns(own), ok(false) {}
  ~ScopeTransaction();

  ITransaction* tx;
  bool owns;
  bool ok;

 private:
  ScopeTransaction(const ScopeTransaction&) = delete;
  ScopeTransaction& operator=(const ScopeTransaction&) = delete;
};

template <typename K, typename V>
class ICursor {
 public:
  virtual ~ICursor() {}
  virtual int next(K& key, V& value) = 0;
};

// Raw cursor; no store of the system makes one. The buffers stay the cursor's.
class ISKVCursor {
 public:
  virtual ~ISKVCursor();
  virtual int reset() = 0;
  virtual int next0(void** key, size_t* keyLen, void** value, size_t* valueLen) = 0;
};

template <typename K, typename V>
class IStorage {
 public:
  virtual ~IStorage() {}
  virtual ITransaction* makeTransaction() const = 0;
  virtual ICursor<K, V>* makeCursor(ITransaction* tx) const = 0;
  virtual int flush() = 0;
  virtual bool empty() const = 0;
  virtual uint64_t size() const = 0;
  virtual uint64_t maxSize() const = 0;
  virtual void clear() = 0;
  virtual int putTx(ITransaction* tx, const K& key, const V& value, int policy) = 0;
  virtual int removeTx(ITransaction* tx, const K& key) = 0;
  virtual int popTx(ITransaction* tx, V& value, const K& key) = 0;
  virtual int getTx(ITransaction* tx, V& value, const K& key) const = 0;
  // 0 when the record is present.
  virtual int existTx(ITransaction* tx, const K& key) const = 0;
  virtual int notifProcTx(const void* context, ITransaction* tx, INotification* notif) = 0;
};

template <typename K, typename V, typename Item>
class AStorage : public IStorage<K, V> {
 public:
  AStorage() : maxMultiRead(50), maxMultiWrite(10) {}

  // The most keys one multiGetTx/multiExistTx call handles.
  const uint64_t maxMultiRead;
  // The most items one multiPutTx/multiRemoveTx/multiPopTx call handles.
  const uint64_t maxMultiWrite;

  int notifProcTx(const void*, ITransaction*, INotification*) override { return RC_UNSUPPORTED; }

  // Multi-item operations: items in input order, each through this object's own single-item
  // operation; a negative result is recorded in errors (when given) and becomes the result.
  // More items than the limit: the first `limit` are handled, then RC_REACH_MAX.
  virtual int multiPutTx(ITransaction* tx, std::map<K, int>* errors, const std::vector<Item>& items,
                         int policy) {
    return _forEach(
        items, maxMultiWrite, errors, [](const Item& item) -> const K& { return item.first; },
        [&](const Item& item) { return this->putTx(tx, item.first, item.second, policy); });
  }

  virtual int multiRemoveTx(ITransaction* tx, std::map<K, int>* errors,
                            const std::vector<K>& keys) {
    return _forEach(keys, maxMultiWrite, errors, _self,
                    [&](const K& key) { return this->removeTx(tx, key); });
  }

  // Pops every listed key, a repeated key again; a failed pop drops the value entry only
  // when this call made it.
  virtual int multiPopTx(ITransaction* tx, std::map<K, V>& values, std::map<K, int>* errors,
                         const std::vector<K>& keys) {
    return _forEach(keys, maxMultiWrite, errors, _self, [&](const K& key) {
      std::pair<typename std::map<K, V>::iterator, bool> ins = values.insert(
          std::make_pair(key, V()));
      const int r = this->popTx(tx, ins.first->second, key);
      if (r < 0 && ins.second) values.erase(ins.first);
      return r;
    });
  }

  // Fetches each key not yet in values; values gains exactly the keys found.
  virtual int multiGetTx(ITransaction* tx, std::map<K, V>& values, std::map<K, int>* errors,
                         const std::vector<K>& keys) const {
    return _forEach(keys, maxMultiRead, errors, _self, [&](const K& key) {
      std::pair<typename std::map<K, V>::iterator, bool> ins = values.insert(
          std::make_pair(key, V()));
      if (!ins.second) return RC_OK;  // fetched already (or the caller's): counted, kept
      const int r = this->getTx(tx, ins.first->second, key);
      if (r < 0) values.erase(ins.first);
      return r;
    });
  }

  // Absent keys are recorded with their negative code.
  virtual int multiExistTx(ITransaction* tx, std::map<K, int>* errors,
                           const std::vector<K>& keys) const {
    return _forEach(keys, maxMultiRead, errors, _self,
                    [&](const K& key) { return this->existTx(tx, key); });
  }

  // One putTx/getTx inside a transaction guard (no transaction with the stores of the system).
  int put(const K& key, const V& value, int policy) {
    ScopeTransaction guard(this->makeTransaction(), true);
    if (guard.tx) guard.tx->begin(0);
    const int r = this->putTx(guard.tx, key, value, policy);
    guard.ok = r >= 0;
    return r;
  }

  int get(V& value, const K& key) const {
    ScopeTransaction guard(this->makeTransaction(), true);
    if (guard.tx) guard.tx->begin(0);
    const int r = this->getTx(guard.tx, value, key);
    guard.ok = r >= 0;
    return r;
  }

 private:
  static const K& _self(const K& key) { return key; }

  // The loop of the multi-item operations: at most `limit` items in order (then
  // RC_REACH_MAX), each handled by `handle`; a negative result is recorded under keyOf(item)
  // in errors (when given) and becomes the result.
  template <typename T, typename KeyOf, typename Handle>
  static int _forEach(const std::vector<T>& items, uint64_t limit, std::map<K, int>* errors,
                      KeyOf keyOf, Handle handle) {
    int result = RC_OK;
    uint64_t count = 0;
    for (typename std::vector<T>::const_iterator it = items.begin(); it != items.end();
         ++it, ++count) {
      if (count >= limit) return RC_REACH_MAX;
      const int r = handle(*it);
      if (r < 0) {
        if (errors) (*errors)[keyOf(*it)] = r;
        result = r;
      }
    }
    return result;
  }
};

typedef std::pair<xstring, xstring> SKVItem;

// Raw value buffers: the buffers getTx0/popTx0 hand out (value bytes and one NUL).
// A store opened while the pooled allocator runs takes them from it (xa_malloc); a store
// opened after the allocator has stopped takes them from the system allocator, recorded in
// the allocator's after-stop registry, so that it reads back what it accepts. Thread-safe.
//
// True once the pooled allocator has stopped (it starts it when it has not started yet).
bool valueBuffersUnpooled() noexcept;
// A buffer of size bytes, pooled or not; null when none can be had.
void* newValueBuffer(size_t size, bool unpooled) noexcept;
// Releases a buffer of newValueBuffer of either kind; null is ignored. A pooled buffer
// released after the stop is kept, as xa_free keeps it.
void releaseValueBuffer(void* data) noexcept;

// Byte-buffer store: the string operations call the raw ones with the strings' bytes.
class ISKVStorage : public AStorage<xstring, xstring, SKVItem> {
 public:
  ~ISKVStorage() override;

  ICursor<xstring, xstring>* makeCursor(ITransaction* tx) const override;
  int putTx(ITransaction* tx, const xstring& key, const xstring& value, int policy) override;
  int removeTx(ITransaction* tx, const xstring& key) override;
  // The value is replaced by the popped or found bytes, or emptied when none came back.
  int popTx(ITransaction* tx, xstring& value, const xstring& key) override;
  int getTx(ITransaction* tx, xstring& value, const xstring& key) const override;
  int existTx(ITransaction* tx, const xstring& key) const override;

  // Releases a buffer returned by getTx0 or popTx0 (ValueBuffer below does it for a caller).
  virtual void freeData(void* data) const = 0;
  virtual ISKVCursor* makeSKVCursor(ITransaction* tx) const = 0;

  // The raw operations. Answers of the stores of the system:
  // - a closed store: RC_NOT_OPENED (the one-database and the uniform store); the contiguous
  //   store answers as for a key no partition holds (put RC_UNDER_FLOW, get/pop/exist
  //   RC_NOT_EXIST, remove RC_REMOVE_NOTHING);
  // - a failure: RC_FAIL when Kyoto Cabinet refused, RC_EXCEPTION when an exception was caught
  //   (its "[ERR]" line on standard error); RC_INVALID_PARAM for a null key with a length
  //   above 0 and, in the contiguous store, a key shorter than 2 bytes (remove:
  //   RC_REMOVE_SHORT_KEY).

  // 0 stored. Policy 1 add (RC_ALREADY_EXIST when the key is there), 2 update (RC_NOT_EXIST
  // when it is not), 3 add or update; any other RC_INVALID_PARAM.
  virtual int putTx0(ITransaction* tx, const void* key, size_t keyLen, const void* value,
                     size_t valueLen, int policy) = 0;
  // 0 removed; RC_REMOVE_NOTHING (+9, a success) when there was no record.
  virtual int removeTx0(ITransaction* tx, const void* key, size_t keyLen) = 0;
  // 0 with the record's value in *value (value bytes and one NUL not counted in *valueLen, for
  // freeData) and the record removed; RC_NOT_EXIST when there is no record. Whenever no
  // buffer is handed out *value is null or left as it was: callers set it to null first.
  virtual int popTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                     size_t keyLen) = 0;
  // As popTx0; the record stays.
  virtual int getTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                     size_t keyLen) const = 0;
  // 0 when the record is present; RC_NOT_EXIST when it is not.
  virtual int existTx0(ITransaction* tx, const void* key, size_t keyLen) const = 0;
};

// Owns one raw value buffer of a store: filled through out() and outLength() by getTx0 or
// popTx0 of that store, given back through the store's freeData when it goes (or on reset).
// The store must outlive it. Not copyable; used by one thread at a time.
class ValueBuffer {
 public:
  explicit ValueBuffer(const ISKVStorage& store) : _store(&store), _data(nullptr), _length(0) {}
  ~ValueBuffer() { reset(); }

  // The outputs for the raw operation; a buffer still held is released first.
  void** out() {
    reset();
    return &_data;
  }
  size_t* outLength() { return &_length; }

  // Null when no buffer is held.
  const void* data() const { return _data; }
  const char* chars() const { return static_cast<const char*>(_data); }
  size_t length() const { return _length; }
  void reset() {
    if (_data != nullptr) _store->freeData(_data);
    _data = nullptr;
    _length = 0;
  }

 private:
  ValueBuffer(const ValueBuffer&) = delete;
  ValueBuffer& operator=(const ValueBuffer&) = delete;
  const ISKVStorage* _store;
  void* _data;
  size_t _length;
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_ISKVSTORAGE_H
