// TNotificationQueue<T>: a thread-safe queue of reference-counted notifications from
// producers to consumers.
//
// Stored notifications form a FIFO (urgent ones are inserted at the head); maxNfSize limits
// how many are stored (0: no limit). A consumer that finds the store empty blocks on an
// auto-resetting event of its own; each enqueue then hands its notification straight to
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
// wait list and the limit; it is held only for deque operations and for signalling events,
// never while a consumer blocks. An event is signalled under the mutex. No other lock.
#ifndef TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H
#define TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H

#include <Poco/AutoPtr.h>
#include <Poco/Bugcheck.h>
#include <Poco/Event.h>
#include <Poco/Mutex.h>
#include <Poco/ScopedLock.h>

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <utility>

#include "src/xcheck.h"

template <class T>
class TNotificationQueue {
 public:
  typedef Poco::AutoPtr<T> NfPtr;

  TNotificationQueue() : maxNfSize(0), _closing(false), _inside(0) {}
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
  void wakeUpAll() {
    Poco::FastMutex::ScopedLock lock(_mutex);
    _releaseWaiters();
  }

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

  struct WaitInfo {
    NfPtr pNf;  // the hand-over; empty until an enqueue fills it
    Poco::Event nfAvailable{Poco::Event::EVENT_AUTORESET};
  };

  // Takes a blocked consumer's record out of the wait list (when still there) under the
  // mutex and moves out any hand-over. Runs on every way out of a wait but the signalled
  // one, where the signaller has already removed the record.
  class WaitGuard {
   public:
    WaitGuard(TNotificationQueue& q, WaitInfo& w) : _q(q), _w(w), _armed(true) {}
    ~WaitGuard() {
      if (!_armed) return;
      NfPtr dropped = take();  // an exception on the way out drops the hand-over
    }
    NfPtr take() {
      _armed = false;
      NfPtr nf;
      {
        Poco::FastMutex::ScopedLock lock(_q._mutex);
        auto it = std::find(_q._waitQueue.begin(), _q._waitQueue.end(), &_w);
        if (it != _q._waitQueue.end()) _q._waitQueue.erase(it);
        nf = std::move(_w.pNf);
      }
      return nf;
    }
    void disarm() { _armed = false; }

   private:
    TNotificationQueue& _q;
    WaitInfo& _w;
    bool _armed;
  };

  // Counts a consumer inside a wait; the decrement is its last touch of the queue.
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
    }
    return nf;
  }

  // The caller holds the mutex. Signals and forgets every waiter, oldest first.
  void _releaseWaiters() {
    for (WaitInfo* w : _waitQueue) _signal(*w);
    _waitQueue.clear();
  }

  static void _signal(WaitInfo& w) {
    try {
      w.nfAvailable.set();
    } catch (...) {
      // A waiter that is never signalled would block for good: a broken invariant.
      XCHECK(false, "TNotificationQueue: cannot signal a waiting consumer");
    }
  }

  bool _enqueue(NfPtr& pNotification, bool urgent) {
    if (pNotification.isNull()) Poco::Bugcheck::nullPointer("pNotification", __FILE__, __LINE__);
    Poco::FastMutex::ScopedLock lock(_mutex);
    if (_waitQueue.empty()) {
      if (maxNfSize != 0 && _nfQueue.size() >= maxNfSize) return false;
      if (urgent) {
        _nfQueue.push_front(std::move(pNotification));
      } else {
        _nfQueue.push_back(std::move(pNotification));
      }
      return true;
    }
    WaitInfo* w = _waitQueue.front();
    _waitQueue.pop_front();
    w->pNf = std::move(pNotification);
    _signal(*w);
    return true;
  }

  // milliseconds: -1 no limit, 0 no wait, otherwise the limit.
  T* _wait(long milliseconds) {
    std::unique_ptr<WaitInfo> info;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      NfPtr nf = dequeueOne();
      if (!nf.isNull()) return nf.duplicate();
      // Nothing stored: a zero limit only tests, a queue being destroyed releases at once.
      if (milliseconds == 0 || _closing) return nullptr;
      info.reset(new WaitInfo);
      _waitQueue.push_back(info.get());
      _inside.fetch_add(1, std::memory_order_relaxed);
    }
    InsideCount inside(_inside);
    WaitGuard guard(*this, *info);
    bool signalled;
    if (milliseconds < 0) {
      info->nfAvailable.wait();
      signalled = true;
    } else {
      signalled = info->nfAvailable.tryWait(milliseconds);
    }
    NfPtr nf;
    if (signalled) {
      // The signaller removed the record and filled it (or left it empty) under the mutex.
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
  std::atomic<int> _inside;  // consumers between their registration and their return
};

template <class T>
TNotificationQueue<T>::~TNotificationQueue() {
  {
    Poco::FastMutex::ScopedLock lock(_mutex);
    _closing = true;
    _releaseWaiters();
  }
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
