// Scoped table lock: a guard over one mutex with a state (0 unlocked, 1 read, 2 write).
//
// The mutex kind takes only exclusive locks (Poco::FastMutex), so "read" and "write" both
// lock it exclusively: two readers exclude each other. The guard only remembers which kind
// it holds, so that LockRead/LockWrite can refuse or re-lock as asked.
//
// Ownership: the guard references a mutex it does not own; the mutex must outlive it.
// Threads: a guard is used by the thread that made it; it takes only its own mutex.
// Failures of the mutex (Poco::SystemException "cannot lock mutex" / "cannot unlock mutex")
// propagate from the lock functions; in the destructor such a failure is a broken invariant
// and ends the process.
#ifndef TOKA_MOPRALIB_INC_XDS_SCOPERWLOCK_H
#define TOKA_MOPRALIB_INC_XDS_SCOPERWLOCK_H

#include <Poco/Mutex.h>

namespace LockType {
enum type { READ = 1, WRITE = 2 };
}

template <typename _Mutex>
struct ScopeRWLockFuncs {
  static void LockReadMutex(_Mutex& m) { m.lock(); }
  static void LockWriteMutex(_Mutex& m) { m.lock(); }
  static void UnlockMutex(_Mutex& m) { m.unlock(); }
};

template <typename _Mutex = Poco::FastMutex>
class ScopeRWLock {
 public:
  // kind 1 locks for reading, 2 for writing; any other kind leaves the guard unlocked.
  ScopeRWLock(_Mutex& mutex, int kind) : _mutex(mutex), _state(0) {
    if (kind == LockType::READ) {
      LockRead(false);
    } else if (kind == LockType::WRITE) {
      LockWrite(false);
    }
  }
  ~ScopeRWLock() { Unlock(); }

  // True at once when already reading; from write state only with relock (unlock first).
  bool LockRead(bool relock) {
    if (_state == 1) return true;
    if (_state == 2) {
      if (!relock) return false;
      Unlock();
    }
    ScopeRWLockFuncs<_Mutex>::LockReadMutex(_mutex);
    _state = 1;
    return true;
  }

  // True at once when already writing; from read state only with relock (unlock first).
  bool LockWrite(bool relock) {
    if (_state == 2) return true;
    if (_state == 1) {
      if (!relock) return false;
      Unlock();
    }
    ScopeRWLockFuncs<_Mutex>::LockWriteMutex(_mutex);
    _state = 2;
    return true;
  }

  // False when nothing is held.
  bool Unlock() {
    if (_state == 0) return false;
    ScopeRWLockFuncs<_Mutex>::UnlockMutex(_mutex);
    _state = 0;
    return true;
  }

  int state() const { return _state; }

 private:
  ScopeRWLock(const ScopeRWLock&) = delete;
  ScopeRWLock& operator=(const ScopeRWLock&) = delete;

  _Mutex& _mutex;
  int _state;
};

#endif  // TOKA_MOPRALIB_INC_XDS_SCOPERWLOCK_H
