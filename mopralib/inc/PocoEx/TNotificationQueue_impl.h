// TNotificationQueue<T>: a thread-safe queue of reference-counted notifications from
// producers to consumers.
//
// Stored notifications form a FIFO (urgent ones are inserted at the head); maxNfSize limits
// how many are stored (0: no limit). A consumer that finds the store empty joins the wait
// list in the same locked section, so from that moment every enqueue hands its notification
// straight to the consumer that has waited longest (whatever the limit) and wakeUpAll
// releases it with nothing; the store stays empty while anyone waits. Before it takes the
// lock, a consumer that may wait polls the store's count briefly (a producer is often about
// to deliver). A consumer counts from the entry of its call: a wakeUpAll after that entry
// releases it even before it has joined the wait list, and at the limit an enqueue stores
// one notification beyond it for each consumer still on its way to the lock (which takes
// one there), just as it would hand one to each of them had they been waiting already.
// Timed waits run on CLOCK_MONOTONIC, so steps of the wall clock do not stretch them.
//
// Ownership: the queue holds one reference of each stored notification (Poco::AutoPtr);
// dequeue and waitDequeue return a raw pointer carrying one reference for the caller, who
// releases it. Every consumer's wait record lives on that consumer's stack; a scope guard
// takes it out of the wait list under the mutex on every way out (time-out, exception), so
// no producer ever hands a notification to a record that is gone, and a hand-over that
// raced with a time-out is returned, not lost.
//
// Destruction: every call is counted from its entry to its last touch of the queue (and a
// Call object counts its owner across several calls). The destructor releases every blocked
// consumer (null), lets consumers still on their way take what is stored or return null,
// makes enqueues answer false, and waits until no call is inside before it frees anything.
// A call must not begin once the destructor has begun.
//
// Threads: any number of producers and consumers. One Poco::FastMutex guards the store, the
// wait list and the limit; it is held only for deque operations, never while a consumer
// waits nor while a waiter is signalled (a consumer taken out of the wait list waits for its
// signal before its record goes). No other lock; the call counts, the wake-up count and the
// store's count are atomics.
//
// Hooks (second template argument, for tests), each on the thread named, without the lock:
// Hooks::entered() on a consumer's, right after its call is counted and before it polls;
// Hooks::joined() on a consumer's, right after the locked section that found the store empty
// and put the consumer on the wait list, before it waits; Hooks::closing() on the
// destructor's, after it has released the waiters and before it waits for the calls inside.
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
#include <thread>
#include <utility>

#include "src/xcheck.h"

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
#endif

// An auto-resetting signal for one waiter: set() releases wait()/tryWait() once.
class WaitSignal {
 public:
  // The clock of timed waits.
  static constexpr clockid_t kClock = CLOCK_MONOTONIC;

  WaitSignal() { XCHECK(sem_init(&_sem, 0, 0) == 0, "sem_init"); }
  ~WaitSignal() { sem_destroy(&_sem); }
  void set() { XCHECK(sem_post(&_sem) == 0, "sem_post"); }
  void wait() {
    while (sem_wait(&_sem) != 0) XCHECK(errno == EINTR, "sem_wait");
  }
  // false when milliseconds (> 0) passed on kClock without a set().
  bool tryWait(long milliseconds) {
    struct timespec end;
    clock_gettime(kClock, &end);
    end.tv_sec += static_cast<time_t>(milliseconds / 1000);
    end.tv_nsec += (milliseconds % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
      end.tv_nsec -= 1000000000L;
      end.tv_sec += 1;
    }
    for (;;) {
      if (sem_clockwait(&_sem, kClock, &end) == 0) {
        _acquired();
        return true;
      }
      if (errno == ETIMEDOUT) return false;
      XCHECK(errno == EINTR, "sem_clockwait");
    }
  }

 private:
  WaitSignal(const WaitSignal&) = delete;
  WaitSignal& operator=(const WaitSignal&) = delete;

