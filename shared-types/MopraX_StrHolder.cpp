#include "shared-types/MopraX_StrHolder.h"

#include <cstring>

namespace mopra {
namespace detail {

int set_bin_count(int size, int offset, int len) {
  if (size < 0 || offset < 0 || len < 0) return -1;
  const int avail = size - offset;  // no overflow: both are non-negative
  if (len == 0 || avail <= 0) return 0;
  return len < avail ? len : avail;
}

int get_bin_count(size_t length, int size, int offset) {
  if (size < 0 || offset < 0) return -1;
  const int room = size - offset;
  if (room < 1) return 0;
  return length < static_cast<size_t>(room) ? static_cast<int>(length) : room;
}

void set_bin_val(std::string& value, const char* buf, int size, int offset, int len) {
  if (buf == nullptr) return;
  const int n = set_bin_count(size, offset, len);
  if (n == 0) {
    value.clear();
  } else if (n > 0) {
    value.assign(buf + offset, static_cast<size_t>(n));
  }
}

int get_bin_val(const std::string& value, char* buf, int size, int offset) {
  if (buf == nullptr) return -1;
  const int n = get_bin_count(value.size(), size, offset);
  if (n > 0) std::memcpy(buf + offset, value.data(), static_cast<size_t>(n));
  return n;
}

}  // namespace detail

#ifdef MOPRA_PX_BUILD

namespace {

void append_le(std::string& out, uint64_t v, int bytes) {
  char b[8];
  for (int i = 0; i < bytes; ++i) b[i] = static_cast<char>(v >> (8 * i));
  out.append(b, static_cast<size_t>(bytes));
}

uint64_t load_le(const char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i)
    v |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
  return v;
}

// Bytes left at the cursor; -1 for a negative cursor. 64-bit, so no sum below overflows.
int64_t bytes_left(const std::string& value, int32_t cursor) {
  if (cursor < 0) return -1;
  const int64_t left = static_cast<int64_t>(value.size()) - cursor;
  return left < 0 ? 0 : left;
}

// Reads a signed integer of `bytes` bytes at the cursor.
void unpack_int(const StrHolder& h, IntegralHolder& out, bool advance, int bytes) {
  if (bytes_left(h.value, h.cursor) < bytes) {
    out.error = -1;
    return;
  }
  const uint64_t raw = load_le(h.value.data() + h.cursor, bytes);
  const int shift = 64 - 8 * bytes;
  // Sign extension through the top bits (the shift of a signed value is arithmetic).
  out.value = shift == 0 ? static_cast<int64_t>(raw) : static_cast<int64_t>(raw << shift) >> shift;
  out.error = 0;
  if (advance) h.cursor += bytes;
}

// The length n of the Bin/Str record at the cursor, or -1 when the record is bad
// (negative cursor, short length field, negative length, or fewer than 4 + n bytes left).
int32_t record_length(const StrHolder& h) {
  const int64_t left = bytes_left(h.value, h.cursor);
  if (left < 4) return -1;
  const int32_t n = static_cast<int32_t>(load_le(h.value.data() + h.cursor, 4));
  if (n < 0 || 4 + static_cast<int64_t>(n) > left) return -1;
  return n;
}

}  // namespace

void StrHolder::packI8(int v) { append_le(value, static_cast<uint32_t>(v), 1); }
void StrHolder::packI16(int v) { append_le(value, static_cast<uint32_t>(v), 2); }
void StrHolder::packI32(int v) { append_le(value, static_cast<uint32_t>(v), 4); }
void StrHolder::packI64(int64_t v) { append_le(value, static_cast<uint64_t>(v), 8); }

void StrHolder::packStr(const std::string& s) {
  append_le(value, static_cast<uint32_t>(s.size()), 4);
  value.append(s);
}

int StrHolder::packBin(const char* buf, int size, int offset, int len) {
  if (buf == nullptr || size < 0 || offset < 0 || len < 0) return -1;
  if (len == 0 || size - offset <= 0) return 0;
  const int avail = size - offset;
  const int n = len < avail ? len : avail;
  append_le(value, static_cast<uint32_t>(n), 4);
  value.append(buf + offset, static_cast<size_t>(n));
  return n;
}

void StrHolder::unpackI8(IntegralHolder& out, bool advance) const {
  unpack_int(*this, out, advance, 1);
}
void StrHolder::unpackI16(IntegralHolder& out, bool advance) const {
  unpack_int(*this, out, advance, 2);
}
void StrHolder::unpackI32(IntegralHolder& out, bool advance) const {
  unpack_int(*this, out, advance, 4);
}
void StrHolder::unpackI64(IntegralHolder& out, bool advance) const {
  unpack_int(*this, out, advance, 8);
}

void StrHolder::unpackStr(StrHolder& out, bool advance) const {
  const int32_t n = record_length(*this);
  if (n < 0) {
    out.error = -1;
    return;
  }
  const int32_t at = cursor;
  // out may be this holder: read the bytes before anything of out changes.
  std::string bytes(value.data() + at + 4, static_cast<size_t>(n));
  out.value.swap(bytes);
  out.error = 0;
  if (advance) cursor = at + 4 + n;
}

int StrHolder::unpackBin(char* buf, int size, int offset, bool advance) const {
  const int32_t n = record_length(*this);
  if (n < 0) return -1;
  if (n > 0) {
    if (buf == nullptr || size < 0 || offset < 0 || size - offset < n) return -1;
    std::memcpy(buf + offset, value.data() + cursor + 4, static_cast<size_t>(n));
  }
  if (advance) cursor += 4 + n;
  return n;
}

#endif  // MOPRA_PX_BUILD

}  // namespace mopra
