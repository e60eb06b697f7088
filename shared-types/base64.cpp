// Base64 over the codecs' alphabet; see base64.h.
#include "shared-types/base64.h"

#include <cstddef>
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
  for (; i + 3 <= n; i += 3, o += 4) {
    const uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
    o[0] = kAlphabet[(v >> 18) & 63];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = kAlphabet[v & 63];
  }
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
  // Whole groups of four data characters.
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const int a = value_of(s[i]), b = value_of(s[i + 1]), c = value_of(s[i + 2]),
              d = value_of(s[i + 3]);
    if ((a | b | c | d) < 0) break;  // a pad or a bad character: handled below
    const uint32_t bits = (static_cast<uint32_t>(a) << 18) | (static_cast<uint32_t>(b) << 12) |
                          (static_cast<uint32_t>(c) << 6) | static_cast<uint32_t>(d);
    o[written] = static_cast<char>(bits >> 16);
    o[written + 1] = static_cast<char>(bits >> 8);
    o[written + 2] = static_cast<char>(bits);
    written += 3;
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
