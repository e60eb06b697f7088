// MopraXJNI's calling conventions: the conversions every native applies to its arguments
// and results, and the one guard its body runs in.
//
// - Object arguments are handles (tjni::fromHandle). self<T> is the object a native acts
//   on, ref<T>/cref<T> an argument the called function takes by reference or constant
//   reference: a zero handle raises NullPointerException with the type's text
//   (TypeName<T>) before any other work.
// - String arguments: a null string raises NullPointerException "null string"; otherwise
//   the modified UTF-8 bytes up to the first zero byte are copied (tjni::JStringUTF) and the
//   VM's copy released before the call. When the VM cannot supply them, the native
//   returns at once with the VM's exception pending.
// - String results (jstr): the bytes up to the first zero byte as a new Java string. Valid
//   text comes through unchanged (standard 4-byte UTF-8 sequences become the surrogate
//   pair of their character); each invalid sequence becomes U+FFFD.
// - Byte arrays (ByteElements): a null array raises NullPointerException "null array";
//   the elements are taken with GetByteArrayElements and released with mode 0 (copied back)
//   on every path; when the VM gives none, the native returns with its OutOfMemoryError
//   pending.
// - guard runs the body; what escapes it goes through mx::throwCurrent and the native
//   answers 0, false or null.
//
// Ownership: nothing is kept between calls; ByteElements owns the elements it obtained.
// Threads: no shared state, no locks; each object is used by the thread that made it.
#ifndef TOKA_JAVA_MOPRAX_JCONV_H
#define TOKA_JAVA_MOPRAX_JCONV_H

#include <jni.h>

#include <string>
#include <type_traits>

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

// A Java string of the text in s (see above); null with an OutOfMemoryError pending when
// the VM has no room.
jstring jstr(JNIEnv* env, const std::string& s);

// The text jstr gives to the VM: s up to its first zero byte as valid modified UTF-8.
std::string toModifiedUtf8(const std::string& s);

// A Java byte array's elements for the length of one call.
class ByteElements {
 public:
  ByteElements(JNIEnv* env, jbyteArray array);
  ~ByteElements();

  char* data() const { return reinterpret_cast<char*>(_elements); }
  int size() const { return _size; }

 private:
  ByteElements(const ByteElements&) = delete;
  ByteElements& operator=(const ByteElements&) = delete;

  JNIEnv* _env;
  jbyteArray _array;
  jbyte* _elements;
  int _size;
};

template <typename R, typename Body>
inline R guard(JNIEnv* env, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    throwCurrent(env);
  }
  if constexpr (!std::is_void<R>::value) return R{};
}

}  // namespace mx

#endif  // TOKA_JAVA_MOPRAX_JCONV_H
