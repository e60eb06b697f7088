// The 21 natives of com/olm/toka/jni/sorn/SornJNI, compiled against the header that javac
// generates from the shipped class (a signature that differs from the class fails the build).
//
// Each native runs its whole body inside the one boundary of src/jni/jni_util.h: exceptions
// are reported through sorn::jThrowException and answered with 0, false or null; no Java
// exception is raised. A zero handle is reported the same way. Strings and array slices are
// released on every path; a value array is read, never written back. The key natives share
// one body (tjni::keyNative), the put natives another (tjni::putNative); each differs only in
// its row and its store call. No state, no lock.
#include "com_olm_toka_jni_sorn_SornJNI.h"

#include "logutil.h"
#include "src/SornX_impl.h"
#include "src/jni/jni_log.h"
#include "src/jni/jni_util.h"

using sorn::SornGeneric;

namespace {

const char* const kZeroHandle = "SornGeneric handle is 0";
const tjni::Reporter kReport = &sorn::jThrowException;

SornGeneric& object(jlong handle) { return tjni::requireHandle<SornGeneric>(handle, kZeroHandle); }

const tjni::KeyBinding<SornGeneric> kKeys = {kReport, &object, &sornx__infOn, &sornx__dbgOn};

// Every native with a key takes its row from the shared ones.
namespace rows = tjni::rows;

// The store call of put and putString; a null array or string stores the empty value.
jboolean putValue(SornGeneric& s, const char* k, int kn, const char* v, int vn, jint policy) {
  return tjni::jbool(s.put(k, kn, v != nullptr ? v : "", vn, policy));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_olm_toka_jni_sorn_SornJNI_sornx_1_1setLogLevel(JNIEnv* env, jclass,
                                                                               jint level) {
  tjni::guardedVoid(env, kReport, [&]() { sornx__setLogLevel(level); });
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_sorn_SornJNI_sornx_1_1getLogLevel(JNIEnv* env,
                                                                               jclass) {
  return tjni::guarded<jint>(env, kReport, 0, [&]() -> jint { return sornx__getLogLevel(); });
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_sorn_SornJNI_sornx_1_1info(JNIEnv* env, jclass) {
  return tjni::textNative(env, kReport, &sornx__info);
}

JNIEXPORT jint JNICALL Java_com_olm_toka_jni_sorn_SornJNI_sornx_1_1initialize(JNIEnv* env, jclass) {
  return tjni::guarded<jint>(env, kReport, 0, [&]() -> jint { return sornx__initialize(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_sorn_SornJNI_sornx_1_1uninitialize(JNIEnv* env,
                                                                                jclass) {
  tjni::guardedVoid(env, kReport, [&]() { sornx__uninitialize(); });
}

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_sorn_SornJNI_new_1SornGeneric(JNIEnv* env, jclass) {
  return tjni::newNative<SornGeneric>(env, kReport);
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_sorn_SornJNI_delete_1SornGeneric(JNIEnv* env, jclass,
                                                                              jlong handle) {
  tjni::deleteNative<SornGeneric>(env, kReport, handle);
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1open(
    JNIEnv* env, jclass, jlong handle, jstring name, jstring home, jstring dbname, jstring dbtype,
    jboolean autoSync, jstring distribType, jint partitions, jint partMB, jlong partRecords,
    jstring tune, jobjectArray paths) {
  return tjni::guarded<jboolean>(env, kReport, JNI_FALSE, [&]() -> jboolean {
    return tjni::jbool(object(handle).open(env, name, home, dbname, dbtype, autoSync, distribType,
                                           partitions, partMB, partRecords, tune, paths));
  });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1close(JNIEnv* env, jclass,
                                                                             jlong handle) {
  tjni::guardedVoid(env, kReport, [&]() { object(handle).close(); });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1isOpen(JNIEnv* env,
                                                                                  jclass,
                                                                                  jlong handle) {
  return tjni::guarded<jboolean>(
      env, kReport, JNI_FALSE, [&]() -> jboolean { return tjni::jbool(object(handle).isOpen()); });
}

JNIEXPORT jboolean JNICALL
Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1isContiguous(JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jboolean>(env, kReport, JNI_FALSE, [&]() -> jboolean {
    return tjni::jbool(object(handle).isContiguous());
  });
}

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1size(JNIEnv* env, jclass,
                                                                             jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0, [&]() -> jlong { return object(handle).size(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1clear(JNIEnv* env, jclass,
                                                                             jlong handle) {
  tjni::guardedVoid(env, kReport, [&]() { object(handle).clear(); });
}

JNIEXPORT jbyteArray JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1get(JNIEnv* env,
                                                                                 jclass,
                                                                                 jlong handle,
                                                                                 jstring key) {
  return tjni::readNative<jbyteArray>(env, kKeys, handle, key, rows::kGet, false, false);
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1getAsString(JNIEnv* env,
                                                                                      jclass,
                                                                                      jlong handle,
                                                                                      jstring key) {
  return tjni::readNative<jstring>(env, kKeys, handle, key, rows::kGetAsString, false, true);
}

JNIEXPORT jbyteArray JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1pop(JNIEnv* env,
                                                                                 jclass,
                                                                                 jlong handle,
                                                                                 jstring key) {
  return tjni::readNative<jbyteArray>(env, kKeys, handle, key, rows::kPop, true, false);
}

JNIEXPORT jstring JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1popAsString(JNIEnv* env,
                                                                                      jclass,
                                                                                      jlong handle,
                                                                                      jstring key) {
  return tjni::readNative<jstring>(env, kKeys, handle, key, rows::kPopAsString, true, true);
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1exist(JNIEnv* env,
                                                                                 jclass,
                                                                                 jlong handle,
                                                                                 jstring key) {
  return tjni::keyNative(
      env, kKeys, handle, key, rows::kExist,
      [&](SornGeneric& s, const char* k, int n) { return tjni::jbool(s.exist(k, n)); });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1remove(JNIEnv* env,
                                                                                  jclass,
                                                                                  jlong handle,
                                                                                  jstring key) {
  return tjni::keyNative(
      env, kKeys, handle, key, rows::kRemove,
      [&](SornGeneric& s, const char* k, int n) { return tjni::jbool(s.remove(k, n)); });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1put(
    JNIEnv* env, jclass, jlong handle, jstring key, jbyteArray value, jint offset, jint length,
    jint policy) {
  return tjni::putNative<tjni::JByteSlice>(
      env, kKeys, handle, key, rows::kPut,
      [&](SornGeneric& s, const char* k, int kn, const char* v, int vn) {
        return putValue(s, k, kn, v, vn, policy);
      },
      value, offset, length);
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_sorn_SornJNI_SornGeneric_1putString(
    JNIEnv* env, jclass, jlong handle, jstring key, jstring value, jint policy) {
  return tjni::putNative<tjni::JStringUTF>(
      env, kKeys, handle, key, rows::kPutString,
      [&](SornGeneric& s, const char* k, int kn, const char* v, int vn) {
        return putValue(s, k, kn, v, vn, policy);
      },
      value);
}

}  // extern "C"
