// wcypher: the value codecs of the shared types (hex, serialized string lists, hashes,
// LZF compression, Base64 of the codecs' alphabet, string and integer scramblers, the
// hashed-secret seal, the multi-part envelope "wma" and the keyspace identifiers).
//
// Every codec is a free function: output by reference first, then the inputs, then an
// unsigned `extra` that only reserves spare capacity in the output (an impossible
// reservation, e.g. a sign-extended negative number, reserves nothing extra). A codec
// clears its output first and returns 0 or a negative code:
//   -1 unknown hash kind (hash0's value) / wrong decoded token length
//   -2 token check mismatch      -3 malformed serialized list (or list too big to write)
//   -4 compression failed / unknown method   -5 decompression failed / unknown method
//   -7 invalid Base64 text       -9 envelope version or time item too short
//  -11 invalid hex text         -12 envelope version 0    -13 envelope too old
//  -15 sealed data too short or seal check failed
// Strings are binary-safe std::string. The functions that take string lists are templates
// over the list type (a vector-like container of std::string-like items, e.g. a vector
// with the caller's allocator); they are instantiated in WCypher.cpp for
// std::vector<std::string>. Nothing here allocates from the pooled allocator. The output
// may be the same object as an input (or, for the envelope, one of the parts).
//
// Ownership: results are written into the caller's objects; nothing is kept between calls.
// Thread-safety: every function is reentrant and takes no lock, except that `noise` (and so
// the envelope encoders) draw from the C library's process-wide rand() generator, which the
// unit seeds once with srand(time) at load.
#ifndef TOKA_SHARED_TYPES_WCYPHER_H
#define TOKA_SHARED_TYPES_WCYPHER_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace wcypher {

// ---- primitives -------------------------------------------------------------------------

// out = lower-case hex of in (two characters per byte, high nibble first). Returns 0.
int hexing0(std::string& out, const std::string& in, uint64_t extra = 0);
// Odd length: -11 with out untouched. Otherwise out = the bytes; a pair with a non-hex
// character gives -11 with out holding the bytes of the pairs before it.
int unhexing0(std::string& out, const std::string& in, uint64_t extra = 0);

// Serialized list: empty list -> empty string; else uint32 count, then per item a uint32
// length and the bytes (little-endian). A list or item too large for 32 bits gives -3.
template <class List>
int serialize0(std::string& out, const List& items, uint64_t extra = 0);
// Clears the list first. 0, or -3 for malformed input (the list keeps the items read).
template <class List>
int deserialize0(List& items, const std::string& in);

// 0 for an empty input; kinds 0/1 Jenkins, 2 Murmur (unsigned 32-bit), 3 Murmur << 32 |
// Jenkins; any other kind -1.
int64_t hash0(const std::string& in, int kind);

// Methods 0 and 2: raw LZF stream; 255: plain copy; anything else refused (-4 / -5).
int compress0(std::string& out, const std::string& in, int method, uint64_t extra = 0);
int decompress0(std::string& out, const std::string& in, int method, uint64_t extra = 0);

// Base64 of the alphabet "0-9A-Za-z-_"; the pad "=" only when asked for.
int base64_encode0(std::string& out, const std::string& in, uint64_t extra = 0);
int base64_encode_withpadding(std::string& out, const std::string& in, uint64_t extra = 0);
int base64_decode0(std::string& out, const std::string& in, uint64_t extra = 0);

// ---- scramblers and seal ------------------------------------------------------------------

// Scrambles the whole 32-bit words of s with two rand() words, appended to s (n + 8
// bytes); strings of 3 bytes or less are left as they are. Returns 0.
int noise(std::string& s);
// Undoes noise; strings of 11 bytes or less are left as they are. Returns 0.
int denoise(std::string& s);

