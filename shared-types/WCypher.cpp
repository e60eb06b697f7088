// wcypher codecs; see WCypher.h for the contracts and result codes.
#include "shared-types/WCypher.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>

#include <libhashkit-1.0/hashkit.h>
#include <lzf.h>

#include "shared-types/base64.h"
#include "shared-types/mopra_types.h"

namespace wcypher {

namespace {

// The C library's generator that noise() draws from, seeded once when the library loads.
[[maybe_unused]] const bool g_rand_seeded = (std::srand(static_cast<unsigned>(std::time(nullptr))),
                                             true);

constexpr uint64_t kM1 = 0x3a91c5e70d2b48ULL;
constexpr uint64_t kM2 = 0x6e02b9d4f1a735ULL;
constexpr uint64_t kM3 = 0x15c8e6a29b4f70ULL;
constexpr uint64_t kM4 = 0x52d7a03c8e1b69ULL;
constexpr uint64_t kM4v2 = kM4 << 8;

constexpr uint32_t kK1 = 0x28031996u;
constexpr uint32_t kK2 = 0x14072003u;

constexpr char kSuffixOther[] = "m4#Kq8@Lz2&Vr6*Tn1%Bw9^Hd3!Fs7(X";
constexpr char kSuffixJenkins[] = "c7^Wn3&R";
constexpr char kSuffixMurmur[] = "k2*Mb9!T";
constexpr char kSuffixMurJens[] = "x6#Dg4%L";

// LZF buffer lengths are 32-bit.
constexpr uint64_t kLzfMax = UINT32_MAX;
// One LZF back-reference of 3 input bytes expands to at most 264 bytes: no valid stream of
// n bytes decompresses to more than 88 * n (+ a little), so growing beyond is pointless.
constexpr uint64_t kLzfMaxRatio = 88;

struct Suffix {
  const char* text;
  size_t size;
};

Suffix suffix_of(int kind) {
  switch (kind) {
    case mopra::HashMed::JENKINS: return {kSuffixJenkins, sizeof(kSuffixJenkins) - 1};
    case mopra::HashMed::MURMUR: return {kSuffixMurmur, sizeof(kSuffixMurmur) - 1};
    case mopra::HashMed::MURJENS: return {kSuffixMurJens, sizeof(kSuffixMurJens) - 1};
    default: return {kSuffixOther, sizeof(kSuffixOther) - 1};
  }
}

inline void store_u32le(char* p, uint32_t v) {
  p[0] = static_cast<char>(v);
  p[1] = static_cast<char>(v >> 8);
  p[2] = static_cast<char>(v >> 16);
  p[3] = static_cast<char>(v >> 24);
}

inline uint64_t load_u64le(const char* p) {
  return uint64_t{detail::load_u32le(p)} | (uint64_t{detail::load_u32le(p + 4)} << 32);
}

inline void append_u64le(std::string& out, uint64_t v) {
  detail::append_u32le(out, static_cast<uint32_t>(v));
  detail::append_u32le(out, static_cast<uint32_t>(v >> 32));
}

// The buffer of one LZF attempt: on the stack when small (short values are the common
// case and a heap round trip would cost as much as the compression), else on the heap.
// Null data() when the heap has no room.
class LzfBuffer {
 public:
  explicit LzfBuffer(uint64_t size)
      : heap_(size > sizeof local_ ? new (std::nothrow) char[size] : nullptr),
        data_(size > sizeof local_ ? heap_.get() : local_) {}
  char* data() { return data_; }

