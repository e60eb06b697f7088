#include "java/MopraX_jconv.h"

#include <climits>
#include <cstdint>
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

// The modified UTF-8 of n units into out (room for 3 bytes a unit); returns the end of what
// was written.
char* encodeUnits(const jchar* chars, size_t n, char* out) {
  unsigned char* o = reinterpret_cast<unsigned char*>(out);
  for (size_t i = 0; i < n; ++i) {
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
  return reinterpret_cast<char*>(o);
}

size_t encodedLength(const jchar* chars, size_t n) {
  size_t bytes = 0;
  for (size_t i = 0; i < n; ++i) {
    const unsigned c = chars[i];
    bytes += isAsciiUnit(c) ? 1 : c < 0x800 ? 2 : 3;
  }
  return bytes;
}

}  // namespace

std::string modifiedUtf8(const jchar* chars, size_t n) {
  if (n <= kStackChars) {
    // Encoded on the stack, then one allocation of the exact size (none up to 15 bytes).
    char bytes[3 * kStackChars];
    const size_t ascii = narrowAscii(chars, n, bytes);
    const char* end = encodeUnits(chars + ascii, n - ascii, bytes + ascii);
    return std::string(bytes, static_cast<size_t>(end - bytes));
  }
  // Longer strings: narrowed as ASCII straight into the result; at the first other unit the
  // rest is counted and the result made once at its exact size.
  std::string out(n, '\0');
  const size_t ascii = narrowAscii(chars, n, &out[0]);
  if (ascii == n) return out;
  std::string exact(ascii + encodedLength(chars + ascii, n - ascii), '\0');
  std::memcpy(&exact[0], out.data(), ascii);
  encodeUnits(chars + ascii, n - ascii, &exact[ascii]);
  return exact;
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

// The count of leading bytes below 0x80 of p[0, n).
size_t asciiRun(const unsigned char* p, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    if (high != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
#endif
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

// Walks the text p[0, n) (no zero byte in it) as jstr gives it to the VM, sequence by
// sequence: out.ascii(p, k) for a run of k bytes below 0x80, out.sequence(p, k) for a valid
// 2- or 3-byte sequence of modified UTF-8 (C0 80 is U+0000; surrogates pass, they are how
// modified UTF-8 writes supplementary characters), out.pair(cp) for a 4-byte sequence of
// standard UTF-8 (U+10000..U+10FFFF, given as its surrogate pair) and out.replacement() for
// each invalid sequence (one U+FFFD).
template <typename Out>
void walkText(const unsigned char* p, size_t n, Out& out) {
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      const size_t run = asciiRun(p + i, n - i);
      out.ascii(p + i, run);
      i += run;
    } else if (c >= 0xc0 && c < 0xe0) {
      // Two bytes: U+0080..U+07FF, or c0 80.
      if (i + 1 < n && isCont(p[i + 1]) && (c >= 0xc2 || (c == 0xc0 && p[i + 1] == 0x80))) {
        out.sequence(p + i, 2);
        i += 2;
      } else {
        out.replacement();
        i += (i + 1 < n && isCont(p[i + 1])) ? 2 : 1;
      }
    } else if (c >= 0xe0 && c < 0xf0) {
      // Three bytes: U+0800..U+FFFF.
      const bool lower = i + 1 < n && isCont(p[i + 1]) && (c > 0xe0 || p[i + 1] >= 0xa0);
      if (lower && i + 2 < n && isCont(p[i + 2])) {
        out.sequence(p + i, 3);
        i += 3;
      } else {
        out.replacement();
        i += lower ? 2 : 1;
      }
    } else if (c >= 0xf0 && c < 0xf5) {
      const bool second = i + 1 < n && isCont(p[i + 1]) && (c > 0xf0 || p[i + 1] >= 0x90) &&
                          (c < 0xf4 || p[i + 1] < 0x90);
      if (second && i + 3 < n && isCont(p[i + 2]) && isCont(p[i + 3])) {
        out.pair(((c & 0x07u) << 18) | ((p[i + 1] & 0x3fu) << 12) | ((p[i + 2] & 0x3fu) << 6) |
                 (p[i + 3] & 0x3fu));
        i += 4;
      } else {
        out.replacement();
        size_t skip = 1;
        if (second) {
          skip = 2;
          if (i + 2 < n && isCont(p[i + 2])) skip = 3;
        }
        i += skip;
      }
    } else {
      // A stray continuation byte or a byte that never starts a sequence.
      out.replacement();
      ++i;
    }
  }
}

// walkText's output as modified UTF-8.
struct Utf8Writer {
  std::string& out;

  void ascii(const unsigned char* p, size_t k) { out.append(reinterpret_cast<const char*>(p), k); }
  void sequence(const unsigned char* p, size_t k) { ascii(p, k); }
  void pair(unsigned cp) {
    const unsigned v = cp - 0x10000;
    threeBytes(0xd800 | (v >> 10));
    threeBytes(0xdc00 | (v & 0x3ff));
  }
  void replacement() { out += kReplacement; }

  void threeBytes(unsigned u) {
    out += static_cast<char>(0xe0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (u & 0x3f));
  }
};

// walkText's output as a count of UTF-16 units.
struct UnitCounter {
  TextUnits t{0, false};

  void ascii(const unsigned char*, size_t k) { t.units += k; }
  // Two bytes led by c0, c2 or c3 are U+0000 or U+0080..U+00FF.
  void sequence(const unsigned char* p, size_t k) {
    ++t.units;
    if (k == 3 || p[0] > 0xc3) t.wide = true;
  }
  void pair(unsigned) {
    t.units += 2;
    t.wide = true;
  }
  void replacement() {
    ++t.units;
    t.wide = true;
  }
};

std::string convertText(const char* s, size_t n) {
  std::string out;
  out.reserve(n);
  Utf8Writer writer{out};
  walkText(reinterpret_cast<const unsigned char*>(s), n, writer);
  return out;
}

}  // namespace

