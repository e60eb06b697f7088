// MopraX's own mopra functions: holder lists, their list codecs and the keyspace functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shared-types/MopraX_impl.h"
#include "shared-types/WCypher.h"

namespace {

using mopra::IntegralHolder;
using mopra::StrHolder;

StrHolder holder(const std::string& v, int cursor = 0, int error = 0) {
  StrHolder h;
  h.value = v;
  h.cursor = cursor;
  h.error = error;
  return h;
}

std::vector<std::string> values(const mopra::strholder_vector& hs) {
  std::vector<std::string> v;
  for (const auto& h : hs) v.push_back(h.value);
  return v;
}

TEST(MopraHolderLists, Conversions) {
  mopra::strholder_vector hs{holder("a", 3, -1), holder(std::string("\0b", 2))};
  mopra::string_vector list{"first"};
  EXPECT_EQ(mopra::conv_list_strholder(list, hs), 2);
  EXPECT_EQ(list, (mopra::string_vector{"first", "a", std::string("\0b", 2)}));  // not cleared

  mopra::strholder_vector out{holder("kept", 1, 1)};
  EXPECT_EQ(mopra::conv_list_str(out, list), 3);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].cursor, 1);
  for (size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(out[i].value, list[i - 1]);
    EXPECT_EQ(out[i].cursor, 0);
    EXPECT_EQ(out[i].error, 0);
  }
  mopra::strholder_vector none;
  EXPECT_EQ(mopra::conv_list_strholder(list, none), 0);
  EXPECT_EQ(list.size(), 3u);
}

TEST(MopraHolderLists, Serialize2MatchesTheList) {
  const mopra::strholder_vector hs{holder("x"), holder(""), holder("yz")};
  std::string expect;
  wcypher::serialize0(expect, std::vector<std::string>{"x", "", "yz"});
  StrHolder out = holder("junk", 2, 5);
  EXPECT_EQ(mopra::serialize2(out, hs, -1), 0);
  EXPECT_EQ(out.value, expect);
  EXPECT_EQ(out.cursor, 2);

  // The output may be one of the listed holders.
  mopra::strholder_vector self{holder("x"), holder(""), holder("yz")};
  EXPECT_EQ(mopra::serialize2(self[0], self, 0), 0);
  EXPECT_EQ(self[0].value, expect);
}

TEST(MopraHolderLists, Deserialize2Appends) {
  mopra::strholder_vector hs{holder("already")};
  EXPECT_EQ(mopra::deserialize2(hs, holder("")), 0);
  EXPECT_EQ(hs.size(), 1u);

  StrHolder two;
  mopra::serialize(two, mopra::string_vector{"p", "q"}, 0);
  EXPECT_EQ(mopra::deserialize2(hs, two), 0);
  EXPECT_EQ(values(hs), (std::vector<std::string>{"already", "p", "q"}));
  EXPECT_EQ(hs[1].cursor, 0);
  EXPECT_EQ(hs[2].error, 0);

  StrHolder bad = two;
  bad.value.pop_back();
  EXPECT_EQ(mopra::deserialize2(hs, bad), -3);
  EXPECT_EQ(hs.size(), 3u);  // nothing appended on failure
  // The input may be an element of the list being appended to.
  EXPECT_EQ(mopra::deserialize2(hs, hs[0] = two), 0);
  EXPECT_EQ(values(hs), (std::vector<std::string>{two.value, "p", "q", "p", "q"}));
}

// An envelope whose time item is `when`.
std::string envelope_at(const std::vector<std::string>& parts, const std::string& secret,
                        uint64_t when) {
  std::vector<std::string> items = parts;
  std::string version, time_item;
  wcypher::detail::append_u32le(version, 1);
  wcypher::detail::append_u32le(time_item, static_cast<uint32_t>(when));
  wcypher::detail::append_u32le(time_item, static_cast<uint32_t>(when >> 32));
  items.push_back(version);
  items.push_back(time_item);
  std::string serialized, out;
  EXPECT_EQ(wcypher::serialize0(serialized, items), 0);
  EXPECT_EQ(wcypher::detail::wma_finish(out, serialized, secret, 0x0102, 0, false), 0);
  return out;
}

