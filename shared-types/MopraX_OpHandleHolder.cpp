#include "shared-types/MopraX_OpHandleHolder.h"

#include <type_traits>

namespace mopra {

// Callers pass any int; the IDL enumerations have a fixed int32_t underlying type (see
// cmake/ThriftEnumFix.cmake), so every one is a valid reason and getReason gives it back.
static_assert(std::is_same<std::underlying_type<OpReason::type>::type, int32_t>::value,
              "OpReason holds every int");

void OpHandleHolder::setSource(const std::string& v) {
  _handle.ctor(0);
  (*_handle).__set_source(v);
}

void OpHandleHolder::setAuth(const std::string& v) {
  _handle.ctor(0);
  (*_handle).__set_auth(v);
}

void OpHandleHolder::setFwseq(int v) {
  _handle.ctor(0);
  (*_handle).__set_fwseq(v);
}

void OpHandleHolder::setReason(int v) {
  _handle.ctor(0);
  (*_handle).__set_reason(static_cast<OpReason::type>(v));
}

void OpHandleHolder::setSeq(int64_t v) {
  _handle.ctor(0);
  (*_handle).__set_seq(v);
}

void OpHandleHolder::setSession(int64_t v) {
  _handle.ctor(0);
  (*_handle).__set_session(v);
}

}  // namespace mopra
