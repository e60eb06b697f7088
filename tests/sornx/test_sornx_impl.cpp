// The SornX module functions, the binding helpers' exact lines, and the JNI helper layer
// driven through a fake JNIEnv that counts what is obtained and released.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "src/SornX_impl.h"
#include "src/jni/jni_util.h"
#include "src/xlabs.h"
#include "tests/support/build_stamp.h"
#include "tests/support/tmpdir.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// ---- module functions --------------------------------------------------------------

TEST(SornxModule, InfoTextAndLogLevel) {
  EXPECT_EQ(sornx__initialize(), 1);
  const xstring info = sornx__info();
  const std::string text(info.data(), info.size());
  const std::string head =
      "Name:         SornX\nVersion:      1.0.0\nDescription:  Sorn for Toka libraries\n"
      "Build at:     ";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_TRUE(isBuildStamp(text.substr(head.size()))) << text;
  EXPECT_EQ(sornx__info(), info);  // made once

  const int before = sornx__getLogLevel();
  for (int level : {7, -1, 0, 5, INT_MIN, INT_MAX}) {
    sornx__setLogLevel(level);
    EXPECT_EQ(sornx__getLogLevel(), level);
  }
  sornx__setLogLevel(before);
}

TEST(SornxModule, LevelTests) {
  const int before = sornx__getLogLevel();
  for (int level : {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 6, INT_MAX}) {
    sornx__setLogLevel(level);
    EXPECT_EQ(sornx__errOn(), level > 1) << level;
    EXPECT_EQ(sornx__infOn(), level > 3) << level;
    EXPECT_EQ(sornx__dbgOn(), level > 4) << level;
  }
  sornx__setLogLevel(before);
}

// ---- binding helpers ---------------------------------------------------------------

TEST(SornxHelpers, DumpLines) {
  const char unterminated[3] = {'a', 'b', 'c'};  // read past the length: ASan would tell
  sornx__initialize();                           // its start lines go before the capture
  CaptureStdout();
  sorn::dumpKey("get", "k", 1);
  sorn::dumpKey("get", unterminated, 2);
  sorn::dumpKey("pop", "a\0b", 3);  // ends at the NUL, the length as given
  sorn::dumpKey("exist", nullptr, 0);
  sorn::dumpValue("v", unterminated, 3);
  sorn::dumpValue("v", nullptr, 0);
  sorn::dumpKeyValue("put", "k", 1, "abcdef", 3);
  sorn::dumpKeyValue("put", "k", 1, nullptr, 0);
  sorn::dumpKeyValue("putString", nullptr, 0, "x", 1);
  sorn::dumpKey("get", "100%s", 5);  // a '%' in the data prints as it stands
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(out,
            "[dbg] get: key[1]=\"k\"\n"
            "[dbg] get: key[2]=\"ab\"\n"
            "[dbg] pop: key[3]=\"a\"\n"
            "[dbg] exist: key[0]=\"<null>\"\n"
            "[dbg] v: value[3]=\"abc\"\n"
            "[dbg] v: value[0]=\"<null>\"\n"
            "[dbg] put: key[1]=\"k\", value[3]=\"abc\"\n"
            "[dbg] put: key[1]=\"k\", value[0]=\"<null>\"\n"
            "[dbg] putString: key[0]=\"<null>\", value[1]=\"x\"\n"
            "[dbg] get: key[5]=\"100%s\"\n");
}

TEST(SornxHelpers, JThrowExceptionLinesAtEveryLevel) {
  const int before = sornx__getLogLevel();
  sornx__setLogLevel(-1);
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x1);  // only tested for null
  sornx__initialize();
  CaptureStdout();
  sorn::jThrowException(env, "com/olm/toka/exception/JNIRuntimeException", "Unknown distrib-type");
  sorn::jThrowException(env, "c/X", nullptr);
  sorn::jThrowException(nullptr, "c/X", "m");
  sorn::jThrowException(env, nullptr, "m");
  const std::string out = GetCapturedStdout();
  sornx__setLogLevel(before);
  EXPECT_EQ(
      out,
      "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException "
      "occurred: Unknown distrib-type\n"
      "[ERR] jThrowException: Exception c/X occurred: \n"
      "[ERR] jThrowException: Could not throw an exception: jenv is null or clsName is null\n"
      "[ERR] jThrowException: Could not throw an exception: jenv is null or clsName is null\n");
}