  // ThreadSanitizer sees sem_post as a release but has no interceptor for sem_clockwait:
  // tell it that a successful wait acquires what the poster wrote.
  void _acquired() {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(&_sem);
#endif
  }

  sem_t _sem;
};

// The hooks of a queue outside tests: none.
struct TNotificationQueueNoHooks {
  static void entered() {}
  static void joined() {}
  static void closing() {}
};

template <class T, class Hooks = TNotificationQueueNoHooks>
class TNotificationQueue {
 public:
  typedef Poco::AutoPtr<T> NfPtr;
  // Limits above this (about 34 years) wait without a limit: the deadline would overflow
  // the clock's count.
  static constexpr long kLongestTimedWait = 1L << 40;
  // Polls of the store's count (back to back, some 0.3 ns each: about 2.5 us in all) before
  // a consumer that may wait takes the lock. No pause instruction between them: on a virtual
  // machine, pause loops measured slower hand-offs to consumers that had gone to sleep (the
  // hypervisor deschedules vCPUs that pause in a loop).
  static constexpr int kSpinPolls = 8192;

  TNotificationQueue()
      : _calls(0), _closing(false), maxNfSize(0), _takes(0), _wakeUps(0), _stored(0) {}
  ~TNotificationQueue();

  // Counts a consumer as inside the queue for as long as it lives, across several member
  // calls (a take and the give-back that may follow it), so that the destructor waits for
  // it as well. Made before the first of those calls.
  class Call;  // defined after the class

  // true when stored or handed over; false when the limit is reached and nobody waits (the
  // notification is then dropped with the caller's pointer), or when the queue is being
  // destroyed. An empty pointer throws Poco::NullPointerException naming "pNotification",
  // the queue unchanged.
  bool enqueueNotification(NfPtr pNotification) { return _enqueue(pNotification, false, true); }
  // The same, storing at the head.
  bool enqueueUrgentNotification(NfPtr pNotification) {
    return _enqueue(pNotification, true, true);
  }
  // Gives back a notification that a consumer took but could not deliver: to the consumer
  // that has waited longest, or else to the head of the store whatever the limit (dropped
  // when the queue is being destroyed).
  void returnNotification(NfPtr pNotification) { _enqueue(pNotification, true, false); }

