// xspin_mutex: an exclusive, non-recursive mutex whose waiters spin briefly before they
// sleep, for locks held for a short time under contention (the cache's table lock).
//
// It is a glibc adaptive pthread mutex (PTHREAD_MUTEX_ADAPTIVE_NP): a contended lock()
// retries for a bounded number of rounds (glibc's mutex spin count, tunable as
// glibc.pthread.mutex_spin_count) while the word reads busy, then sleeps on the futex.
// The holder usually releases within that time, which saves both sides a futex call and
// a context switch. On other C libraries it is a plain pthread mutex.
//
// Interface of Poco::FastMutex as far as ScopeRWLock and Poco::ScopedLock use it: lock,
// tryLock, unlock (errors throw Poco::SystemException). Not copyable.
#ifndef TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
#define TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H

#include <Poco/Exception.h>
#include <Poco/ScopedLock.h>
#include <pthread.h>

#include <cerrno>

class xspin_mutex {
 public:
  typedef Poco::ScopedLock<xspin_mutex> ScopedLock;

  xspin_mutex() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
#ifdef __USE_GNU
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
#endif
    const int rc = pthread_mutex_init(&_mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) throw Poco::SystemException("cannot create mutex");
  }
  ~xspin_mutex() { pthread_mutex_destroy(&_mutex); }

  xspin_mutex(const xspin_mutex&) = delete;
  xspin_mutex& operator=(const xspin_mutex&) = delete;

  void lock() {
    if (pthread_mutex_lock(&_mutex) != 0) throw Poco::SystemException("cannot lock mutex");
  }

  bool tryLock() {
    const int rc = pthread_mutex_trylock(&_mutex);
    if (rc == 0) return true;
    if (rc == EBUSY) return false;
    throw Poco::SystemException("cannot lock mutex");
  }

  void unlock() {
    if (pthread_mutex_unlock(&_mutex) != 0) throw Poco::SystemException("cannot unlock mutex");
  }

 private:
  pthread_mutex_t _mutex;
};

#endif  // TOKA_MOPRALIB_INC_XDS_XSPIN_MUTEX_H