 private:
  char local_[4096];
  std::unique_ptr<char[]> heap_;
  char* data_;
};

inline uint64_t grow_lzf_buffer(uint64_t size) { return size < 256 ? size + 128 : size + size / 2; }

// XORs every whole word of d with the key made from the secret (its whole words, each
// XORed with the low 32 bits of the secret's hash). Secrets of 3 bytes or less leave d as
// it is. Applying it twice restores d.
void mask_with_secret(std::string& d, const std::string& secret, int kind) {
  if (secret.size() <= 3) return;
  const size_t k = secret.size() / 4;
  const uint32_t h = static_cast<uint32_t>(static_cast<uint64_t>(hash0(secret, kind)));
  std::vector<uint32_t> key(k);
  for (size_t i = 0; i < k; ++i) key[i] = detail::load_u32le(secret.data() + 4 * i) ^ h;
  char* p = &d[0];
  const size_t words = d.size() / 4;
  for (size_t j = 0, ki = 0; j < words; ++j) {
    store_u32le(p + 4 * j, detail::load_u32le(p + 4 * j) ^ key[ki]);
    if (++ki == k) ki = 0;
  }
}

// The 32-byte check block of the integer tokens and its Murmur and Jenkins hashes.
struct CheckHashes {
  uint32_t murmur;
  uint32_t jenkins;
};

CheckHashes check_hashes(int64_t value, int64_t key) {
  const uint64_t k = static_cast<uint64_t>(key);
  const uint64_t block[4] = {static_cast<uint64_t>(value), k ^ kM1, k ^ kM2, k ^ kM3};
  char bytes[32];
  for (int i = 0; i < 4; ++i) {
    store_u32le(bytes + 8 * i, static_cast<uint32_t>(block[i]));
    store_u32le(bytes + 8 * i + 4, static_cast<uint32_t>(block[i] >> 32));
  }
  return {libhashkit_murmur(bytes, sizeof bytes), libhashkit_jenkins(bytes, sizeof bytes)};
}

uint64_t check_v1(int64_t value, int64_t key) {
  const CheckHashes c = check_hashes(value, key);
  return (uint64_t{c.murmur} << 32) | c.jenkins;
}

uint16_t check_v2(int64_t value, int64_t key) {
  const CheckHashes c = check_hashes(value, key);
  return static_cast<uint16_t>((c.murmur ^ c.jenkins) & 0xffffu);
}

inline uint64_t lane_mask(uint16_t c) { return uint64_t{c} * 0x0001000100010001ULL; }

inline uint8_t byte_of(uint64_t v, int i) { return static_cast<uint8_t>(v >> (8 * i)); }

uint32_t bytes_to_u32(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t{b0} | (uint32_t{b1} << 8) | (uint32_t{b2} << 16) | (uint32_t{b3} << 24);
}

uint32_t id_mix(uint32_t id) {
  const uint8_t i0 = byte_of(id, 0), i1 = byte_of(id, 1), i2 = byte_of(id, 2), i3 = byte_of(id, 3);
  const uint8_t d = i1 ^ i3;
  const uint8_t e = i0 ^ d;
  const uint8_t f = e ^ i2;
  return bytes_to_u32(d, e, f, static_cast<uint8_t>((f & 0x7f) ^ i3));
}

uint32_t keyspace_mix(uint32_t ks) {
  const uint8_t k0 = byte_of(ks, 0), k1 = byte_of(ks, 1), k2 = byte_of(ks, 2), k3 = byte_of(ks, 3);
  const uint8_t h = k0 ^ k1;
  const uint8_t g = k3 ^ k2;
  return bytes_to_u32(h ^ k2, k3 ^ h, k0 ^ g, g ^ h);
}

// Inverse of ks -> ks ^ id_mix(keyspace_mix(ks)), whose bytes are
// (k0^k2, k0, k1^k3, k0^k1^k2^((k1^k2^k3)&0x7f)).
uint32_t solve_keyspace(uint32_t a) {
  const uint8_t a0 = byte_of(a, 0), a1 = byte_of(a, 1), a2 = byte_of(a, 2), a3 = byte_of(a, 3);
  const uint8_t k0 = a1;
  const uint8_t k2 = a0 ^ a1;
  const uint8_t k1 = static_cast<uint8_t>(a3 ^ k0 ^ k2 ^ ((a2 ^ k2) & 0x7f));
  const uint8_t k3 = a2 ^ k1;
  return bytes_to_u32(k0, k1, k2, k3);
}

// Splits an encoded value (key already removed) into its high and low words.
void undo_cascade(uint64_t x, uint32_t& high, uint32_t& low) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = byte_of(x, i);
  uint8_t l[8];
  l[7] = b[7] ^ (b[6] & 0x7f);
  l[5] = b[4] ^ l[7];
  l[3] = b[2] ^ b[4];
  l[1] = b[0] ^ b[2];
  l[0] = b[1] ^ b[0];
  l[2] = b[3] ^ b[2] ^ l[0] ^ l[1];  // byte 3 = m ^ u
  const uint8_t o = b[5] ^ b[4];     // byte 5 = o ^ t
  l[4] = o ^ l[0] ^ l[1] ^ l[2] ^ l[3];
  l[6] = b[6] ^ l[5] ^ o ^ l[7];  // byte 6 = w
  low = bytes_to_u32(l[0], l[1], l[2], l[3]);
  high = bytes_to_u32(l[4], l[5], l[6], l[7]);
}

}  // namespace

