// The TessiX module functions (information text, log level, memory statistics, the
// allocator's stop refused under live objects) and the binding helpers' exact lines.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "src/TessiX_impl.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "tests/support/build_stamp.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::string str(const xstring& s) { return std::string(s.data(), s.size()); }

std::vector<std::string> lines(const std::string& s) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t nl; (nl = s.find('\n', at)) != std::string::npos; at = nl + 1) {
    out.push_back(s.substr(at, nl - at));
  }
  if (at < s.size()) out.push_back(s.substr(at));
  return out;
}

TEST(TessixModule, InfoTextAndLogLevel) {
  EXPECT_EQ(tessix__initialize(10000), 1);
  const std::string text = str(tessix__info());
  const std::string head =
      "Name:         TessiX\nVersion:      1.0.0\nDescription:  Tessi, WNfQueue for Toka libraries\n"
      "Build at:     ";
  ASSERT_EQ(text.compare(0, head.size(), head), 0) << text;
  EXPECT_TRUE(isBuildStamp(text.substr(head.size()))) << text;
  EXPECT_EQ(str(tessix__info()), text);

  EXPECT_EQ(tessix__getLogLevel(), 0);  // at load
  for (int level : {7, -1, 3, 4, 5, INT_MIN, INT_MAX, 0}) {
    tessix__setLogLevel(level);
    EXPECT_EQ(tessix__getLogLevel(), level);
    EXPECT_EQ(tessix__errOn(), level > 1);
    EXPECT_EQ(tessix__infOn(), level > 3);
    EXPECT_EQ(tessix__dbgOn(), level > 4);
  }
}

// Each section: the page allocator's line, the slab set's line, one " * " line per pool,
// then an empty line; every dump line ends in " | ".
void checkSection(const std::vector<std::string>& l, size_t& at, size_t pools) {
  ASSERT_LT(at + 3 + pools, l.size() + 1);
  EXPECT_EQ(l[at].compare(0, 10, "page_size="), 0) << l[at];
  EXPECT_EQ(l[at + 1].compare(0, 18, "class_size_factor="), 0) << l[at + 1];
  for (size_t i = 0; i < pools; ++i) {
    const std::string& p = l[at + 2 + i];
    EXPECT_EQ(p.compare(0, 14, " * class_size="), 0) << p;
    EXPECT_EQ(p.substr(p.size() - 3), " | ") << p;
  }
  EXPECT_EQ(l[at].substr(l[at].size() - 3), " | ");
  EXPECT_EQ(l[at + 2 + pools], "");
  at += 3 + pools;
}

TEST(TessixModule, MemstatKinds) {
  tessix__initialize(10000);
  const size_t normal = xlabs_get_num_pools(default_xlabs);
  const size_t big = xlabs_get_num_pools(default_xbiglabs);
  const size_t huge = xlabs_get_num_pools(default_xhugelabs);
  for (int kind : {4, -1, 100, INT_MIN}) EXPECT_EQ(str(tessix__memstat(kind)), "") << kind;

  size_t at = 0;
  std::vector<std::string> l = lines(str(tessix__memstat(1)));
  checkSection(l, at, normal);
  EXPECT_EQ(at, l.size());
  at = 0;
  l = lines(str(tessix__memstat(2)));
  checkSection(l, at, big);
  EXPECT_EQ(at, l.size());
  at = 0;
  l = lines(str(tessix__memstat(3)));
  checkSection(l, at, huge);
  EXPECT_EQ(at, l.size());

  // Kind 0: huge, big, normal in that order (told apart by their page sizes).
  const std::string all = str(tessix__memstat(0));
  l = lines(all);
  at = 0;
  checkSection(l, at, huge);
  checkSection(l, at, big);
  checkSection(l, at, normal);
  EXPECT_EQ(at, l.size());
  const std::string h = lines(str(tessix__memstat(3)))[0];
  const std::string n = lines(str(tessix__memstat(1)))[0];
  EXPECT_EQ(l[0].substr(0, l[0].find(' ')), h.substr(0, h.find(' ')));
  EXPECT_EQ(l[l.size() - normal - 3].substr(0, 20), n.substr(0, 20));
}

TEST(TessixHelpers, DumpAndReportLines) {
  const char unterminated[3] = {'a', 'b', 'c'};
  tessix__initialize(10000);  // its start lines are not part of the capture
  CaptureStdout();
  tessi::dumpKey("get", "key", 3);
  tessi::dumpKey("get", nullptr, 0);
  tessi::dumpValue("put", unterminated, 2);
  tessi::dumpValue("put", nullptr, -1);
  tessi::dumpKeyValue("put", "k\0x", 3, nullptr, 0);
  tessi::jThrowException(reinterpret_cast<JNIEnv*>(1), "com/olm/toka/exception/JNIRuntimeException",
                         "boom");
  tessi::jThrowException(reinterpret_cast<JNIEnv*>(1), "X", nullptr);
  tessi::jThrowException(nullptr, "X", "m");
  tessi::jThrowException(reinterpret_cast<JNIEnv*>(1), nullptr, "m");
  EXPECT_EQ(
      GetCapturedStdout(),
      "[dbg] get: key[3]=\"key\"\n"
      "[dbg] get: key[0]=\"<null>\"\n"
      "[dbg] put: value[2]=\"ab\"\n"
      "[dbg] put: value[-1]=\"<null>\"\n"
      "[dbg] put: key[3]=\"k\", value[0]=\"<null>\"\n"
      "[ERR] jThrowException: Exception com/olm/toka/exception/JNIRuntimeException occurred: boom\n"
      "[ERR] jThrowException: Exception X occurred: \n"
      "[ERR] jThrowException: Could not throw an exception: jenv is null or clsName is null\n"
      "[ERR] jThrowException: Could not throw an exception: jenv is null or clsName is null\n");
}

}  // namespace
