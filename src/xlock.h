// Lock of the pools and page allocators, kept in the first word of their records' POSIX
// mutex storage (initialised by pthread_mutex_init, which zeroes that word).
//
// Word: 0 free, 1 held, 2 held with possible sleepers. Taking it is one compare-and-swap
// when free; a contended taker spins briefly, then marks the word 2 and sleeps on it
// (futex wait while the word is 2, no timeout). Releasing it is an exchange with 0: a
// release that finds 2 wakes one sleeper. A taker that goes to sleep has written 2 before
// the futex checks the word, so either the releaser's exchange sees that 2 and wakes it, or
// the futex finds the word changed and the taker does not sleep: no wake-up is lost.
// A woken taker takes the word as 2 again, so a later release still wakes the next one.
//
// Fork: the handlers in src/xlabs take every allocator lock before fork and release them
// in parent and child with xlock_release (in the child a word left at 2 by parent threads
// only costs one futex wake with nobody to wake).
#ifndef TOKA_SRC_XLOCK_H
#define TOKA_SRC_XLOCK_H

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

namespace xlock_detail {

inline uint32_t* word(pthread_mutex_t* m) { return reinterpret_cast<uint32_t*>(m); }

__attribute__((noinline)) inline void acquire_slow(uint32_t* w) {
  for (int i = 0; i < 128; ++i) {
    __builtin_ia32_pause();
    uint32_t expected = 0;
    if (__atomic_load_n(w, __ATOMIC_RELAXED) == 0 &&
        __atomic_compare_exchange_n(w, &expected, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
      return;
  }
  while (__atomic_exchange_n(w, 2u, __ATOMIC_ACQUIRE) != 0)
    syscall(SYS_futex, w, FUTEX_WAIT_PRIVATE, 2, nullptr, nullptr, 0);
}

__attribute__((noinline)) inline void wake_one(uint32_t* w) {
  syscall(SYS_futex, w, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace xlock_detail

inline void xlock_acquire(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  uint32_t expected = 0;
  if (__builtin_expect(__atomic_compare_exchange_n(w, &expected, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED), 1))
    return;
  xlock_detail::acquire_slow(w);
}

inline void xlock_release(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  if (__builtin_expect(__atomic_exchange_n(w, 0u, __ATOMIC_RELEASE) == 2, 0)) xlock_detail::wake_one(w);
}

#endif  // TOKA_SRC_XLOCK_H