namespace detail {

void reserve_with_extra(std::string& s, size_t need, uint64_t extra) {
  uint64_t total = 0;
  if (__builtin_add_overflow(static_cast<uint64_t>(need), extra, &total) || total > s.max_size())
    total = need;
  try {
    s.reserve(static_cast<size_t>(total));
  } catch (const std::exception&) {
    // Only the spare capacity was out of reach; the content is unaffected.
    if (total != need) s.reserve(need);
  }
}

void append_u32le(std::string& out, uint32_t v) {
  char b[4];
  store_u32le(b, v);
  out.append(b, 4);
}

uint32_t load_u32le(const char* p) {
  const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
  return bytes_to_u32(u[0], u[1], u[2], u[3]);
}

int wma_finish(std::string& out, const std::string& serialized, const std::string& secret,
               int flags, uint64_t extra, bool pad) {
  // out is written only at the end: the secret or a part may be the output string.
  const unsigned f = static_cast<unsigned>(flags);
  const int method = static_cast<int>(f & 0xffu);
  const int kind = static_cast<int>((f >> 8) & 0xffu);
  std::string compressed;
  int rc = compress0(compressed, serialized, method, 0);
  std::string sealed;
  if (rc == 0) rc = attach_hashed_secret0(sealed, compressed, secret, kind, 8);  // 8: noise words
  if (rc < 0) {
    out.clear();
    return rc;
  }
  noise(sealed);
  encodeBase64(out, sealed, extra, pad);
  return 0;
}

int wma_open(std::string& serialized, const std::string& in, const std::string& secret, int flags) {
  const unsigned f = static_cast<unsigned>(flags);
  const int method = static_cast<int>(f & 0xffu);
  const int kind = static_cast<int>((f >> 8) & 0xffu);
  std::string raw;
  int rc = base64_decode0(raw, in, 0);
  if (rc < 0) return rc;
  denoise(raw);
  std::string opened;
  rc = detach_hashed_secret0(opened, raw, secret, kind, 0);
  if (rc < 0) return rc;
  return decompress0(serialized, opened, method, 0);
}

int wma_check(const char* version, size_t version_size, const char* time_item, size_t time_size,
              uint64_t maxAgeSec) {
  if (version_size < 4) return -9;
  if (load_u32le(version) == 0) return -12;
  if (time_size < 8) return -9;
  if (maxAgeSec == 0) return 0;
  const uint64_t t = load_u64le(time_item);
  const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
  const uint64_t age = now >= t ? now - t : t - now;
  return age > maxAgeSec ? -13 : 0;
}

}  // namespace detail

// ---- hex ----------------------------------------------------------------------------------

int hexing0(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) return hexing0(out, std::string(in), extra);
  static const char digits[] = "0123456789abcdef";
  out.clear();
  detail::reserve_with_extra(out, in.size() * 2, extra);
  out.resize(in.size() * 2);  // within the reservation; written in place
  char* o = &out[0];
  for (unsigned char c : in) {
    *o++ = digits[c >> 4];
    *o++ = digits[c & 15];
  }
  return 0;
}

namespace {
// Nibble value of each byte; 0xff marks a byte that is no hex digit.
struct HexTable {
  unsigned char v[256];
  constexpr HexTable() : v() {
    for (int c = 0; c < 256; ++c) {
      v[c] = c >= '0' && c <= '9'   ? c - '0'
             : c >= 'a' && c <= 'f' ? c - 'a' + 10
             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                    : 0xff;
    }
  }
};
constexpr HexTable kHex;
}  // namespace

int unhexing0(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) return unhexing0(out, std::string(in), extra);
  const size_t n = in.size();
  if (n % 2 != 0) return -11;
  out.clear();
  detail::reserve_with_extra(out, n / 2, extra);
  out.resize(n / 2);  // within the reservation; written in place
  const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
  char* o = &out[0];
  for (size_t i = 0; i < n; i += 2) {
    const unsigned hi = kHex.v[s[i]];
    const unsigned lo = kHex.v[s[i + 1]];
    if ((hi | lo) & 0xf0) {
      out.resize(i / 2);  // the bytes decoded before the bad pair stay, as they always did
      return -11;
    }
    *o++ = static_cast<char>((hi << 4) | lo);
  }
  return 0;
}