// ---- JNI helper layer --------------------------------------------------------------

// A fake VM: strings are FakeString, byte arrays FakeArray; counts what was obtained.
struct FakeString {
  const char* text;
  bool refuse;  // GetStringUTFChars answers null, GetStringUTFRegion raises
};
struct FakeArray {
  std::vector<jbyte> bytes;
  bool throwOnRegion;
};
struct FakeVm {
  int stringsGot = 0;
  int stringsReleased = 0;
  int regionCalls = 0;
  int stringRegionCalls = 0;
  jsize lastStart = -1;
  jsize lastLen = -1;
  bool pending = false;
  int forbidden = 0;  // calls that must never happen (elements access, write-back)
};
FakeVm* vm = nullptr;

const char* JNICALL getStringUTFChars(JNIEnv*, jstring s, jboolean* isCopy) {
  FakeString* f = reinterpret_cast<FakeString*>(s);
  if (isCopy) *isCopy = JNI_TRUE;
  if (f->refuse) {
    vm->pending = true;
    return nullptr;
  }
  ++vm->stringsGot;
  return strdup(f->text);
}
// The fake's texts are ASCII but for the test's one 2-byte sequence: the length in bytes
// stands for the length in characters.
jsize JNICALL getStringLength(JNIEnv*, jstring s) {
  return static_cast<jsize>(std::strlen(reinterpret_cast<FakeString*>(s)->text));
}
// Writes the bytes without a terminating NUL (the caller terminates them itself).
void JNICALL getStringUTFRegion(JNIEnv*, jstring s, jsize, jsize, char* buf) {
  FakeString* f = reinterpret_cast<FakeString*>(s);
  ++vm->stringRegionCalls;
  if (f->refuse) {
    vm->pending = true;
    return;
  }
  std::memcpy(buf, f->text, std::strlen(f->text));
}
void JNICALL releaseStringUTFChars(JNIEnv*, jstring, const char* chars) {
  ++vm->stringsReleased;
  free(const_cast<char*>(chars));
}
jsize JNICALL getArrayLength(JNIEnv*, jarray a) {
  return static_cast<jsize>(reinterpret_cast<FakeArray*>(a)->bytes.size());
}
void JNICALL getByteArrayRegion(JNIEnv*, jbyteArray a, jsize start, jsize len, jbyte* buf) {
  FakeArray* f = reinterpret_cast<FakeArray*>(a);
  ++vm->regionCalls;
  vm->lastStart = start;
  vm->lastLen = len;
  if (f->throwOnRegion || start < 0 || len < 0 ||
      static_cast<size_t>(start) + static_cast<size_t>(len) > f->bytes.size()) {
    vm->pending = true;
    return;
  }
  std::memcpy(buf, f->bytes.data() + start, static_cast<size_t>(len));
}
jboolean JNICALL exceptionCheck(JNIEnv*) { return vm->pending ? JNI_TRUE : JNI_FALSE; }
jbyte* JNICALL getByteArrayElements(JNIEnv*, jbyteArray, jboolean*) {
  ++vm->forbidden;
  return nullptr;
}
void JNICALL releaseByteArrayElements(JNIEnv*, jbyteArray, jbyte*, jint) { ++vm->forbidden; }

class JniUtil : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(&table, 0, sizeof(table));
    table.GetStringUTFChars = getStringUTFChars;
    table.ReleaseStringUTFChars = releaseStringUTFChars;
    table.GetStringLength = getStringLength;
    table.GetStringUTFRegion = getStringUTFRegion;
    table.GetArrayLength = getArrayLength;
    table.GetByteArrayRegion = getByteArrayRegion;
    table.ExceptionCheck = exceptionCheck;
    table.GetByteArrayElements = getByteArrayElements;
    table.ReleaseByteArrayElements = releaseByteArrayElements;
    env.functions = &table;
    vm = &state;
  }
  void TearDown() override {
    EXPECT_EQ(state.stringsGot, state.stringsReleased);
    EXPECT_EQ(state.forbidden, 0);
    vm = nullptr;
  }
  static jstring str(FakeString& f) { return reinterpret_cast<jstring>(&f); }
  static jbyteArray arr(FakeArray& f) { return reinterpret_cast<jbyteArray>(&f); }

  JNINativeInterface_ table;
  JNIEnv env;
  FakeVm state;
};