std::string toModifiedUtf8(const std::string& s) {
  return convertText(s.data(), ::strnlen(s.data(), s.size()));
}

TextUnits textUnits(const char* s, size_t n) {
  UnitCounter counter;
  walkText(reinterpret_cast<const unsigned char*>(s), n, counter);
  return counter.t;
}

StringFit javaStringFit(uint64_t units, bool wide) {
  if (units > static_cast<uint64_t>(INT32_MAX)) return StringFit::kTooLong;
  if (wide && units > kMaxWideUnits) return StringFit::kNoRoom;
  return StringFit::kFits;
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

// The n ASCII bytes at s (s[n] is a zero byte) as a Java string.
jstring asciiString(JNIEnv* env, const char* s, size_t n) {
  // Below this length NewStringUTF's own scan costs less than the call into Java.
  if (n >= kBytesToJavaMin) {
    const StringFromBytes& ids = stringFromBytes(env);
    if (ids.cls != nullptr) {
      jbyteArray bytes = tjni::newByteArray(env, s, n);
      if (bytes == nullptr) return nullptr;  // OutOfMemoryError pending
      jstring result = static_cast<jstring>(
          env->NewObject(ids.cls, ids.ctor, bytes, 0, 0, static_cast<jsize>(n)));
      env->DeleteLocalRef(bytes);
      return result;
    }
  }
  return env->NewStringUTF(s);
}

const char kNoRoomText[] = "String result too long for the VM";

}  // namespace

jstring jstr(JNIEnv* env, const std::string& s) { return jstr(env, s.data(), s.size()); }

jstring jstr(JNIEnv* env, const char* s, size_t size) {
  size_t n = 0;
  if (asciiPrefix(s, size, &n)) {
    if (javaStringFit(n, false) == StringFit::kTooLong) return nullptr;
    return asciiString(env, s, n);
  }
  const size_t bytes = ::strnlen(s, size);
  // A text has no more units than bytes: a shorter one reaches neither limit.
  if (bytes > kMaxWideUnits) {
    const TextUnits t = textUnits(s, bytes);
    switch (javaStringFit(t.units, t.wide)) {
      case StringFit::kTooLong: return nullptr;
      case StringFit::kNoRoom: throw JavaFailure{kOutOfMemoryError, kNoRoomText};
      case StringFit::kFits: break;
    }
  }
  return env->NewStringUTF(convertText(s, bytes).c_str());
}

jstring jstrUtf(JNIEnv* env, const std::string& s) {
  size_t n = 0;
  return newStringUtf(env, s, asciiPrefix(s.data(), s.size(), &n));
}

jint arrayLength(JNIEnv* env, jbyteArray array) {
  if (array == nullptr) throw JavaFailure{kNullPointerException, "null array"};
  return env->GetArrayLength(array);
}

void readBytes(JNIEnv* env, jbyteArray array, jint offset, jint n, std::string& value) {
  const size_t count = static_cast<size_t>(n);
  std::string fresh;
  std::string* target = &value;
  if (count > value.capacity()) {
    // A new buffer: growing the value would first copy its old bytes.
    fresh.resize(count);
    target = &fresh;
  } else {
    value.resize(count);
  }
  if (n > 0) {
    env->GetByteArrayRegion(array, offset, n, reinterpret_cast<jbyte*>(&(*target)[0]));
    if (env->ExceptionCheck()) throw VmPending();
  }
  if (target == &fresh) value.swap(fresh);
}

void writeBytes(JNIEnv* env, const std::string& value, jbyteArray array, jint offset, jint n) {
  env->SetByteArrayRegion(array, offset, n, reinterpret_cast<const jbyte*>(value.data()));
  if (env->ExceptionCheck()) throw VmPending();
}

}  // namespace mx