// ---- hash ---------------------------------------------------------------------------------

int64_t hash0(const std::string& in, int kind) {
  const char* data = in.data();
  const size_t size = in.size();
  if (size == 0) return 0;
  switch (kind) {
    case mopra::HashMed::NOHASH:
    case mopra::HashMed::JENKINS: return static_cast<int64_t>(libhashkit_jenkins(data, size));
    case mopra::HashMed::MURMUR: return static_cast<int64_t>(libhashkit_murmur(data, size));
    case mopra::HashMed::MURJENS:
      return static_cast<int64_t>((uint64_t{libhashkit_murmur(data, size)} << 32) |
                                  libhashkit_jenkins(data, size));
    default: return -1;
  }
}

// ---- compression --------------------------------------------------------------------------

int compress0(std::string& out, const std::string& in, int method, uint64_t extra) {
  if (&out == &in) return compress0(out, std::string(in), method, extra);
  out.clear();
  const uint64_t n = in.size();
  if (n == 0) return 0;
  if (method == 255) {
    detail::reserve_with_extra(out, in.size(), extra);
    out.append(in);
    return 0;
  }
  if (method != 0 && method != 2) return -4;
  if (n > kLzfMax) return -4;
  const uint64_t first = n * 11 / 10 + 128;
  uint64_t size = first;
  for (;;) {
    const uint64_t attempt = size < kLzfMax ? size : kLzfMax;
    LzfBuffer buf(attempt);
    if (!buf.data()) return -4;
    const unsigned r = lzf_compress(in.data(), static_cast<unsigned>(n), buf.data(),
                                    static_cast<unsigned>(attempt));
    if (r != 0) {
      detail::reserve_with_extra(out, r, extra);
      out.append(buf.data(), r);
      return 0;
    }
    if (attempt > 2 * first || attempt == kLzfMax) return -4;
    size = grow_lzf_buffer(attempt);
  }
}

int decompress0(std::string& out, const std::string& in, int method, uint64_t extra) {
  if (&out == &in) return decompress0(out, std::string(in), method, extra);
  out.clear();
  const uint64_t n = in.size();
  if (n == 0) return 0;
  if (method == 255) {
    detail::reserve_with_extra(out, in.size(), extra);
    out.append(in);
    return 0;
  }
  if (method != 0 && method != 2) return -5;
  if (n > kLzfMax) return -5;
  uint64_t limit = n * kLzfMaxRatio + 264;
  if (limit > kLzfMax) limit = kLzfMax;
  uint64_t size = n * 4 + 128;
  for (;;) {
    const uint64_t attempt = size < limit ? size : limit;
    LzfBuffer buf(attempt);
    if (!buf.data()) return -5;
    errno = 0;
    const unsigned r = lzf_decompress(in.data(), static_cast<unsigned>(n), buf.data(),
                                      static_cast<unsigned>(attempt));
    if (r != 0) {
      detail::reserve_with_extra(out, r, extra);
      out.append(buf.data(), r);
      return 0;
    }
    if (errno != E2BIG || attempt >= limit) return -5;
    size = grow_lzf_buffer(attempt);
  }
}

// ---- Base64 -------------------------------------------------------------------------------

int base64_encode0(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) return base64_encode0(out, std::string(in), extra);
  out.clear();
  if (in.empty()) return 0;
  encodeBase64(out, in, extra, false);
  return 0;
}

int base64_encode_withpadding(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) return base64_encode_withpadding(out, std::string(in), extra);
  out.clear();
  if (in.empty()) return 0;
  encodeBase64(out, in, extra, true);
  return 0;
}

int base64_decode0(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) return base64_decode0(out, std::string(in), extra);
  out.clear();
  if (in.empty()) return 0;
  return decodeBase64(out, in, extra) ? 0 : -7;
}

// ---- string scrambler ---------------------------------------------------------------------

