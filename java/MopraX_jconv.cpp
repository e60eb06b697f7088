#include "java/MopraX_jconv.h"

#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mx {

namespace {

// Strings of up to this many characters are converted through a buffer on the stack.
constexpr size_t kStackChars = 2048;

// ASCII results of at least this many bytes are made into Java strings from a byte array.
constexpr size_t kBytesToJavaMin = 256;

inline bool isAsciiUnit(unsigned c) { return c - 1u < 0x7fu; }  // U+0001..U+007F

// Stores the leading units of chars that are U+0001..U+007F as bytes into out; returns
// their count.
size_t narrowAscii(const jchar* chars, size_t n, char* out) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chars + i + 8));
    // Signed saturation keeps 0x01..0x7f as they are and turns every other unit into 0
    // (0, 0x8000..0xffff) or a byte above 0x7f (0x80..0x7fff).
    const __m128i bytes = _mm_packus_epi16(a, b);
    if ((_mm_movemask_epi8(bytes) | _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
  }
#endif
  for (; i < n && isAsciiUnit(chars[i]); ++i) out[i] = static_cast<char>(chars[i]);
  return i;
}

}  // namespace

std::string modifiedUtf8(const jchar* chars, size_t n) {
  std::string out(n, '\0');
  const size_t ascii = narrowAscii(chars, n, &out[0]);
  if (ascii == n) return out;
  size_t bytes = ascii;
  for (size_t i = ascii; i < n; ++i) {
    const unsigned c = chars[i];
    bytes += isAsciiUnit(c) ? 1 : c < 0x800 ? 2 : 3;
  }
  out.resize(bytes);
  unsigned char* o = reinterpret_cast<unsigned char*>(&out[ascii]);
  for (size_t i = ascii; i < n; ++i) {
    const unsigned c = chars[i];
    if (isAsciiUnit(c)) {
      *o++ = static_cast<unsigned char>(c);
    } else if (c < 0x800) {
      *o++ = static_cast<unsigned char>(0xc0 | (c >> 6));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3f));
    } else {
      *o++ = static_cast<unsigned char>(0xe0 | (c >> 12));
      *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3f));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3f));
    }
  }
  return out;
}

std::string strUtf(JNIEnv* env, jstring s) {
  if (s == nullptr) throw JavaFailure{kNullPointerException, "null string"};
  tjni::JStringUTF chars(env, s);
  if (chars.failed()) throw VmPending();
  return std::string(chars.data(), static_cast<size_t>(chars.length()));
}

std::string str(JNIEnv* env, jstring s) {
  if (s == nullptr) throw JavaFailure{kNullPointerException, "null string"};
  const jsize n = env->GetStringLength(s);
  jchar local[kStackChars];
  std::unique_ptr<jchar[]> heap;
  jchar* chars = local;
  if (static_cast<size_t>(n) > kStackChars) {
    heap.reset(new (std::nothrow) jchar[static_cast<size_t>(n)]);
    if (!heap) return strUtf(env, s);  // no room for the characters: the VM converts
    chars = heap.get();
  }
  env->GetStringRegion(s, 0, n, chars);
  if (env->ExceptionCheck()) throw VmPending();
  return modifiedUtf8(chars, static_cast<size_t>(n));
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
        const unsigned cp = ((c & 0x07u) << 18) | ((p[i + 1] & 0x3fu) << 12) |
                            ((p[i + 2] & 0x3fu) << 6) | (p[i + 3] & 0x3fu);
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

bool asciiPrefix(const char* s, size_t n, size_t* length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    if ((_mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) != 0) break;
  }
#endif
  for (; i < n && p[i] != 0; ++i) {
    if (p[i] > 0x7f) return false;
  }
  *length = i;
  return true;
}

namespace {

// java.lang.String and its constructor String(byte[] ascii, int hibyte, int offset, int
// count), which copies the bytes as they are into a Latin-1 string when hibyte is 0. Looked
// up once, by the first thread that needs them; cls stays null when the lookup failed
// (strings then go through NewStringUTF).
struct StringFromBytes {
  jclass cls = nullptr;
  jmethodID ctor = nullptr;

  explicit StringFromBytes(JNIEnv* env) {
    jclass local = env->FindClass("java/lang/String");
    if (local == nullptr) {
      env->ExceptionClear();
      return;
    }
    jmethodID id = env->GetMethodID(local, "<init>", "([BIII)V");
    if (id == nullptr) {
      env->ExceptionClear();
    } else {
      cls = static_cast<jclass>(env->NewGlobalRef(local));
      ctor = id;
    }
    env->DeleteLocalRef(local);
  }
};

const StringFromBytes& stringFromBytes(JNIEnv* env) {
  static const StringFromBytes ids(env);
  return ids;
}

// s through NewStringUTF, ascii being what asciiPrefix says of it. Plain ASCII (the common
// case: hex, Base64, tokens) goes to the VM as it is: c_str() ends at the first zero byte
// either way. Anything else goes through toModifiedUtf8.
jstring newStringUtf(JNIEnv* env, const std::string& s, bool ascii) {
  if (ascii) return env->NewStringUTF(s.c_str());
  return env->NewStringUTF(toModifiedUtf8(s).c_str());
}

}  // namespace

jstring jstr(JNIEnv* env, const std::string& s) {
  size_t n = 0;
  const bool ascii = asciiPrefix(s.data(), s.size(), &n);
  // Below this length NewStringUTF's own scan costs less than the call into Java.
  if (ascii && n >= kBytesToJavaMin) {
    const StringFromBytes& ids = stringFromBytes(env);
    if (ids.cls != nullptr) {
      const jsize len = static_cast<jsize>(n);
      jbyteArray bytes = tjni::newByteArray(env, s.data(), n);
      if (bytes == nullptr) return nullptr;  // OutOfMemoryError pending
      jstring result = static_cast<jstring>(env->NewObject(ids.cls, ids.ctor, bytes, 0, 0, len));
      env->DeleteLocalRef(bytes);
      return result;
    }
  }
  return newStringUtf(env, s, ascii);
}

jstring jstrUtf(JNIEnv* env, const std::string& s) {
  size_t n = 0;
  return newStringUtf(env, s, asciiPrefix(s.data(), s.size(), &n));
}

jint arrayLength(JNIEnv* env, jbyteArray array) {
  if (array == nullptr) throw JavaFailure{kNullPointerException, "null array"};
  return env->GetArrayLength(array);
}

CriticalBytes::CriticalBytes(JNIEnv* env, jbyteArray array, jint size)
    : _env(env), _array(array), _held(nullptr), _data(nullptr) {
  static char none;
  if (size == 0) {
    _data = &none;
    return;
  }
  _held = env->GetPrimitiveArrayCritical(array, nullptr);
  if (_held == nullptr) throw VmPending();
  _data = static_cast<char*>(_held);
}

CriticalBytes::~CriticalBytes() {
  if (_held != nullptr) _env->ReleasePrimitiveArrayCritical(_array, _held, 0);
}

}  // namespace mx
