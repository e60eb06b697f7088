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
struct timespec backstop = {0, 50 * 1000000};

namespace {

// Registers the process for expedited membarrier when the library is loaded, before any
// thread of its callers can reach a lock; until then (and without it) releases exchange.
bool register_membarrier() {
  const long cmds = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0);
  if (cmds < 0 || (cmds & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0) == 0;
}

__attribute__((constructor)) void choose_release() { plain_release = register_membarrier(); }

// True when the barrier ran (as far as the kernel says).
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
         __atomic_compare_exchange_n(w, &expected, 1u, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}

inline bool spin(uint32_t* w) {
  for (int i = 0; i < 128; ++i) {
    __builtin_ia32_pause();
    if (try_take(w)) return true;
  }
  return false;
}

const struct timespec kUnorderedSleep = {0, 1000000};

}  // namespace

void acquire_slow(uint32_t* w) {
  if (spin(w)) return;
  // Counted before word 0 is read. The first counted taker owes the barrier (see the header).
  const bool first = __atomic_fetch_add(w + 1, 1u, __ATOMIC_SEQ_CST) == 0;
  at(point_counted);
  bool barrier_owed = first && plain_release;
  const struct timespec* bound = &backstop;
  for (;;) {
    if (try_take(w)) break;
    if (barrier_owed) {
      barrier_owed = false;
      if (!process_barrier()) bound = &kUnorderedSleep;  // unordered: keep the sleeps short
      continue;  // the lock may have been released meanwhile
    }
    syscall(SYS_futex, w, FUTEX_WAIT_PRIVATE, 1, bound, nullptr, 0);
    at(point_woken);
    if (spin(w)) break;
  }
  __atomic_fetch_sub(w + 1, 1u, __ATOMIC_RELAXED);
}

void wake_one(uint32_t* w) { syscall(SYS_futex, w, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0); }

}  // namespace xlock_detail

// The child has one thread: switching the release kind cannot race with a release.
void xlock_child_after_fork() {
  if (xlock_detail::plain_release)
    xlock_detail::plain_release = xlock_detail::register_membarrier();
}
