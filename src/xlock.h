// Lock of the pools and page allocators, kept in the first two words of their records'
// POSIX mutex storage (pthread_mutex_init zeroes them): word 0 is the lock (0 free, 1
// held), word 1 counts the takers that are on their way to sleep or asleep; a counted taker
// stays counted until it holds the lock.
//
// Taking it is one compare-and-swap when free; a contended taker spins briefly, then
// counts itself in word 1 and sleeps on word 0 (futex wait while it is 1). Releasing it
// clears word 0 and, when word 1 is not 0, wakes one sleeper.
//
// The release's "clear, then read the count" needs the clear to be visible before the
// read. A locked exchange costs as much as the compare-and-swap on every uncontended
// operation, so where the kernel offers it the release is a plain store and the order is
// enforced from the sleeper's side: a process-wide barrier (membarrier, private expedited)
// orders every other running thread's earlier store before the caller's later load.
// Without membarrier the release is an exchange and no barrier is needed. The choice is
// made once, when the library is loaded (src/xlock.cpp).
//
// Only the taker that counts itself first (the count was 0) issues the barrier, once,
// before it first sleeps. Why no wake-up is lost: suppose a taker sleeps for ever on a free
// lock. Take the last release R; it woke nobody (a woken sleeper, or one that checks the
// word after that wake, would take the lock again), so its read of the count found 0, and
// every taker still counted counted itself after that read. The first taker to count
// itself after that read found the count 0, so it issued the barrier before any sleep,
// which makes R's earlier clear visible before its next check of the word: it cannot sleep
// on R's 1 for ever, takes the lock (after R, as R's 1 stood until then) and releases it
// after R - a contradiction. Later takers, counted while another one is, need no barrier;
// under steady contention the count seldom returns to 0, so barriers are rare.
//
// The argument relies on x86-64: the count's add, the compare-and-swap (acquire only) and
// the exchange (followed by a relaxed read of the count) are locked instructions there,
// which are full fences; other targets stop the build.
//
// Every sleep is bounded by a long backstop (50 ms) that costs nothing while wake-ups
// work: a barrier that reports success without running (a sandbox answering membarrier
// with 0) cannot leave a taker asleep for ever. Should a barrier report failure, the sleeps
// of that taker are bounded at 1 ms instead.
//
// Fork: the handlers in src/xlabs take every allocator lock before fork and release them
// in the parent with xlock_release and in the child with xlock_release_in_child, which
// also clears the count of sleepers that exist only in the parent.
#ifndef TOKA_SRC_XLOCK_H
#define TOKA_SRC_XLOCK_H

#if !defined(__x86_64__)
#error \
    "xlock relies on x86-64: locked instructions (its compare-and-swap, add, exchange) are full fences"
#endif

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace xlock_detail {

// True once membarrier is registered for the process: releases may be plain stores.
extern bool plain_release;

// Test hooks, null in normal runs: called by a taker of the slow path at the named points
// (point_counted: counted, before anything else; point_woken: its futex wait returned), and
// in place of the membarrier call (its result is taken as the call's).
enum slow_point { point_counted, point_woken };
extern void (*slow_hook)(slow_point point);
extern long (*barrier_hook)();
// The bound of every sleep (50 ms); tests that must see a lost wake-up as a hang lengthen
// it while no thread sleeps.
extern struct timespec backstop;

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
