// MopraX's StrHolder: pack and unpack records, the cursor and error rules.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "shared-types/MopraX_StrHolder.h"

namespace {

using mopra::IntegralHolder;
using mopra::StrHolder;

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(static_cast<char>(c));
  return s;
}

TEST(StrHolderPack, LittleEndianLayout) {
  StrHolder h;
  h.packI8(0x1ff);
  h.packI16(0x12345);
  h.packI32(-2);
  h.packI64(0x0102030405060708LL);
  h.packStr("ab");
  h.packStr("");
  EXPECT_EQ(h.value, bytes({0xff, 0x45, 0x23, 0xfe, 0xff, 0xff, 0xff, 8,   7, 6, 5, 4, 3,
                            2,    1,    2,    0,    0,    0,    'a',  'b', 0, 0, 0, 0}));
}

TEST(StrHolderPack, PackBin) {
  const char buf[] = "0123456789";
  struct Case {
    const char* buf;
    int size, offset, len, rc;
    std::string appended;
  } cases[] = {
      {buf, 10, 8, 5, 2, bytes({2, 0, 0, 0, '8', '9'})},
      {buf, 10, 0, 3, 3, bytes({3, 0, 0, 0, '0', '1', '2'})},
      {buf, 10, 0, 0, 0, ""},
      {buf, 10, 10, 3, 0, ""},
      {buf, 10, 12, 3, 0, ""},
      {nullptr, 10, 0, 3, -1, ""},
      {buf, -1, 0, 3, -1, ""},
      {buf, 10, -1, 3, -1, ""},
      {buf, 10, 0, -1, -1, ""},
  };
  for (const Case& c : cases) {
    StrHolder h;
    h.value = "x";
    EXPECT_EQ(h.packBin(c.buf, c.size, c.offset, c.len), c.rc)
        << c.size << " " << c.offset << " " << c.len;
    EXPECT_EQ(h.value, "x" + c.appended);
  }
}

TEST(StrHolderUnpack, IntegersSignExtendAndAdvance) {
  StrHolder h;
  h.value = bytes({0xff, 0xff, 0x7f, 0x00, 0x00, 0x00, 0x80});
  IntegralHolder out;
  h.unpackI8(out, false);
  EXPECT_EQ(out.value, -1);
  EXPECT_EQ(out.error, 0);
  EXPECT_EQ(h.cursor, 0);
  h.unpackI8(out, true);
  EXPECT_EQ(h.cursor, 1);
  h.unpackI16(out, true);  // ff 7f
  EXPECT_EQ(out.value, 32767);
  EXPECT_EQ(h.cursor, 3);
  h.unpackI32(out, true);  // 00 00 00 80
  EXPECT_EQ(out.value, INT32_MIN);
  EXPECT_EQ(h.cursor, 7);

  StrHolder w;
  w.packI64(-5);
  w.packI64(INT64_MIN);
  w.packI32(-100000);
  w.packI16(-2);
  const StrHolder& c = w;  // the unpack members are constant
  c.unpackI64(out, true);
  EXPECT_EQ(out.value, -5);
  c.unpackI64(out, true);
  EXPECT_EQ(out.value, INT64_MIN);
  c.unpackI32(out, true);
  EXPECT_EQ(out.value, -100000);
  c.unpackI16(out, true);
  EXPECT_EQ(out.value, -2);
  EXPECT_EQ(c.cursor, 22);
}

TEST(StrHolderUnpack, FailuresKeepCursorAndValue) {
  StrHolder h;
  h.value = bytes({1, 2, 3});
  struct Case {
    int cursor;
    int width;
  } cases[] = {{3, 1}, {2, 2}, {0, 4}, {0, 8}, {-1, 1}, {100, 1}, {INT_MIN, 2}};
  for (const Case& c : cases) {
    h.cursor = c.cursor;
    IntegralHolder out;
    out.value = 77;
    switch (c.width) {
      case 1: h.unpackI8(out, true); break;
      case 2: h.unpackI16(out, true); break;
      case 4: h.unpackI32(out, true); break;
      default: h.unpackI64(out, true); break;
    }
    EXPECT_EQ(out.error, -1) << c.cursor << " " << c.width;
    EXPECT_EQ(out.value, 77);
    EXPECT_EQ(h.cursor, c.cursor);
    EXPECT_EQ(h.value, bytes({1, 2, 3}));
  }
}