int noise(std::string& s) {
  const size_t n = s.size();
  if (n <= 3) return 0;
  const uint32_t r1 = static_cast<uint32_t>(std::rand());
  const uint32_t r2 = static_cast<uint32_t>(std::rand());
  char* p = &s[0];
  uint32_t prev = detail::load_u32le(p) ^ r1 ^ r2;
  store_u32le(p, prev);
  for (size_t i = 1; i < n / 4; ++i) {
    prev = detail::load_u32le(p + 4 * i) ^ r1 ^ prev;
    store_u32le(p + 4 * i, prev);
  }
  detail::append_u32le(s, r1);
  detail::append_u32le(s, r2);
  return 0;
}

int denoise(std::string& s) {
  const size_t n = s.size();
  if (n <= 11) return 0;
  const uint32_t r2 = detail::load_u32le(s.data() + n - 4);
  const uint32_t r1 = detail::load_u32le(s.data() + n - 8);
  s.resize(n - 8);
  char* p = &s[0];
  const size_t m = (n - 8) / 4;
  for (size_t i = m - 1; i >= 1; --i) {
    store_u32le(p + 4 * i,
                detail::load_u32le(p + 4 * i) ^ detail::load_u32le(p + 4 * (i - 1)) ^ r1);
  }
  store_u32le(p, detail::load_u32le(p) ^ r1 ^ r2);
  return 0;
}

// ---- integer tokens -----------------------------------------------------------------------

int noise64(std::string& out, int64_t value, int64_t key) {
  const uint64_t h = check_v1(value, key);
  std::string raw;
  raw.reserve(16);
  append_u64le(raw, static_cast<uint64_t>(value) ^ kM4 ^ h);
  append_u64le(raw, h);
  return hexing0(out, raw, 0);
}

int denoise64(int64_t& value, const std::string& in, int64_t key) {
  std::string raw;
  const int rc = unhexing0(raw, in, 0);
  if (rc < 0) return rc;
  if (raw.size() != 16) return -1;
  const uint64_t h = load_u64le(raw.data() + 8);
  const int64_t v = static_cast<int64_t>(load_u64le(raw.data()) ^ h ^ kM4);
  if (check_v1(v, key) != h) return -2;
  value = v;
  return 0;
}

int noise64v2(std::string& out, int64_t value, int64_t key) {
  const uint16_t c = check_v2(value, key);
  std::string raw;
  raw.reserve(10);
  append_u64le(raw, static_cast<uint64_t>(value) ^ kM4v2 ^ lane_mask(c));
  raw.push_back(static_cast<char>(c & 0xff));
  raw.push_back(static_cast<char>(c >> 8));
  return hexing0(out, raw, 0);
}

int denoise64v2(int64_t& value, const std::string& in, int64_t key) {
  std::string raw;
  const int rc = unhexing0(raw, in, 0);
  if (rc < 0) return rc;
  if (raw.size() != 10) return -1;
  const unsigned char* u = reinterpret_cast<const unsigned char*>(raw.data());
  const uint16_t c = static_cast<uint16_t>(uint32_t{u[8]} | (uint32_t{u[9]} << 8));
  const int64_t v = static_cast<int64_t>(load_u64le(raw.data()) ^ kM4v2 ^ lane_mask(c));
  if (check_v2(v, key) != c) return -2;
  value = v;
  return 0;
}

// ---- hashed-secret seal -------------------------------------------------------------------

int attach_hashed_secret0(std::string& out, const std::string& data, const std::string& secret,
                          int kind, uint64_t extra) {
  if (&out == &data || &out == &secret)
    return attach_hashed_secret0(out, std::string(data), std::string(secret), kind, extra);
  out.clear();
  if (data.empty()) return 0;
  const Suffix suffix = suffix_of(kind);
  detail::reserve_with_extra(out, data.size() + secret.size() + suffix.size + 8, extra);
  // Hash data followed by secret in place, then replace the secret by hash and suffix.
  out.append(data);
  out.append(secret);
  const int64_t h = hash0(out, kind);
  out.resize(data.size());
  append_u64le(out, static_cast<uint64_t>(h));
  out.append(suffix.text, suffix.size);
  mask_with_secret(out, secret, kind);
  return 0;
}