struct Report {
  std::string cls, msg;
  int count = 0;
};
Report* lastReport = nullptr;
void recordReport(JNIEnv*, const char* cls, const char* msg) {
  lastReport->cls = cls;
  lastReport->msg = msg;
  ++lastReport->count;
}

TEST(ClampSlice, Table) {
  struct Case {
    jint n, offset, length, wantOffset, wantLength;
  } cases[] = {
      {10, -5, 4, 0, 4},
      {10, 12, 3, 10, 0},
      {10, 2, -1, 2, 8},
      {10, 2, INT_MAX, 2, 8},
      {10, INT_MAX, INT_MAX, 10, 0},
      {10, INT_MIN, INT_MIN, 0, 10},
      {10, 0, 10, 0, 10},
      {10, 10, 0, 10, 0},
      {10, 9, 2, 9, 1},
      {0, 0, 5, 0, 0},
      {INT_MAX, INT_MAX - 1, INT_MAX, INT_MAX - 1, 1},
      {10, 3, 0, 3, 0},
  };
  for (const Case& c : cases) {
    const tjni::Slice s = tjni::clampSlice(c.n, c.offset, c.length);
    EXPECT_EQ(s.offset, c.wantOffset) << c.n << " " << c.offset << " " << c.length;
    EXPECT_EQ(s.length, c.wantLength) << c.n << " " << c.offset << " " << c.length;
  }
}

TEST_F(JniUtil, StringAccess) {
  {
    tjni::JStringUTF s(&env, nullptr);
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.length(), 0);
    EXPECT_TRUE(s.empty());
    EXPECT_FALSE(s.failed());
  }
  // Short texts are converted into the object's own buffer, longer ones taken from the VM
  // and given back; either way the bytes are NUL-terminated and the length is exact.
  const std::string s85(85, 'a'), s86(86, 'b'), s5000(5000, 'c');
  FakeString empty{"", false}, key{"k\xc3\xa9y", false}, at85{s85.c_str(), false},
      at86{s86.c_str(), false}, big{s5000.c_str(), false};
  struct Case {
    FakeString* string;
    int length;
    bool fromVm;
  } cases[] = {{&key, 4, false}, {&at85, 85, false}, {&at86, 86, true}, {&big, 5000, true}};
  for (const Case& c : cases) {
    const int gotBefore = state.stringsGot;
    {
      tjni::JStringUTF s(&env, str(*c.string));
      EXPECT_FALSE(s.empty());
      EXPECT_FALSE(s.failed());
      EXPECT_EQ(s.length(), c.length);
      EXPECT_STREQ(s.data(), c.string->text);
    }
    EXPECT_EQ(state.stringsGot - gotBefore, c.fromVm ? 1 : 0) << c.length;
    EXPECT_EQ(state.stringsReleased, state.stringsGot) << c.length;
  }
  {
    tjni::JStringUTF s(&env, str(empty));
    EXPECT_TRUE(s.empty());
    EXPECT_FALSE(s.failed());
  }
  // The VM could not supply the bytes (an exception is pending): failed, nothing to release.
  const std::string longRefused(300, 'x');
  FakeString refusedShort{"x", true}, refusedLong{longRefused.c_str(), true};
  for (FakeString* f : {&refusedShort, &refusedLong}) {
    state.pending = false;
    tjni::JStringUTF s(&env, str(*f));
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(s.failed());
    EXPECT_EQ(s.data(), nullptr);
  }
  state.pending = false;
  EXPECT_EQ(state.stringsGot, 2);
  EXPECT_EQ(state.stringsReleased, 2);
}

