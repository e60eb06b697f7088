// A minimal JNIEnv for driving the cache in C++: the calls TessiGeneric makes for its results
// (NewByteArray, SetByteArrayRegion, NewStringUTF, DeleteLocalRef). Results are heap objects
// that the test takes back with takeBytes / takeString. failResults(true) makes the VM
// unable to build results, as with a full heap; beforeNextResult runs a step of the test
// in the middle of a get or pop. One FakeJni per thread; the hook is not for threaded tests.
#ifndef TOKA_TESTS_TESSIX_FAKE_JNI_H
#define TOKA_TESTS_TESSIX_FAKE_JNI_H

#include <jni.h>

#include <atomic>
#include <cstring>
#include <functional>
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
    _table.DeleteLocalRef = &deleteLocalRef;
    _env.functions = &_table;
  }
  JNIEnv* env() { return &_env; }

  // While on, NewByteArray and NewStringUTF answer null (an OutOfMemoryError would be
  // pending in a real VM). Process-wide.
  static void failResults(bool on) { failing().store(on); }
  // Results dropped by the code under test through DeleteLocalRef. Process-wide.
  static long deleted() { return deletedCount().load(); }
  // Runs f once, on the thread that next asks for a result, before the result is made: a
  // test's way into the middle of a get or pop. Process-wide.
  static void beforeNextResult(std::function<void()> f) { hook() = std::move(f); }

  // The bytes of a result of get/pop (asString false); null stays null.
  static std::unique_ptr<std::vector<jbyte>> takeBytes(jobject o) {
    std::unique_ptr<Object> p(reinterpret_cast<Object*>(o));
    if (!p) return nullptr;
    return std::unique_ptr<std::vector<jbyte>>(
        new std::vector<jbyte>(std::move(dynamic_cast<Bytes&>(*p).bytes)));
  }
  static std::unique_ptr<std::string> takeString(jobject o) {
    std::unique_ptr<Object> p(reinterpret_cast<Object*>(o));
    if (!p) return nullptr;
    return std::unique_ptr<std::string>(new std::string(std::move(dynamic_cast<Text&>(*p).text)));
  }
  static std::string bytesOf(jobject o) {
    std::unique_ptr<std::vector<jbyte>> b = takeBytes(o);
    return b ? std::string(reinterpret_cast<const char*>(b->data()), b->size())
             : std::string("<null>");
  }
  static std::string stringOf(jobject o) {
    std::unique_ptr<std::string> s = takeString(o);
    return s ? *s : std::string("<null>");
  }

 private:
  struct Object {
    virtual ~Object() = default;
  };
  struct Bytes : Object {
    std::vector<jbyte> bytes;
  };
  struct Text : Object {
    std::string text;
  };

  static std::atomic<bool>& failing() {
    static std::atomic<bool> on(false);
    return on;
  }
  static std::atomic<long>& deletedCount() {
    static std::atomic<long> n(0);
    return n;
  }

  static std::function<void()>& hook() {
    static std::function<void()> f;
    return f;
  }
  static void runHook() {
    if (!hook()) return;
    std::function<void()> f = std::move(hook());
    hook() = nullptr;
    f();
  }

  static jbyteArray JNICALL newByteArray(JNIEnv*, jsize n) {
    runHook();
    if (failing().load()) return nullptr;
    Bytes* b = new Bytes;
    b->bytes.resize(static_cast<size_t>(n));
    return reinterpret_cast<jbyteArray>(static_cast<Object*>(b));
  }
  static void JNICALL setByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize len,
                                         const jbyte* buf) {
    Bytes& b = dynamic_cast<Bytes&>(*reinterpret_cast<Object*>(a));
    std::memcpy(b.bytes.data() + start, buf, static_cast<size_t>(len));
  }
  static jstring JNICALL newStringUTF(JNIEnv*, const char* s) {
    runHook();
    if (failing().load()) return nullptr;
    Text* t = new Text;
    t->text = s;
    return reinterpret_cast<jstring>(static_cast<Object*>(t));
  }
  static void JNICALL deleteLocalRef(JNIEnv*, jobject o) {
    if (o == nullptr) return;
    delete reinterpret_cast<Object*>(o);
    deletedCount().fetch_add(1);
  }

  JNINativeInterface_ _table;
  JNIEnv _env;
};

#endif  // TOKA_TESTS_TESSIX_FAKE_JNI_H
