// The 29 natives of com/olm/toka/jni/tessi/TessiJNI, compiled against the header that javac
// generates from the shipped class (a signature that differs from the class fails the build).
//
// Each native runs its whole body inside the one boundary of src/jni/jni_util.h: exceptions
// are reported through tessi::jThrowException and answered with 0, false or null; no Java
// exception is raised. A zero handle is reported the same way. The key natives share one
// body (tjni::keyNative), the put natives another (tjni::putNative); each differs only in its
// row (place, failure answer, empty-key answer, whether the key is dumped at debug level) and
// its cache call. Strings and array slices are released on every path; a value array is read,
// never written back. No state, no lock.
#include "com_olm_toka_jni_tessi_TessiJNI.h"

#include "logutil.h"
#include "src/TessiX_impl.h"
#include "src/jni/jni_log.h"
#include "src/jni/jni_util.h"

using tessi::TessiGeneric;

namespace {

const tjni::Reporter kReport = &tessi::jThrowException;
const char* const kZeroHandle = "TessiGeneric handle is 0";

TessiGeneric& cache(jlong handle) { return tjni::requireHandle<TessiGeneric>(handle, kZeroHandle); }

const tjni::KeyBinding<TessiGeneric> kKeys = {kReport, &cache, &tessix__infOn, &tessix__dbgOn};

using tjni::KeyRow;
namespace rows = tjni::rows;  // the rows SornJNI has as well

// The rows of the item natives.
const KeyRow<jint> kGetItemFlag = {"getItemFlag", 0, -1, false};
const KeyRow<jboolean> kSetItemFlag = {"setItemFlag", JNI_FALSE, JNI_FALSE, false};
const KeyRow<jint> kGetItemTimeExp = {"getItemTimeExp", 0, -1, false};
const KeyRow<jboolean> kExtItemTimeExp = {"extItemTimeExp", JNI_FALSE, JNI_FALSE, false};

using tjni::jbool;

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------
// Module functions.

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_tessix_1_1setLogLevel(JNIEnv* env,
                                                                                  jclass,
                                                                                  jint level) {
  tjni::guardedVoid(env, kReport, [&]() { tessix__setLogLevel(level); });
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_tessix_1_1info(JNIEnv* env, jclass) {
  return tjni::textNative(env, kReport, &tessix__info);
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_tessix_1_1initialize(JNIEnv* env,
                                                                                 jclass, jint n) {
  return tjni::guarded<jint>(env, kReport, 0, [&]() -> jint { return tessix__initialize(n); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_tessix_1_1uninitialize(JNIEnv* env,
                                                                                   jclass) {
  tjni::guardedVoid(env, kReport, [&]() { tessix__uninitialize(); });
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_tessix_1_1memstat(JNIEnv* env,
                                                                                 jclass,
                                                                                 jint kind) {
  return tjni::textNative(env, kReport, [&]() { return tessix__memstat(kind); });
}

// ---------------------------------------------------------------------------------------
// Cache objects.

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_new_1TessiGeneric(JNIEnv* env, jclass,
                                                                               jlong tblSize,
                                                                               jlong lruSize) {
  // Refused sizes and a lack of memory throw in the constructor: the native answers 0.
  return tjni::newNative<TessiGeneric>(env, kReport, tblSize, lruSize);
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_delete_1TessiGeneric(JNIEnv* env,
                                                                                 jclass,
                                                                                 jlong handle) {
  tjni::deleteNative<TessiGeneric>(env, kReport, handle);
}

JNIEXPORT jlong JNICALL
Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getTblSize(JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0,
                              [&]() -> jlong { return cache(handle).getTblSize(); });
}

JNIEXPORT jlong JNICALL
Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getLruSize(JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0,
                              [&]() -> jlong { return cache(handle).getLruSize(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1setExpTime(JNIEnv* env,
                                                                                     jclass,
                                                                                     jlong handle,
                                                                                     jint value) {
  tjni::guardedVoid(env, kReport, [&]() { cache(handle).setExpTime(value); });
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getExpTime(JNIEnv* env,
                                                                                     jclass,
                                                                                     jlong handle) {
  return tjni::guarded<jint>(env, kReport, 0, [&]() -> jint { return cache(handle).getExpTime(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1setCompressMed(
    JNIEnv* env, jclass, jlong handle, jint value) {
  tjni::guardedVoid(env, kReport, [&]() { cache(handle).setCompressMed(value); });
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getCompressMed(
    JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jint>(env, kReport, 0,
                             [&]() -> jint { return cache(handle).getCompressMed(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1setThresholdComp(
    JNIEnv* env, jclass, jlong handle, jint value) {
  tjni::guardedVoid(env, kReport, [&]() { cache(handle).setThresholdComp(value); });
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getThresholdComp(
    JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jint>(env, kReport, 0,
                             [&]() -> jint { return cache(handle).getThresholdComp(); });
}

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1size(JNIEnv* env, jclass,
                                                                                jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0,
                              [&]() -> jlong { return static_cast<jlong>(cache(handle).size()); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1clear(JNIEnv* env, jclass,
                                                                                jlong handle) {
  tjni::guardedVoid(env, kReport, [&]() { cache(handle).clear(); });
}

// ---------------------------------------------------------------------------------------
// Key natives.

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getItemFlag(JNIEnv* env,
                                                                                      jclass,
                                                                                      jlong handle,
                                                                                      jstring key) {
  return tjni::keyNative(env, kKeys, handle, key, kGetItemFlag,
                         [&](TessiGeneric& c, const char* k, int n) {
                           return static_cast<jint>(c.getItemFlag(k, n));
                         });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1setItemFlag(
    JNIEnv* env, jclass, jlong handle, jstring key, jint value, jint op) {
  return tjni::keyNative(
      env, kKeys, handle, key, kSetItemFlag,
      [&](TessiGeneric& c, const char* k, int n) { return jbool(c.setItemFlag(k, n, value, op)); });
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getItemTimeExp(
    JNIEnv* env, jclass, jlong handle, jstring key) {
  return tjni::keyNative(env, kKeys, handle, key, kGetItemTimeExp,
                         [&](TessiGeneric& c, const char* k, int n) {
                           return static_cast<jint>(c.getItemTimeExp(k, n));
                         });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1extItemTimeExp(
    JNIEnv* env, jclass, jlong handle, jstring key, jint delta) {
  return tjni::keyNative(
      env, kKeys, handle, key, kExtItemTimeExp,
      [&](TessiGeneric& c, const char* k, int n) { return jbool(c.extItemTimeExp(k, n, delta)); });
}

JNIEXPORT jbyteArray JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1get(JNIEnv* env,
                                                                                    jclass,
                                                                                    jlong handle,
                                                                                    jstring key) {
  return tjni::readNative<jbyteArray>(env, kKeys, handle, key, rows::kGet, false, false);
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1getAsString(
    JNIEnv* env, jclass, jlong handle, jstring key) {
  return tjni::readNative<jstring>(env, kKeys, handle, key, rows::kGetAsString, false, true);
}

JNIEXPORT jbyteArray JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1pop(JNIEnv* env,
                                                                                    jclass,
                                                                                    jlong handle,
                                                                                    jstring key) {
  return tjni::readNative<jbyteArray>(env, kKeys, handle, key, rows::kPop, true, false);
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1popAsString(
    JNIEnv* env, jclass, jlong handle, jstring key) {
  return tjni::readNative<jstring>(env, kKeys, handle, key, rows::kPopAsString, true, true);
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1remove(JNIEnv* env,
                                                                                     jclass,
                                                                                     jlong handle,
                                                                                     jstring key) {
  return tjni::keyNative(
      env, kKeys, handle, key, rows::kRemove,
      [&](TessiGeneric& c, const char* k, int n) { return jbool(c.remove(k, n)); });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1exist(
    JNIEnv* env, jclass, jlong handle, jstring key, jboolean check) {
  return tjni::keyNative(env, kKeys, handle, key, rows::kExist,
                         [&](TessiGeneric& c, const char* k, int n) {
                           return jbool(c.exist(k, n, check != JNI_FALSE));
                         });
}

// ---------------------------------------------------------------------------------------
// Value natives.

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1put(
    JNIEnv* env, jclass, jlong handle, jstring key, jbyteArray value, jint offset, jint length,
    jboolean flag, jint expire, jint mode) {
  return tjni::putNative<tjni::JByteSlice>(
      env, kKeys, handle, key, rows::kPut,
      [&](TessiGeneric& c, const char* k, int kn, const char* v, int vn) {
        return jbool(c.put(k, kn, v, vn, flag != JNI_FALSE, expire, mode));
      },
      value, offset, length);
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_tessi_TessiJNI_TessiGeneric_1putString(
    JNIEnv* env, jclass, jlong handle, jstring key, jstring value, jboolean flag, jint expire,
    jint mode) {
  return tjni::putNative<tjni::JStringUTF>(
      env, kKeys, handle, key, rows::kPutString,
      [&](TessiGeneric& c, const char* k, int kn, const char* v, int vn) {
        return jbool(c.put(k, kn, v, vn, flag != JNI_FALSE, expire, mode));
      },
      value);
}

}  // extern "C"
