#include "src/wdb/INotification.h"

#include <typeinfo>

#include "src/xcheck.h"

namespace wdb {

RefCountedObject::RefCountedObject() : _counter(1) {}

RefCountedObject::~RefCountedObject() {}

void RefCountedObject::duplicate() const { _counter.fetch_add(1, std::memory_order_relaxed); }

void RefCountedObject::release() const {
  const int32_t left = _counter.fetch_sub(1, std::memory_order_acq_rel) - 1;
  XCHECK(left >= 0, "RefCountedObject released more often than referenced");
  if (left == 0) doRelease();
}

int32_t RefCountedObject::referenceCount() const {
  return _counter.load(std::memory_order_relaxed);
}

void RefCountedObject::doRelease() const { delete this; }

INotification::~INotification() {}

std::string INotification::name() const { return typeid(*this).name(); }

void INotification::beforeProc(const void*) {}

void INotification::afterProc(const void*) {}

}  // namespace wdb
