// Lock-order checks for the table lock and the per-key locks of the cached items.
//
// The rules: a key lock may be held while a table lock is taken, never the reverse; a
// thread holds at most one key lock (every cache shares one array of non-recursive key
// mutexes, so a second key lock could be the same mutex); a thread holds at most one table
// lock at a time (the table mutex is not recursive either).
//
// The checks keep per-thread counts and abort with "lock order: ..." on a breach. They are
// compiled in when NDEBUG is not defined or TOKA_LOCK_CHECKS is defined (the tessix_table
// target defines it for every user in sanitizer builds, its tests define it always);
// otherwise every function is an empty inline and the release path pays nothing. The two
// forms live in different inline namespaces, so their symbols never mix in one binary; the
// whole binary should still use one setting (the table's guards count in their inlines).
// Threads: thread-local state only; no lock.
#ifndef TOKA_MOPRALIB_INC_XDS_XLOCK_ORDER_H
#define TOKA_MOPRALIB_INC_XDS_XLOCK_ORDER_H

#if !defined(NDEBUG) || defined(TOKA_LOCK_CHECKS)
#define TOKA_XDS_LOCK_CHECKS 1
#include "src/xcheck.h"
#else
#define TOKA_XDS_LOCK_CHECKS 0
#endif

namespace xlock_order {

#if TOKA_XDS_LOCK_CHECKS
inline namespace checked {
struct thread_state {
  int key_locks;
  int table_locks;
};
inline thread_state& state() {
  static thread_local thread_state s = {0, 0};
  return s;
}
// Before a key lock is taken.
inline void before_key_lock() {
  thread_state& s = state();
  XCHECK(s.table_locks == 0, "lock order: key lock taken while a table lock is held");
  XCHECK(s.key_locks == 0, "lock order: second key lock taken by one thread");
}
inline void key_locked() { ++state().key_locks; }
inline void key_unlocked() { --state().key_locks; }
// Before a table lock is taken.
inline void before_table_lock() {
  XCHECK(state().table_locks == 0, "lock order: second table lock taken by one thread");
}
inline void table_locked() { ++state().table_locks; }
inline void table_unlocked() { --state().table_locks; }
inline int key_locks_held() { return state().key_locks; }
inline int table_locks_held() { return state().table_locks; }
}  // namespace checked
#else
inline namespace unchecked {
inline void before_key_lock() {}
inline void key_locked() {}
inline void key_unlocked() {}
inline void before_table_lock() {}
inline void table_locked() {}
inline void table_unlocked() {}
inline int key_locks_held() { return 0; }
inline int table_locks_held() { return 0; }
}  // namespace unchecked
#endif

}  // namespace xlock_order

#endif  // TOKA_MOPRALIB_INC_XDS_XLOCK_ORDER_H