// Integer tokens: 32 hex characters (version 1) and 20 (version 2) carrying a check value
// made from the value and the key. Decoders: -11 bad hex, -1 wrong length, -2 check
// mismatch; the value is stored only on success.
int noise64(std::string& out, int64_t value, int64_t key);
int denoise64(int64_t& value, const std::string& in, int64_t key);
int noise64v2(std::string& out, int64_t value, int64_t key);
int denoise64v2(int64_t& value, const std::string& in, int64_t key);

// out = data, hash0(data + secret, kind) as 8 bytes LE, the kind's suffix; whole words
// masked with a key made from the secret when the secret is longer than 3 bytes.
int attach_hashed_secret0(std::string& out, const std::string& data, const std::string& secret,
                          int kind, uint64_t extra = 0);
// Opens a seal: 0, or -15 (too short, wrong suffix or wrong hash) with out empty.
int detach_hashed_secret0(std::string& out, const std::string& in, const std::string& secret,
                          int kind, uint64_t extra = 0);

// ---- envelope -----------------------------------------------------------------------------

// flags & 0xff is the compression method, (flags >> 8) & 0xff the seal's hash kind.
template <class List>
int wma_encode0(std::string& out, const List& parts, const std::string& secret, int flags,
                uint64_t extra = 0);
template <class List>
int wma_encode_withpadding(std::string& out, const List& parts, const std::string& secret,
                           int flags, uint64_t extra = 0);
// 0, -13 (too old or too far in the future; the parts are still delivered) or the first
// failing step's code with parts empty. maxAgeSec 0 accepts any age.
template <class List>
int wma_decode0(List& parts, const std::string& in, const std::string& secret, int flags,
                uint64_t maxAgeSec);

// ---- keyspace identifiers -------------------------------------------------------------------

int64_t encode_i32_to_i64_by_keyspace(int32_t id, int32_t keyspace, int64_t key);
// The id, or -1 when value was not made with this keyspace and key.
int32_t decode_i64_to_i32_by_keyspace(int64_t value, int32_t keyspace, int64_t key);
// The id; the keyspace is stored through keyspace_out when it is not null. Never fails.
int32_t decode_i64_to_i32_by_keyspace(int32_t* keyspace_out, int64_t value, int64_t key);

// ---- implementation of the list templates ---------------------------------------------------

namespace detail {

constexpr int kVersionItem = 1;

// Reserves need + extra bytes, or only need when that is impossible.
void reserve_with_extra(std::string& s, size_t need, uint64_t extra);
void append_u32le(std::string& out, uint32_t v);
uint32_t load_u32le(const char* p);
// Takes the serialized items, compresses, seals, scrambles and writes Base64 into out.
int wma_finish(std::string& out, const std::string& serialized, const std::string& secret,
               int flags, uint64_t extra, bool pad);
// Base64-decodes, unscrambles, opens the seal and decompresses in into serialized.
int wma_open(std::string& serialized, const std::string& in, const std::string& secret, int flags);
// The version and time checks over the last two items; 0, -9, -12 or -13.
int wma_check(const char* version, size_t version_size, const char* time_item, size_t time_size,
              uint64_t maxAgeSec);

// Serializes items followed by tail_count further items from tail.
template <class List>
int serialize_with_tail(std::string& out, const List& items, const std::string* tail,
                        size_t tail_count, uint64_t extra) {
  out.clear();
  const uint64_t count = static_cast<uint64_t>(items.size()) + tail_count;
  if (count == 0) return 0;
  if (count > UINT32_MAX) return -3;
  uint64_t total = 4 * (count + 1);
  for (const auto& item : items) {
    if (static_cast<uint64_t>(item.size()) > UINT32_MAX) return -3;
    total += item.size();
  }
  for (size_t i = 0; i < tail_count; ++i) {
    if (static_cast<uint64_t>(tail[i].size()) > UINT32_MAX) return -3;
    total += tail[i].size();
  }
  if (total > out.max_size()) return -3;
  reserve_with_extra(out, static_cast<size_t>(total), extra);
  append_u32le(out, static_cast<uint32_t>(count));
  for (const auto& item : items) {
    append_u32le(out, static_cast<uint32_t>(item.size()));
    out.append(item.data(), item.size());
  }
  for (size_t i = 0; i < tail_count; ++i) {
    append_u32le(out, static_cast<uint32_t>(tail[i].size()));
    out.append(tail[i].data(), tail[i].size());
  }
  return 0;
}

template <class List>
int wma_encode_impl(std::string& out, const List& parts, const std::string& secret, int flags,
                    uint64_t extra, bool pad) {
  std::string tail[2];
  append_u32le(tail[0], static_cast<uint32_t>(kVersionItem));
  const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
  append_u32le(tail[1], static_cast<uint32_t>(now));
  append_u32le(tail[1], static_cast<uint32_t>(now >> 32));
  std::string serialized;
  int rc = serialize_with_tail(serialized, parts, tail, 2, 0);
  if (rc < 0) {
    out.clear();
    return rc;
  }
  return wma_finish(out, serialized, secret, flags, extra, pad);
}

}  // namespace detail

