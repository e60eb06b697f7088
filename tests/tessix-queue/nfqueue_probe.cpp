// Test-only JNI library for the child JVMs of WNfQueueJNITest (class NfQueueProbe): how many
// calls are inside the queue behind a WNfQueueJNI handle, read from the queue's own count, so
// that a test can tell that its consumers' calls have reached the library.
#include <jni.h>

#include "WNfQueue_impl.h"

extern "C" JNIEXPORT jint JNICALL Java_NfQueueProbe_callsInside(JNIEnv*, jclass, jlong handle) {
  return reinterpret_cast<wnfqueue::WNfQueueGeneric*>(handle)->queue().callsInside();
}
