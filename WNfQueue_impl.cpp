#include "WNfQueue_impl.h"

#include <Poco/AutoPtr.h>

#include <climits>
#include <typeinfo>
#include <utility>

#include "logutil.h"
#include "src/TessiX_impl.h"
#include "src/jni/jni_util.h"

namespace wnfqueue {

namespace {
typedef Poco::AutoPtr<wdb::INotification> NfPtr;
}

void dumpData(const char* place, const char* data, int length) {
  if (data == nullptr) {
    __printLogDbg(place, "data[%d]=\"%s\"", length, "<null>");
  } else {
    __printLogDbg(place, "data[%d]=\"%.*s\"", length, length < 0 ? 0 : length, data);
  }
}

WNfQueueGeneric::WNfQueueGeneric() { tessix__initialize(10000); }

WNfQueueGeneric::~WNfQueueGeneric() {}

void WNfQueueGeneric::setMaxNfSize(int64_t limit) {
  if (limit < 0) {
    if (tessix__errOn()) __printLogErr("setMaxNfSize", "%s", "value is negative!");
    return;
  }
  _queue.setMaxNfSize(static_cast<uint64_t>(limit));
}

int64_t WNfQueueGeneric::getMaxNfSize() const {
  return static_cast<int64_t>(_queue.getMaxNfSize());
}

int64_t WNfQueueGeneric::size() const { return _queue.size(); }

void WNfQueueGeneric::clear() { _queue.clear(); }

void WNfQueueGeneric::wakeUpAll() { _queue.wakeUpAll(); }

bool WNfQueueGeneric::enqueue(const char* data, int length, bool urgent) {
  // The payload is copied once, into the string that the notification then takes over.
  xstring payload;
  if (data != nullptr && length > 0) payload.assign(data, static_cast<size_t>(length));
  wdb::QueueNotification* raw = wdb::QueueNotification::CTOR(std::move(payload));
  if (raw == nullptr) return false;  // no pooled memory: the allocator has stopped
  NfPtr nf(raw);
  // Moved in: the reference passes to the queue without a count change.
  return urgent ? _queue.enqueueUrgentNotification(std::move(nf))
                : _queue.enqueueNotification(std::move(nf));
}

// Both takes count as one call inside the queue until the result is made or the payload
// given back, so that a delete waits for the give-back too.
jobject WNfQueueGeneric::dequeue(JNIEnv* env, bool asString) {
  Queue::Call call(_queue);
  return _take(env, _queue.dequeueNotification(), asString);
}

jobject WNfQueueGeneric::waitDequeue(JNIEnv* env, int64_t timeout, bool asString) {
  Queue::Call call(_queue);
  wdb::INotification* nf;
  if (timeout < 0) {
    nf = _queue.waitDequeueNotification();
  } else {
    nf = _queue.waitDequeueNotification(static_cast<long>(timeout));
  }
  return _take(env, nf, asString);
}

jobject WNfQueueGeneric::_take(JNIEnv* env, wdb::INotification* raw, bool asString) {
  NfPtr nf(raw);
  if (nf.isNull() || typeid(*nf) != typeid(wdb::QueueNotification)) return nullptr;
  const xstring& value = static_cast<const wdb::QueueNotification&>(*nf).value();
  // An empty payload, or one too long for a Java array, has no result and is dropped.
  if (value.empty() || value.size() > static_cast<size_t>(INT_MAX)) return nullptr;
  // A string stops at the payload's first NUL byte.
  jobject result = tjni::newResult(env, value.c_str(), value.size(), asString);
  // No result: the VM could not make the array or string (its OutOfMemoryError stays
  // pending). The payload goes back to the head of the queue rather than being lost.
  if (result == nullptr) _queue.returnNotification(nf);
  return result;
}

}  // namespace wnfqueue
