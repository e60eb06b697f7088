// xlru_table: a hash table of reference-counted entries (mopralib/inc/xds/xtable_item.h)
// with a bounded least-recently-used list; the chief header (the add, update,
// add_or_update and warmup operations live in xlru_table_main_impl/).
//
// The main index is an xassoc (src/xds/xassoc.h) with a bucket count fixed at
// construction. Every entry of the index is in the LRU list (head: most recently used).
// When an insertion leaves more than lru_size entries, entries are evicted from the LRU
// tail down to lru_size - lru_size / 10000, stopping at a tail that is dirty or not
// evictable. With dirty tracking (constructor's enable_dirty) the table also keeps a list of
// changed entries and a list plus index of deleted keys (tombstones); the cache runs
// without it.
//
// Ownership: the table stores the very entry of the handle it is given and holds one
// reference on each entry of its indexes; it hands entries out by giving a handle a
// reference. An entry that leaves the table (pop, remove, eviction, clear, replacement)
// lives on while handles hold it, with its table links cleared. An entry is in at most one
// table at a time.
//
// Keys: lookups by a bare key take any key type K for which xtable_key_traits<value_type>
// hashes and compares (by default jenkins_hasher over K and Comparator against the value's
// `key` member); the key hash must equal _DataHasher's hash of a value with that key. A
// view type (std::string_view) saves a copy of the key per lookup; pop_key and remove_key
// also build a value from the key (tombstones), so for them value_type(K) must exist.
// Every operation hashes its key once: both indexes are searched with that hash, and when
// _DataLockHasher is _DataHasher a handle the table fills takes its key lock from it too.
//
// The cache's instance: xlru_table<xlru_item_entry<Tessi_Value, 1>, Tessi_Value_Hasher,
// Tessi_Value_Hasher, Tessi_Value_Comparator, xtable_null_event<Tessi_Value>, 1, 0>, built
// with (table size, LRU size, false, true).
//
// Threads: every operation runs under the one table lock (xspin_mutex (an adaptive mutex)
// through ScopeRWLock; size and has_key take it in the read kind, which is the same
// exclusive lock), so operations are serialised; the counters are atomic. add,
// add_or_update and warmup release the lock before they evict, which takes it again. The
// lock is held as briefly as the steps allow: bare keys are hashed before it is taken (a
// handle's value under it, by the index hasher), and entries that leave the table (removed,
// replaced, evicted) are released after it is released, so that no memory is freed under it
// (clear excepted).
// Lock order: a key lock may be held while the table lock is taken (removing an expired item
// under its key lock), never the reverse: the table takes no key lock, and handles it fills
// are reset after the table lock is released. Debug builds check this (xlock_order.h).
#ifndef TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_IMPL_H
#define TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_IMPL_H

#include <Poco/Mutex.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "mopralib/inc/xds/ScopeRWLock.h"
#include "mopralib/inc/xds/xhash_compare.h"
#include "mopralib/inc/xds/xlock_order.h"
#include "mopralib/inc/xds/xspin_mutex.h"
#include "mopralib/inc/xds/xtable_event.h"
#include "mopralib/inc/xds/xtable_item.h"
#include "src/xcheck.h"
#include "src/xds/xassoc.h"

namespace Poco {
class Thread;
}
namespace apache {
namespace thrift {
namespace protocol {
class TProtocol;
}
}  // namespace thrift
}  // namespace apache

// How a table finds values by a bare key. Specialise for a value whose key is not its
// `key` member or that needs another key comparator.
template <typename _Value>
struct xtable_key_traits {
  template <typename _Key>
  static uint64_t HASH(const _Key& key) {
    return jenkins_hasher::HASH(key);
  }
  template <typename _Key>
  static int COMPARE(const _Key& key, const _Value& value) {
    return Comparator::COMPARE(key, value.key);
  }
};

template <typename _ItemEntry, typename _DataLockHasher, typename _DataHasher,
          typename _DataComparator, typename _TableEvent, unsigned GLOBAL_LOCKS_INST,
          unsigned THIS_CONTAINER>
class xlru_table {
 public:
  typedef xtable_item<_ItemEntry, _DataLockHasher, GLOBAL_LOCKS_INST> table_item;
  typedef _ItemEntry ItemEntry;
  typedef typename _ItemEntry::value_type value_type;
  typedef _TableEvent event_type;