  // The head of the store with one reference for the caller, or null; never blocks.
  T* dequeueNotification() {
    NfPtr nf;
    _takes.fetch_add(kCall);
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      _Leave leave(_takes, kCall);
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

  // Releases with nothing every consumer whose call began before it and that would wait:
  // the blocked ones and those still on their way to the lock. Stored notifications stay.
  void wakeUpAll() {
    _Count call(_calls, kCall);
    _releaseWaiters(true);
  }

  int size() const {
    _Count call(_calls, kCall);
    Poco::FastMutex::ScopedLock lock(_mutex);
    return static_cast<int>(_nfQueue.size());
  }
  // Drops every stored notification; blocked consumers keep waiting.
  void clear() {
    _Count call(_calls, kCall);
    _clear();
  }
  // Consumers blocked now (for tests and diagnostics).
  int waiting() const {
    _Count call(_calls, kCall);
    Poco::FastMutex::ScopedLock lock(_mutex);
    return static_cast<int>(_waitQueue.size());
  }
  // Calls inside the queue now, Call objects included (for tests and diagnostics; no lock).
  int callsInside() const {
    return static_cast<int>((_calls.load() & (kPoller - 1)) + (_takes.load() & (kPoller - 1)));
  }
  uint64_t getMaxNfSize() const {
    _Count call(_calls, kCall);
    Poco::FastMutex::ScopedLock lock(_mutex);
    return maxNfSize;
  }
  // Lowering the limit below the count removes nothing.
  void setMaxNfSize(uint64_t limit) {
    _Count call(_calls, kCall);
    Poco::FastMutex::ScopedLock lock(_mutex);
    maxNfSize = limit;
  }

 private:
  TNotificationQueue(const TNotificationQueue&) = delete;
  TNotificationQueue& operator=(const TNotificationQueue&) = delete;

  // The call counts, each call counted from its entry to its last touch of the queue: the
  // consumers' takes in _takes, every other call in _calls (apart, so that counting a take
  // touches neither the lock's line nor the producers'). The high half of _takes counts the
  // consumers that may wait and have not yet reached their first locked section (polling,
  // or waiting for the lock).
  static constexpr uint64_t kCall = 1;
  static constexpr uint64_t kPoller = uint64_t(1) << 32;

  // Takes n off the counts when it goes. Declared after a lock guard it runs before the
  // unlock, on every way out of the locked section (the call's last touch is then the
  // unlock, which the destructor's own locking orders before it frees anything).
  class _Leave {
   public:
    _Leave(std::atomic<uint64_t>& counts, uint64_t n) : _counts(counts), _n(n) {}
    ~_Leave() { _counts.fetch_sub(_n, std::memory_order_release); }
    // The call stays counted after this section; only what else was counted goes.
    void keepCall() { _n -= kCall; }

   private:
    _Leave(const _Leave&) = delete;
    _Leave& operator=(const _Leave&) = delete;
    std::atomic<uint64_t>& _counts;
    uint64_t _n;
  };

  // Counts n for as long as it lives; alone, its end is the call's last touch.
  class _Count : public _Leave {
   public:
    _Count(std::atomic<uint64_t>& counts, uint64_t n) : _Leave(counts, n) { counts.fetch_add(n); }
  };

  // One waiting consumer. Its signal is a POSIX semaphore (posted at most once) rather
  // than an event over a mutex and condition variable: a post is one atomic add, plus one
  // futex wake only when the consumer sleeps, and the woken consumer has no mutex to win
  // back from its signaller. glibc's sem_post touches nothing after the wake-up, so the
  // consumer may drop the record as soon as its wait returns.
  struct WaitInfo {
    NfPtr pNf;  // the hand-over; empty until an enqueue fills it
    WaitSignal nfAvailable;
  };

  // Takes a waiting consumer's record out of the wait list (when still there) under the
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
        _q.returnNotification(nf);
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

  // Room to store one more notification (the caller holds the mutex): no limit, a count
  // under it, or one over it for each consumer still on its way to the lock, which takes
  // one when it gets there, as it would have been handed one had it been waiting already.
  bool _hasRoom() const {
    if (maxNfSize == 0) return true;
    const uint64_t n = _nfQueue.size();
    return n < maxNfSize || n - maxNfSize < (_takes.load(std::memory_order_relaxed) >> 32);
  }

  void _clear() {
    std::deque<NfPtr> dropped;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      dropped.swap(_nfQueue);
      _stored.store(0, std::memory_order_relaxed);
    }
    // The references go outside the lock.
  }

  // Takes every waiter out of the list under the mutex and signals them, oldest first,
  // after it: a signal needs no lock, and a released consumer waits for its signal before
  // its record goes. wakeUp: consumers on their way to the lock are released too.
  void _releaseWaiters(bool wakeUp) {
    std::deque<WaitInfo*> released;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      if (wakeUp)
        _wakeUps.store(_wakeUps.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
      released.swap(_waitQueue);
    }
    for (WaitInfo* w : released) w->nfAvailable.set();
  }

