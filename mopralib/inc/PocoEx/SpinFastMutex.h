// SpinFastMutex: a non-recursive mutex with the interface of Poco::FastMutex (lock, tryLock,
// unlock; usable with Poco::ScopedLock) that spins briefly before it sleeps: glibc's
// adaptive mutex (PTHREAD_MUTEX_ADAPTIVE_NP). Meant for critical sections of a few dozen
// nanoseconds, where a contended taker would otherwise pay a futex sleep and wake-up for
// a lock that is free again almost at once.
//
// Threads: any; the thread that locked unlocks. Takes no other lock. Failures of the
// pthread calls are broken invariants and abort.
#ifndef TOKA_MOPRALIB_INC_POCOEX_SPINFASTMUTEX_H
#define TOKA_MOPRALIB_INC_POCOEX_SPINFASTMUTEX_H

#include <errno.h>
#include <pthread.h>

#include "src/xcheck.h"

class SpinFastMutex {
 public:
  SpinFastMutex() {
    pthread_mutexattr_t attr;
    XCHECK(pthread_mutexattr_init(&attr) == 0, "pthread_mutexattr_init");
    XCHECK(pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP) == 0,
           "pthread_mutexattr_settype");
    XCHECK(pthread_mutex_init(&_m, &attr) == 0, "pthread_mutex_init");
    pthread_mutexattr_destroy(&attr);
  }
  ~SpinFastMutex() { pthread_mutex_destroy(&_m); }

  void lock() { XCHECK(pthread_mutex_lock(&_m) == 0, "pthread_mutex_lock"); }
  bool tryLock() {
    const int rc = pthread_mutex_trylock(&_m);
    XCHECK(rc == 0 || rc == EBUSY, "pthread_mutex_trylock");
    return rc == 0;
  }
  void unlock() { XCHECK(pthread_mutex_unlock(&_m) == 0, "pthread_mutex_unlock"); }

 private:
  SpinFastMutex(const SpinFastMutex&) = delete;
  SpinFastMutex& operator=(const SpinFastMutex&) = delete;

  pthread_mutex_t _m;
};

#endif  // TOKA_MOPRALIB_INC_POCOEX_SPINFASTMUTEX_H
