#include "src/xlock.h"

#include <linux/futex.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace xlock_detail {

// A line of its own: read by every release, written once at load.
alignas(64) bool plain_release = false;

void (*slow_hook)(slow_point point) = nullptr;
long (*barrier_hook)() = nullptr;

namespace {

// Registers the process for expedited membarrier when the library is loaded, before any
// thread of its callers can reach a lock; until then (and without it) releases exchange.
bool register_membarrier() {
  const long cmds = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0);
  if (cmds < 0 || (cmds & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0) == 0;
}

__attribute__((constructor)) void choose_release() { plain_release = register_membarrier(); }

// True when the barrier ran (or, with a hook, when the hook says so).
bool process_barrier() {
  const long r = barrier_hook != nullptr
                     ? barrier_hook()
                     : syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0);
  return r == 0;
}

inline void at(slow_point point) {
  if (__builtin_expect(slow_hook != nullptr, 0)) slow_hook(point);
}

inline bool try_take(uint32_t* w) {
  uint32_t expected = 0;
  return __atomic_load_n(w, __ATOMIC_RELAXED) == 0 &&
         __atomic_compare_exchange_n(w, &expected, kHeld, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED);
}

inline bool spin(uint32_t* w) {
  for (int i = 0; i < 128; ++i) {
    __builtin_ia32_pause();
    if (try_take(w)) return true;
  }
  return false;
}

const struct timespec kBackstop = {0, 50 * 1000000};
const struct timespec kUnorderedSleep = {0, 1000000};

}  // namespace

void acquire_slow(uint32_t* w) {
  if (spin(w)) {
    if (__atomic_load_n(w + 1, __ATOMIC_RELAXED) != 0)
      __atomic_store_n(w, kHeldContended, __ATOMIC_RELAXED);
    return;
  }
  __atomic_fetch_add(w + 1, 1u, __ATOMIC_SEQ_CST);  // counted before word 0 is read
  at(point_counted);
  bool barrier_done = !plain_release;  // exchange releases need none
  bool ordered = true;
  for (;;) {
    const uint32_t v = __atomic_load_n(w, __ATOMIC_RELAXED);
    if (v == 0) {
      if (try_take(w)) break;
      continue;
    }
    if (v == kHeld && !barrier_done) {
      barrier_done = true;
      ordered = process_barrier();
      continue;  // the lock may have been released meanwhile
    }
    // A sleep on a 1 relies on the barrier; should it have failed, the sleep is short.
    const struct timespec* bound = v == kHeld && !ordered ? &kUnorderedSleep : &kBackstop;
    syscall(SYS_futex, w, FUTEX_WAIT_PRIVATE, v, bound, nullptr, 0);
    at(point_woken);
    if (spin(w)) break;
  }
  // Held (as a 1); the takers still counted make it a 2.
  if (__atomic_sub_fetch(w + 1, 1u, __ATOMIC_RELAXED) != 0)
    __atomic_store_n(w, kHeldContended, __ATOMIC_RELAXED);
}

void wake_one(uint32_t* w) { syscall(SYS_futex, w, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }

}  // namespace xlock_detail

// The child has one thread: switching the release kind cannot race with a release.
void xlock_child_after_fork() {
  if (xlock_detail::plain_release)
    xlock_detail::plain_release = xlock_detail::register_membarrier();
}
