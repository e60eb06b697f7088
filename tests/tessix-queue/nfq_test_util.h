// Helpers of the queue tests: payload notifications and a thread that waits on a queue.
#ifndef TOKA_TESTS_TESSIX_QUEUE_NFQ_TEST_UTIL_H
#define TOKA_TESTS_TESSIX_QUEUE_NFQ_TEST_UTIL_H

#include <Poco/AutoPtr.h>

#include <chrono>
#include <string>
#include <thread>

#include "mopralib/inc/PocoEx/TNotificationQueue_impl.h"
#include "src/wdb/TNotification.h"

typedef TNotificationQueue<wdb::INotification> NfQueue;
typedef Poco::AutoPtr<wdb::INotification> NfPtr;

inline NfPtr makeNf(const std::string& text) {
  return NfPtr(wdb::QueueNotification::CTOR(xstring(text.data(), text.size())));
}

// The payload of a notification taken from the queue (which carries one reference, released
// here); "<null>" for none.
inline std::string takeText(wdb::INotification* raw) {
  NfPtr nf(raw);
  if (nf.isNull()) return "<null>";
  const wdb::QueueNotification* q = dynamic_cast<const wdb::QueueNotification*>(nf.get());
  return q ? std::string(q->value().data(), q->value().size()) : "<other>";
}

// Waits until n consumers are blocked on the queue.
inline void waitForWaiters(const NfQueue& q, int n) {
  while (q.waiting() < n) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

#endif  // TOKA_TESTS_TESSIX_QUEUE_NFQ_TEST_UTIL_H
