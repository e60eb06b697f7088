// The queue facade behind a WNfQueueJNI handle: wnfqueue::WNfQueueGeneric moves byte
// payloads in and out of one TNotificationQueue of wdb::INotification, each payload a
// pooled string inside one wdb::QueueNotification (type id 1001). Nothing is persisted.
//
// Ownership: the facade owns its queue and every stored payload; dequeue and waitDequeue
// return new local references (a Java byte array or string, or null) that belong to the
// Java caller. Each facade counts as a live object of TessiX (src/xlive.h), so
// tessix__uninitialize leaves the allocator running while a queue exists.
//
// Threads: every member may run concurrently with every other on one facade; the queue's
// one mutex orders them (mopralib/inc/PocoEx/TNotificationQueue_impl.h), and a consumer
// blocked in waitDequeue holds no lock. The destructor waits for every call that has
// entered the facade: consumers blocked or still on their way to the wait return null (a
// dequeue counts until its result is made or its payload given back), enqueues answer
// false. No call may start once the destructor has begun.
#ifndef TOKA_WNFQUEUE_IMPL_H
#define TOKA_WNFQUEUE_IMPL_H

#include <jni.h>

#include <cstdint>

#include "mopralib/inc/PocoEx/TNotificationQueue_impl.h"
#include "src/wdb/TNotification.h"
#include "src/xlive.h"
#include "src/xstring.h"

namespace wnfqueue {

// Debug line "data[%d]=\"%s\"" at place: at most length bytes (ending early at a NUL), a
// missing buffer as "<null>". Does not test the module level.
void dumpData(const char* place, const char* data, int length);

class WNfQueueGeneric {
 public:
  typedef TNotificationQueue<wdb::INotification> Queue;

  // Builds the queue, then calls tessix__initialize(10000); a failure propagates.
  WNfQueueGeneric();
  // Releases every consumer inside a call (null) and waits until every call has left, then
  // drops every stored payload.
  ~WNfQueueGeneric();

  // A negative limit is refused with the error line "value is negative!" (module level 2
  // and above); 0 means no limit.
  void setMaxNfSize(int64_t limit);
  int64_t getMaxNfSize() const;
  int64_t size() const;
  void clear();
  void wakeUpAll();

  // Copies length bytes at data (null or length 0: an empty payload) into a new
  // notification and stores or hands it over, at the head when urgent. false when the
  // queue is full and nobody waits, or when the allocator gives no memory (it has stopped).
  bool enqueue(const char* data, int length, bool urgent);
  // The head payload as a fresh byte array (or, asString, a string up to its first NUL), or
  // null when the queue is empty or the payload is empty; never blocks. When the VM cannot
  // make the result (an OutOfMemoryError is then pending), the payload goes back to the head
  // of the queue (to the longest-waiting consumer if one waits, whatever the limit) and the
  // answer is null.
  jobject dequeue(JNIEnv* env, bool asString);
  // The same, waiting at most timeout milliseconds (below 0: no limit; 0: no wait). null on
  // time-out or after wakeUpAll.
  jobject waitDequeue(JNIEnv* env, int64_t timeout, bool asString);

  // The queue itself, for tests and benchmarks of the C++ side.
  Queue& queue() { return _queue; }

 private:
  WNfQueueGeneric(const WNfQueueGeneric&) = delete;
  WNfQueueGeneric& operator=(const WNfQueueGeneric&) = delete;

  // Converts a notification taken from the queue (its reference is released here) into a
  // new Java array or string of the payload; null for an empty payload (dropped) or when the
  // VM cannot make it (the notification then goes back to the queue).
  jobject _take(JNIEnv* env, wdb::INotification* nf, bool asString);

  XLiveToken _live;  // first in, last out: held while the queue holds pooled memory
  Queue _queue;
};

}  // namespace wnfqueue

#endif  // TOKA_WNFQUEUE_IMPL_H
