// mopra::AutoPtr and mopra::OpHandleHolder: an owning-or-borrowing pointer and, over it, the
// holder of one IDL operation handle (mopra::OpHandle, generated from mopra.thrift).
//
// The same in both builds (MopraX and MopraXJNI, shared-types/mopra_build.h).
//
// Ownership: an AutoPtr is empty, owns its object (deletes it on release and destruction)
// or borrows it (never deletes it; the lender keeps it alive meanwhile). It is neither
// copyable nor assignable, so no implicit copy can delete an object twice. The string
// setters of OpHandleHolder copy their argument.
// Failures: dereferencing an empty AutoPtr, and so every getter of an empty holder, throws
// std::runtime_error "mopra__AutoPtr: null pointer".
// Not thread-safe: one thread at a time per holder.
#ifndef TOKA_SHARED_TYPES_MOPRAX_OPHANDLEHOLDER_H
#define TOKA_SHARED_TYPES_MOPRAX_OPHANDLEHOLDER_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "shared-types/mopra_build.h"
#include "shared-types/mopra_types.h"

namespace mopra {

template <typename T>
class AutoPtr {
 public:
  AutoPtr() : _ptr(nullptr), _owner(false) {}
  ~AutoPtr() { release(); }
  AutoPtr(const AutoPtr&) = delete;
  AutoPtr& operator=(const AutoPtr&) = delete;

  // When empty: a default-constructed object, owned. The argument is ignored.
  template <typename I = int>
  void ctor(I = I()) {
    if (_ptr == nullptr) {
      _ptr = new T();
      _owner = true;
    }
  }
  // A borrowed object becomes an owned copy; nothing when empty or already owner.
  template <typename I = int>
  void selfClone(I = I()) {
    if (_ptr != nullptr && !_owner) {
      _ptr = new T(*_ptr);
      _owner = true;
    }
  }
  // Releases what it holds, then holds ptr, owned or borrowed.
  void reset(T* ptr, bool owner) {
    release();
    _ptr = ptr;
    _owner = ptr != nullptr && owner;
  }

  T* get() const { return _ptr; }
  bool isOwner() const { return _owner; }
  // Owner: keeps everything, false. Otherwise forgets the pointer, true.
  bool releaseIfNotOwner() {
    if (_owner) return false;
    _ptr = nullptr;
    return true;
  }
  // Deletes an owned object; then empty and not owner.
  void release() {
    if (_owner && _ptr != nullptr) delete _ptr;
    _ptr = nullptr;
    _owner = false;
  }

  T& operator*() {
    if (_ptr == nullptr) throw std::runtime_error("mopra__AutoPtr: null pointer");
    return *_ptr;
  }
  const T& operator*() const {
    if (_ptr == nullptr) throw std::runtime_error("mopra__AutoPtr: null pointer");
    return *_ptr;
  }

 private:
  T* _ptr;
  bool _owner;
};

class OpHandleHolder {
 public:
  OpHandleHolder() {}
  ~OpHandleHolder() { _handle.release(); }
  OpHandleHolder(const OpHandleHolder&) = delete;
  OpHandleHolder& operator=(const OpHandleHolder&) = delete;

  void ctor() { _handle.ctor(0); }
  void selfClone() { _handle.selfClone(0); }
  bool isNull() const { return _handle.get() == nullptr; }
  bool releaseIfNotOwner() { return _handle.releaseIfNotOwner(); }
  void release() { _handle.release(); }

  // The pointer itself, for placing a borrowed or owned handle (reset) and reading it.
  AutoPtr<OpHandle>& handle() { return _handle; }
  const AutoPtr<OpHandle>& handle() const { return _handle; }

  const std::string& getSource() const { return (*_handle).source; }
  const std::string& getAuth() const { return (*_handle).auth; }
  int32_t getFwseq() const { return (*_handle).fwseq; }
  int32_t getReason() const { return static_cast<int32_t>((*_handle).reason); }
  int64_t getSeq() const { return (*_handle).seq; }
  int64_t getSession() const { return (*_handle).session; }

  // Each creates the handle when empty. source is required, so it has no set flag.
  void setSource(const std::string& v);
  void setAuth(const std::string& v);
  void setFwseq(int v);
  void setReason(int v);
  void setSeq(int64_t v);
  void setSession(int64_t v);

 private:
  AutoPtr<OpHandle> _handle;
};

}  // namespace mopra

#endif  // TOKA_SHARED_TYPES_MOPRAX_OPHANDLEHOLDER_H