  // Change kinds of the dirty field and the change log (the DataCommand numbers).
  enum change_kind : uint8_t { CLEAN = 0, ADD = 1, UPDATE = 2, ADD_OR_UPDATE = 3, DELETE = 4 };

  // The nine counters, in order.
  enum counter_id {
    CNT_SPARE1 = 0,   // changed by nothing; clear keeps it
    CNT_BK_HAS,       // back-end existence lookups
    CNT_BK_GET,       // back-end reads
    CNT_BK_HAS_MISS,  // back-end existence misses
    CNT_BK_GET_MISS,  // back-end read misses
    CNT_SPARE2,
    CNT_SPARE3,
    CNT_DIRTY,      // entries in the dirty list
    CNT_DIRTY_DEL,  // entries in the dirty-delete list
    CNT_COUNT
  };

  // table_size >= 2 (>= 200 with enable_dirty), lru_size >= 1: broken otherwise. Throws
  // std::bad_alloc (nothing left allocated) when an index's bucket array cannot be had.
  xlru_table(uint64_t table_size, uint64_t lru_size, bool enable_dirty, bool fourth_flag);
  ~xlru_table();

  xlru_table(const xlru_table&) = delete;
  xlru_table& operator=(const xlru_table&) = delete;

  // Stores the handle's entry when its key is absent; true when inserted.
  bool add(table_item& data);
  // Replaces the entry of the handle's key when present; true when replaced. Never evicts.
  bool update(table_item& data);
  // Stores the handle's entry, replacing any entry of its key.
  void add_or_update(table_item& data);
  // Stores the entry as clean; with the key present and force false, fills out (when given)
  // with the present entry and answers false.
  bool warmup(table_item* out, table_item& data, bool force);

  // On a hit the handle shares the entry, which becomes the most recently used.
  template <typename _Key>
  bool get_key(table_item& data, const _Key& key);
  // As get_key without the LRU move: the entry keeps its place.
  template <typename _Key>
  bool peek_key(table_item& data, const _Key& key);
  // No LRU move.
  template <typename _Key>
  bool has_key(const _Key& key);
  // On a hit the handle holds the removed entry; on a miss it is emptied.
  template <typename _Key>
  bool pop_key(table_item& data, const _Key& key);
  template <typename _Key>
  bool remove_key(const _Key& key);
  // Removes the handle's entry only when it is still the one the table holds (identity, as
  // eviction finds its victims): an entry another thread replaced meanwhile is left alone.
  // True when removed. For callers that hold the entry's key lock (expired items).
  bool remove_if_same(const table_item& data);

  void evict_lru();
  // Empties the table; counters 2 to 9 start again from 0.
  void clear();
  uint64_t size();

  uint64_t lru_size() const { return _lru_size; }
  uint64_t counter(counter_id id) const { return _counters[id].load(std::memory_order_relaxed); }

  // For diagnostics and tests, each under the table lock: the LRU ends, the list heads, and a
  // full check of the invariants (false on the first breach).
  _ItemEntry* lru_head();
  _ItemEntry* lru_tail();
  _ItemEntry* dirty_head();
  _ItemEntry* dirty_del_head();
  uint64_t dirty_del_size();
  bool check_invariants();

  // Index policies.
  static uint64_t HASH(const void* entry) { return _DataHasher::HASH(_E(entry)->value); }
  static int COMPARE(const void* a, const void* b) {
    return a == b ? 0 : _DataComparator::COMPARE(_E(a)->value, _E(b)->value);
  }
  static int COMPARE_PTR(const void* a, const void* b) { return a == b ? 0 : 1; }

 private:
  // The table lock with the lock-order bookkeeping.
  class _table_lock {
   public:
    _table_lock(xspin_mutex& mutex, int kind) : _guard(mutex, 0) {
      xlock_order::before_table_lock();
      if (kind == LockType::READ)
        _guard.LockRead(false);
      else
        _guard.LockWrite(false);
      xlock_order::table_locked();
    }
    ~_table_lock() { unlock(); }
    void unlock() {
      if (_guard.Unlock()) xlock_order::table_unlocked();
    }

   private:
    ScopeRWLock<xspin_mutex> _guard;
  };

  // Entries whose last table reference is dropped once the table lock is released: declared
  // before the lock guard, destroyed after it. Holds a bounded number; beyond it, entries are
  // released in place.
  class _deferred {
   public:
    _deferred() : _n(0) {}
    ~_deferred() {
      for (int i = 0; i < _n; ++i) delete_shobject(_e[i], &table_item::DTOR, &table_item::FREE);
    }
    // Takes one more reference on e, to be dropped later, when there is room.
    void hold(void* e) {
      if (_n < kCapacity) _e[_n++] = sh_shobject(e);
    }