TEST(MopraHolderLists, EnvelopeOfHolders) {
  const mopra::strholder_vector parts{holder("u"), holder(std::string("\0\1", 2)), holder("")};
  const StrHolder secret = holder("sekret");
  const int flags = 0x0102;
  for (auto encode : {mopra::wma_encode2, mopra::wma_encode_withpadding2}) {
    StrHolder env;
    ASSERT_EQ(encode(env, parts, secret, flags, -3), 0);
    // Readable by the string-list decoder, and the other way round.
    mopra::string_vector list;
    EXPECT_EQ(mopra::wma_decode(list, env, secret, flags, 60), 0);
    EXPECT_EQ(list, (mopra::string_vector{"u", std::string("\0\1", 2), ""}));
    mopra::strholder_vector back{holder("before")};
    EXPECT_EQ(mopra::wma_decode2(back, env, secret, flags, 60), 0);
    EXPECT_EQ(values(back), (std::vector<std::string>{"before", "u", std::string("\0\1", 2), ""}));
    EXPECT_EQ(mopra::wma_decode2(back, env, holder("wrong"), flags, 60), -15);
    EXPECT_EQ(back.size(), 4u);
  }
  // Encoding into one of the parts.
  mopra::strholder_vector self = parts;
  ASSERT_EQ(mopra::wma_encode2(self[2], self, secret, flags, 0), 0);
  mopra::strholder_vector back;
  EXPECT_EQ(mopra::wma_decode2(back, self[2], secret, flags, 0), 0);
  EXPECT_EQ(values(back), values(parts));
}

TEST(MopraHolderLists, TooOldEnvelopeDeliversNoHolders) {
  const StrHolder secret = holder("sekret");
  const StrHolder old = holder(envelope_at({"a", "b"}, secret.value, 1000));
  mopra::strholder_vector hs;
  EXPECT_EQ(mopra::wma_decode2(hs, old, secret, 0x0102, 100), -13);
  EXPECT_TRUE(hs.empty());
  mopra::string_vector list;
  EXPECT_EQ(mopra::wma_decode(list, old, secret, 0x0102, 100), -13);
  EXPECT_EQ(list.size(), 2u);
  const uint64_t far = static_cast<uint64_t>(std::time(nullptr)) + (uint64_t(1) << 33);
  EXPECT_EQ(
      mopra::wma_decode2(hs, holder(envelope_at({"a"}, secret.value, far)), secret, 0x0102, -1), 0);
  EXPECT_EQ(values(hs), (std::vector<std::string>{"a"}));
}

TEST(MopraKeyspace, ForwardAndDecodeWithHolder) {
  const int64_t key = 0x5eed;
  const int64_t v = mopra::encode_i32_to_i64_by_keyspace(5, -2, key);
  EXPECT_EQ(v, wcypher::encode_i32_to_i64_by_keyspace(5, -2, key));
  EXPECT_EQ(mopra::decode_i64_to_i32_by_keyspace(v, -2, key), 5);
  EXPECT_EQ(mopra::decode_i64_to_i32_by_keyspace(v, 3, key), -1);
  IntegralHolder out;
  out.error = 4;
  EXPECT_EQ(mopra::decode_i64_to_i32_by_keyspace1(out, v, key), 5);
  EXPECT_EQ(out.value, -2);
  EXPECT_EQ(out.error, 4);
  const int64_t big = mopra::encode_i32_to_i64_by_keyspace(INT32_MAX, INT32_MIN, key);
  EXPECT_EQ(mopra::decode_i64_to_i32_by_keyspace1(out, big, key), INT32_MAX);
  EXPECT_EQ(out.value, INT32_MIN);
}

}  // namespace
