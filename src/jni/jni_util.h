// JNI helper layer shared by the Java bindings: handle casts with the zero-handle policy,
// scoped access to string characters and byte-array slices (released on every path, the
// Java array never written back), slice clamping without overflow, and the one catch-all
// boundary that every native body runs in (with the binding's reporter: a fixed pair of
// class and message per exception kind, or the binding's own classification).
//
// Byte arrays: JByteSlice serves keys and payloads that a native only reads, so it copies
// the slice out (GetByteArrayRegion) and never writes back; the Java array is not pinned
// while the store works. MopraXJNI's holders also fill arrays the caller passes in
// (getBinVal); its access (java/MopraX_jconv: readBytes, writeBytes) copies straight
// between the array and the holder's value with GetByteArrayRegion / SetByteArrayRegion,
// so no binding pins an array or holds the GC lock.
//
// Results: newByteArray and newResult build the Java array or string a native returns; they
// make only JNI calls, so they never throw, and null means the VM raised OutOfMemoryError
// (or the value is too long for a Java array).
//
// Ownership: a handle is the address of a native object owned by the Java side between its
// new_ and delete_ natives. JStringUTF and JByteSlice own what they obtained from the VM
// (and their copy buffer) and release it in their destructors.
// Threads: no shared state; each object is used by the thread (and JNIEnv) that made it.
// Takes no lock.
#ifndef TOKA_SRC_JNI_JNI_UTIL_H
#define TOKA_SRC_JNI_JNI_UTIL_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <type_traits>

namespace tjni {

// Class paths and message of the binding reports.
extern const char* const kRuntimeExceptionClass;  // "com/olm/toka/exception/JNIRuntimeException"
extern const char* const kUnknownExceptionClass;  // "com/olm/toka/exception/JNIUnknownException"
extern const char* const kUnknownErrorMessage;    // "Unknown error"

// A binding's failure reporter (for SornX: sorn::jThrowException). Must not throw.
typedef void (*Reporter)(JNIEnv* env, const char* clsName, const char* message);

// Thrown inside a native body for a zero handle; the boundary reports its message.
class InvalidHandle : public std::exception {
 public:
  explicit InvalidHandle(const char* what) noexcept : _what(what) {}
  const char* what() const noexcept override { return _what; }

 private:
  const char* _what;  // a static text
};

template <typename T>
inline jlong toHandle(T* object) {
  return static_cast<jlong>(reinterpret_cast<intptr_t>(object));
}

// The object behind a handle, or null for 0.
template <typename T>
inline T* fromHandle(jlong handle) {
  return reinterpret_cast<T*>(static_cast<intptr_t>(handle));
}

// The object behind a handle that must be live; 0 throws InvalidHandle(what), which the
// boundary reports and answers with the native's failure value.
template <typename T>
inline T& requireHandle(jlong handle, const char* what) {
  T* object = fromHandle<T>(handle);
  if (object == nullptr) throw InvalidHandle(what);
  return *object;
}

// The modified UTF-8 bytes of a Java string. A null string, or one whose characters the VM
// could not supply (an OutOfMemoryError is then pending), gives data() null and length 0.
// Strings of up to 85 characters are converted into an inline buffer (no allocation in the
// VM); longer ones are taken with GetStringUTFChars and released in the destructor.
class JStringUTF {
 public:
  JStringUTF(JNIEnv* env, jstring s);
  ~JStringUTF();

  const char* data() const { return _chars; }
  // Length in bytes, without the terminating NUL.
  int length() const { return _length; }
  // No bytes to work with (null string, no characters from the VM, or the empty string).
  bool empty() const { return _chars == nullptr || _length < 1; }
  // The Java string was non-null but the VM gave no characters (an exception is pending).
  bool failed() const { return _string != nullptr && _chars == nullptr; }

 private:
  JStringUTF(const JStringUTF&) = delete;
  JStringUTF& operator=(const JStringUTF&) = delete;

  enum { kInline = 256 };

