// Lock of the pools and page allocators, kept in the first two words of their records'
// POSIX mutex storage (pthread_mutex_init zeroes them): word 0 is the lock (0 free, 1 held
// and released by a plain store, 2 held and released by an exchange), word 1 counts the
// takers that are on their way to sleep or asleep; a counted taker stays counted until it
// holds the lock.
//
// Taking it is one compare-and-swap from 0 to 1 when free; a holder that then sees a
// counted taker marks the word 2. A contended taker spins briefly, then counts itself in
// word 1 and sleeps on word 0 (futex wait while it holds the value read). Releasing it
// clears word 0 and, when word 1 is not 0, wakes one sleeper.
//
// Why no wake-up is lost. A release needs the clear of word 0 to be visible before its
// read of word 1. A release of a 2 is a locked exchange, a full fence on x86: a taker that
// counted itself (a locked add) and then found the 2 has its count ordered before that
// exchange, so the read that follows sees it and wakes. A locked exchange costs as much as
// the compare-and-swap on every uncontended operation, so the release of a 1 is a plain
// store and the order is enforced from the sleeper's side: before it first sleeps on a 1,
// a counted taker issues a process-wide barrier (membarrier, private expedited), which
// orders every other running thread's earlier store before its later load. Any release
// that clears a 1 the taker then found runs its store, and so its read of word 1, after
// that barrier, and sees the taker's count, which stays there until the taker holds the
// lock: one barrier per slow acquisition is enough, and a taker that only ever finds 2s
// issues none (under steady contention holders see sleepers and mark 2). Without
// membarrier every release is an exchange and no barrier is issued. The choice is made
// once, when the library is loaded (src/xlock.cpp).
//
// Every sleep is bounded by a long backstop (50 ms) that costs nothing while wake-ups
// work: a barrier that reports success without running (a sandbox answering membarrier
// with 0) cannot leave a taker asleep for ever. Should a barrier report failure, that
// acquisition's sleeps on a 1 are bounded at 1 ms instead.
//
// The argument relies on x86-64: the compare-and-swap (acquire), the count's add and the
// exchange are locked instructions, which are full fences there; other targets stop the
// build.
//
// Fork: the handlers in src/xlabs take every allocator lock before fork and release them
// in the parent with xlock_release and in the child with xlock_release_in_child, which
// also clears the count of sleepers that exist only in the parent.
#ifndef TOKA_SRC_XLOCK_H
#define TOKA_SRC_XLOCK_H

#if !defined(__x86_64__)
#error \
    "xlock: the release's ordering argument holds on x86-64 only (locked instructions are full fences there); see the comment above"
#endif

#include <pthread.h>

#include <cstdint>

namespace xlock_detail {

const uint32_t kHeld = 1;           // released by a plain store
const uint32_t kHeldContended = 2;  // released by an exchange

// True once membarrier is registered for the process: releases of a 1 may be plain stores.
extern bool plain_release;

// Test hooks, null in normal runs: called by a taker of the slow path at the named points
// (point_counted: counted, before anything else; point_woken: its futex wait returned), and
// in place of the membarrier call (its result is taken as the call's).
enum slow_point { point_counted, point_woken };
extern void (*slow_hook)(slow_point point);
extern long (*barrier_hook)();

inline uint32_t* word(pthread_mutex_t* m) { return reinterpret_cast<uint32_t*>(m); }

void acquire_slow(uint32_t* w);
void wake_one(uint32_t* w);

}  // namespace xlock_detail

inline void xlock_acquire(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  uint32_t expected = 0;
  if (__builtin_expect(__atomic_compare_exchange_n(w, &expected, xlock_detail::kHeld, false,
                                                   __ATOMIC_ACQUIRE, __ATOMIC_RELAXED),
                       1)) {
    // Takers are counted: release by an exchange, so that they need no barrier.
    if (__builtin_expect(__atomic_load_n(w + 1, __ATOMIC_RELAXED) != 0, 0))
      __atomic_store_n(w, xlock_detail::kHeldContended, __ATOMIC_RELAXED);
    return;
  }
  xlock_detail::acquire_slow(w);
}

inline void xlock_release(pthread_mutex_t* m) {
  uint32_t* w = xlock_detail::word(m);
  // Word 0 is written by its holder only while held: this reads the holder's own mark.
  if (__builtin_expect(xlock_detail::plain_release, 1) &&
      __builtin_expect(__atomic_load_n(w, __ATOMIC_RELAXED) == xlock_detail::kHeld, 1)) {
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
