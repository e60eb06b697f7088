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
//   (strUtf, the VM's own conversion, still serves when no buffer can be had). When the VM
//   cannot supply them, the native returns at once with the VM's exception pending.
// - String results (jstr): the bytes up to the first zero byte as a new Java string. Valid
//   text comes through unchanged (standard 4-byte UTF-8 sequences become the surrogate
//   pair of their character); each invalid sequence becomes U+FFFD. Longer plain ASCII goes
//   to Java as a byte array and becomes a string through String(byte[], 0, 0, count) (the
//   class and constructor looked up on first use and kept); everything else goes through
//   toModifiedUtf8 and NewStringUTF (jstrUtf). Both give the same string.
// - Byte arrays (setBinVal, getBinVal): a null array raises NullPointerException "null
//   array". The elements are held with GetPrimitiveArrayCritical for the holder call only
//   (CriticalBytes): no JNI call, no allocation and nothing that blocks while they are held
//   (setBinVal reserves the holder's room before), and they are released on every path.
// - What escapes a native body goes through mx::throwCurrent (tjni::guarded) and the
//   native answers 0, false or null.
//
// Ownership: nothing is kept between calls; CriticalBytes releases what it holds.
// Threads: no shared state, no locks; each object is used by the thread that made it.
#ifndef TOKA_JAVA_MOPRAX_JCONV_H
#define TOKA_JAVA_MOPRAX_JCONV_H

#include <jni.h>

#include <string>

#include "java/MopraX_jthrow.h"
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

// A Java string of the text in s (see above); null with an OutOfMemoryError pending when
// the VM has no room.
jstring jstr(JNIEnv* env, const std::string& s);

// The same through toModifiedUtf8 and NewStringUTF.
jstring jstrUtf(JNIEnv* env, const std::string& s);

// The text jstr gives to the VM: s up to its first zero byte as valid modified UTF-8.
std::string toModifiedUtf8(const std::string& s);

// Stores in *length the count of the bytes of s before its first zero byte (or its end) and
// returns true when none of them is above 0x7f; false, *length unspecified, otherwise.
bool asciiPrefix(const char* s, size_t n, size_t* length);

// A Java byte array's elements, held with GetPrimitiveArrayCritical until destruction; the
// holder makes no JNI call and does not block meanwhile. size is the array's length. An
// empty array is not held: data() is then a valid pointer to no bytes.
class CriticalBytes {
 public:
  CriticalBytes(JNIEnv* env, jbyteArray array, jint size);
  ~CriticalBytes();

  char* data() const { return _data; }

 private:
  CriticalBytes(const CriticalBytes&) = delete;
  CriticalBytes& operator=(const CriticalBytes&) = delete;

  JNIEnv* _env;
  jbyteArray _array;
  void* _held;
  char* _data;
};

// The length of a byte-array argument; a null array raises NullPointerException "null array".
jint arrayLength(JNIEnv* env, jbyteArray array);

// holder.setBinVal over the array's elements.
template <typename H>
inline void setBinVal(JNIEnv* env, H& holder, jbyteArray array, jint offset, jint len) {
  const jint size = arrayLength(env, array);
  // Room for the bytes the holder keeps, so that nothing is allocated while the array is held.
  if (offset >= 0 && len > 0 && offset < size) {
    holder.value.reserve(static_cast<size_t>(len < size - offset ? len : size - offset));
  }
  CriticalBytes bytes(env, array, size);
  holder.setBinVal(bytes.data(), size, offset, len);
}

// holder.getBinVal into the array's elements; the bytes written reach the Java array.
template <typename H>
inline jint getBinVal(JNIEnv* env, const H& holder, jbyteArray array, jint offset) {
  const jint size = arrayLength(env, array);
  CriticalBytes bytes(env, array, size);
  return holder.getBinVal(bytes.data(), size, offset);
}

}  // namespace mx

#endif  // TOKA_JAVA_MOPRAX_JCONV_H