  JNIEnv* _env;
  jstring _string;
  const char* _chars;
  int _length;
  bool _fromVM;  // _chars came from GetStringUTFChars and goes back to the VM
  char _inline[kInline];
};

// Offset and length of a slice clamped to an array of n elements (n >= 0): a negative offset
// becomes 0, one above n becomes n; a negative length, or one reaching past the end, becomes
// n - offset. Never overflows.
struct Slice {
  jint offset;
  jint length;
};
Slice clampSlice(jint n, jint offset, jint length);

// A copy of a clamped slice of a Java byte array, read with GetByteArrayRegion: nothing is
// ever written back to the Java array. A null array gives data() null and length 0 with ok()
// true. ok() is false when the bytes could not be had (the VM raised an exception, or no
// memory was left for the copy); data() is then null and the caller must not store anything.
class JByteSlice {
 public:
  JByteSlice(JNIEnv* env, jbyteArray array, jint offset, jint length);

  bool ok() const { return _ok; }
  const char* data() const { return _data; }
  int length() const { return _length; }

 private:
  JByteSlice(const JByteSlice&) = delete;
  JByteSlice& operator=(const JByteSlice&) = delete;

  enum { kInline = 256 };
  char _inline[kInline];
  std::unique_ptr<char[]> _heap;
  const char* _data;
  int _length;
  bool _ok;
};

// A new Java byte array holding a copy of length bytes (a local reference the caller returns
// or deletes). Null when length is above INT_MAX or the VM could not make the array.
jbyteArray newByteArray(JNIEnv* env, const void* bytes, size_t length) noexcept;

// A value as a native answers it: asString gives the Java string of the text, which ends at
// its first NUL byte (bytes must hold one, at bytes[length] at the latest); otherwise the
// byte array of all length bytes, as newByteArray.
jobject newResult(JNIEnv* env, const char* bytes, size_t length, bool asString) noexcept;

// Reports the exception being handled (call only inside a catch block): a std::exception as
// kRuntimeExceptionClass with its what(), anything else as kUnknownExceptionClass with
// kUnknownErrorMessage.
void reportCurrentException(JNIEnv* env, Reporter report) noexcept;

// The catch-all boundary: runs body() and returns its result; any exception is reported
// through report and `failure` is returned. Nothing escapes to the VM.
template <typename R, typename Body>
inline R guarded(JNIEnv* env, Reporter report, R failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    reportCurrentException(env, report);
  }
  return failure;
}

// The same for natives without a result.
template <typename Body>
inline void guardedVoid(JNIEnv* env, Reporter report, Body&& body) noexcept {
  try {
    body();
  } catch (...) {
    reportCurrentException(env, report);
  }
}

// A binding's own classification (MopraXJNI: mx::throwCurrent): called only inside a catch
// block, it rethrows the exception being handled to tell its kind and raises the binding's
// Java exception (or leaves one the VM already has pending).
typedef void (*CurrentReporter)(JNIEnv* env) noexcept;

// The boundary for such a binding: runs body() and returns its result; any exception goes to
// report and the native answers R's zero value (0, false or null; nothing for void).
template <typename R, typename Body>
inline R guarded(JNIEnv* env, CurrentReporter report, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    report(env);
  }
  if constexpr (!std::is_void<R>::value) return R{};
}

inline jboolean jbool(bool b) { return b ? JNI_TRUE : JNI_FALSE; }

// The body of a native answering a text: make() runs inside the boundary and the result's
// c_str() (ending at its first NUL) goes back as a Java string; a failure answers null.
template <typename Make>
inline jstring textNative(JNIEnv* env, Reporter report, Make&& make) noexcept {
  return guarded<jstring>(env, report, nullptr, [&]() -> jstring {
    const auto text = make();
    return env->NewStringUTF(text.c_str());
  });
}

// The body of a new_ native: the handle of a new T(args...). A constructor that throws frees
// its memory (new-expression) before the report, and the native answers 0.
template <typename T, typename... Args>
inline jlong newNative(JNIEnv* env, Reporter report, Args... args) noexcept {
  return guarded<jlong>(env, report, 0, [&]() -> jlong { return toHandle(new T(args...)); });
}

// The body of a delete_ native: the object behind the handle is destroyed (nothing for 0).
template <typename T>
inline void deleteNative(JNIEnv* env, Reporter report, jlong handle) noexcept {
  guardedVoid(env, report, [&]() { delete fromHandle<T>(handle); });
}

}  // namespace tjni

#endif  // TOKA_SRC_JNI_JNI_UTIL_H
