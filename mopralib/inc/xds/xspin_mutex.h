// Spin-then-sleep locking of the table lock and the key locks.
//
// The tables' critical sections are a hash-chain walk and a few link changes, far shorter
// than a sleep and a wake-up, so a waiter that spins briefly usually gets the mutex without
// either.
//
// xspin_mutex: an exclusive, non-recursive mutex (the table lock) over glibc's adaptive
// pthread mutex (PTHREAD_MUTEX_ADAPTIVE_NP): lock() spins reading the lock word, with
// backoff, for a bounded, self-tuning number of rounds before it sleeps in the kernel.
// Like Poco::FastMutex, a failed lock or unlock throws Poco::SystemException.
//
// xspin_lock(m): takes a Poco::FastMutex (the key locks of global_locks): a few tries with
// growing pauses between them, then lock().
//
// Ownership: none beyond the mutex itself. Threads: any; only the given mutex is taken.
#ifndef TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
#define TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H

#include <Poco/Exception.h>
#include <Poco/Mutex.h>
#include <pthread.h>

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
// Tries before sleeping, and the longest run of pauses between two tries.
constexpr int kTries = 16;
constexpr int kMaxPauses = 64;
}  // namespace xspin_detail

class xspin_mutex {
 public:
  xspin_mutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
#if defined(PTHREAD_MUTEX_ADAPTIVE_NP)
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
#endif
    const int rc = pthread_mutex_init(&_m, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) throw Poco::SystemException("cannot create mutex");
  }
  ~xspin_mutex() { pthread_mutex_destroy(&_m); }

  void lock() {
    if (pthread_mutex_lock(&_m) != 0) throw Poco::SystemException("cannot lock mutex");
  }
  bool tryLock() { return pthread_mutex_trylock(&_m) == 0; }
  void unlock() {
    if (pthread_mutex_unlock(&_m) != 0) throw Poco::SystemException("cannot unlock mutex");
  }

 private:
  xspin_mutex(const xspin_mutex&) = delete;
  xspin_mutex& operator=(const xspin_mutex&) = delete;
  pthread_mutex_t _m;
};

inline void xspin_lock(Poco::FastMutex& m) {
  int pauses = 1;
  for (int i = 0; i < xspin_detail::kTries; ++i) {
    if (m.tryLock()) return;
    for (int p = 0; p < pauses; ++p) xspin_detail::pause();
    if (pauses < xspin_detail::kMaxPauses) pauses <<= 1;
  }
  m.lock();
}

#endif  // TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