TEST_F(JniUtil, ByteSlicesAreCopiedNeverWrittenBack) {
  FakeArray ten{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, false};
  struct Case {
    jint offset, length;
    std::vector<jbyte> want;
  } cases[] = {
      {-5, 4, {0, 1, 2, 3}},
      {12, 3, {}},
      {2, -1, {2, 3, 4, 5, 6, 7, 8, 9}},
      {2, INT_MAX, {2, 3, 4, 5, 6, 7, 8, 9}},
      {INT_MAX, INT_MAX, {}},
  };
  for (const Case& c : cases) {
    tjni::JByteSlice s(&env, arr(ten), c.offset, c.length);
    ASSERT_TRUE(s.ok());
    ASSERT_NE(s.data(), nullptr);
    EXPECT_EQ(std::vector<jbyte>(s.data(), s.data() + s.length()), c.want) << c.offset;
  }
  {
    tjni::JByteSlice s(&env, nullptr, 3, 4);
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.data(), nullptr);
    EXPECT_EQ(s.length(), 0);
  }
  // A slice larger than the inline buffer.
  FakeArray big{std::vector<jbyte>(100000, 7), false};
  {
    tjni::JByteSlice s(&env, arr(big), 1, -1);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(s.length(), 99999);
    EXPECT_EQ(s.data()[99998], 7);
  }
  // The VM cannot give the bytes: not ok, nothing to store.
  FakeArray broken{{1, 2, 3}, true};
  {
    tjni::JByteSlice s(&env, arr(broken), 0, 3);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.data(), nullptr);
  }
}

TEST_F(JniUtil, BoundaryReportsAndReleasesOnEveryPath) {
  Report report;
  lastReport = &report;
  // Long enough to be taken from the VM, so that its release is counted.
  const std::string longKey(200, 'k');
  FakeString key{longKey.c_str(), false};
  int r = tjni::guarded(&env, recordReport, -7, [&]() -> int {
    tjni::JStringUTF s(&env, str(key));
    throw std::runtime_error("boom");
  });
  EXPECT_EQ(r, -7);
  EXPECT_EQ(report.cls, "com/olm/toka/exception/JNIRuntimeException");
  EXPECT_EQ(report.msg, "boom");
  EXPECT_EQ(state.stringsReleased, 1);

  jobject o = tjni::guarded<jobject>(&env, recordReport, nullptr, [&]() -> jobject {
    tjni::JStringUTF s(&env, str(key));
    throw 42;
  });
  EXPECT_EQ(o, nullptr);
  EXPECT_EQ(report.cls, "com/olm/toka/exception/JNIUnknownException");
  EXPECT_EQ(report.msg, "Unknown error");
  EXPECT_EQ(state.stringsReleased, 2);

  tjni::guardedVoid(&env, recordReport, [&]() { tjni::requireHandle<int>(0, "handle is 0"); });
  EXPECT_EQ(report.cls, "com/olm/toka/exception/JNIRuntimeException");
  EXPECT_EQ(report.msg, "handle is 0");

  EXPECT_EQ(tjni::guarded(&env, recordReport, 0, []() { return 5; }), 5);
  EXPECT_EQ(report.count, 3);
  lastReport = nullptr;

  int x = 0;
  EXPECT_EQ(tjni::fromHandle<int>(tjni::toHandle(&x)), &x);
  EXPECT_EQ(&tjni::requireHandle<int>(tjni::toHandle(&x), "h"), &x);
  EXPECT_EQ(tjni::fromHandle<int>(0), nullptr);
}

// ---- SornGeneric: a failed reopen leaves the object as it was ----------------------

struct FakePaths {
  std::vector<FakeString*> items;
};
std::vector<std::string*>* madeStrings = nullptr;
jsize JNICALL pathsLength(JNIEnv*, jarray a) {
  return static_cast<jsize>(reinterpret_cast<FakePaths*>(a)->items.size());
}
jobject JNICALL pathsElement(JNIEnv*, jobjectArray a, jsize i) {
  return reinterpret_cast<jobject>(reinterpret_cast<FakePaths*>(a)->items[i]);
}
void JNICALL deleteLocalRef(JNIEnv*, jobject) {}
jstring JNICALL newStringUTF(JNIEnv*, const char* s) {
  madeStrings->push_back(new std::string(s));
  return reinterpret_cast<jstring>(madeStrings->back());
}

