// Second, deliberately plain implementations of the codec formats, written for the tests
// from the format descriptions (byte by byte, no shared code with the unit under test).
// They produce the expected values that the tests compare the codecs against.
#ifndef TOKA_TESTS_WCYPHER_REFERENCE_CODECS_H
#define TOKA_TESTS_WCYPHER_REFERENCE_CODECS_H

#include <cstdint>
#include <string>
#include <vector>

namespace ref {

inline uint32_t rot(uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

// Bob Jenkins' lookup3 hashlittle, byte-wise form.
inline uint32_t lookup3(const std::string& s, uint32_t initval) {
  const unsigned char* k = reinterpret_cast<const unsigned char*>(s.data());
  size_t length = s.size();
  uint32_t a, b, c;
  a = b = c = 0xdeadbeefu + static_cast<uint32_t>(length) + initval;
  // The mixing steps keep the reference's three per line.
  // clang-format off
  while (length > 12) {
    a += k[0] + (uint32_t{k[1]} << 8) + (uint32_t{k[2]} << 16) + (uint32_t{k[3]} << 24);
    b += k[4] + (uint32_t{k[5]} << 8) + (uint32_t{k[6]} << 16) + (uint32_t{k[7]} << 24);
    c += k[8] + (uint32_t{k[9]} << 8) + (uint32_t{k[10]} << 16) + (uint32_t{k[11]} << 24);
    a -= c; a ^= rot(c, 4);  c += b;
    b -= a; b ^= rot(a, 6);  a += c;
    c -= b; c ^= rot(b, 8);  b += a;
    a -= c; a ^= rot(c, 16); c += b;
    b -= a; b ^= rot(a, 19); a += c;
    c -= b; c ^= rot(b, 4);  b += a;
    length -= 12;
    k += 12;
  }
  switch (length) {
    case 12: c += uint32_t{k[11]} << 24; [[fallthrough]];
    case 11: c += uint32_t{k[10]} << 16; [[fallthrough]];
    case 10: c += uint32_t{k[9]} << 8; [[fallthrough]];
    case 9: c += k[8]; [[fallthrough]];
    case 8: b += uint32_t{k[7]} << 24; [[fallthrough]];
    case 7: b += uint32_t{k[6]} << 16; [[fallthrough]];
    case 6: b += uint32_t{k[5]} << 8; [[fallthrough]];
    case 5: b += k[4]; [[fallthrough]];
    case 4: a += uint32_t{k[3]} << 24; [[fallthrough]];
    case 3: a += uint32_t{k[2]} << 16; [[fallthrough]];
    case 2: a += uint32_t{k[1]} << 8; [[fallthrough]];
    case 1: a += k[0]; break;
    case 0: return c;
  }
  c ^= b; c -= rot(b, 14);
  a ^= c; a -= rot(c, 11);
  b ^= a; b -= rot(a, 25);
  c ^= b; c -= rot(b, 16);
  a ^= c; a -= rot(c, 4);
  b ^= a; b -= rot(a, 14);
  c ^= b; c -= rot(b, 24);
  // clang-format on
  return c;
}

inline uint32_t jenkins(const std::string& s) { return lookup3(s, 13); }

// MurmurHash2 with the seed 0xdeadbeef * length, as libhashkit computes it.
inline uint32_t murmur(const std::string& s) {
  const uint32_t m = 0x5bd1e995u;
  const uint32_t len = static_cast<uint32_t>(s.size());
  uint32_t h = (0xdeadbeefu * len) ^ len;
  const unsigned char* d = reinterpret_cast<const unsigned char*>(s.data());
  size_t n = s.size();
  while (n >= 4) {
    uint32_t k = d[0] | (uint32_t{d[1]} << 8) | (uint32_t{d[2]} << 16) | (uint32_t{d[3]} << 24);
    k *= m;
    k ^= k >> 24;
    k *= m;
    h *= m;
    h ^= k;
    d += 4;
    n -= 4;
  }
  switch (n) {
    case 3: h ^= uint32_t{d[2]} << 16; [[fallthrough]];
    case 2: h ^= uint32_t{d[1]} << 8; [[fallthrough]];
    case 1: h ^= d[0]; h *= m;
  }
  h ^= h >> 13;
  h *= m;
  h ^= h >> 15;
  return h;
}

inline std::string le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  return s;
}

inline uint32_t word(const std::string& s, size_t byte_offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[byte_offset + i]);
  return v;
}

