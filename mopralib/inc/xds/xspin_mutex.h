// Spin-then-sleep locking of the table lock and the key locks.
//
// xspin_lock(m) takes a Poco::FastMutex: it tries the mutex a bounded number of times, with
// pauses that grow between tries, and only then sleeps in lock(). The critical sections of
// the tables are a hash-chain walk and a few link changes, far shorter than a sleep and a
// wake-up, so a waiter usually gets the mutex while still spinning. xspin_mutex is a
// Poco::FastMutex whose lock() does this (for guards that call lock() on their mutex).
//
// Ownership: none; the mutex belongs to the caller. Threads: any; only the given mutex is
// taken. Failures of the mutex propagate as Poco::SystemException, as from lock().
#ifndef TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
#define TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H

#include <Poco/Mutex.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace xspin_detail {
inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}
// Tries before sleeping, and the largest pause run between two tries.
constexpr int kTries = 24;
constexpr int kMaxPauses = 64;
}  // namespace xspin_detail

inline void xspin_lock(Poco::FastMutex& m) {
  int pauses = 1;
  for (int i = 0; i < xspin_detail::kTries; ++i) {
    if (m.tryLock()) return;
    for (int p = 0; p < pauses; ++p) xspin_detail::pause();
    if (pauses < xspin_detail::kMaxPauses) pauses <<= 1;
  }
  m.lock();
}

class xspin_mutex : public Poco::FastMutex {
 public:
  void lock() { xspin_lock(*this); }
};

#endif  // TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
