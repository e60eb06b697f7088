// mopra::StrHolder and mopra_StringHolder: binary-safe byte strings that cross the PHP and
// Java boundaries by reference and receive results.
//
// Both builds (shared-types/mopra_build.h), both holders:
//   `value` (std::string, may hold any bytes) and the buffer members setBinVal, getBinVal
//   and getLength. A buffer argument comes with `size`, the number of bytes the caller's
//   buffer holds (the caller guarantees it); negative sizes, offsets or lengths are refused
//   as the members say, so no member reads or writes outside [buf, buf + size).
//   getLength is the value's byte length, INT_MAX for a value longer than that.
// MopraX's build (MOPRA_PX_BUILD), mopra::StrHolder only:
//   `cursor` (int32, read position of the unpack members, 0 at construction; mutable: the
//   unpack members of a constant holder move it) and `error` (int32, 0 at construction);
//   pack members append little-endian records (I8, I16, I32, I64 of that many bytes; Str
//   and Bin an int32 length then the bytes) and unpack members read them back at cursor.
//   An unpack that fails sets the target's error to -1 (or returns -1), never moves the
//   cursor and never changes the holder it reads from.
// MopraXJNI's build (MOPRA_JNI_BUILD): `value` only, plus getVal/setVal on both holders;
//   no cursor, no error, no pack or unpack members.
//
// Plain value types: copy construction and assignment copy every member; no base class,
// nothing virtual. Not thread-safe: one thread at a time per holder (the constant unpack
// members write the cursor).
#ifndef TOKA_SHARED_TYPES_MOPRAX_STRHOLDER_H
#define TOKA_SHARED_TYPES_MOPRAX_STRHOLDER_H

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>

#include "shared-types/MopraX_IntegralHolder.h"
#include "shared-types/mopra_build.h"

namespace mopra {

namespace detail {
// The buffer members shared by both string holders, over the holder's value.
void set_bin_val(std::string& value, const char* buf, int size, int offset, int len);
int get_bin_val(const std::string& value, char* buf, int size, int offset);
// Their rules on their own, for callers that copy the bytes themselves (MopraXJNI copies
// straight between a Java array and the value). set_bin_count: -1 for a negative size,
// offset or len (value unchanged), else the count of bytes from offset that the value
// becomes (0: cleared). get_bin_count: -1 for a negative size or offset, else the count of
// bytes of a value of `length` bytes copied to offset (0: no room).
int set_bin_count(int size, int offset, int len);
int get_bin_count(size_t length, int size, int offset);
// A byte length as an int: lengths above INT_MAX answer INT_MAX, never a negative count.
inline int int_length(size_t length) {
  return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}
}  // namespace detail

class StrHolder {
 public:
  StrHolder() {}

  std::string value;
#ifdef MOPRA_PX_BUILD
  mutable int32_t cursor = 0;
  int32_t error = 0;
#endif

  // Null buf or a negative size, offset or len: value unchanged. len 0 or no byte at
  // offset: value cleared. Else value = the min(len, size - offset) bytes from buf + offset.
  void setBinVal(const char* buf, int size, int offset, int len) {
    detail::set_bin_val(value, buf, size, offset, len);
  }
  // Null buf or a negative size or offset: -1. No room at offset: 0. Else copies
  // min(size - offset, length) bytes of value to buf + offset and returns their count.
  int getBinVal(char* buf, int size, int offset) const {
    return detail::get_bin_val(value, buf, size, offset);
  }
  int getLength() const { return detail::int_length(value.size()); }

#ifdef MOPRA_PX_BUILD
  void packI8(int v);
  void packI16(int v);
  void packI32(int v);
  void packI64(int64_t v);
  // int32 length and the bytes (an empty string appends 4 zero bytes).
  void packStr(const std::string& s);
  // Null buf or a negative argument: -1. len 0 or no byte at offset: 0. Else appends
  // n = min(len, size - offset) as int32 and those n bytes; returns n.
  int packBin(const char* buf, int size, int offset, int len);

  // Read the signed little-endian integer at cursor into out.value (out.error = 0) and
  // move the cursor past it when advance is true; out.error = -1 when the cursor is
  // negative or too few bytes are left.
  void unpackI8(IntegralHolder& out, bool advance) const;
  void unpackI16(IntegralHolder& out, bool advance) const;
  void unpackI32(IntegralHolder& out, bool advance) const;
  void unpackI64(IntegralHolder& out, bool advance) const;
  // A Str record at cursor into out.value (out.error = 0); out.error = -1 for a negative
  // cursor, a negative length or a record longer than the bytes left. out's cursor is not
  // touched (unless out is this holder).
  void unpackStr(StrHolder& out, bool advance) const;
  // A Bin record at cursor into buf + offset; returns its length (0 for an empty record,
  // whatever the buffer), or -1 for a bad record, a null buf, a negative size or offset, or
  // a buffer without room for it.
  int unpackBin(char* buf, int size, int offset, bool advance) const;
#else
  const std::string& getVal() const { return value; }
  void setVal(const std::string& v) { value = v; }
#endif
};

}  // namespace mopra

// A bare byte string (global namespace).
class mopra_StringHolder {
 public:
  mopra_StringHolder() {}

  std::string value;

  void setBinVal(const char* buf, int size, int offset, int len) {
    mopra::detail::set_bin_val(value, buf, size, offset, len);
  }
  int getBinVal(char* buf, int size, int offset) const {
    return mopra::detail::get_bin_val(value, buf, size, offset);
  }
  int getLength() const { return mopra::detail::int_length(value.size()); }

#ifdef MOPRA_JNI_BUILD
  const std::string& getVal() const { return value; }
  void setVal(const std::string& v) { value = v; }
#endif
};

#endif  // TOKA_SHARED_TYPES_MOPRAX_STRHOLDER_H