class SornReopen : public JniUtil {
 protected:
  void SetUp() override {
    JniUtil::SetUp();
    table.GetArrayLength = pathsLength;
    table.GetObjectArrayElement = pathsElement;
    table.DeleteLocalRef = deleteLocalRef;
    table.NewStringUTF = newStringUTF;
    madeStrings = &made;
  }
  void TearDown() override {
    for (std::string* s : made) delete s;
    madeStrings = nullptr;
    JniUtil::TearDown();
  }
  // The value of key as a string, or "<null>".
  std::string get(sorn::SornGeneric& g, const char* key) {
    jobject o = g.get(&env, key, static_cast<int>(std::strlen(key)), true);
    return o == nullptr ? "<null>" : *reinterpret_cast<std::string*>(o);
  }
  std::vector<std::string*> made;
};

TEST_F(SornReopen, FailedReopenOfTheSameFilesKeepsTheOldStore) {
  TmpDir dir;
  const std::string home = dir.path();
  const std::string blocker = dir.file("plain-file");  // a home under it cannot be made
  { std::ofstream(blocker) << "x"; }
  const std::string underFile = blocker + "/home";
  const std::string part0 = home + "/u-0.kch";
  FakeString name{"u", false}, h{home.c_str(), false}, db{"u", false}, uniform{"uniform", false},
      bogus{"bogus", false}, xyz{"xyz", false}, badHome{underFile.c_str(), false},
      p0{part0.c_str(), false};
  FakePaths paths{{&p0}};

  sorn::SornGeneric g;
  CaptureStdout();
  ASSERT_TRUE(g.open(&env, str(name), str(h), str(db), nullptr, false, str(uniform), 2, 0, 0,
                     nullptr, nullptr));
  GetCapturedStdout();
  ASSERT_TRUE(g.put("k1", 2, "v1", 2, 3));

  struct Case {
    const char* what;
    FakeString* home;
    FakeString* dbtype;
    FakeString* distrib;
    FakePaths* paths;
    bool throws;
    const char* errLine;  // a line the failure writes to standard error, or ""
    bool oldTouched;      // the old store was closed and opened again
  } cases[] = {
      {"unknown distribution type", &h, nullptr, &bogus, nullptr, true, "", false},
      {"database type Kyoto Cabinet cannot open", &h, &xyz, &uniform, nullptr, false,
       "Fail open DB", true},
      {"home that cannot be made", &badHome, nullptr, &uniform, &paths, true, "", true},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    CaptureStdout();
    bool threw = false, opened = false;
    try {
      opened = g.open(&env, str(name), str(*c.home), str(db), c.dbtype ? str(*c.dbtype) : nullptr,
                      false, str(*c.distrib), 2, 0, 0, nullptr,
                      c.paths ? reinterpret_cast<jobjectArray>(c.paths) : nullptr);
    } catch (const std::exception& e) {
      threw = true;
      if (std::string(c.what) == "unknown distribution type") {
        EXPECT_STREQ(e.what(), "Unknown distrib-type");
      }
    }
    const std::string out = GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(opened) << c.what;
    EXPECT_EQ(threw, c.throws) << c.what;
    EXPECT_NE(err.find(c.errLine), std::string::npos) << c.what << "\n" << err;
    // The old store was opened again (its listing printed) only when it had been closed.
    EXPECT_EQ(out.find("=== List of DB Entries opened ===") != std::string::npos, c.oldTouched)
        << c.what << "\n"
        << out;
    ASSERT_TRUE(g.isOpen()) << c.what;
    EXPECT_FALSE(g.isContiguous()) << c.what;
    EXPECT_EQ(get(g, "k1"), "v1") << c.what;
    EXPECT_TRUE(g.put("k2", 2, "v2", 2, 3)) << c.what;
    // Its files are still its own.
    sorn::SornGeneric other;
    EXPECT_THROW(other.open(&env, str(name), str(h), str(db), nullptr, false, str(uniform), 2, 0, 0,
                            nullptr, nullptr),
                 std::exception)
        << c.what;
  }
  // A good reopen still replaces it, with every record.
  CaptureStdout();
  EXPECT_TRUE(g.open(&env, str(name), str(h), str(db), nullptr, true, str(uniform), 2, 0, 0,
                     nullptr, nullptr));
  GetCapturedStdout();
  EXPECT_EQ(get(g, "k1"), "v1");
  EXPECT_EQ(get(g, "k2"), "v2");
  g.close();
  EXPECT_FALSE(g.isOpen());
}