   private:
    _deferred(const _deferred&) = delete;
    _deferred& operator=(const _deferred&) = delete;
    enum { kCapacity = 64 };
    void* _e[kCapacity];
    int _n;
  };

  struct _find_results {
    xassoc_find_result del = {nullptr, nullptr, -1};   // in the dirty-delete index
    xassoc_find_result main = {nullptr, nullptr, -1};  // in the main index (when del found nothing)
  };

  static const _ItemEntry* _E(const void* p) { return static_cast<const _ItemEntry*>(p); }
  static _ItemEntry* _E(void* p) { return static_cast<_ItemEntry*>(p); }
  // A link (typed as the base that declares it) as the table's entry type.
  template <typename _Link>
  static _ItemEntry* _D(_Link* p) {
    return static_cast<_ItemEntry*>(p);
  }

  bool _dirty_on() const {
    return _enable_dirty && _dirty_switch.load(std::memory_order_acquire) != 0;
  }
  bool _is_dumping() const { return _dumping.load(std::memory_order_acquire) > 0; }

  // Each operation hashes its key once; the lookups of both indexes (and, where the lock
  // hasher is the index hasher, the key lock of a handle filled) use that hash.
  template <typename _Key>
  static uint64_t _key_hash(const _Key& key) {
    return xtable_key_traits<value_type>::HASH(key);
  }
  // Fills a handle with an entry of the table whose key hash h is known.
  static void _reset_hashed(table_item& data, _ItemEntry* e, uint64_t h) {
    if (std::is_same<_DataLockHasher, _DataHasher>::value)
      data.reset(e, h);
    else
      data.reset(e);
  }
  static void _find_in(xassoc_find_result& r, xassoc* index, const _ItemEntry* e, uint64_t h) {
    xassoc_find_hashed(&r, index, h, [e](const void* o) { return COMPARE(e, o); });
  }
  // Finds the entry e itself (not another with its key) in the main index.
  void _find_same(xassoc_find_result& r, const void* e, uint64_t h) {
    xassoc_find_hashed(&r, _main, h, [e](const void* o) { return COMPARE_PTR(e, o); });
  }
  template <typename _Key>
  static void _find_key_in(xassoc_find_result& r, xassoc* index, const _Key& key, uint64_t h) {
    xassoc_find_hashed(&r, index, h, [&key](const void* o) {
      return xtable_key_traits<value_type>::COMPARE(key, _E(o)->value);
    });
  }
  template <typename _Key>
  void _find_key(_find_results& r, const _Key& key, uint64_t h);
  void _find(_find_results& r, _ItemEntry* e, uint64_t h);
  void _find_for_add(_find_results& r, _ItemEntry* e, uint64_t h);

  void _link_lru(_ItemEntry* e);
  void _unlink_lru(_ItemEntry* e);
  static void _detach_lru(_ItemEntry* e);
  // One of the two dirty lists (both chain through dirty_next/dirty_prev): its ends, its
  // counter, and whether an entry already marked ADD..ADD_OR_UPDATE stays as it is when linked
  // again (the dirty list) or is moved to the tail (the dirty-delete list).
  struct _dirty_list {
    _ItemEntry*& head;
    _ItemEntry*& tail;
    counter_id count;
    bool keeps_first_kind;
  };
  _dirty_list _changed() { return {_dirty_head, _dirty_tail, CNT_DIRTY, true}; }
  _dirty_list _deleted() { return {_dirty_del_head, _dirty_del_tail, CNT_DIRTY_DEL, false}; }
  // Appends e to the list with the given kind, taking it out of any list it is in first.
  void _link_dirty(_dirty_list l, _ItemEntry* e, uint8_t kind);
  // Takes e out of the list; nothing when e is not in a list.
  void _unlink_dirty(_dirty_list l, _ItemEntry* e);
  static void _detach_dirty(_ItemEntry* e);
  static bool _in_list(_ItemEntry* e, _ItemEntry* head, _ItemEntry* tail);
  bool _has_dirty() const { return _dirty_head != nullptr || _dirty_del_head != nullptr; }

