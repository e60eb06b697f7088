// A minimal JNIEnv for driving the cache in C++: the three calls TessiGeneric makes for its
// results (NewByteArray, SetByteArrayRegion, NewStringUTF). Results are heap objects that
// the test takes back with takeBytes / takeString. One FakeJni per thread.
#ifndef TOKA_TESTS_TESSIX_FAKE_JNI_H
#define TOKA_TESTS_TESSIX_FAKE_JNI_H

#include <jni.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

class FakeJni {
 public:
  FakeJni() {
    std::memset(&_table, 0, sizeof(_table));
    _table.NewByteArray = &newByteArray;
    _table.SetByteArrayRegion = &setByteArrayRegion;
    _table.NewStringUTF = &newStringUTF;
    _env.functions = &_table;
  }
  JNIEnv* env() { return &_env; }

  // The bytes of a result of get/pop (asString false); null stays null.
  static std::unique_ptr<std::vector<jbyte>> takeBytes(jobject o) {
    return std::unique_ptr<std::vector<jbyte>>(reinterpret_cast<std::vector<jbyte>*>(o));
  }
  static std::unique_ptr<std::string> takeString(jobject o) {
    return std::unique_ptr<std::string>(reinterpret_cast<std::string*>(o));
  }
  static std::string bytesOf(jobject o) {
    std::unique_ptr<std::vector<jbyte>> b = takeBytes(o);
    return b ? std::string(reinterpret_cast<const char*>(b->data()), b->size()) : std::string("<null>");
  }
  static std::string stringOf(jobject o) {
    std::unique_ptr<std::string> s = takeString(o);
    return s ? *s : std::string("<null>");
  }

 private:
  static jbyteArray JNICALL newByteArray(JNIEnv*, jsize n) {
    return reinterpret_cast<jbyteArray>(new std::vector<jbyte>(static_cast<size_t>(n)));
  }
  static void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize len,
                                         const jbyte* buf) {
    std::vector<jbyte>* v = reinterpret_cast<std::vector<jbyte>*>(a);
    std::memcpy(v->data() + start, buf, static_cast<size_t>(len));
  }
  static jstring JNICALL newStringUTF(JNIEnv*, const char* s) {
    return reinterpret_cast<jstring>(new std::string(s));
  }

  JNINativeInterface_ _table;
  JNIEnv _env;
};

#endif  // TOKA_TESTS_TESSIX_FAKE_JNI_H
