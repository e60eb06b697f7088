// MopraXJNI's exception thrower and mapping: how a failure inside a native becomes a Java
// exception.
//
// throwJava clears any exception already pending in the VM, looks the class of the code up
// (table below) and throws a new instance with the text; if the class cannot be found,
// nothing is thrown (and the lookup's own error is cleared). throwCurrent classifies the
// exception being handled (call it only inside a catch block): a JavaFailure raises its
// code and text, VmPending leaves the VM's own exception alone, an IndexError (the element
// and key accessors' std::out_of_range) raises IndexOutOfBoundsException, any other
// std::exception RuntimeException with its what(), anything else UnknownError "Unknown
// exception".
//
// Neither function throws. No state, no locks; the JNIEnv is the calling thread's.
#ifndef TOKA_JAVA_MOPRAX_JTHROW_H
#define TOKA_JAVA_MOPRAX_JTHROW_H

#include <jni.h>

#include <stdexcept>

namespace mx {

// Class codes: 1 java/lang/OutOfMemoryError, 2 java/io/IOException, 3 and 8
// java/lang/RuntimeException, 4 java/lang/IndexOutOfBoundsException,
// 5 java/lang/ArithmeticException, 6 java/lang/IllegalArgumentException,
// 7 java/lang/NullPointerException, any other java/lang/UnknownError.
enum JavaExceptionCode {
  kOutOfMemoryError = 1,
  kIOException = 2,
  kRuntimeException = 3,
  kIndexOutOfBoundsException = 4,
  kArithmeticException = 5,
  kIllegalArgumentException = 6,
  kNullPointerException = 7,
  kDirectorPureVirtual = 8,
  kUnknownError = 9,
};

// The class name of a code.
const char* javaExceptionClass(int code);

void throwJava(JNIEnv* env, int code, const char* text) noexcept;

// A failure found by the binding itself (a null argument): raised as `code` with `text`
// (a static text).
struct JavaFailure {
  int code;
  const char* text;
};

// The VM could not supply what a native asked for and has its own exception pending.
struct VmPending {};

// std::out_of_range from an element or key accessor.
class IndexError : public std::out_of_range {
 public:
  explicit IndexError(const char* what) : std::out_of_range(what) {}
};

void throwCurrent(JNIEnv* env) noexcept;

}  // namespace mx

#endif  // TOKA_JAVA_MOPRAX_JTHROW_H
