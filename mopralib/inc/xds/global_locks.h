// The process-wide array of key locks: one Poco::FastMutex per slot, the slot of an item
// being the hash of its key modulo the array size, so items whose hashes agree modulo the
// size share a lock.
//
// global_locks<_ItemEntry, GLOBAL_LOCKS_INST> holds one array per instance. It is empty at
// first (no mutexes: handles then carry no key lock and their guards lock nothing) and is
// built once, by the first construct(n) with n > 0; later calls print
// "global_locks: mutexs_array was already constructed" and change nothing. A count that
// reads negative as a signed 64-bit number is taken as 0; a count above MAX_MUTEXS is
// refused with an error line on standard error.
//
// Ownership: the array and its record are made once and never destroyed, not even at
// process exit (threads that outlive static destruction may still hold its mutexes).
// Threads: construct is serialised by a lock of its own; the other functions take no lock
// and may run at any time on any thread (the array is published with release order).
// The mutexes are the key locks: take at most one of them at a time, and never while a
// table lock is held (see mopralib/inc/xds/xlock_order.h).
#ifndef TOKA_MOPRALIB_INC_XDS_GLOBAL_LOCKS_H
#define TOKA_MOPRALIB_INC_XDS_GLOBAL_LOCKS_H

#include <Poco/Mutex.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>

#include "wexception.h"

template <typename _ItemEntry, unsigned GLOBAL_LOCKS_INST>
struct global_locks {
  // Largest count construct accepts (some 40 MB of mutexes).
  static constexpr uint64_t MAX_MUTEXS = uint64_t(1) << 20;

  struct mutexs_array {
    std::atomic<Poco::FastMutex*> mutexs{nullptr};
    std::atomic<uint64_t> size{0};
    // 2^64 / size rounded up (0 for size 1), set with size: h % size for 32-bit h and size
    // by two multiplications instead of a division (Lemire's fastmod).
    std::atomic<uint64_t> magic{0};

    static uint64_t magic_of(uint64_t n) { return UINT64_MAX / n + 1; }

    // The mutex at h modulo size; throws wexception "mutexs array is null" when empty.
    Poco::FastMutex* at_hash(uint64_t h) const {
      Poco::FastMutex* m = mutexs.load(std::memory_order_acquire);
      if (m == nullptr) throw wexception("mutexs array is null");
      const uint64_t n = size.load(std::memory_order_relaxed);
      if (((h | n) >> 32) != 0) return &m[h % n];
      const uint64_t low = magic.load(std::memory_order_relaxed) * h;
      return &m[static_cast<uint64_t>((static_cast<unsigned __int128>(low) * n) >> 64)];
    }
  };

  // The one record of this instance, made on first use and never destroyed.
  static mutexs_array& mutexs_array_holder() {
    static mutexs_array* const array = new mutexs_array();
    return *array;
  }

  // Builds n mutexes when the array is still empty; true when it built them.
  static bool construct(uint64_t n) {
    static pthread_mutex_t build_lock = PTHREAD_MUTEX_INITIALIZER;
    mutexs_array& a = mutexs_array_holder();
    pthread_mutex_lock(&build_lock);
    bool built = false;
    if (a.mutexs.load(std::memory_order_relaxed) != nullptr) {
      std::printf("global_locks: mutexs_array was already constructed\n");
    } else {
      if (static_cast<int64_t>(n) < 0) n = 0;
      if (n > MAX_MUTEXS) {
        std::fprintf(stderr, "[ERR] global_locks::construct: refused mutexs_array size %llu\n",
                     static_cast<unsigned long long>(n));
      } else if (n > 0) {
        Poco::FastMutex* m = new (std::nothrow) Poco::FastMutex[n];
        if (m == nullptr) {
          std::fprintf(stderr, "[ERR] global_locks::construct: refused mutexs_array size %llu\n",
                       static_cast<unsigned long long>(n));
        } else {
          a.size.store(n, std::memory_order_relaxed);
          a.magic.store(mutexs_array::magic_of(n), std::memory_order_relaxed);
          a.mutexs.store(m, std::memory_order_release);
          built = true;
        }
      }
    }
    pthread_mutex_unlock(&build_lock);
    return built;
  }

  static bool empty() {
    return mutexs_array_holder().mutexs.load(std::memory_order_acquire) == nullptr;
  }
  static uint64_t size() {
    mutexs_array& a = mutexs_array_holder();
    return a.mutexs.load(std::memory_order_acquire) != nullptr
               ? a.size.load(std::memory_order_relaxed)
               : 0;
  }
  static Poco::FastMutex* mutex_at_hash(uint64_t h) { return mutexs_array_holder().at_hash(h); }
  // Starts loading the mutex at h (a hint for a lock taken soon); nothing when empty.
  static void prefetch_at_hash(uint64_t h) {
    const mutexs_array* a = built();
    if (a != nullptr) __builtin_prefetch(a->at_hash(h), 1);
  }
  // The array record when it holds mutexes, else null (one load: the handles' fast path).
  static const mutexs_array* built() {
    const mutexs_array& a = mutexs_array_holder();
    return a.mutexs.load(std::memory_order_acquire) != nullptr ? &a : nullptr;
  }
};

#endif  // TOKA_MOPRALIB_INC_XDS_GLOBAL_LOCKS_H
