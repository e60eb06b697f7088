#include "src/xlock.h"

#include <linux/futex.h>
#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace xlock_detail {

// A line of its own: read by every release, written once at load.
alignas(64) bool plain_release = false;

namespace {

// Registers the process for expedited membarrier when the library is loaded, before any
// thread of its callers can reach a lock; until then (and without it) releases exchange.
bool register_membarrier() {
  const long cmds = syscall(SYS_membarrier, MEMBARRIER_CMD_QUERY, 0);
  if (cmds < 0 || (cmds & MEMBARRIER_CMD_PRIVATE_EXPEDITED) == 0) return false;
  return syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0) == 0;
}

__attribute__((constructor)) void choose_release() { plain_release = register_membarrier(); }

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

}  // namespace

void acquire_slow(uint32_t* w) {
  if (spin(w)) return;
  __atomic_fetch_add(w + 1, 1u, __ATOMIC_SEQ_CST);  // counted before word 0 is read
  // Should the barrier itself ever fail (the kernel refused it), this one sleep is bounded
  // instead, since an unordered release could then miss it.
  static const struct timespec kUnorderedSleep = {0, 1000000};
  for (;;) {
    const bool ordered = !plain_release ||
                         syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0) == 0;
    if (try_take(w)) break;
    syscall(SYS_futex, w, FUTEX_WAIT_PRIVATE, 1, ordered ? nullptr : &kUnorderedSleep, nullptr, 0);
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
