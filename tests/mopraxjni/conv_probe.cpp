// Test-only JNI library: MopraXJNI's string conversions side by side with the VM's own, for
// the differential test MopraXConvDiffTest (class MopraXConvProbe, natives below). Each
// native runs in tjni::guarded with mx::throwCurrent, like the binding's.
#include <jni.h>

#include <string>

#include "java/MopraX_jconv.h"

namespace {

jbyteArray bytesOf(JNIEnv* env, const std::string& s) {
  jbyteArray out = env->NewByteArray(static_cast<jsize>(s.size()));
  if (out != nullptr) {
    env->SetByteArrayRegion(out, 0, static_cast<jsize>(s.size()),
                            reinterpret_cast<const jbyte*>(s.data()));
  }
  return out;
}

std::string stringOf(JNIEnv* env, jbyteArray b) {
  std::string s(static_cast<size_t>(env->GetArrayLength(b)), '\0');
  env->GetByteArrayRegion(b, 0, static_cast<jsize>(s.size()), reinterpret_cast<jbyte*>(&s[0]));
  return s;
}

}  // namespace

extern "C" JNIEXPORT jbyteArray JNICALL Java_MopraXConvProbe_str(JNIEnv* env, jclass, jstring s) {
  return tjni::guarded<jbyteArray>(env, mx::throwCurrent,
                                   [&] { return bytesOf(env, mx::str(env, s)); });
}

extern "C" JNIEXPORT jbyteArray JNICALL Java_MopraXConvProbe_strUtf(JNIEnv* env, jclass,
                                                                    jstring s) {
  return tjni::guarded<jbyteArray>(env, mx::throwCurrent,
                                   [&] { return bytesOf(env, mx::strUtf(env, s)); });
}

extern "C" JNIEXPORT jstring JNICALL Java_MopraXConvProbe_jstr(JNIEnv* env, jclass, jbyteArray b) {
  return tjni::guarded<jstring>(env, mx::throwCurrent,
                                [&] { return mx::jstr(env, stringOf(env, b)); });
}

extern "C" JNIEXPORT jstring JNICALL Java_MopraXConvProbe_jstrUtf(JNIEnv* env, jclass,
                                                                  jbyteArray b) {
  return tjni::guarded<jstring>(env, mx::throwCurrent,
                                [&] { return mx::jstrUtf(env, stringOf(env, b)); });
}
