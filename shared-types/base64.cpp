// Base64 over the codecs' alphabet; see base64.h.
#include "shared-types/base64.h"

#include <cstddef>
#include <cstring>
#include <exception>

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
constexpr signed char kPad = -2;
constexpr signed char kBad = -1;

struct DecodeTable {
  signed char v[256];
  constexpr DecodeTable() : v() {
    for (int i = 0; i < 256; ++i) v[i] = kBad;
    for (int i = 0; i < 64; ++i)
      v[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    v[static_cast<unsigned char>('=')] = kPad;
  }
};
constexpr DecodeTable kDecode;

// The two characters of every 12-bit value, so that a group of three bytes takes two
// lookups.
struct PairTable {
  char c[4096][2];
  constexpr PairTable() : c() {
    for (int i = 0; i < 4096; ++i) {
      c[i][0] = kAlphabet[i >> 6];
      c[i][1] = kAlphabet[i & 63];
    }
  }
};
constexpr PairTable kPairs;

// For each position k of a group of four characters, the character's six bits already
// shifted to their place in the 24-bit group; kNotData (above the 24 bits) for "=" and
// for characters outside the alphabet, so one OR of four lookups tells a plain group.
constexpr uint32_t kNotData = 0x80000000u;
struct GroupTable {
  uint32_t v[4][256];
  constexpr GroupTable() : v() {
    for (int k = 0; k < 4; ++k)
      for (int c = 0; c < 256; ++c)
        v[k][c] = kDecode.v[c] < 0 ? kNotData : static_cast<uint32_t>(kDecode.v[c]) << (18 - 6 * k);
  }
};
constexpr GroupTable kGroup;

inline void encode_group(const unsigned char* p, char* o) {
  const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  std::memcpy(o, kPairs.c[v >> 12], 2);
  std::memcpy(o + 2, kPairs.c[v & 4095], 2);
}

// The eight bytes at p as a big-endian number (compiles to one load and a byte swap).
inline uint64_t load_be64(const unsigned char* p) {
  return (uint64_t{p[0]} << 56) | (uint64_t{p[1]} << 48) | (uint64_t{p[2]} << 40) |
         (uint64_t{p[3]} << 32) | (uint64_t{p[4]} << 24) | (uint64_t{p[5]} << 16) |
         (uint64_t{p[6]} << 8) | uint64_t{p[7]};
}

// The eight characters of the top six bytes of v, gathered locally and stored at once (one
// wide store in place of four narrow ones).
inline void encode_two_groups(uint64_t v, char* o) {
  char chars[8];
  std::memcpy(chars, kPairs.c[v >> 52], 2);
  std::memcpy(chars + 2, kPairs.c[(v >> 40) & 4095], 2);
  std::memcpy(chars + 4, kPairs.c[(v >> 28) & 4095], 2);
  std::memcpy(chars + 6, kPairs.c[(v >> 16) & 4095], 2);
  std::memcpy(o, chars, 8);
}

// The 24 bits of the four characters at s, or a value with kNotData set.
inline uint32_t group_bits(const unsigned char* s) {
  return kGroup.v[0][s[0]] | kGroup.v[1][s[1]] | kGroup.v[2][s[2]] | kGroup.v[3][s[3]];
}

inline void put_group(char* o, uint32_t bits) {
  o[0] = static_cast<char>(bits >> 16);
  o[1] = static_cast<char>(bits >> 8);
  o[2] = static_cast<char>(bits);
}

void reserve_hint(std::string& s, size_t need, uint64_t extra) {
  uint64_t total = 0;
  if (__builtin_add_overflow(static_cast<uint64_t>(need), extra, &total) || total > s.max_size())
    total = need;
  try {
    s.reserve(static_cast<size_t>(total));
  } catch (const std::exception&) {
    // Only the spare capacity was out of reach; appending reserves what is needed.
    if (total != need) s.reserve(need);
  }
}

inline int value_of(char c) { return kDecode.v[static_cast<unsigned char>(c)]; }

}  // namespace

