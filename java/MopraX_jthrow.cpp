#include "java/MopraX_jthrow.h"

#include <exception>

namespace mx {

const char* javaExceptionClass(int code) {
  switch (code) {
    case kOutOfMemoryError: return "java/lang/OutOfMemoryError";
    case kIOException: return "java/io/IOException";
    case kRuntimeException: return "java/lang/RuntimeException";
    case kIndexOutOfBoundsException: return "java/lang/IndexOutOfBoundsException";
    case kArithmeticException: return "java/lang/ArithmeticException";
    case kIllegalArgumentException: return "java/lang/IllegalArgumentException";
    case kNullPointerException: return "java/lang/NullPointerException";
    case kDirectorPureVirtual: return "java/lang/RuntimeException";
    default: return "java/lang/UnknownError";
  }
}

void throwJava(JNIEnv* env, int code, const char* text) noexcept {
  env->ExceptionClear();
  jclass cls = env->FindClass(javaExceptionClass(code));
  if (cls == nullptr) {
    env->ExceptionClear();  // the lookup's NoClassDefFoundError: nothing is thrown
    return;
  }
  env->ThrowNew(cls, text);
  env->DeleteLocalRef(cls);
}

void throwCurrent(JNIEnv* env) noexcept {
  try {
    throw;
  } catch (const JavaFailure& f) {
    throwJava(env, f.code, f.text);
  } catch (const VmPending&) {
    // The VM's exception stays pending.
  } catch (const IndexError& e) {
    throwJava(env, kIndexOutOfBoundsException, e.what());
  } catch (const std::exception& e) {
    throwJava(env, kRuntimeException, e.what());
  } catch (...) {
    throwJava(env, kUnknownError, "Unknown exception");
  }
}

}  // namespace mx
