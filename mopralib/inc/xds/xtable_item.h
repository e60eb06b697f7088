// xtable_item: the handle on one reference-counted table entry, with the entry pool and the
// per-key lock guards.
//
// A handle holds one reference on its entry (or none: empty) and a pointer to the key lock
// of the entry's key, taken from global_locks by _DataLockHasher::HASH of the value (null
// when the handle is empty or the key-lock array is empty). The ctor operations make a new
// entry with reference count 1; duplicate() takes one more reference; reset() takes over
// one; the destructor releases the handle's. The last release destroys the value (DTOR) and
// frees the block (FREE). Handles are not copyable: share an entry with duplicate/reset.
//
// Entry memory (static members, one set per entry type): MALLOC gives a block from the
// entry pool once INIT_POOL has added it to the default slab set, otherwise a
// self-describing block over malloc. The class exists in every stripe of the set
// (src/xlabs.h): POOL is stripe 0's copy, the one the set's lookups and dumps show, and
// MALLOC takes from the calling thread's stripe copy, so that threads on different stripes
// take different pool locks. Each block records where it came from, and FREE hands it
// back there (a pool chunk to the pool that owns its page, whichever thread frees it); a
// pool block freed after the allocator stopped is kept (as the stop keeps its page). POOL and its
// stripe copies are set once and then fixed for the life of the process; after the stop
// MALLOC leaves them alone and falls back to malloc, and INIT_POOL makes no new attempt (a
// process that stops before its first INIT_POOL reports the failed attempt once). Blocks
// are laid out so that the entry after the 16-bit reference count is naturally aligned; the
// pool's class size is POOL_CLASS_SIZE (entry, count, alignment room), or the nearest
// larger size the slab set accepts when a class of that size exists already.
//
// Threads: a handle is used by one thread at a time; reference counts are atomic, so
// handles on different threads may share an entry. The value of a shared entry is read or
// written only under its key lock: scope_read_lock / scope_write_lock (the same exclusive
// mutex). INIT_POOL is serialised by a lock of its own and adds the pool under the
// allocator's start lock. Lock order: a key lock may be held while a table lock is taken,
// never the reverse, and one thread holds at most one key lock; debug builds abort on a
// breach (mopralib/inc/xds/xlock_order.h).
#ifndef TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_H
#define TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_H

#include <Poco/Mutex.h>
#include <pthread.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "mopralib/inc/xds/global_locks.h"
#include "mopralib/inc/xds/xlock_order.h"
#include "mopralib/inc/xds/xtable_item_entry.h"
#include "src/xcheck.h"
#include "src/xds/shobject.h"
#include "src/xlabs.h"
#include "src/xpool.h"
#include "wexception.h"

template <typename _ItemEntry, typename _DataLockHasher, unsigned GLOBAL_LOCKS_INST>
class xtable_item {
 public:
  typedef _ItemEntry ItemEntry;
  typedef typename _ItemEntry::value_type value_type;
  typedef global_locks<_ItemEntry, GLOBAL_LOCKS_INST> locks_type;

  // What the shared object asks MALLOC for: one entry and its reference count.
  static constexpr size_t ENTRY_BLOCK_SIZE = sizeof(_ItemEntry) + sizeof(uint16_t);
  // Class size of the entry pool: the block plus room to align the entry.
  static constexpr size_t POOL_CLASS_SIZE = ENTRY_BLOCK_SIZE + alignof(_ItemEntry);

  xtable_item() : _entry(nullptr), _mutex(nullptr) {}
  virtual ~xtable_item() { _release(); }

  xtable_item(const xtable_item&) = delete;
  xtable_item& operator=(const xtable_item&) = delete;

  // Releases the current reference and allocates an unbuilt entry (count 1); the caller
  // must build it in place before the handle lets go of it. Throws std::bad_alloc.
  void realloc() {
    void* e = _alloc_block();
    _release();
    _entry = static_cast<_ItemEntry*>(e);
    _mutex = nullptr;
  }

  // A new entry with a default value. Its key lock is that of the default value, whose hash
  // never changes: it is taken once.
  xtable_item& ctor0() {
    static const uint64_t default_hash = static_cast<uint64_t>(_DataLockHasher::HASH(value_type()));
    _build_only();
    _set_mutex_hashed(default_hash);
    return *this;
  }
  // A new entry whose value is built from a key (everything else default).
  template <typename _Key>
  xtable_item& ctor1(const _Key& key) {
    return _build(key);
  }
  // A new entry with a copy of the value (which may be this handle's own value).
  xtable_item& ctor(const value_type& value) { return _build(value); }

  value_type& data() {
    if (_entry == nullptr) throw wexception("xtable_item is null");
    return _entry->value;
  }
  const value_type& data() const {
    if (_entry == nullptr) throw wexception("xtable_item is null");
    return _entry->value;
  }
  value_type* data_ptr() const { return _entry != nullptr ? &_entry->value : nullptr; }
  _ItemEntry* get_ptr() const { return _entry; }
  _ItemEntry* ie_ptr() const { return _entry; }
  bool is_null() const { return _entry == nullptr; }

