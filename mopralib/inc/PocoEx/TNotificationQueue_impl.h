// TNotificationQueue<T>: a thread-safe queue of reference-counted notifications from
// producers to consumers.
//
// Stored notifications form a FIFO (urgent ones are inserted at the head); maxNfSize limits
// how many are stored (0: no limit). A consumer that finds the store empty blocks on an
// auto-resetting signal of its own; each enqueue then hands its notification straight to
// the consumer that has waited longest, whatever the limit, so the store stays empty while
// anyone waits. wakeUpAll releases every blocked consumer with nothing.
//
// Ownership: the queue holds one reference of each stored notification (Poco::AutoPtr);
// dequeue and waitDequeue return a raw pointer carrying one reference for the caller, who
// releases it. Every consumer's wait record belongs to that consumer; a scope guard takes
// it out of the wait list under the mutex on every way out (time-out, exception), so no
// producer ever hands a notification to a record that is gone, and a hand-over that raced
// with a time-out is returned, not lost.
//
// Destruction: the destructor releases every blocked consumer (they return null) and waits
// until none of them is still inside the queue before it frees anything. Other calls must
// not run on a queue being destroyed.
//
// Threads: any number of producers and consumers. One Poco::FastMutex guards the store, the
// wait list and the limit; it is held only for deque operations, never while a consumer
// blocks nor while a waiter is signalled (a consumer taken out of the wait list waits for
// its signal before its record goes). No other lock.
#ifndef TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H
#define TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H

#include <Poco/AutoPtr.h>
#include <Poco/Bugcheck.h>
#include <Poco/Mutex.h>
#include <Poco/ScopedLock.h>

#include <errno.h>
#include <sched.h>
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <utility>

#include "src/xcheck.h"

// An auto-resetting signal for one waiter: set() releases wait()/tryWait() once.
class WaitSignal {
 public:
  WaitSignal() { XCHECK(sem_init(&_sem, 0, 0) == 0, "sem_init"); }
  ~WaitSignal() { sem_destroy(&_sem); }
  void set() { XCHECK(sem_post(&_sem) == 0, "sem_post"); }
  void wait() {
    while (sem_wait(&_sem) != 0) XCHECK(errno == EINTR, "sem_wait");
  }
  // false when milliseconds passed without a set(). The limit is kept on the steady clock;
  // the wall-clock deadline that sem_timedwait needs is renewed when the wall clock jumps.
  bool tryWait(long milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      const auto left = end - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return sem_trywait(&_sem) == 0;
      struct timespec ts;
      clock_gettime(CLOCK_REALTIME, &ts);
      const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      ts.tv_sec += static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec += static_cast<long>(ns % 1000000000);
      if (ts.tv_nsec >= 1000000000) {
        ts.tv_nsec -= 1000000000;
        ts.tv_sec += 1;
      }
      if (sem_timedwait(&_sem, &ts) == 0) return true;
      XCHECK(errno == ETIMEDOUT || errno == EINTR, "sem_timedwait");
    }
  }

 private:
  WaitSignal(const WaitSignal&) = delete;
  WaitSignal& operator=(const WaitSignal&) = delete;
  sem_t _sem;
};

template <class T>
class TNotificationQueue {
 public:
  typedef Poco::AutoPtr<T> NfPtr;
  // Polls of the store (each a pause instruction apart) before a consumer that found it
  // empty blocks: a few microseconds on bare metal, up to about 20 us where a hypervisor
  // makes pause slow (measured 160 ns per pause on a virtual machine).
  static constexpr int kSpinPolls = 128;
  // Limits above this (about 34 years) wait without a limit: the deadline would overflow
  // the clock's count.
  static constexpr long kLongestTimedWait = 1L << 40;

  TNotificationQueue() : maxNfSize(0), _closing(false), _stored(0), _inside(0) {}
  ~TNotificationQueue();

  // true when stored or handed over; false when the limit is reached and nobody waits (the
  // notification is then dropped with the caller's pointer). An empty pointer throws
  // Poco::NullPointerException naming "pNotification", the queue unchanged.
  bool enqueueNotification(NfPtr pNotification) { return _enqueue(pNotification, false); }
  // The same, storing at the head.
  bool enqueueUrgentNotification(NfPtr pNotification) { return _enqueue(pNotification, true); }