  // limited: the limit applies when nobody waits (false only for a notification given back).
  bool _enqueue(NfPtr& pNotification, bool urgent, bool limited) {
    if (pNotification.isNull()) Poco::Bugcheck::nullPointer("pNotification", __FILE__, __LINE__);
    _calls.fetch_add(kCall);
    WaitInfo* w;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      _Leave leave(_calls, kCall);
      if (_waitQueue.empty()) {
        if (_closing || (limited && !_hasRoom())) return false;
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
    // before its record goes (and stays counted until then), even when its time-out has
    // passed.
    w->nfAvailable.set();
    return true;
  }

  // milliseconds: -1 no limit, 0 no wait, otherwise the limit.
  T* _wait(long milliseconds) {
    // Counted from here: the destructor waits for this call, an enqueue at the limit counts
    // it as a waiter until it reaches the lock, and a wake-up from now on releases it.
    const uint64_t counted = milliseconds != 0 ? kCall + kPoller : kCall;
    _takes.fetch_add(counted);
    const uint64_t wakeUps = _wakeUps.load(std::memory_order_relaxed);
    Hooks::entered();
    // A producer is often about to deliver: poll the store's count briefly before taking
    // the lock, since a sleep and wake-up costs far more.
    if (milliseconds != 0) {
      for (int i = 0; i < kSpinPolls && _stored.load(std::memory_order_relaxed) == 0; ++i) {
      }
    }
    NfPtr nf;
    WaitInfo info;
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      _Leave leave(_takes, counted);
      nf = dequeueOne();
      if (nf.isNull()) {
        // Nothing stored: a zero limit only tests; a queue being destroyed, or a wake-up
        // since this call began, releases at once.
        if (milliseconds == 0 || _closing || _wakeUps.load(std::memory_order_relaxed) != wakeUps) {
          return nullptr;
        }
        // Found empty and joined in one locked section: no enqueue or wake-up can slip
        // between the two.
        _waitQueue.push_back(&info);
        leave.keepCall();
      }
    }
    // The caller's reference is taken outside the lock (the count is the notification's).
    if (!nf.isNull()) return nf.duplicate();
    _Leave inside(_takes, kCall);  // goes last: this call's last touch of the queue
    WaitGuard guard(*this, info);
    Hooks::joined();
    bool signalled;
    if (milliseconds < 0 || milliseconds > kLongestTimedWait) {
      info.nfAvailable.wait();
      signalled = true;
    } else {
      signalled = info.nfAvailable.tryWait(milliseconds);
    }
    if (signalled) {
      // The signaller took the record out and filled it (or left it empty) under the mutex.
      guard.disarm();
      nf = std::move(info.pNf);
    } else {
      nf = guard.take();
    }
    return nf.duplicate();
  }

  // The lock's line: the mutex and what producers touch next to it (the count of calls other
  // than takes, the closing flag).
  alignas(64) mutable Poco::FastMutex _mutex;
  mutable std::atomic<uint64_t> _calls;  // calls other than takes (kCall)
  bool _closing;                         // set by the destructor, under the mutex
  std::deque<NfPtr> _nfQueue;
  std::deque<WaitInfo*> _waitQueue;
  uint64_t maxNfSize;
  // The consumers' line: their takes (kCall) and those on their way to the lock (kPoller),
  // and the count of wakeUpAll calls so far, written under the mutex and read by consumers
  // at their entry.
  alignas(64) mutable std::atomic<uint64_t> _takes;
  std::atomic<uint64_t> _wakeUps;
  // The store's count, written under the mutex and read without it by polling consumers
  // (a hint only: they take notifications under the mutex); on a line of its own, so that
  // their polls take no other line away from producers.
  alignas(64) std::atomic<size_t> _stored;
};

template <class T, class Hooks>
class TNotificationQueue<T, Hooks>::Call : _Count {
 public:
  explicit Call(TNotificationQueue& q) : _Count(q._takes, kCall) {}
};

template <class T, class Hooks>
TNotificationQueue<T, Hooks>::~TNotificationQueue() {
  {
    Poco::FastMutex::ScopedLock lock(_mutex);
    _closing = true;
  }
  _releaseWaiters(false);
  Hooks::closing();
  // Every call that has entered leaves soon: released waiters at once, consumers on their
  // way at their locked section, producers refused. A call leaves under the mutex or
  // touches the count last, so a zero read under the mutex means no call is inside.
  for (int spins = 0;; ++spins) {
    {
      Poco::FastMutex::ScopedLock lock(_mutex);
      if (_calls.load(std::memory_order_acquire) == 0 &&
          _takes.load(std::memory_order_acquire) == 0) {
        break;
      }
    }
    if (spins < 64) {
      sched_yield();
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }
  _clear();
}

#endif  // TOKA_MOPRALIB_INC_POCOEX_TNOTIFICATIONQUEUE_IMPL_H
