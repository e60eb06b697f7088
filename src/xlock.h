// Lock of the pools and page allocators, kept in the first word of their records' POSIX
// mutex storage (initialised by pthread_mutex_init, which zeroes that word).
//
// Word: 0 free, 1 held, 2 held with possible sleepers. Taking it is one compare-and-swap
// when free; a contended taker spins briefly, then sleeps on the word. Releasing it when
// nobody waits is a plain store, not a locked instruction: an atomic release doubles the
// cost of an uncontended pool operation. The price is a race in which a sleeper that
// marked the word 2 just before such a store is not woken; every sleep is therefore
// bounded (50 us) and the sleeper then tries again. Mutual exclusion never depends on the
// wake-up, only on the compare-and-swap and the exchange.
#ifndef TOKA_SRC_XLOCK_H
#define TOKA_SRC_XLOCK_H

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
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
  const struct timespec bound = {0, 50000};
  while (__atomic_exchange_n(w, 2u, __ATOMIC_ACQUIRE) != 0)
    syscall(SYS_futex, w, FUTEX_WAIT_PRIVATE, 2, &bound, nullptr, 0);
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
  if (__builtin_expect(__atomic_load_n(w, __ATOMIC_RELAXED) == 1, 1)) {
    __atomic_store_n(w, 0u, __ATOMIC_RELEASE);
    return;
  }
  __atomic_store_n(w, 0u, __ATOMIC_SEQ_CST);
  syscall(SYS_futex, w, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

#endif  // TOKA_SRC_XLOCK_H
