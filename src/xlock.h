// Lock of the pools and page allocators, kept in the first two words of their records'
// POSIX mutex storage (pthread_mutex_init zeroes them): word 0 is the lock (0 free, 1
// held), word 1 counts the takers that are on their way to sleep or asleep.
//
// Taking it is one compare-and-swap when free; a contended taker spins briefly, then
// counts itself in word 1 and sleeps on word 0 (futex wait while it is 1, no timeout).
// Releasing it clears word 0 and, when word 1 is not 0, wakes one sleeper. A taker that is
// about to sleep has made its count visible and then read word 0 as held, so every
// release after that read sees the count and wakes; a release before it has cleared word
// 0 first, and then the taker does not sleep (the futex wait finds the word changed): no
// wake-up is lost, and no sleep needs a timeout.
//
// The release's "clear, then read the count" needs the clear to be visible before the
// read. A locked exchange costs as much as the compare-and-swap on every uncontended
// operation, so where the kernel offers it the release is a plain store and the order is
// enforced from the sleeper's side instead: before it reads word 0 it issues a
// process-wide barrier (membarrier, private expedited), which orders every other running
// thread's earlier store before its later load. Without membarrier the release is an
// exchange. The choice is made once, when the library is loaded (src/xlock.cpp); should a
// registered barrier ever fail, the sleep that follows it is bounded (1 ms).
//
// Fork: the handlers in src/xlabs take every allocator lock before fork and release them
// in the parent with xlock_release and in the child with xlock_release_in_child, which
// also clears the count of sleepers that exist only in the parent.
#ifndef TOKA_SRC_XLOCK_H
#define TOKA_SRC_XLOCK_H

#include <pthread.h>

#include <cstdint>

namespace xlock_detail {

// True once membarrier is registered for the process: releases may be plain stores.
extern bool plain_release;

inline uint32_t* word(pthread_mutex_t* m) { return reinterpret_cast<uint32_t*>(m); }

void acquire_slow(uint32_t* w);
void wake_one(uint32_t* w);

}  // namespace xlock_detail

inline void xlock_acquire(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  uint32_t expected = 0;
  if (__builtin_expect(
          __atomic_compare_exchange_n(w, &expected, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED),
          1))
    return;
  xlock_detail::acquire_slow(w);
}

inline void xlock_release(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  if (__builtin_expect(xlock_detail::plain_release, 1)) {
    __atomic_store_n(w, 0u, __ATOMIC_RELEASE);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);  // the sleeper's barrier does the rest
  } else {
    __atomic_exchange_n(w, 0u, __ATOMIC_SEQ_CST);
  }
  if (__builtin_expect(__atomic_load_n(w + 1, __ATOMIC_RELAXED) != 0, 0)) xlock_detail::wake_one(w);
}

// In a forked child, by the thread that forked, before anything else: renews the
// membarrier registration for the child's own process (or falls back to exchange releases).
void xlock_child_after_fork();

// In a forked child, by the thread that forked: the lock is free and nobody sleeps on it.
inline void xlock_release_in_child(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  __atomic_store_n(w + 1, 0u, __ATOMIC_RELAXED);
  __atomic_store_n(w, 0u, __ATOMIC_RELEASE);
}

#endif  // TOKA_SRC_XLOCK_H