  // The head of the store with one reference for the caller, or null; never blocks.
  T* dequeueNotification() {
    NfPtr nf;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      nf = dequeueOne();
    }
    return nf.duplicate();
  }
  // Blocks until a notification comes; null after wakeUpAll.
  T* waitDequeueNotification() { return _wait(-1); }
  // Blocks at most milliseconds (0: only what is stored; below 0: no limit); null on
  // time-out or after wakeUpAll.
  T* waitDequeueNotification(long milliseconds) {
    return _wait(milliseconds < 0 ? -1 : milliseconds);
  }

  // Releases every blocked consumer with nothing; stored notifications stay.
  void wakeUpAll() { _releaseWaiters(); }

  int size() const {
    Poco::FastMutex::ScopedLock lock(_mutex);
    return static_cast<int>(_nfQueue.size());
  }
  // Drops every stored notification; blocked consumers keep waiting.
  void clear() {
    std::deque<NfPtr> dropped;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      dropped.swap(_nfQueue);
      _stored.store(0, std::memory_order_relaxed);
    }
    // The references go outside the lock.
  }
  // Consumers blocked now (for tests and diagnostics).
  int waiting() const {
    Poco::FastMutex::ScopedLock lock(_mutex);
    return static_cast<int>(_waitQueue.size());
  }
  uint64_t getMaxNfSize() const {
    Poco::FastMutex::ScopedLock lock(_mutex);
    return maxNfSize;
  }
  // Lowering the limit below the count removes nothing.
  void setMaxNfSize(uint64_t limit) {
    Poco::FastMutex::ScopedLock lock(_mutex);
    maxNfSize = limit;
  }

 private:
  TNotificationQueue(const TNotificationQueue&) = delete;
  TNotificationQueue& operator=(const TNotificationQueue&) = delete;

  // One blocked consumer. Its signal is a POSIX semaphore (posted at most once) rather
  // than an event over a mutex and condition variable: a post is one atomic add and one
  // futex wake, and the woken consumer has no mutex to win back from its signaller.
  // glibc's sem_post touches nothing after the wake-up, so the consumer may free the
  // record as soon as its wait returns.
  struct WaitInfo {
    NfPtr pNf;  // the hand-over; empty until an enqueue fills it
    WaitSignal nfAvailable;
  };

  // Takes a blocked consumer's record out of the wait list (when still there) under the
  // mutex and moves out any hand-over. Runs on every way out of a wait but the signalled
  // one, where the signaller has already removed the record.
  class WaitGuard {
   public:
    WaitGuard(TNotificationQueue& q, WaitInfo& w) : _q(q), _w(w), _armed(true) {}
    // Nothing in a wait throws today; should it ever, a hand-over already made goes back
    // to the head of the store (or to the next waiter) rather than being lost.
    ~WaitGuard() {
      if (!_armed) return;
      NfPtr nf = take();
      if (nf.isNull()) return;
      try {
        _q._enqueue(nf, true);
      } catch (...) {
      }
    }
    NfPtr take() {
      _armed = false;
      NfPtr nf;
      bool posted = false;
      {
        Poco::FastMutex::ScopedLock lock(_q._mutex);
        auto it = std::find(_q._waitQueue.begin(), _q._waitQueue.end(), &_w);
        if (it != _q._waitQueue.end()) {
          _q._waitQueue.erase(it);
        } else {
          posted = true;  // taken out by an enqueue or a wake-up, whose post follows
        }
        nf = std::move(_w.pNf);
      }
      // The record must outlive its signaller's post.
      if (posted) _w.nfAvailable.wait();
      return nf;
    }
    void disarm() { _armed = false; }

   private:
    TNotificationQueue& _q;
    WaitInfo& _w;
    bool _armed;
  };

  // Counts a consumer inside a wait (polling or blocked); the decrement is its last touch
  // of the queue.
  class InsideCount {
   public:
    explicit InsideCount(std::atomic<int>& n) : _n(n) {}
    ~InsideCount() { _n.fetch_sub(1, std::memory_order_release); }

   private:
    std::atomic<int>& _n;
  };

  // The caller holds the mutex.
  NfPtr dequeueOne() {
    NfPtr nf;
    if (!_nfQueue.empty()) {
      nf = std::move(_nfQueue.front());
      _nfQueue.pop_front();
      _stored.store(_nfQueue.size(), std::memory_order_relaxed);
    }
    return nf;
  }

  // Takes every waiter out of the list under the mutex and signals them, oldest first,
  // after it: a signal needs no lock, and a released consumer waits for its signal before
  // its record goes.
  void _releaseWaiters() {
    std::deque<WaitInfo*> released;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      released.swap(_waitQueue);
    }
    for (WaitInfo* w : released) w->nfAvailable.set();
  }

  bool _enqueue(NfPtr& pNotification, bool urgent) {
    if (pNotification.isNull()) Poco::Bugcheck::nullPointer("pNotification", __FILE__, __LINE__);
    WaitInfo* w;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      if (_waitQueue.empty()) {
        if (maxNfSize != 0 && _nfQueue.size() >= maxNfSize) return false;
        if (urgent) {
          _nfQueue.push_front(std::move(pNotification));
        } else {
          _nfQueue.push_back(std::move(pNotification));
        }
        _stored.store(_nfQueue.size(), std::memory_order_relaxed);
        return true;
      }
      w = _waitQueue.front();
      _waitQueue.pop_front();
      w->pNf = std::move(pNotification);
    }
    // Signalled outside the mutex: the consumer no longer in the list waits for this post
    // before its record goes, even when its time-out has passed.
    w->nfAvailable.set();
    return true;
  }

  // milliseconds: -1 no limit, 0 no wait, otherwise the limit.
  T* _wait(long milliseconds) {
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      NfPtr nf = dequeueOne();
      if (!nf.isNull()) return nf.duplicate();
      // Nothing stored: a zero limit only tests, a queue being destroyed releases at once.
      if (milliseconds == 0 || _closing) return nullptr;
      _inside.fetch_add(1, std::memory_order_relaxed);
    }
    InsideCount inside(_inside);
    // A producer is often about to deliver: poll the store briefly before blocking, since a
    // sleep and wake-up costs far more than the poll. A polling consumer is not waiting yet,
    // so enqueues meanwhile are stored and taken from the store.
    for (int i = 0; i < kSpinPolls; ++i) {
      if (_stored.load(std::memory_order_relaxed) != 0) {
        Poco::FastMutex::ScopedLock lock(_mutex);
        NfPtr nf = dequeueOne();
        if (!nf.isNull()) return nf.duplicate();
      }
      __builtin_ia32_pause();
    }
    std::unique_ptr<WaitInfo> info;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      NfPtr nf = dequeueOne();
      if (!nf.isNull()) return nf.duplicate();
      if (_closing) return nullptr;
      info.reset(new WaitInfo);
      _waitQueue.push_back(info.get());
    }
    WaitGuard guard(*this, *info);
    bool signalled;
    if (milliseconds < 0 || milliseconds > kLongestTimedWait) {
      info->nfAvailable.wait();
      signalled = true;
    } else {
      signalled = info->nfAvailable.tryWait(milliseconds);
    }
    NfPtr nf;
    if (signalled) {
      // The signaller took the record out and filled it (or left it empty) under the mutex.
      guard.disarm();
      nf = std::move(info->pNf);
    } else {
      nf = guard.take();
    }
    return nf.duplicate();
  }

  std::deque<NfPtr> _nfQueue;
  std::deque<WaitInfo*> _waitQueue;
  uint64_t maxNfSize;
  mutable Poco::FastMutex _mutex;
  bool _closing;             // set by the destructor, under the mutex
  // The store's count, written under the mutex and read without it by polling consumers
  // (a hint only: they take notifications under the mutex).
  std::atomic<size_t> _stored;
  std::atomic<int> _inside;  // consumers between a failed first take and their return
};

template <class T>
TNotificationQueue<T>::~TNotificationQueue() {
  {
    Poco::FastMutex::ScopedLock lock(_mutex);
    _closing = true;
  }
  _releaseWaiters();
  // The released consumers leave at once; their last touch is the count.
  for (int spins = 0; _inside.load(std::memory_order_acquire) != 0; ++spins) {
    if (spins < 64) {
      sched_yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  clear();
}

#endif  // TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H
