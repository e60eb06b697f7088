#include "java/MopraX_jconv.h"

#include <cstdint>
#include <cstring>

namespace mx {

std::string str(JNIEnv* env, jstring s) {
  if (s == nullptr) throw JavaFailure{kNullPointerException, "null string"};
  tjni::JStringUTF chars(env, s);
  if (chars.failed()) throw VmPending();
  return std::string(chars.data(), static_cast<size_t>(chars.length()));
}

namespace {

inline bool isCont(unsigned char c) { return (c & 0xc0) == 0x80; }

const char kReplacement[] = "\xef\xbf\xbd";  // U+FFFD

void appendThreeByte(std::string& out, unsigned cp) {
  out += static_cast<char>(0xe0 | (cp >> 12));
  out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
  out += static_cast<char>(0x80 | (cp & 0x3f));
}

}  // namespace

std::string toModifiedUtf8(const std::string& s) {
  const size_t n = ::strnlen(s.data(), s.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (c >= 0xc0 && c < 0xe0) {
      // Two bytes: U+0080..U+07FF, or c0 80 (U+0000 in modified UTF-8).
      if (i + 1 < n && isCont(p[i + 1]) && (c >= 0xc2 || (c == 0xc0 && p[i + 1] == 0x80))) {
        out.append(s, i, 2);
        i += 2;
      } else {
        out += kReplacement;
        i += (i + 1 < n && isCont(p[i + 1])) ? 2 : 1;
      }
    } else if (c >= 0xe0 && c < 0xf0) {
      // Three bytes: U+0800..U+FFFF; surrogates are how modified UTF-8 writes supplementary
      // characters, so they pass.
      const bool lower = i + 1 < n && isCont(p[i + 1]) && (c > 0xe0 || p[i + 1] >= 0xa0);
      if (lower && i + 2 < n && isCont(p[i + 2])) {
        out.append(s, i, 3);
        i += 3;
      } else {
        out += kReplacement;
        i += lower ? 2 : 1;
      }
    } else if (c >= 0xf0 && c < 0xf5) {
      // Four bytes of standard UTF-8 (U+10000..U+10FFFF): the character as its surrogate pair.
      const bool second = i + 1 < n && isCont(p[i + 1]) && (c > 0xf0 || p[i + 1] >= 0x90) &&
                          (c < 0xf4 || p[i + 1] < 0x90);
      if (second && i + 3 < n && isCont(p[i + 2]) && isCont(p[i + 3])) {
        const unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3fu) << 12) | ((p[i + 2] & 0x3fu) << 6) |
                            (p[i + 3] & 0x3fu);
        const unsigned v = cp - 0x10000;
        appendThreeByte(out, 0xd800 | (v >> 10));
        appendThreeByte(out, 0xdc00 | (v & 0x3ff));
        i += 4;
      } else {
        out += kReplacement;
        size_t skip = 1;
        if (second) {
          skip = 2;
          if (i + 2 < n && isCont(p[i + 2])) skip = 3;
        }
        i += skip;
      }
    } else {
      // A stray continuation byte or a byte that never starts a sequence.
      out += kReplacement;
      ++i;
    }
  }
  return out;
}

jstring jstr(JNIEnv* env, const std::string& s) {
  // Plain ASCII (the common case: hex, Base64, tokens) goes to the VM as it is.
  const char* p = s.c_str();
  size_t i = 0;
  // Eight bytes at a time while none is zero or above 0x7f, then byte by byte.
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t x;
    std::memcpy(&x, p + i, 8);
    if (((x - 0x0101010101010101ull) | x) & 0x8080808080808080ull) break;
  }
  while (i < s.size() && static_cast<unsigned char>(p[i]) - 1u < 0x7fu) ++i;
  if (i == s.size() || p[i] == '\0') {
    if (i == s.size()) return env->NewStringUTF(p);
    return env->NewStringUTF(std::string(p, i).c_str());
  }
  return env->NewStringUTF(toModifiedUtf8(s).c_str());
}

ByteElements::ByteElements(JNIEnv* env, jbyteArray array)
    : _env(env), _array(array), _elements(nullptr), _size(0) {
  if (array == nullptr) throw JavaFailure{kNullPointerException, "null array"};
  _size = static_cast<int>(env->GetArrayLength(array));
  _elements = env->GetByteArrayElements(array, nullptr);
  if (_elements == nullptr) throw VmPending();
}

ByteElements::~ByteElements() {
  if (_elements != nullptr) _env->ReleaseByteArrayElements(_array, _elements, 0);
}

}  // namespace mx