TEST(StrHolderUnpack, EmptyStrThenInteger) {
  StrHolder h;
  h.packStr("");
  h.packI32(7);
  StrHolder s;
  s.value = "old";
  s.cursor = 5;
  s.error = 9;
  h.unpackStr(s, true);
  EXPECT_EQ(s.value, "");
  EXPECT_EQ(s.error, 0);
  EXPECT_EQ(s.cursor, 5);  // the target's cursor is not touched
  EXPECT_EQ(h.cursor, 4);
  IntegralHolder i;
  h.unpackI32(i, true);
  EXPECT_EQ(i.value, 7);
  EXPECT_EQ(h.cursor, 8);
}

TEST(StrHolderUnpack, StrAndBinRecords) {
  struct Case {
    const char* name;
    std::string record;
    int32_t len;  // -1: a bad record
  } cases[] = {
      {"ok", bytes({3, 0, 0, 0, 'a', 'b', 'c', 'z'}), 3},
      {"empty", bytes({0, 0, 0, 0}), 0},
      {"short length field", bytes({3, 0, 0}), -1},
      {"negative length", bytes({0xff, 0xff, 0xff, 0xff, 'a'}), -1},
      {"one byte short", bytes({4, 0, 0, 0, 'a', 'b', 'c'}), -1},
      // 4 + n overflows 32 bits: the check is in 64 bits, so no read past the end.
      {"length near 2^31", bytes({0xfd, 0xff, 0xff, 0x7f, 'a'}), -1},
      {"length 2^31-1", bytes({0xff, 0xff, 0xff, 0x7f, 'a'}), -1},
  };
  for (const Case& c : cases) {
    StrHolder h;
    h.value = c.record;
    StrHolder out;
    out.value = "keep";
    h.unpackStr(out, false);
    EXPECT_EQ(out.error, c.len < 0 ? -1 : 0) << c.name;
    EXPECT_EQ(out.value, c.len < 0 ? "keep" : c.record.substr(4, static_cast<size_t>(c.len)))
        << c.name;
    EXPECT_EQ(h.cursor, 0);

    char buf[8];
    std::memset(buf, '_', sizeof buf);
    EXPECT_EQ(h.unpackBin(buf, 8, 2, true), c.len) << c.name;
    if (c.len > 0) {
      EXPECT_EQ(std::string(buf + 2, static_cast<size_t>(c.len)), c.record.substr(4, c.len));
    }
    EXPECT_EQ(h.cursor, c.len < 0 ? 0 : 4 + c.len) << c.name;
    EXPECT_EQ(h.value, c.record);
  }
}

TEST(StrHolderUnpack, BinBufferRules) {
  StrHolder h;
  h.packBin("abc", 3, 0, 3);
  h.packBin("", 0, 0, 0);  // appends nothing
  h.value += bytes({0, 0, 0, 0});
  char buf[4];
  EXPECT_EQ(h.unpackBin(nullptr, 4, 0, true), -1);
  EXPECT_EQ(h.unpackBin(buf, -1, 0, true), -1);
  EXPECT_EQ(h.unpackBin(buf, 4, -1, true), -1);
  EXPECT_EQ(h.unpackBin(buf, 4, 2, true), -1);  // room for 2 only
  EXPECT_EQ(h.cursor, 0);
  EXPECT_EQ(h.unpackBin(buf, 4, 1, true), 3);
  EXPECT_EQ(std::string(buf + 1, 3), "abc");
  EXPECT_EQ(h.cursor, 7);
  // An empty record reads whatever the buffer.
  EXPECT_EQ(h.unpackBin(nullptr, -1, -1, true), 0);
  EXPECT_EQ(h.cursor, 11);
  EXPECT_EQ(h.unpackBin(buf, 4, 0, true), -1);  // at the end
  EXPECT_EQ(h.cursor, 11);
}

TEST(StrHolderUnpack, IntoItself) {
  StrHolder h;
  h.packStr("inner");
  h.unpackStr(h, true);
  EXPECT_EQ(h.value, "inner");
  EXPECT_EQ(h.error, 0);
  EXPECT_EQ(h.cursor, 9);
}

}  // namespace