template <class List>
int serialize0(std::string& out, const List& items, uint64_t extra) {
  return detail::serialize_with_tail(out, items, static_cast<const std::string*>(nullptr), 0,
                                     extra);
}

template <class List>
int deserialize0(List& items, const std::string& in) {
  items.clear();
  const uint64_t n = in.size();
  if (n == 0) return 0;
  if (n <= 3) return -3;
  const char* p = in.data();
  const uint64_t count = detail::load_u32le(p);
  // Every item needs at least its 4-byte length field.
  if (count > (n - 4) / 4) return -3;
  items.reserve(static_cast<size_t>(count));
  uint64_t pos = 4;
  for (uint64_t i = 0; i < count; ++i) {
    if (n - pos < 4) return -3;
    const uint64_t len = detail::load_u32le(p + pos);
    pos += 4;
    if (len > n - pos) return -3;
    items.emplace_back(p + pos, static_cast<size_t>(len));
    pos += len;
  }
  return pos == n ? 0 : -3;
}

template <class List>
int wma_encode0(std::string& out, const List& parts, const std::string& secret, int flags,
                uint64_t extra) {
  return detail::wma_encode_impl(out, parts, secret, flags, extra, false);
}

template <class List>
int wma_encode_withpadding(std::string& out, const List& parts, const std::string& secret,
                           int flags, uint64_t extra) {
  return detail::wma_encode_impl(out, parts, secret, flags, extra, true);
}

template <class List>
int wma_decode0(List& parts, const std::string& in, const std::string& secret, int flags,
                uint64_t maxAgeSec) {
  // Opened before parts is cleared, since in or secret may be one of the parts.
  std::string serialized;
  int rc = detail::wma_open(serialized, in, secret, flags);
  parts.clear();
  if (rc == 0) rc = deserialize0(parts, serialized);
  if (rc < 0) {
    parts.clear();
    return rc;
  }
  const size_t n = parts.size();
  if (n < 2) {
    parts.clear();
    return 0;
  }
  const auto& version = parts[n - 2];
  const auto& time_item = parts[n - 1];
  rc = detail::wma_check(version.data(), version.size(), time_item.data(), time_item.size(),
                         maxAgeSec);
  if (rc < 0 && rc != -13) {
    parts.clear();
    return rc;
  }
  parts.pop_back();
  parts.pop_back();
  return rc;
}

extern template int serialize0(std::string&, const std::vector<std::string>&, uint64_t);
extern template int deserialize0(std::vector<std::string>&, const std::string&);
extern template int wma_encode0(std::string&, const std::vector<std::string>&, const std::string&,
                                int, uint64_t);
extern template int wma_encode_withpadding(std::string&, const std::vector<std::string>&,
                                           const std::string&, int, uint64_t);
extern template int wma_decode0(std::vector<std::string>&, const std::string&, const std::string&,
                                int, uint64_t);

}  // namespace wcypher

#endif  // TOKA_SHARED_TYPES_WCYPHER_H