int detach_hashed_secret0(std::string& out, const std::string& in, const std::string& secret,
                          int kind, uint64_t extra) {
  if (&out == &in || &out == &secret)
    return detach_hashed_secret0(out, std::string(in), std::string(secret), kind, extra);
  out.clear();
  const Suffix suffix = suffix_of(kind);
  const size_t n = in.size();
  if (n < suffix.size + 8) return -15;
  detail::reserve_with_extra(out, n + secret.size(), extra);
  out.append(in);
  mask_with_secret(out, secret, kind);
  if (out.compare(n - suffix.size, suffix.size, suffix.text, suffix.size) != 0) {
    out.clear();
    return -15;
  }
  const size_t payload = n - suffix.size - 8;
  const uint64_t stored = load_u64le(out.data() + payload);
  out.resize(payload);
  out.append(secret);
  const int64_t h = hash0(out, kind);
  out.resize(payload);
  if (static_cast<uint64_t>(h) != stored) {
    out.clear();
    return -15;
  }
  return 0;
}

// ---- keyspace identifiers -----------------------------------------------------------------

int64_t encode_i32_to_i64_by_keyspace(int32_t id, int32_t keyspace, int64_t key) {
  const uint32_t uid = static_cast<uint32_t>(id);
  const uint32_t uks = static_cast<uint32_t>(keyspace);
  const uint32_t high = uks ^ kK1 ^ id_mix(uid);
  const uint32_t low = uid ^ kK2 ^ keyspace_mix(uks);
  const uint64_t l = (uint64_t{high} << 32) | low;
  uint8_t L[8];
  for (int i = 0; i < 8; ++i) L[i] = byte_of(l, i);
  const uint8_t m = L[0] ^ L[1] ^ L[2];
  const uint8_t o = L[0] ^ L[1] ^ L[2] ^ L[3] ^ L[4];
  const uint8_t r = L[7];
  const uint8_t t = L[5] ^ r;
  const uint8_t u = L[3] ^ t;
  const uint8_t v = L[1] ^ u;
  const uint8_t w = L[6] ^ L[5] ^ o ^ r;
  const uint8_t outb[8] = {
      v, static_cast<uint8_t>(L[0] ^ v), u, static_cast<uint8_t>(m ^ u),
      t, static_cast<uint8_t>(o ^ t),    w, static_cast<uint8_t>((w & 0x7f) ^ r)};
  uint64_t x = 0;
  for (int i = 0; i < 8; ++i) x |= uint64_t{outb[i]} << (8 * i);
  return static_cast<int64_t>(x ^ static_cast<uint64_t>(key));
}

int32_t decode_i64_to_i32_by_keyspace(int64_t value, int32_t keyspace, int64_t key) {
  uint32_t high = 0, low = 0;
  undo_cascade(static_cast<uint64_t>(value) ^ static_cast<uint64_t>(key), high, low);
  const uint32_t uks = static_cast<uint32_t>(keyspace);
  const uint32_t id = low ^ kK2 ^ keyspace_mix(uks);
  if ((uks ^ kK1 ^ id_mix(id)) != high) return -1;
  return static_cast<int32_t>(id);
}

int32_t decode_i64_to_i32_by_keyspace(int32_t* keyspace_out, int64_t value, int64_t key) {
  uint32_t high = 0, low = 0;
  undo_cascade(static_cast<uint64_t>(value) ^ static_cast<uint64_t>(key), high, low);
  // high = ks ^ K1 ^ id_mix(id) and id = low ^ K2 ^ keyspace_mix(ks); both mixes are
  // XOR-linear, so ks ^ id_mix(keyspace_mix(ks)) = high ^ K1 ^ id_mix(low ^ K2).
  const uint32_t ks = solve_keyspace(high ^ kK1 ^ id_mix(low ^ kK2));
  const uint32_t id = low ^ kK2 ^ keyspace_mix(ks);
  if (keyspace_out != nullptr) *keyspace_out = static_cast<int32_t>(ks);
  return static_cast<int32_t>(id);
}

// ---- list templates for the standard containers -------------------------------------------

template int serialize0(std::string&, const std::vector<std::string>&, uint64_t);
template int deserialize0(std::vector<std::string>&, const std::string&);
template int wma_encode0(std::string&, const std::vector<std::string>&, const std::string&, int,
                         uint64_t);
template int wma_encode_withpadding(std::string&, const std::vector<std::string>&,
                                    const std::string&, int, uint64_t);
template int wma_decode0(std::vector<std::string>&, const std::string&, const std::string&, int,
                         uint64_t);

}  // namespace wcypher