  // The key lock of the value's key, or null for an empty handle or key-lock array.
  void set_mutex() {
    const typename locks_type::mutexs_array* locks = _entry != nullptr ? locks_type::built()
                                                                       : nullptr;
    _mutex = locks != nullptr
                 ? locks->at_hash(static_cast<uint64_t>(_DataLockHasher::HASH(_entry->value)))
                 : nullptr;
  }
  Poco::FastMutex* get_mutex() const { return _mutex; }

  // One more reference on the entry, returned for a reset elsewhere; null when empty.
  _ItemEntry* duplicate() const { return static_cast<_ItemEntry*>(sh_shobject(_entry)); }

  // Releases the current reference and takes over the given one (no extra count).
  void reset(_ItemEntry* entry = nullptr) {
    _ItemEntry* old = _entry;
    _entry = entry;
    set_mutex();
    if (old != nullptr) delete_shobject(old, &DTOR, &FREE);
  }
  // The same for a caller that knows the entry's lock hash (_DataLockHasher::HASH of its
  // value): the key lock is taken from it, the value is not hashed again.
  void reset(_ItemEntry* entry, uint64_t lock_hash) {
    _ItemEntry* old = _entry;
    _entry = entry;
    _set_mutex_hashed(lock_hash);
    if (old != nullptr) delete_shobject(old, &DTOR, &FREE);
  }

  // Gives other a private copy of this handle's value (empty when this handle is).
  void clone(xtable_item& other) const {
    if (&other == this) return;
    if (_entry != nullptr)
      other.ctor(_entry->value);
    else
      other.reset();
  }

  void swap(xtable_item& other) {
    if (&other == this) return;
    _ItemEntry* e = _entry;
    Poco::FastMutex* m = _mutex;
    _entry = other._entry;
    _mutex = other._mutex;
    other._entry = e;
    other._mutex = m;
  }

  // Copy-on-write: when the entry has other holders, detach onto a private copy (no table
  // links) and return true; false and nothing done otherwise.
  bool self_clone() {
    if (_entry == nullptr || shobject_alone(_entry)) return false;
    xtable_item tmp;
    clone(tmp);
    swap(tmp);
    return true;
  }

  // Guard of the handle's key lock (taken from the handle when the guard is made).
  class scope_key_lock {
   public:
    bool lock() {
      if (_locked || _mutex == nullptr) return false;
      xlock_order::before_key_lock();
      _mutex->lock();
      xlock_order::key_locked();
      _locked = true;
      return true;
    }
    void unlock() {
      if (!_locked || _mutex == nullptr) return;
      _mutex->unlock();
      xlock_order::key_unlocked();
      _locked = false;
    }
    bool locked() const { return _locked; }

   protected:
    scope_key_lock(xtable_item& item, bool lock_now) : _mutex(item.get_mutex()), _locked(false) {
      if (lock_now) lock();
    }
    ~scope_key_lock() { unlock(); }
    scope_key_lock(const scope_key_lock&) = delete;
    scope_key_lock& operator=(const scope_key_lock&) = delete;

   private:
    Poco::FastMutex* _mutex;
    bool _locked;
  };
  class scope_read_lock : public scope_key_lock {
   public:
    explicit scope_read_lock(xtable_item& item, bool lock_now = true)
        : scope_key_lock(item, lock_now) {}
  };
  class scope_write_lock : public scope_key_lock {
   public:
    explicit scope_write_lock(xtable_item& item, bool lock_now = true)
        : scope_key_lock(item, lock_now) {}
  };

  // Entry pool pointer: null until INIT_POOL succeeds, then fixed (also after the stop,
  // when MALLOC no longer uses it).
  static xpool*& POOL() { return _pool_slot(); }

  // Creates the entry pool once (later calls return at once); see the header comment.
  static void INIT_POOL() {
    static pthread_mutex_t init_lock = PTHREAD_MUTEX_INITIALIZER;
    static bool gave_up = false;  // an attempt found the allocator stopped: none again
    xpool*& slot = _pool_slot();
    if (__atomic_load_n(&slot, __ATOMIC_ACQUIRE) != nullptr) return;
    pthread_mutex_lock(&init_lock);
    if (__atomic_load_n(&slot, __ATOMIC_ACQUIRE) == nullptr && !gave_up) {
      uint64_t class_size = POOL_CLASS_SIZE;
      xpool* pool = nullptr;
      xlabs* set = find_xlabs_default(POOL_CLASS_SIZE);
      if (set == nullptr) gave_up = true;  // stopped for good
      if (set != nullptr) {
        // A class of exactly this size refuses the pool: take the next size up that is free.
        for (uint64_t s = POOL_CLASS_SIZE; s < POOL_CLASS_SIZE + 64; ++s) {
          if (xlabs_add_pool(set, s, 0)) {
            xpool* p = xlabs_get_pool(set, s);
            if (p != nullptr && xpool_get_class_size(p) == s) pool = p;
            class_size = s;
            break;
          }
          xpool* existing = xlabs_get_pool(set, s);
          if (existing == nullptr || xpool_get_class_size(existing) != s)
            break;  // refused otherwise
        }
      }
      if (pool != nullptr) {
        // The stripe copies first: MALLOC reads them once it has seen the slot set.
        for (unsigned k = 0; k < XPAGE_STRIPES; ++k)
          _stripe_pools()[k] = xlabs_stripe_pool(pool, k);
        __atomic_store_n(&slot, pool, __ATOMIC_RELEASE);
        std::printf("[inf] %s: class_size=%d, pool_class_size=%d\n", "xtable_item::INIT_POOL",
                    static_cast<int>(class_size), static_cast<int>(xpool_get_class_size(pool)));
      } else {
        std::fprintf(stderr, "[ERR] %s: FAIL create pool with class_size=%d\n",
                     "xtable_item::INIT_POOL", static_cast<int>(POOL_CLASS_SIZE));
      }
    }
    pthread_mutex_unlock(&init_lock);
  }

