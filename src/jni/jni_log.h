// The log side of the JNI helper layer, for the bindings that report through log lines
// (SornX and TessiX): debug dumps of keys and values, the refusal line of an empty key or
// payload, the error line of a failure report, and the shared bodies of the natives that take
// a key (keyNative, readNative, putNative), each native described by its row: place, failure
// answer, empty-key answer, dump flag. The bindings take these names into their own
// namespaces (sorn::dumpKey, tessi::jThrowException).
//
// Prints through logutil (standard output, one line per call, no level filtering: callers
// test their module level first or pass its result, except for the error line, which is
// printed at every level). Thread-safe; takes no lock of its own; allocates nothing (the
// bodies own only the scoped string and array access of jni_util.h).
#ifndef TOKA_SRC_JNI_JNI_LOG_H
#define TOKA_SRC_JNI_JNI_LOG_H

#include <jni.h>

#include "src/jni/jni_util.h"

namespace tjni {

// Debug lines "key[%d]=\"%s\"", "value[%d]=\"%s\"" and "key[%d]=\"%s\", value[%d]=\"%s\""
// at place: a buffer prints as at most its length of bytes, ending early at a NUL; null as
// "<null>"; a negative length prints no bytes. They do not test the module level.
void dumpKey(const char* place, const char* key, int keyLen);
void dumpValue(const char* place, const char* value, int valueLen);
void dumpKeyValue(const char* place, const char* key, int keyLen, const char* value, int valueLen);

// The refusal of an empty key or payload: true when key has no bytes (null, empty, or no
// characters from the VM), after the information line "key is empty or memory is overflow!"
// at place when log is true. emptyData prints "data is empty or memory is overflow!" the same
// way and answers JNI_FALSE.
bool emptyKey(const JStringUTF& key, const char* place, bool log);
jboolean emptyData(const char* place, bool log);

// Error line "[ERR] jThrowException: Exception <clsName> occurred: <message>" at every level
// (a null message prints as empty), or the line saying that nothing could be reported when
// jenv or clsName is null. Raises no Java exception; never throws.
void jThrowException(JNIEnv* jenv, const char* clsName, const char* message);

// The key natives of a binding share one body (keyNative) and differ only in their row.
template <typename R>
struct KeyRow {
  const char* place;
  R failure;  // an exception or a zero handle
  R empty;    // an empty or null key
  bool dump;  // dumpKey at debug level
};

// What keyNative needs of a binding: its reporter, the live object behind a handle (throws
// InvalidHandle for 0) and the module's level tests.
template <typename T>
struct KeyBinding {
  Reporter report;
  T& (*object)(jlong handle);
  bool (*infOn)();
  bool (*dbgOn)();
};

// Inside the boundary: the object, then the key (an empty one answers row.empty after the
// information line), the key dump when the row asks for it, then call(object, key, length).
template <typename T, typename R, typename Call>
R keyNative(JNIEnv* env, const KeyBinding<T>& binding, jlong handle, jstring key,
            const KeyRow<R>& row, Call&& call) noexcept {
  return guarded<R>(env, binding.report, row.failure, [&]() -> R {
    T& object = binding.object(handle);
    JStringUTF k(env, key);
    if (emptyKey(k, row.place, binding.infOn())) return row.empty;
    if (row.dump && binding.dbgOn()) dumpKey(row.place, k.data(), k.length());
    return call(object, k.data(), k.length());
  });
}

// get, getAsString, pop, popAsString: object.get or, for pop, object.pop (env, key,
// keyLength, asString) through keyNative, cast to J (jbyteArray, or jstring for asString).
template <typename J, typename T>
J readNative(JNIEnv* env, const KeyBinding<T>& binding, jlong handle, jstring key,
             const KeyRow<jobject>& row, bool pop, bool asString) noexcept {
  return static_cast<J>(
      keyNative(env, binding, handle, key, row, [&](T& object, const char* k, int n) {
        return pop ? object.pop(env, k, n, asString) : object.get(env, k, n, asString);
      }));
}

// The rows of the natives that the key-value bindings (SornJNI, TessiJNI) both have.
namespace rows {
inline constexpr KeyRow<jobject> kGet = {"get", nullptr, nullptr, true};
inline constexpr KeyRow<jobject> kGetAsString = {"getAsString", nullptr, nullptr, true};
inline constexpr KeyRow<jobject> kPop = {"pop", nullptr, nullptr, true};
inline constexpr KeyRow<jobject> kPopAsString = {"popAsString", nullptr, nullptr, true};
inline constexpr KeyRow<jboolean> kRemove = {"remove", JNI_FALSE, JNI_FALSE, true};
inline constexpr KeyRow<jboolean> kExist = {"exist", JNI_FALSE, JNI_FALSE, true};
inline constexpr KeyRow<jboolean> kPut = {"put", JNI_FALSE, JNI_FALSE, true};
inline constexpr KeyRow<jboolean> kPutString = {"putString", JNI_FALSE, JNI_FALSE, true};
}  // namespace rows

// Whether a value the VM was asked for was supplied (a null array or string counts as given).
inline bool supplied(const JByteSlice& value) { return value.ok(); }
inline bool supplied(const JStringUTF& value) { return !value.failed(); }

// The put natives' one body: as keyNative, then the value V(env, valueArgs...) (a JByteSlice
// or a JStringUTF); one the VM could not supply answers row.failure and nothing is stored.
// The key and value dump when the row asks for it, then call(object, key, keyLength, value,
// valueLength) (value null for a null array or string).
template <typename V, typename T, typename R, typename Call, typename... Args>
R putNative(JNIEnv* env, const KeyBinding<T>& binding, jlong handle, jstring key,
            const KeyRow<R>& row, Call&& call, Args... valueArgs) noexcept {
  return guarded<R>(env, binding.report, row.failure, [&]() -> R {
    T& object = binding.object(handle);
    JStringUTF k(env, key);
    if (emptyKey(k, row.place, binding.infOn())) return row.empty;
    V v(env, valueArgs...);
    if (!supplied(v)) return row.failure;
    if (row.dump && binding.dbgOn()) {
      dumpKeyValue(row.place, k.data(), k.length(), v.data(), v.length());
    }
    return call(object, k.data(), k.length(), v.data(), v.length());
  });
}

}  // namespace tjni

#endif  // TOKA_SRC_JNI_JNI_LOG_H
