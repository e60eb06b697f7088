#include "src/jni/jni_util.h"

#include <climits>
#include <cstring>
#include <new>

namespace tjni {

const char* const kRuntimeExceptionClass = "com/olm/toka/exception/JNIRuntimeException";
const char* const kUnknownExceptionClass = "com/olm/toka/exception/JNIUnknownException";
const char* const kUnknownErrorMessage = "Unknown error";

JStringUTF::JStringUTF(JNIEnv* env, jstring s)
    : _env(env), _string(s), _chars(nullptr), _length(0), _fromVM(false) {
  if (env == nullptr || s == nullptr) return;
  const jsize chars = env->GetStringLength(s);
  // A character takes at most 3 bytes of modified UTF-8.
  if (chars >= 0 && chars <= (kInline - 1) / 3) {
    // Converted into the inline buffer: nothing to allocate in the VM or release. The
    // buffer is zeroed first, and modified UTF-8 holds no zero byte, so the text ends at
    // the first one.
    std::memset(_inline, 0, static_cast<size_t>(chars) * 3 + 1);
    env->GetStringUTFRegion(s, 0, chars, _inline);
    if (env->ExceptionCheck()) return;
    _chars = _inline;
    _length = static_cast<int>(std::strlen(_inline));
    return;
  }
  _chars = env->GetStringUTFChars(s, nullptr);
  if (_chars == nullptr) return;
  _fromVM = true;
  _length = static_cast<int>(std::strlen(_chars));
}

JStringUTF::~JStringUTF() {
  if (_fromVM) _env->ReleaseStringUTFChars(_string, _chars);
}

Slice clampSlice(jint n, jint offset, jint length) {
  if (n < 0) n = 0;
  if (offset < 0) offset = 0;
  if (offset > n) offset = n;
  const jint available = n - offset;  // 0..n, no overflow
  if (length < 0 || length > available) length = available;
  Slice s;
  s.offset = offset;
  s.length = length;
  return s;
}

JByteSlice::JByteSlice(JNIEnv* env, jbyteArray array, jint offset, jint length)
    : _data(nullptr), _length(0), _ok(true) {
  if (array == nullptr) return;
  const Slice s = clampSlice(env->GetArrayLength(array), offset, length);
  char* buffer = _inline;
  if (s.length > kInline) {
    _heap.reset(new (std::nothrow) char[static_cast<size_t>(s.length)]);
    if (!_heap) {
      _ok = false;
      return;
    }
    buffer = _heap.get();
  }
  if (s.length > 0) {
    env->GetByteArrayRegion(array, s.offset, s.length, reinterpret_cast<jbyte*>(buffer));
    if (env->ExceptionCheck()) {
      _ok = false;
      return;
    }
  }
  _data = buffer;
  _length = s.length;
}

jbyteArray newByteArray(JNIEnv* env, const void* bytes, size_t length) noexcept {
  if (length > static_cast<size_t>(INT_MAX)) return nullptr;
  const jsize n = static_cast<jsize>(length);
  jbyteArray array = env->NewByteArray(n);
  if (array == nullptr) return nullptr;
  // The region is the whole new array, so this copy cannot fail.
  if (n > 0) env->SetByteArrayRegion(array, 0, n, static_cast<const jbyte*>(bytes));
  return array;
}

jobject newResult(JNIEnv* env, const char* bytes, size_t length, bool asString) noexcept {
  if (asString) return env->NewStringUTF(bytes);
  return newByteArray(env, bytes, length);
}

void reportCurrentException(JNIEnv* env, Reporter report) noexcept {
  try {
    try {
      throw;
    } catch (const std::exception& e) {
      report(env, kRuntimeExceptionClass, e.what());
    } catch (...) {
      report(env, kUnknownExceptionClass, kUnknownErrorMessage);
    }
  } catch (...) {
    // A reporter must not throw; if it does, the failure answer still goes back.
  }
}

}  // namespace tjni
