// Notification templates over one value, and the queue's own notification type.
//
// TNotification_1_ref<Base, TypeID, Op, OpCountFunc, V> points at a value it does not own;
// notifTypeID, opType and opCount answer from the template arguments (opCount through a
// default-constructed OpCountFunc applied to the object). TNotification_1_inst<...> holds its
// value by copy (or by move) and lives in pooled memory: it is made only by CTOR (xa_malloc,
// count 1; null when the allocator gives no memory, e.g. after it has stopped) and freed by
// DTOR (xa_free) when its last reference goes. clone() of either gives a new instance with
// a copy of the value and the count 1, owned by the caller; it throws std::bad_alloc when
// no pooled memory is left.
//
// Threads: the value is immutable after construction (the queue's type holds a const
// string), so an instance may be read on any thread; the count is atomic (INotification).
#ifndef TOKA_SRC_WDB_TNOTIFICATION_H
#define TOKA_SRC_WDB_TNOTIFICATION_H

#include <new>
#include <type_traits>
#include <utility>

#include "src/wdb/INotification.h"
#include "src/xlabs.h"
#include "src/xstring.h"

namespace wdb {

template <int N>
struct TNotification_FixOpCountFunc {
  int operator()(const void*) const { return N; }
};

template <class B, int TypeID, OpType Op, class OpCountFunc, class V>
class TNotification_1_inst;

template <class B, int TypeID, OpType Op, class OpCountFunc, class V>
class TNotification_1_ref : public B {
 public:
  typedef V value_type;
  typedef TNotification_1_inst<B, TypeID, Op, OpCountFunc, V> inst_type;

  explicit TNotification_1_ref(const V* value) : _pValue(value) {}

  const V& value() const { return *_pValue; }

  int notifTypeID() const override { return TypeID; }
  OpType opType() const override { return Op; }
  int opCount() const override { return OpCountFunc()(this); }
  // A pooled instance holding a copy of the referenced value.
  INotification* clone() override {
    inst_type* copy = inst_type::CTOR(*_pValue);
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
  }

 protected:
  ~TNotification_1_ref() override {}
  void setValuePtr(const V* value) { _pValue = value; }

 private:
  const V* _pValue;  // not owned
};

template <class B, int TypeID, OpType Op, class OpCountFunc, class V>
class TNotification_1_inst : public TNotification_1_ref<B, TypeID, Op, OpCountFunc, V> {
  typedef TNotification_1_ref<B, TypeID, Op, OpCountFunc, V> ref_type;
  typedef typename std::remove_const<V>::type mutable_value;

 public:
  // A new instance in pooled memory with the count 1, or null when no memory is had.
  static TNotification_1_inst* CTOR(const mutable_value& value) {
    void* mem = xa_malloc(sizeof(TNotification_1_inst));
    if (mem == nullptr) return nullptr;
    try {
      return ::new (mem) TNotification_1_inst(value);
    } catch (...) {
      xa_free(mem);
      throw;
    }
  }
  // The same, taking the value over (no copy of its bytes).
  static TNotification_1_inst* CTOR(mutable_value&& value) {
    void* mem = xa_malloc(sizeof(TNotification_1_inst));
    if (mem == nullptr) return nullptr;
    return ::new (mem) TNotification_1_inst(std::move(value));  // a move does not throw
  }
  // Destroys an instance made by CTOR (the value first, then the bases) and frees it.
  static void DTOR(const TNotification_1_inst* inst) {
    if (inst == nullptr) return;
    TNotification_1_inst* p = const_cast<TNotification_1_inst*>(inst);
    p->~TNotification_1_inst();
    xa_free(p);
  }

  INotification* clone() override {
    TNotification_1_inst* copy = CTOR(_value);
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
  }

 protected:
  void doRelease() const override { DTOR(this); }

 private:
  explicit TNotification_1_inst(const mutable_value& value) : ref_type(nullptr), _value(value) {
    this->setValuePtr(&_value);
  }
  explicit TNotification_1_inst(mutable_value&& value) noexcept
      : ref_type(nullptr), _value(std::move(value)) {
    this->setValuePtr(&_value);
  }
  ~TNotification_1_inst() override {}

  V _value;
};

// The notification queue's payload: one const pooled string, type id 1001, operation
// OT_NOTIFY (3), count 1.
enum { kQueueNotificationTypeID = 1001 };
typedef TNotification_1_inst<INotification, kQueueNotificationTypeID, OT_NOTIFY,
                             TNotification_FixOpCountFunc<1>, const xstring>
    QueueNotification;

}  // namespace wdb

#endif  // TOKA_SRC_WDB_TNOTIFICATION_H