  // get_key (move: the hit becomes the most recently used) and peek_key.
  template <typename _Key>
  bool _get(table_item& data, const _Key& key, bool move);
  // A new reference on the handle's entry, made clean and evictable for storing.
  _ItemEntry* _take(table_item& data);
  // Removes the main-index entry r.main.found, whose key hash is h (change log, tombstone,
  // links, index).
  void _remove_found(const _find_results& r, uint64_t h, _deferred& later);
  // Puts a tombstone of the key into the dirty-delete index at r.del.
  template <typename _Key>
  void _tombstone(const _find_results& r, const _Key& key);
  void _log(uint16_t kind, _ItemEntry* e);
  // Publishes the main index's count for the lock-free early exit of evict_lru.
  void _sync_count() { _count.store(xassoc_get_size(_main), std::memory_order_relaxed); }
  // Clears every list and the links of the entries in them (entries may outlive the table).
  void _clear_links();

  uint64_t _lru_size;
  xassoc* _main;
  std::atomic<uint64_t> _count;  // the main index's count, written under the table lock
  xspin_mutex _lock;
  std::atomic<uint64_t> _counters[CNT_COUNT];
  _ItemEntry* _lru_head;
  _ItemEntry* _lru_tail;
  std::atomic<int32_t> _dirty_switch;
  bool _enable_dirty;
  bool _fourth_flag;  // kept as given; no operation reads it
  _ItemEntry* _dirty_head;
  _ItemEntry* _dirty_tail;
  _ItemEntry* _dirty_del_head;
  _ItemEntry* _dirty_del_tail;
  xassoc* _dirty_del;
  // Dump state: inert in this system (dumping is never raised).
  std::atomic<int32_t> _dumping;
  int64_t _dump_mark;
  uint64_t _dump_count;
  std::vector<std::pair<uint16_t, _ItemEntry*>> _change_log;  // each entry holds a reference
  std::shared_ptr<Poco::Thread> _dump_thread;
  std::shared_ptr<apache::thrift::protocol::TProtocol> _dump_protocol;
};

#define XLRU_TABLE_TEMPLATE                                                             \
  template <typename _ItemEntry, typename _DataLockHasher, typename _DataHasher,        \
            typename _DataComparator, typename _TableEvent, unsigned GLOBAL_LOCKS_INST, \
            unsigned THIS_CONTAINER>
#define XLRU_TABLE                                                                   \
  xlru_table<_ItemEntry, _DataLockHasher, _DataHasher, _DataComparator, _TableEvent, \
             GLOBAL_LOCKS_INST, THIS_CONTAINER>

XLRU_TABLE_TEMPLATE
XLRU_TABLE::xlru_table(uint64_t table_size, uint64_t lru_size, bool enable_dirty, bool fourth_flag)
    : _lru_size(lru_size),
      _main(nullptr),
      _count(0),
      _lru_head(nullptr),
      _lru_tail(nullptr),
      _dirty_switch(enable_dirty ? 1 : 0),
      _enable_dirty(enable_dirty),
      _fourth_flag(fourth_flag),
      _dirty_head(nullptr),
      _dirty_tail(nullptr),
      _dirty_del_head(nullptr),
      _dirty_del_tail(nullptr),
      _dirty_del(nullptr),
      _dumping(0),
      _dump_mark(-1),
      _dump_count(0) {
  for (auto& c : _counters) c.store(0, std::memory_order_relaxed);
  XCHECK(_lru_size > 0, "_lru_size > 0");
  _main = new_xassoc(table_size, 0, &HASH, &COMPARE, &table_item::DTOR, &table_item::FREE);
  if (_main == nullptr) throw std::bad_alloc();  // the bucket array could not be had
  if (enable_dirty) {
    _dirty_del = new_xassoc(table_size / 100, 0, &HASH, &COMPARE, &table_item::DTOR,
                            &table_item::FREE);
    if (_dirty_del == nullptr) {
      delete_xassoc(_main);
      throw std::bad_alloc();
    }
  }
}

XLRU_TABLE_TEMPLATE
XLRU_TABLE::~xlru_table() {
  _clear_links();
  delete_xassoc(_main);
  delete_xassoc(_dirty_del);
  for (auto& change : _change_log)
    delete_shobject(change.second, &table_item::DTOR, &table_item::FREE);
}