void encodeBase64(std::string& out, const std::string& input, uint64_t extra, bool pad) {
  if (&out == &input) return encodeBase64(out, std::string(input), extra, pad);
  const char* in = input.data();
  const size_t n = input.size();
  out.clear();
  const size_t rest = n % 3;
  const size_t padded = (n / 3 + (rest != 0)) * 4;
  reserve_hint(out, padded, extra);
  const size_t size = pad || rest == 0 ? padded : padded - 3 + rest;
  out.resize(size);  // within the reservation; written in place below
  char* o = &out[0];
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
  size_t i = 0;
  // Two groups (six bytes) per eight-byte load while eight bytes are left to read.
  for (; i + 14 <= n; i += 12, o += 16) {
    encode_two_groups(load_be64(p + i), o);
    encode_two_groups(load_be64(p + i + 6), o + 8);
  }
  for (; i + 8 <= n; i += 6, o += 8) encode_two_groups(load_be64(p + i), o);
  for (; i + 3 <= n; i += 3, o += 4) encode_group(p + i, o);
  if (rest == 0) return;
  const uint32_t v = (uint32_t{p[i]} << 16) | (rest == 2 ? uint32_t{p[i + 1]} << 8 : 0);
  o[0] = kAlphabet[(v >> 18) & 63];
  o[1] = kAlphabet[(v >> 12) & 63];
  if (rest == 2) o[2] = kAlphabet[(v >> 6) & 63];
  if (pad) {
    if (rest == 1) o[2] = '=';
    o[3] = '=';
  }
}

bool decodeBase64(std::string& out, const std::string& in, uint64_t extra) {
  if (&out == &in) {
    std::string copy(in);
    // Failing at once leaves out untouched, as for any other input.
    return decodeBase64(out, copy, extra);
  }
  const size_t n = in.size();
  if (n % 4 == 1) return false;
  out.clear();
  const size_t most = n / 4 * 3 + (n % 4 == 0 ? 0 : n % 4 - 1);
  reserve_hint(out, most, extra);
  out.resize(most);  // within the reservation; cut to what was decoded below
  char* o = &out[0];
  size_t written = 0;
  const char* s = in.data();
  const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
  // Whole groups of four data characters, two at a time while they last.
  size_t i = 0;
  for (; i + 8 <= n; i += 8, written += 6) {
    const uint32_t x = group_bits(u + i), y = group_bits(u + i + 4);
    if ((x | y) & kNotData) break;  // a pad or a bad character: the groups go one by one
    put_group(o + written, x);
    put_group(o + written + 3, y);
  }
  for (; i + 4 <= n; i += 4, written += 3) {
    const uint32_t x = group_bits(u + i);
    if (x & kNotData) break;  // a pad or a bad character: handled below
    put_group(o + written, x);
  }
  bool ok = true;
  if (i < n) {
    // The last group (2 or 3 characters unpadded), or the group holding a pad or a bad
    // character. "=" closes the text only as the fourth character at the very end, or as
    // the third character second to last.
    const size_t len = n - i < 4 ? n - i : 4;
    int v[4] = {0, 0, 0, 0};
    size_t chars = len;
    for (size_t j = 0; j < len; ++j) {
      const int c = value_of(s[i + j]);
      if (c == kPad) {
        const bool closes = (j == 3 && i + j == n - 1) || (j == 2 && i + j == n - 2);
        if (!closes) ok = false;
        chars = j;
        break;
      }
      if (c < 0) {
        ok = false;
        break;
      }
      v[j] = c;
    }
    if (ok) {
      const uint32_t bits = (static_cast<uint32_t>(v[0]) << 18) |
                            (static_cast<uint32_t>(v[1]) << 12) |
                            (static_cast<uint32_t>(v[2]) << 6) | static_cast<uint32_t>(v[3]);
      const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                             static_cast<char>(bits)};
      for (size_t k = 0; k + 1 < chars; ++k) o[written++] = bytes[k];
    }
  }
  out.resize(written);
  return ok;
}