// Stopping the allocator while a store is alive would leave it on freed pages: the stop is
// refused with an error line until the last object is gone. The stop is final for the
// process, so it runs in a child.
class SornStop : public SornReopen {
 protected:
  void scenario() {
    TmpDir dir;
    const std::string home = dir.path();
    FakeString name{"u", false}, h{home.c_str(), false}, db{"u", false}, uniform{"uniform", false};
    bool ok = true;
    std::string out;
    {
      CaptureStdout();
      sorn::SornGeneric a;
      sorn::SornGeneric* b = new sorn::SornGeneric();
      ok &= a.open(&env, str(name), str(h), str(db), nullptr, false, str(uniform), 2, 0, 0, nullptr,
                   nullptr);
      ok &= a.put("k1", 2, "v1", 2, 3);
      GetCapturedStdout();
      CaptureStdout();
      sornx__uninitialize();
      delete b;
      sornx__uninitialize();
      out = GetCapturedStdout();
      // Still running: the store serves its records and new memory comes from the pools.
      ok &= get(a, "k1") == "v1";
      ok &= a.put("k2", 2, "v2", 2, 3);
      void* m = xa_malloc(8);
      ok &= m != nullptr;
      xa_free(m);
      CaptureStdout();
    }
    GetCapturedStdout();
    ok &= out ==
          "[ERR] sornx__uninitialize: 2 SornGeneric objects are alive: the allocator keeps "
          "running\n"
          "[ERR] sornx__uninitialize: 1 SornGeneric objects are alive: the allocator keeps "
          "running\n";
    // The last one gone, the stop goes through.
    CaptureStdout();
    sornx__uninitialize();
    const std::string stop = GetCapturedStdout();
    ok &= stop.find("uninit xallocator") != std::string::npos;
    ok &= xa_malloc(8) == nullptr;
    if (!ok) fprintf(stderr, "out:\n%s\nstop:\n%s\n", out.c_str(), stop.c_str());
    fflush(stderr);
    _exit(ok ? 0 : 1);
  }
};

TEST_F(SornStop, UninitializeWaitsForTheLastObject) {
  EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "");
}

// After the stop (no object alive) a new store works whole on the system allocator, reads
// included, for both distribution types; reopened, it finds what it wrote (the contiguous
// store through its meta records). The stop is final for the process: a child.
class SornAfterStop : public SornReopen {
 protected:
  void scenario() {
    TmpDir dir;
    const std::string home = dir.path();
    CaptureStdout();
    sornx__initialize();
    sornx__uninitialize();
    GetCapturedStdout();
    std::string failures;
    auto check = [&](bool ok, const std::string& what) {
      if (!ok) failures += what + "\n";
    };
    for (const char* type : {"uniform", "contiguous"}) {
      const std::string t(type);
      FakeString name{"s", false}, h{home.c_str(), false}, db{type, false}, d{type, false};
      for (int round = 0; round < 2; ++round) {
        sorn::SornGeneric g;
        CaptureStdout();
        const bool opened = g.open(&env, str(name), str(h), str(db), nullptr, false, str(d), 2, 0,
                                   0, nullptr, nullptr);
        GetCapturedStdout();
        check(opened, t + " open");
        if (round == 0) {
          check(g.put("kept", 4, "old", 3, 3), t + " put kept");
          check(g.put("key1", 4, "value1", 6, 3), t + " put");
          check(g.exist("key1", 4), t + " exist");
          check(get(g, "key1") == "value1", t + " getAsString");
          jobject popped = g.pop(&env, "key1", 4, true);
          check(popped != nullptr && *reinterpret_cast<std::string*>(popped) == "value1",
                t + " popAsString");
          check(!g.exist("key1", 4), t + " the pop removed the record");
          check(get(g, "key1") == "<null>", t + " get after pop");
        } else {
          check(get(g, "kept") == "old", t + " reopened");
        }
        g.close();
      }
    }
    if (!failures.empty()) fprintf(stderr, "%s", failures.c_str());
    fflush(stderr);
    _exit(failures.empty() ? 0 : 1);
  }
};

TEST_F(SornAfterStop, StoreOpenedAfterTheStopReadsWhatItAccepts) {
  EXPECT_EXIT(scenario(), testing::ExitedWithCode(0), "");
}

}  // namespace