// ---- lookups -------------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
template <typename _Key>
void XLRU_TABLE::_find_key(_find_results& r, const _Key& key, uint64_t h) {
  if (_dirty_del != nullptr) {
    _find_key_in(r.del, _dirty_del, key, h);
    if (r.del.found != nullptr) return;
  }
  _find_key_in(r.main, _main, key, h);
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_find(_find_results& r, _ItemEntry* e, uint64_t h) {
  if (_dirty_del != nullptr) {
    _find_in(r.del, _dirty_del, e, h);
    if (r.del.found != nullptr) return;
  }
  _find_in(r.main, _main, e, h);
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_find_for_add(_find_results& r, _ItemEntry* e, uint64_t h) {
  if (_dirty_del != nullptr) {
    _find_in(r.del, _dirty_del, e, h);
    if (r.del.found != nullptr) {  // the pending delete of the key is dropped
      _unlink_dirty(_deleted(), _E(r.del.found));
      xassoc_remove(_dirty_del, &r.del);
    }
  }
  _find_in(r.main, _main, e, h);
}

// ---- LRU list ------------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_detach_lru(_ItemEntry* e) {
  if (e->lru_prev != nullptr) e->lru_prev->lru_next = e->lru_next;
  if (e->lru_next != nullptr) e->lru_next->lru_prev = e->lru_prev;
  e->lru_next = nullptr;
  e->lru_prev = nullptr;
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_link_lru(_ItemEntry* e) {
  if (_lru_head == nullptr) {
    _detach_lru(e);
    _lru_head = _lru_tail = e;
    return;
  }
  if (e == _lru_head) return;
  if (e == _lru_tail) _lru_tail = _D(e->lru_prev);
  _detach_lru(e);
  e->lru_next = _lru_head;
  e->lru_prev = _lru_head->lru_prev;  // null: the head has no predecessor
  _lru_head->lru_prev = e;
  _lru_head = e;
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_unlink_lru(_ItemEntry* e) {
  if (_lru_head == nullptr) return;
  if (e == _lru_head) _lru_head = _D(e->lru_next);
  if (e == _lru_tail) _lru_tail = _D(e->lru_prev);
  _detach_lru(e);
}

// ---- dirty lists ---------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_detach_dirty(_ItemEntry* e) {
  if (e->dirty_prev != nullptr) e->dirty_prev->dirty_next = e->dirty_next;
  if (e->dirty_next != nullptr) e->dirty_next->dirty_prev = e->dirty_prev;
  e->dirty_next = nullptr;
  e->dirty_prev = nullptr;
}

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::_in_list(_ItemEntry* e, _ItemEntry* head, _ItemEntry* tail) {
  return e == head || e == tail || e->dirty_next != nullptr || e->dirty_prev != nullptr;
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_link_dirty(_dirty_list l, _ItemEntry* e, uint8_t kind) {
  // In the dirty list an entry stays once, with its first kind.
  if (l.keeps_first_kind && l.head != nullptr && e->dirty >= ADD && e->dirty <= ADD_OR_UPDATE)
    return;
  _detach_dirty(e);
  e->dirty = kind;
  e->evictable = false;
  if (l.head == nullptr) {
    l.head = l.tail = e;
  } else {
    e->dirty_prev = l.tail;
    l.tail->dirty_next = e;
    l.tail = e;
  }
  _counters[l.count].fetch_add(1, std::memory_order_relaxed);
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_unlink_dirty(_dirty_list l, _ItemEntry* e) {
  if (l.head == nullptr || !_in_list(e, l.head, l.tail)) return;
  _counters[l.count].fetch_sub(1, std::memory_order_relaxed);
  if (e == l.head) l.head = _D(e->dirty_next);
  if (e == l.tail) l.tail = _D(e->dirty_prev);
  _detach_dirty(e);
}

// ---- shared steps --------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
_ItemEntry* XLRU_TABLE::_take(table_item& data) {
  _ItemEntry* e = data.duplicate();
  _detach_dirty(e);
  e->dirty = CLEAN;
  e->evictable = true;
  return e;
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_log(uint16_t kind, _ItemEntry* e) {
  _change_log.emplace_back(kind, static_cast<_ItemEntry*>(sh_shobject(e)));
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_remove_found(const _find_results& r, uint64_t h, _deferred& later) {
  _ItemEntry* e = _E(r.main.found);
  later.hold(e);
  if (_is_dumping()) _log(DELETE, e);
  _ItemEntry* d = (_dirty_on() && _dirty_del != nullptr) ? static_cast<_ItemEntry*>(sh_shobject(e))
                                                         : nullptr;
  _unlink_lru(e);
  _unlink_dirty(_changed(), e);
  xassoc_remove(_main, &r.main);  // releases the index's reference
  _sync_count();
  if (d != nullptr) {
    xassoc_find_result rd;
    _find_in(rd, _dirty_del, d, h);
    xassoc_insert(_dirty_del, &rd, d);
    _link_dirty(_deleted(), d, DELETE);
  }
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
void XLRU_TABLE::_tombstone(const _find_results& r, const _Key& key) {
  if (!_dirty_on() || _dirty_del == nullptr) return;
  table_item t;
  t.ctor1(key);
  _ItemEntry* d = t.duplicate();
  xassoc_insert(_dirty_del, &r.del, d);  // r.del is the not-found position of the key
  _link_dirty(_deleted(), d, DELETE);
  if (_is_dumping()) _log(DELETE, d);
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::_clear_links() {
  for (_ItemEntry* e = _lru_head; e != nullptr;) {
    _ItemEntry* next = _D(e->lru_next);
    e->lru_next = nullptr;
    e->lru_prev = nullptr;
    e->dirty_next = nullptr;
    e->dirty_prev = nullptr;
    e = next;
  }
  for (_ItemEntry* e = _dirty_del_head; e != nullptr;) {
    _ItemEntry* next = _D(e->dirty_next);
    e->dirty_next = nullptr;
    e->dirty_prev = nullptr;
    e = next;
  }
  _lru_head = _lru_tail = nullptr;
  _dirty_head = _dirty_tail = nullptr;
  _dirty_del_head = _dirty_del_tail = nullptr;
}

// ---- key operations ------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::get_key(table_item& data, const _Key& key) {
  return _get(data, key, true);
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::peek_key(table_item& data, const _Key& key) {
  return _get(data, key, false);
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::_get(table_item& data, const _Key& key, bool move) {
  const uint64_t h = _key_hash(key);
  xassoc_prefetch_bucket(_main, h);
  // A hit is usually read under its key lock next.
  if (std::is_same<_DataLockHasher, _DataHasher>::value)
    table_item::locks_type::prefetch_at_hash(h);
  _table_lock lock(_lock, LockType::WRITE);
  _find_results r;
  _find_key(r, key, h);
  if (r.del.found != nullptr || r.main.found == nullptr) return false;
  _ItemEntry* e = _E(r.main.found);
  if (move) _link_lru(e);
  sh_shobject(e);
  lock.unlock();
  _reset_hashed(data, e, h);  // outside the table lock: may release the handle's previous entry
  return true;
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::has_key(const _Key& key) {
  const uint64_t h = _key_hash(key);
  _table_lock lock(_lock, LockType::READ);
  _find_results r;
  _find_key(r, key, h);
  return r.del.found == nullptr && r.main.found != nullptr;
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::pop_key(table_item& data, const _Key& key) {
  const uint64_t h = _key_hash(key);
  _deferred later;
  _table_lock lock(_lock, LockType::WRITE);
  _find_results r;
  _find_key(r, key, h);
  if (r.del.found != nullptr) return false;
  if (r.main.found != nullptr) {
    _ItemEntry* e = static_cast<_ItemEntry*>(sh_shobject(r.main.found));
    _remove_found(r, h, later);
    lock.unlock();
    _reset_hashed(data, e, h);
    return true;
  }
  _tombstone(r, key);
  lock.unlock();
  data.reset();
  return false;
}

XLRU_TABLE_TEMPLATE
template <typename _Key>
bool XLRU_TABLE::remove_key(const _Key& key) {
  const uint64_t h = _key_hash(key);
  _deferred later;
  _table_lock lock(_lock, LockType::WRITE);
  _find_results r;
  _find_key(r, key, h);
  if (r.del.found != nullptr) return false;
  if (r.main.found != nullptr) {
    _remove_found(r, h, later);
    return true;
  }
  _tombstone(r, key);
  return false;
}

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::remove_if_same(const table_item& data) {
  if (data.is_null()) return false;
  _deferred later;
  _table_lock lock(_lock, LockType::WRITE);
  const uint64_t h = HASH(data.get_ptr());
  _find_results r;
  _find_same(r.main, data.get_ptr(), h);
  if (r.main.found == nullptr) return false;
  _remove_found(r, h, later);
  return true;
}

// ---- eviction, clear, size -----------------------------------------------------------

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::evict_lru() {
  // Nothing to do below the LRU size. The count read here is at least the one this thread's
  // own insertion left; an insertion it does not see runs its own eviction.
  if (_count.load(std::memory_order_relaxed) <= _lru_size) return;
  _deferred later;
  _table_lock lock(_lock, LockType::WRITE);
  if (xassoc_get_size(_main) <= _lru_size) return;
  const uint64_t target = _lru_size - _lru_size / 10000;
  while (xassoc_get_size(_main) > target) {
    _ItemEntry* e = _lru_tail;
    XCHECK(e != nullptr, "_lru_tail != 0");
    if (e->dirty != CLEAN || !e->evictable) break;
    _find_results r;
    _find_same(r.main, e, HASH(e));
    XCHECK(r.main.found != nullptr, "find_result.found != 0");
    _unlink_lru(e);
    _unlink_dirty(_changed(), e);
    later.hold(e);
    xassoc_remove(_main, &r.main);
  }
  _sync_count();
}

XLRU_TABLE_TEMPLATE
void XLRU_TABLE::clear() {
  _table_lock lock(_lock, LockType::WRITE);
  _clear_links();
  xassoc_clear(_dirty_del);
  xassoc_clear(_main);
  _sync_count();
  for (int i = CNT_BK_HAS; i < CNT_COUNT; ++i) _counters[i].exchange(0);
}

XLRU_TABLE_TEMPLATE
uint64_t XLRU_TABLE::size() {
  _table_lock lock(_lock, LockType::READ);
  return xassoc_get_size(_main);
}

// ---- diagnostics ---------------------------------------------------------------------

XLRU_TABLE_TEMPLATE
_ItemEntry* XLRU_TABLE::lru_head() {
  _table_lock lock(_lock, LockType::READ);
  return _lru_head;
}

XLRU_TABLE_TEMPLATE
_ItemEntry* XLRU_TABLE::lru_tail() {
  _table_lock lock(_lock, LockType::READ);
  return _lru_tail;
}

XLRU_TABLE_TEMPLATE
_ItemEntry* XLRU_TABLE::dirty_head() {
  _table_lock lock(_lock, LockType::READ);
  return _dirty_head;
}

XLRU_TABLE_TEMPLATE
_ItemEntry* XLRU_TABLE::dirty_del_head() {
  _table_lock lock(_lock, LockType::READ);
  return _dirty_del_head;
}

XLRU_TABLE_TEMPLATE
uint64_t XLRU_TABLE::dirty_del_size() {
  _table_lock lock(_lock, LockType::READ);
  return xassoc_get_size(_dirty_del);
}

XLRU_TABLE_TEMPLATE
bool XLRU_TABLE::check_invariants() {
  _table_lock lock(_lock, LockType::READ);
  if ((_lru_head == nullptr) != (_lru_tail == nullptr)) return false;
  uint64_t n = 0;
  for (_ItemEntry* e = _lru_head; e != nullptr; e = _D(e->lru_next)) {
    if (++n > xassoc_get_size(_main)) return false;
    if (e->lru_next == nullptr ? e != _lru_tail : e->lru_next->lru_prev != e) return false;
    xassoc_find_result r;
    _find_same(r, e, HASH(e));
    if (r.found != e) return false;
    if (_dirty_del != nullptr) {
      xassoc_find(&r, _dirty_del, e);
      if (r.found != nullptr) return false;  // a key is never in both indexes
    }
  }
  if (n != xassoc_get_size(_main)) return false;
  uint64_t dirty = 0, del = 0;
  for (_ItemEntry* e = _dirty_head; e != nullptr; e = _D(e->dirty_next)) {
    ++dirty;
    if (e->dirty < ADD || e->dirty > ADD_OR_UPDATE || e->evictable) return false;
  }
  for (_ItemEntry* e = _dirty_del_head; e != nullptr; e = _D(e->dirty_next)) {
    ++del;
    if (e->dirty != DELETE || e->evictable) return false;
  }
  return dirty == counter(CNT_DIRTY) && del == counter(CNT_DIRTY_DEL) &&
         del == xassoc_get_size(_dirty_del);
}

#include "mopralib/inc/xds/xlru_table_main_impl.h"

#undef XLRU_TABLE
#undef XLRU_TABLE_TEMPLATE

#endif  // TOKA_MOPRALIB_INC_XDS_XLRU_TABLE_IMPL_H