  // A block of at most ENTRY_BLOCK_SIZE bytes whose address + 2 is aligned for the entry,
  // from the calling thread's stripe copy of the entry pool while the allocator runs.
  static void* MALLOC(size_t size) {
    xpool* pool = __atomic_load_n(&_pool_slot(), __ATOMIC_ACQUIRE);
    if (pool != nullptr && find_xlabs_default(1) == nullptr) pool = nullptr;  // stopped
    if (pool != nullptr) pool = _stripe_pools()[xlabs_thread_stripe()];
    char* chunk;
    uint8_t origin;
    if (pool != nullptr) {
      XCHECK(size <= ENTRY_BLOCK_SIZE, "size <= sizeof (ItemEntry) + sizeof (uint16_t)");
      chunk = static_cast<char*>(xpool_alloc(pool));
      origin = kFromPool;
    } else {
      chunk = static_cast<char*>(
          nullpool_alloc_silent(size + alignof(_ItemEntry), 1, ::malloc, ::free));
      origin = 0;
    }
    if (chunk == nullptr) return nullptr;
    const size_t a = alignof(_ItemEntry);
    size_t pad = (a - (reinterpret_cast<uintptr_t>(chunk) + sizeof(uint16_t)) % a) % a;
    if (pad == 0) pad = a;
    char* block = chunk + pad;
    block[-1] = static_cast<char>(pad | origin);
    return block;
  }

  // Gives a block from MALLOC back to where it came from: xpool_free finds the owning
  // stripe's pool through the chunk's page header.
  static void FREE(void* mem) {
    if (mem == nullptr) return;
    char* block = static_cast<char*>(mem);
    const uint8_t mark = static_cast<uint8_t>(block[-1]);
    char* chunk = block - (mark & ~kFromPool);
    if ((mark & kFromPool) == 0 || find_xlabs_default(1) != nullptr) xpool_free(chunk);
  }

  // Destroys the entry in place (its value's strings); the block stays for FREE.
  static void DTOR(void* entry) { static_cast<_ItemEntry*>(entry)->~_ItemEntry(); }

 private:
  static constexpr uint8_t kFromPool = 0x80;
  static_assert(alignof(_ItemEntry) < 0x80, "entry alignment fits the block mark");

  static xpool*& _pool_slot() {
    static xpool* pool = nullptr;
    return pool;
  }
  // The entry pool's copy in each stripe: written once by INIT_POOL before the slot, then
  // only read (one line of its own).
  static xpool** _stripe_pools() {
    alignas(64) static xpool* pools[XPAGE_STRIPES] = {};
    return pools;
  }

  static void* _alloc_block() {
    void* e = new_shobject(sizeof(_ItemEntry), &MALLOC);
    if (e == nullptr) throw std::bad_alloc();
    return e;
  }

  // New entry built from args; on failure the handle is unchanged.
  template <typename... _Args>
  xtable_item& _build(const _Args&... args) {
    _build_only(args...);
    set_mutex();
    return *this;
  }
  // The same without choosing the key lock (the caller does).
  template <typename... _Args>
  void _build_only(const _Args&... args) {
    void* e = _alloc_block();
    _ItemEntry* built;
    try {
      built = new (e) _ItemEntry(xentry_build_t(), args...);
    } catch (...) {
      FREE(static_cast<char*>(e) - SHOBJECT_HEADER_SIZE);
      throw;
    }
    _release();
    _entry = built;
  }

  // set_mutex with the value's lock hash already known.
  void _set_mutex_hashed(uint64_t lock_hash) {
    const typename locks_type::mutexs_array* locks = _entry != nullptr ? locks_type::built()
                                                                       : nullptr;
    _mutex = locks != nullptr ? locks->at_hash(lock_hash) : nullptr;
  }

  void _release() {
    if (_entry != nullptr) delete_shobject(_entry, &DTOR, &FREE);
    _entry = nullptr;
    _mutex = nullptr;
  }

  _ItemEntry* _entry;
  Poco::FastMutex* _mutex;
};

#endif  // TOKA_MOPRALIB_INC_XDS_XTABLE_ITEM_H
