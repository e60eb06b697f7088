// MopraXJNI's calling conventions: the conversions every native applies to its arguments
// and results. Every native body runs in the JNI helper layer's boundary, tjni::guarded,
// with mx::throwCurrent as its reporter.
//
// - Object arguments are handles (tjni::fromHandle). self<T> is the object a native acts
//   on, ref<T>/cref<T> an argument the called function takes by reference or constant
//   reference: a zero handle raises NullPointerException with the type's text
//   (TypeName<T>) before any other work.
// - String arguments (str): a null string raises NullPointerException "null string";
//   otherwise the string's modified UTF-8 bytes. The characters are copied out of the VM
//   (GetStringRegion) and encoded here, which gives the bytes GetStringUTFChars gives
//   (strUtf, the VM's own conversion, still serves when no buffer can be had). Up to 2048
//   characters they are encoded on the stack and the result is allocated once at its exact
//   size; longer strings are narrowed as ASCII straight into the result, and at the first
//   other character the rest is counted and the result made once more at its exact size.
//   When the VM cannot supply them, the native returns at once with the VM's exception
//   pending.
// - String results (jstr): the bytes up to the first zero byte as a new Java string. Valid
//   text comes through unchanged (standard 4-byte UTF-8 sequences become the surrogate
//   pair of their character); each invalid sequence becomes U+FFFD. Longer plain ASCII goes
//   to Java as a byte array and becomes a string through String(byte[], 0, 0, count) (the
//   class and constructor looked up on first use and kept); everything else goes through
//   toModifiedUtf8 and NewStringUTF (jstrUtf). Both give the same string. A text longer
//   than any Java string (more than INT_MAX UTF-16 units) answers null with no exception;
//   one with a character above U+00FF and more than kMaxWideUnits units (the VM would need
//   a UTF-16 array longer than INT_MAX bytes) raises OutOfMemoryError (javaStringFit).
// - Byte arrays (setBinVal, getBinVal): a null array raises NullPointerException "null
//   array". The holder's rules (mopra::detail::set_bin_count, get_bin_count) pick the
//   bytes, which are copied straight between the Java array and the holder's value with
//   GetByteArrayRegion / SetByteArrayRegion: one copy, the array is never pinned and no GC
//   lock is held, so other Java threads can collect while a large array is copied.
// - What escapes a native body goes through mx::throwCurrent (tjni::guarded) and the
//   native answers 0, false or null.
//
// Ownership: nothing is kept between calls but the String class and constructor of the
// ASCII results (a global reference, made once by the first thread that needs it).
// Threads: no locks; each call uses its own thread's JNIEnv.
#ifndef TOKA_JAVA_MOPRAX_JCONV_H
#define TOKA_JAVA_MOPRAX_JCONV_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "java/MopraX_jthrow.h"
#include "shared-types/MopraX_StrHolder.h"
#include "src/jni/jni_util.h"

namespace mx {

// The names in the NullPointerException texts of zero handles; specialised per type.
template <typename T>
struct TypeName;

template <typename T>
inline T& self(jlong handle) {
  T* object = tjni::fromHandle<T>(handle);
  if (object == nullptr) throw JavaFailure{kNullPointerException, TypeName<T>::self};
  return *object;
}

template <typename T>
inline T& ref(jlong handle) {
  T* object = tjni::fromHandle<T>(handle);
  if (object == nullptr) throw JavaFailure{kNullPointerException, TypeName<T>::ref};
  return *object;
}

template <typename T>
inline const T& cref(jlong handle) {
  const T* object = tjni::fromHandle<T>(handle);
  if (object == nullptr) throw JavaFailure{kNullPointerException, TypeName<T>::cref};
  return *object;
}

// The bytes of a Java string argument.
std::string str(JNIEnv* env, jstring s);

// The same through the VM's own conversion (GetStringUTFChars).
std::string strUtf(JNIEnv* env, jstring s);

// The modified UTF-8 of n UTF-16 code units, the encoding GetStringUTFChars uses: U+0001 to
// U+007F one byte, U+0000 and U+0080 to U+07FF two bytes, every other unit (each half of a
// surrogate pair on its own) three bytes.
std::string modifiedUtf8(const jchar* chars, size_t n);

// A Java string of the text in s (see above), or of the text in s[0, size) where s[size] is
// a zero byte. Null with an OutOfMemoryError pending when the VM has no room, and null with
// nothing pending for a text longer than any Java string; throws JavaFailure
// (OutOfMemoryError) for one the VM cannot store. Call inside the native's boundary.
jstring jstr(JNIEnv* env, const std::string& s);
jstring jstr(JNIEnv* env, const char* s, size_t size);

// The same through toModifiedUtf8 and NewStringUTF.
jstring jstrUtf(JNIEnv* env, const std::string& s);

// The text jstr gives to the VM: s up to its first zero byte as valid modified UTF-8.
std::string toModifiedUtf8(const std::string& s);

// Stores in *length the count of the bytes of s before its first zero byte (or its end) and
// returns true when none of them is above 0x7f; false, *length unspecified, otherwise.
bool asciiPrefix(const char* s, size_t n, size_t* length);

// The UTF-16 units of the string jstr makes of the n bytes at s (no zero byte among them),
// counted without converting, and whether one of them is above U+00FF (wide).
struct TextUnits {
  uint64_t units;
  bool wide;
};
TextUnits textUnits(const char* s, size_t n);

// Whether a Java string of `units` UTF-16 units (wide: one above U+00FF) can be made.
// kTooLong: longer than any Java string (more than INT_MAX units). kNoRoom: the VM keeps
// such a string as UTF-16 in one byte array, which holds at most kMaxWideUnits units
// (its own conversion overflows beyond). kFits: the VM decides (it may still run out of
// heap).
enum class StringFit { kFits, kTooLong, kNoRoom };
constexpr uint64_t kMaxWideUnits = 0x7fffffff / 2;
StringFit javaStringFit(uint64_t units, bool wide);

// The length of a byte-array argument; a null array raises NullPointerException "null array".
jint arrayLength(JNIEnv* env, jbyteArray array);

// value = the n bytes of the array from offset (n >= 0, inside the array), copied in once.
// The old bytes are not copied when the value grows, and a failed allocation leaves value
// as it was.
void readBytes(JNIEnv* env, jbyteArray array, jint offset, jint n, std::string& value);

// The first n bytes of value into the array at offset (n >= 0, inside the array).
void writeBytes(JNIEnv* env, const std::string& value, jbyteArray array, jint offset, jint n);

// holder.setBinVal over the array's bytes (the holder's rules, one copy into the value).
template <typename H>
inline void setBinVal(JNIEnv* env, H& holder, jbyteArray array, jint offset, jint len) {
  const jint n = mopra::detail::set_bin_count(arrayLength(env, array), offset, len);
  if (n >= 0) readBytes(env, array, offset, n, holder.value);
}

// holder.getBinVal into the array; the bytes written reach the Java array.
template <typename H>
inline jint getBinVal(JNIEnv* env, const H& holder, jbyteArray array, jint offset) {
  const jint n = mopra::detail::get_bin_count(holder.value.size(), arrayLength(env, array), offset);
  if (n > 0) writeBytes(env, holder.value, array, offset, n);
  return n;
}

}  // namespace mx

#endif  // TOKA_JAVA_MOPRAX_JCONV_H
