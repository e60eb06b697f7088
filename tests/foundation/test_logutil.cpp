#include "logutil.h"

#include <gtest/gtest.h>

#include <string>

#include "src/xlabs.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// The allocator announces its start on standard output: start it before any capture.
class LogUtil : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_xallocator(); }
};

TEST_F(LogUtil, LevelPrintersWriteTagPlaceAndText) {
  struct Case {
    int (*print)(const char*, const char*, ...);
    const char* line;
  } cases[] = {
      {__printLogDbg, "[dbg] open: 3 records\n"}, {__printLogInf, "[inf] open: 3 records\n"},
      {__printLogWrn, "[WRN] open: 3 records\n"}, {__printLogCri, "[CRI] open: 3 records\n"},
      {__printLogErr, "[ERR] open: 3 records\n"},
  };
  for (const Case& c : cases) {
    CaptureStdout();
    int r = c.print("open", "%d records", 3);
    std::string out = GetCapturedStdout();
    EXPECT_EQ(out, c.line);
    EXPECT_EQ(r, int(out.size()));
  }
}

TEST_F(LogUtil, AnyTagIsPrintedUnchanged) {
  CaptureStdout();
  __printLog("XYZ", "wdb::Store::get", "key %s of %zu bytes", "k1", size_t(2));
  EXPECT_EQ(GetCapturedStdout(), "[XYZ] wdb::Store::get: key k1 of 2 bytes\n");
}

// A '%' in the tag or the place is text, not a conversion.
TEST_F(LogUtil, PercentInTagOrPlaceIsLiteral) {
  CaptureStdout();
  int r = __printLog("%s%", "load 100%d %n", "%d%%", 7);
  std::string out = GetCapturedStdout();
  EXPECT_EQ(out, "[%s%] load 100%d %n: 7%\n");
  EXPECT_EQ(r, int(out.size()));
}

TEST_F(LogUtil, LinesLongerThanTheReserveArePrintedWhole) {
  std::string place(400, 'p');
  std::string text(1000, 't');
  CaptureStdout();
  __printLogInf(place.c_str(), "%s|%s", text.c_str(), "end");
  EXPECT_EQ(GetCapturedStdout(), "[inf] " + place + ": " + text + "|end\n");
}

TEST_F(LogUtil, NullPiecesPrintAsEmpty) {
  CaptureStdout();
  __printLog(nullptr, nullptr, "x");
  __printLogWrn(nullptr, nullptr);
  EXPECT_EQ(GetCapturedStdout(), "[] : x\n[WRN] : \n");
}

}  // namespace

namespace {

// The line's format is built in a pooled string with 300 bytes reserved up front.
TEST_F(LogUtil, LineFormatReserves300Bytes) {
  xlabs* normal = find_xlabs_default(1);
  uint64_t before = xlabs_get_total_alloc(normal);
  CaptureStdout();
  __printLogInf("open", "%d", 1);
  EXPECT_EQ(GetCapturedStdout(), "[inf] open: 1\n");
  EXPECT_EQ(xlabs_get_total_alloc(normal) - before, 301u);
}

}  // namespace
