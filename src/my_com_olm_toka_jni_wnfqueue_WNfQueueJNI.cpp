// The 13 natives of com/olm/toka/jni/wnfqueue/WNfQueueJNI, compiled against the header that
// javac generates from the shipped class (a signature that differs from the class fails the
// build).
//
// Each native runs its whole body inside the one boundary of src/jni/jni_util.h: exceptions
// are reported through tessi::jThrowException and answered with 0, false or null; no Java
// exception is raised. A zero handle is reported the same way. The four dequeue natives share
// one body (dequeueNative), the two enqueue natives their store and dump (enqueueBytes).
// Strings and array slices are released on every path; a payload array is read with
// GetByteArrayRegion, never written back. No state, no lock: the queue orders its callers.
#include "com_olm_toka_jni_wnfqueue_WNfQueueJNI.h"

#include "WNfQueue_impl.h"
#include "logutil.h"
#include "src/TessiX_impl.h"
#include "src/jni/jni_util.h"

using wnfqueue::WNfQueueGeneric;

namespace {

const char* const kZeroHandle = "WNfQueueGeneric handle is 0";
const tjni::Reporter kReport = &tessi::jThrowException;

WNfQueueGeneric& queue(jlong handle) {
  return tjni::requireHandle<WNfQueueGeneric>(handle, kZeroHandle);
}

using tjni::jbool;

// Logs the empty-payload line when enabled.
jboolean emptyData(const char* place) { return tjni::emptyData(place, tessix__infOn()); }

jboolean enqueueBytes(WNfQueueGeneric& q, const char* place, const char* data, int length,
                      jboolean urgent) {
  if (tessix__dbgOn()) wnfqueue::dumpData(place, data, length);
  return jbool(q.enqueue(data, length, urgent != JNI_FALSE));
}

// dequeue, dequeueAsString, waitDequeue, waitDequeueAsString: the head payload as J
// (jbyteArray, or jstring for asString); a waiting one waits up to timeout (see
// WNfQueueGeneric::waitDequeue). Null for no payload, a failure or a zero handle.
template <typename J>
J dequeueNative(JNIEnv* env, jlong handle, bool wait, jlong timeout, bool asString) {
  return tjni::guarded<J>(env, kReport, nullptr, [&]() -> J {
    WNfQueueGeneric& q = queue(handle);
    return static_cast<J>(wait ? q.waitDequeue(env, timeout, asString) : q.dequeue(env, asString));
  });
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_new_1WNfQueueGeneric(JNIEnv* env,
                                                                                        jclass) {
  return tjni::newNative<WNfQueueGeneric>(env, kReport);
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_delete_1WNfQueueGeneric(
    JNIEnv* env, jclass, jlong handle) {
  // Consumers inside a call on the queue, blocked or not, are released (null) and every call
  // has left before anything is freed.
  tjni::deleteNative<WNfQueueGeneric>(env, kReport, handle);
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1setMaxNfSize(
    JNIEnv* env, jclass, jlong handle, jlong limit) {
  tjni::guardedVoid(env, kReport, [&]() { queue(handle).setMaxNfSize(limit); });
}

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1getMaxNfSize(
    JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0,
                              [&]() -> jlong { return queue(handle).getMaxNfSize(); });
}

JNIEXPORT jlong JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1size(
    JNIEnv* env, jclass, jlong handle) {
  return tjni::guarded<jlong>(env, kReport, 0, [&]() -> jlong { return queue(handle).size(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1clear(
    JNIEnv* env, jclass, jlong handle) {
  tjni::guardedVoid(env, kReport, [&]() { queue(handle).clear(); });
}

JNIEXPORT void JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1wakeUpAll(
    JNIEnv* env, jclass, jlong handle) {
  tjni::guardedVoid(env, kReport, [&]() { queue(handle).wakeUpAll(); });
}

JNIEXPORT jboolean JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1enqueue(
    JNIEnv* env, jclass, jlong handle, jbyteArray data, jint offset, jint length, jboolean urgent) {
  return tjni::guarded<jboolean>(env, kReport, JNI_FALSE, [&]() -> jboolean {
    WNfQueueGeneric& q = queue(handle);
    // A null or empty array is refused; an empty slice of a non-empty one is an empty payload.
    if (data == nullptr || env->GetArrayLength(data) <= 0) return emptyData("enqueue");
    tjni::JByteSlice bytes(env, data, offset, length);
    if (!bytes.ok()) return JNI_FALSE;  // no bytes from the VM: nothing is stored
    return enqueueBytes(q, "enqueue", bytes.data(), bytes.length(), urgent);
  });
}

JNIEXPORT jboolean JNICALL
Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1enqueueString(JNIEnv* env, jclass,
                                                                          jlong handle,
                                                                          jstring data,
                                                                          jboolean urgent) {
  return tjni::guarded<jboolean>(env, kReport, JNI_FALSE, [&]() -> jboolean {
    WNfQueueGeneric& q = queue(handle);
    tjni::JStringUTF text(env, data);
    if (text.failed()) return JNI_FALSE;  // no characters from the VM: nothing is stored
    if (text.empty()) return emptyData("enqueueString");
    return enqueueBytes(q, "enqueueString", text.data(), text.length(), urgent);
  });
}

JNIEXPORT jbyteArray JNICALL Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1dequeue(
    JNIEnv* env, jclass, jlong handle) {
  return dequeueNative<jbyteArray>(env, handle, false, 0, false);
}

JNIEXPORT jstring JNICALL
Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1dequeueAsString(JNIEnv* env, jclass,
                                                                            jlong handle) {
  return dequeueNative<jstring>(env, handle, false, 0, true);
}

JNIEXPORT jbyteArray JNICALL
Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1waitDequeue(JNIEnv* env, jclass,
                                                                        jlong handle,
                                                                        jlong timeout) {
  return dequeueNative<jbyteArray>(env, handle, true, timeout, false);
}

JNIEXPORT jstring JNICALL
Java_com_olm_toka_jni_wnfqueue_WNfQueueJNI_WNfQueueGeneric_1waitDequeueAsString(JNIEnv* env, jclass,
                                                                                jlong handle,
                                                                                jlong timeout) {
  return dequeueNative<jstring>(env, handle, true, timeout, true);
}

}  // extern "C"