inline void set_word(std::string& s, size_t byte_offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[byte_offset + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

inline std::string serialize(const std::vector<std::string>& items) {
  if (items.empty()) return std::string();
  std::string out = le(items.size(), 4);
  for (const auto& item : items) out += le(item.size(), 4) + item;
  return out;
}

inline std::string hex(const std::string& s) {
  static const char d[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(d[c / 16]);
    out.push_back(d[c % 16]);
  }
  return out;
}

// Base64 of the codecs' alphabet, written bit by bit.
inline std::string base64(const std::string& in, bool pad) {
  static const char a[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  std::string bits;
  for (unsigned char c : in)
    for (int i = 7; i >= 0; --i) bits.push_back((c >> i) & 1 ? '1' : '0');
  while (bits.size() % 6 != 0) bits.push_back('0');
  std::string out;
  for (size_t i = 0; i < bits.size(); i += 6)
    out.push_back(a[std::stoi(bits.substr(i, 6), nullptr, 2)]);
  if (pad)
    while (out.size() % 4 != 0) out.push_back('=');
  return out;
}

// Base64 decoding of the codecs' alphabet, character by character: false with out untouched
// for a length of 4k+1; else out is cleared and gets the bytes of each group of up to four
// characters. "=" ends the text successfully as the last character of a group of four at
// the very end, or as the third character of a group second to last; "=" elsewhere or a
// character outside the alphabet fails with the bytes of the groups before it.
inline bool unbase64(std::string& out, const std::string& in) {
  static const std::string a = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  const size_t n = in.size();
  if (n % 4 == 1) return false;
  out.clear();
  for (size_t i = 0; i < n; i += 4) {
    const size_t len = n - i < 4 ? n - i : 4;
    uint32_t bits = 0;
    size_t chars = 0;
    bool closed = false;
    for (size_t j = 0; j < len; ++j) {
      const char c = in[i + j];
      if (c == '=') {
        if (!((j == 3 && i + j == n - 1) || (j == 2 && i + j == n - 2))) return false;
        closed = true;
        break;
      }
      const size_t v = a.find(c);
      if (v == std::string::npos) return false;
      bits |= static_cast<uint32_t>(v) << (18 - 6 * j);
      ++chars;
    }
    for (size_t k = 0; k + 1 < chars; ++k) out.push_back(static_cast<char>(bits >> (16 - 8 * k)));
    if (closed) return true;
  }
  return true;
}

// Hash kinds as the codecs number them.
inline int64_t hash(const std::string& s, int kind) {
  if (s.empty()) return 0;
  switch (kind) {
    case 0:
    case 1: return jenkins(s);
    case 2: return murmur(s);
    case 3: return static_cast<int64_t>((uint64_t{murmur(s)} << 32) | jenkins(s));
    default: return -1;
  }
}

inline std::string suffix(int kind) {
  switch (kind) {
    case 1: return "c7^Wn3&R";
    case 2: return "k2*Mb9!T";
    case 3: return "x6#Dg4%L";
    default: return "m4#Kq8@Lz2&Vr6*Tn1%Bw9^Hd3!Fs7(X";
  }
}

inline void mask(std::string& d, const std::string& secret, int kind) {
  if (secret.size() <= 3) return;
  const uint32_t h = static_cast<uint32_t>(hash(secret, kind));
  std::vector<uint32_t> key;
  for (size_t i = 0; i + 4 <= secret.size(); i += 4) key.push_back(word(secret, i) ^ h);
  for (size_t j = 0; j < d.size() / 4; ++j)
    set_word(d, 4 * j, word(d, 4 * j) ^ key[j % key.size()]);
}

inline std::string seal(const std::string& data, const std::string& secret, int kind) {
  if (data.empty()) return std::string();
  std::string d = data + le(static_cast<uint64_t>(hash(data + secret, kind)), 8) + suffix(kind);
  mask(d, secret, kind);
  return d;
}

// noise with the two words given instead of drawn.
inline std::string noise(std::string s, uint32_t r1, uint32_t r2) {
  if (s.size() <= 3) return s;
  const size_t words = s.size() / 4;
  set_word(s, 0, word(s, 0) ^ r1 ^ r2);
  for (size_t i = 1; i < words; ++i) set_word(s, 4 * i, word(s, 4 * i) ^ r1 ^ word(s, 4 * (i - 1)));
  return s + le(r1, 4) + le(r2, 4);
}

constexpr uint64_t M1 = 0x3a91c5e70d2b48ULL;
constexpr uint64_t M2 = 0x6e02b9d4f1a735ULL;
constexpr uint64_t M3 = 0x15c8e6a29b4f70ULL;
constexpr uint64_t M4 = 0x52d7a03c8e1b69ULL;

inline std::string check_block(int64_t value, int64_t key) {
  const uint64_t k = static_cast<uint64_t>(key);
  return le(static_cast<uint64_t>(value), 8) + le(k ^ M1, 8) + le(k ^ M2, 8) + le(k ^ M3, 8);
}

inline std::string token_v1(int64_t value, int64_t key) {
  const std::string block = check_block(value, key);
  const uint64_t h = (uint64_t{murmur(block)} << 32) | jenkins(block);
  return hex(le(static_cast<uint64_t>(value) ^ M4 ^ h, 8) + le(h, 8));
}

inline std::string token_v2(int64_t value, int64_t key) {
  const std::string block = check_block(value, key);
  const uint64_t c = (murmur(block) ^ jenkins(block)) & 0xffff;
  const uint64_t lanes = c | (c << 16) | (c << 32) | (c << 48);
  return hex(le(static_cast<uint64_t>(value) ^ (M4 << 8) ^ lanes, 8) + le(c, 2));
}

// The keyspace encoder, byte by byte.
inline int64_t keyspace_encode(int32_t id, int32_t keyspace, int64_t key) {
  uint8_t i[4], k[4];
  for (int n = 0; n < 4; ++n) {
    i[n] = static_cast<uint8_t>(static_cast<uint32_t>(id) >> (8 * n));
    k[n] = static_cast<uint8_t>(static_cast<uint32_t>(keyspace) >> (8 * n));
  }
  const uint8_t d = i[1] ^ i[3], e = i[0] ^ d, f = e ^ i[2];
  const uint32_t idmix = d | (e << 8) | (f << 16) | (uint32_t((f & 0x7f) ^ i[3]) << 24);
  const uint8_t h = k[0] ^ k[1], g = k[3] ^ k[2];
  const uint32_t ksmix = uint32_t(h ^ k[2]) | (uint32_t(k[3] ^ h) << 8) |
                         (uint32_t(k[0] ^ g) << 16) | (uint32_t(g ^ h) << 24);
  const uint32_t high = static_cast<uint32_t>(keyspace) ^ 0x28031996u ^ idmix;
  const uint32_t low = static_cast<uint32_t>(id) ^ 0x14072003u ^ ksmix;
  const uint64_t l = (uint64_t{high} << 32) | low;
  uint8_t L[8];
  for (int n = 0; n < 8; ++n) L[n] = static_cast<uint8_t>(l >> (8 * n));
  const uint8_t m = L[0] ^ L[1] ^ L[2], o = L[0] ^ L[1] ^ L[2] ^ L[3] ^ L[4], r = L[7];
  const uint8_t t = L[5] ^ r, u = L[3] ^ t, v = L[1] ^ u, w = L[6] ^ L[5] ^ o ^ r;
  const uint8_t b[8] = {v, uint8_t(L[0] ^ v), u, uint8_t(m ^ u),
                        t, uint8_t(o ^ t),    w, uint8_t((w & 0x7f) ^ r)};
  uint64_t x = 0;
  for (int n = 0; n < 8; ++n) x |= uint64_t{b[n]} << (8 * n);
  return static_cast<int64_t>(x ^ static_cast<uint64_t>(key));
}

}  // namespace ref

#endif  // TOKA_TESTS_WCYPHER_REFERENCE_CODECS_H
