#include "src/jni/jni_log.h"

#include "logutil.h"

namespace tjni {

void dumpKey(const char* place, const char* key, int keyLen) {
  if (key == nullptr) {
    __printLogDbg(place, "key[%d]=\"%s\"", keyLen, "<null>");
  } else {
    __printLogDbg(place, "key[%d]=\"%.*s\"", keyLen, keyLen < 0 ? 0 : keyLen, key);
  }
}

void dumpValue(const char* place, const char* value, int valueLen) {
  if (value == nullptr) {
    __printLogDbg(place, "value[%d]=\"%s\"", valueLen, "<null>");
  } else {
    __printLogDbg(place, "value[%d]=\"%.*s\"", valueLen, valueLen < 0 ? 0 : valueLen, value);
  }
}

void dumpKeyValue(const char* place, const char* key, int keyLen, const char* value, int valueLen) {
  // Each buffer is printed with its own precision; "<null>" stands for a missing one.
  const char* k = key != nullptr ? key : "<null>";
  const int kp = key != nullptr ? (keyLen < 0 ? 0 : keyLen) : 6;
  const char* v = value != nullptr ? value : "<null>";
  const int vp = value != nullptr ? (valueLen < 0 ? 0 : valueLen) : 6;
  __printLogDbg(place, "key[%d]=\"%.*s\", value[%d]=\"%.*s\"", keyLen, kp, k, valueLen, vp, v);
}

bool emptyKey(const JStringUTF& key, const char* place, bool log) {
  if (!key.empty()) return false;
  if (log) __printLogInf(place, "%s", "key is empty or memory is overflow!");
  return true;
}

jboolean emptyData(const char* place, bool log) {
  if (log) __printLogInf(place, "%s", "data is empty or memory is overflow!");
  return JNI_FALSE;
}

void jThrowException(JNIEnv* jenv, const char* clsName, const char* message) {
  if (jenv != nullptr && clsName != nullptr) {
    __printLogErr("jThrowException", "Exception %s occurred: %s", clsName,
                  message != nullptr ? message : "");
  } else {
    __printLogErr("jThrowException", "%s",
                  "Could not throw an exception: jenv is null or clsName is null");
  }
}

}  // namespace tjni
