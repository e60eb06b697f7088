// Holders and the 21 mopra functions that both builds have; compiled once against each
// build (test_holders_px, test_holders_jni).
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <type_traits>

#include "shared-types/MopraX_OpHandleHolder.h"
#include "shared-types/MopraX_StrHolder.h"
#include "shared-types/MopraX_impl.h"
#include "shared-types/WCypher.h"

#ifdef MOPRA_PX_BUILD
#define BUILD_SUITE(s) s##Px
#else
#define BUILD_SUITE(s) s##Jni
#endif

namespace {

using mopra::IntegralHolder;
using mopra::StrHolder;

StrHolder holder(const std::string& v) {
  StrHolder h;
  h.value = v;
  return h;
}

template <typename H>
void check_set_bin_val() {
  const char buf[] = "0123456789";
  struct Case {
    const char* buf;
    int size, offset, len;
    const char* expect;
  } cases[] = {
      {buf, 10, 8, 5, "89"},      {buf, 10, 2, 3, "234"},  {buf, 10, 0, 10, "0123456789"},
      {buf, 10, 10, 5, ""},       {buf, 10, 11, 5, ""},    {buf, 10, 2, 0, ""},
      {buf, 10, 0, -1, "old"},    {buf, 10, -1, 3, "old"}, {buf, -1, 0, 3, "old"},
      {nullptr, 10, 0, 3, "old"}, {buf, 0, 0, 3, ""},
  };
  for (const Case& c : cases) {
    H h;
    h.value = "old";
    h.setBinVal(c.buf, c.size, c.offset, c.len);
    EXPECT_EQ(h.value, c.expect) << c.size << " " << c.offset << " " << c.len;
    EXPECT_EQ(h.getLength(), static_cast<int>(std::strlen(c.expect)));
  }
}

template <typename H>
void check_get_bin_val() {
  H h;
  h.value = "abcdef";
  struct Case {
    bool null_buf;
    int size, offset, rc;
    const char* expect;  // the buffer after the call, 4 bytes
  } cases[] = {
      {false, 4, 1, 3, "_abc"}, {false, 4, 0, 4, "abcd"},   {false, 4, 4, 0, "____"},
      {false, 4, 5, 0, "____"}, {false, -1, 0, -1, "____"}, {false, 4, -1, -1, "____"},
      {true, 4, 0, -1, "____"},
  };
  for (const Case& c : cases) {
    char buf[4];
    std::memset(buf, '_', 4);
    EXPECT_EQ(h.getBinVal(c.null_buf ? nullptr : buf, c.size, c.offset), c.rc)
        << c.size << " " << c.offset;
    EXPECT_EQ(std::string(buf, 4), c.expect);
  }
  h.value = std::string("a\0", 2);
  char buf[4];
  std::memset(buf, '_', 4);
  EXPECT_EQ(h.getBinVal(buf, 4, 0), 2);
  EXPECT_EQ(std::string(buf, 4), std::string("a\0__", 4));
}

TEST(BUILD_SUITE(StringHolders), SetBinVal) {
  check_set_bin_val<StrHolder>();
  check_set_bin_val<mopra_StringHolder>();
}

TEST(BUILD_SUITE(StringHolders), GetBinVal) {
  check_get_bin_val<StrHolder>();
  check_get_bin_val<mopra_StringHolder>();
}

TEST(BUILD_SUITE(StringHolders), LengthBeyondIntMaxIsIntMax) {
  // getLength's count as an int (a value can outgrow it): never negative.
  const size_t big = static_cast<size_t>(INT_MAX);
  struct Case {
    size_t length;
    int expect;
  } cases[] = {{0, 0},
               {7, 7},
               {big, INT_MAX},
               {big + 1, INT_MAX},
               {2 * big + 5, INT_MAX},
               {SIZE_MAX, INT_MAX}};
  for (const Case& c : cases) EXPECT_EQ(c.expect, mopra::detail::int_length(c.length)) << c.length;
}

TEST(BUILD_SUITE(StringHolders), CopyKeepsEveryMember) {
  StrHolder a = holder(std::string("x\0y", 3));
#ifdef MOPRA_PX_BUILD
  a.cursor = 2;
  a.error = -1;
#endif
  StrHolder b(a);
  StrHolder c;
  c = a;
  for (const StrHolder* h : {&b, &c}) {
    EXPECT_EQ(h->value, a.value);
#ifdef MOPRA_PX_BUILD
    EXPECT_EQ(h->cursor, 2);
    EXPECT_EQ(h->error, -1);
#endif
  }
}

#ifdef MOPRA_JNI_BUILD
TEST(StringHoldersJni, GetValSetVal) {
  StrHolder s;
  s.setVal(std::string("a\0b", 3));
  EXPECT_EQ(s.getVal(), std::string("a\0b", 3));
  mopra_StringHolder m;
  m.setVal("m");
  EXPECT_EQ(m.getVal(), "m");
  IntegralHolder i;
  EXPECT_EQ(i.getVal(), 0);
  i.setVal(-5);
  EXPECT_EQ(i.value, -5);
  // The older holders carry the value only.
  static_assert(sizeof(IntegralHolder) == sizeof(int64_t), "value only");
  static_assert(sizeof(StrHolder) == sizeof(std::string), "value only");
}
#else
TEST(StringHoldersPx, FreshHoldersAreZero) {
  StrHolder s;
  EXPECT_EQ(s.cursor, 0);
  EXPECT_EQ(s.error, 0);
  IntegralHolder i;
  EXPECT_EQ(i.value, 0);
  EXPECT_EQ(i.error, 0);
}
#endif

// ---- AutoPtr and OpHandleHolder ---------------------------------------------------------

struct Counted {
  static int made, deleted;
  int v = 0;
  Counted() { ++made; }
  Counted(const Counted& o) : v(o.v) { ++made; }
  ~Counted() { ++deleted; }
};
int Counted::made = 0;
int Counted::deleted = 0;

static_assert(!std::is_copy_constructible<mopra::AutoPtr<Counted>>::value, "no copy");
static_assert(!std::is_copy_assignable<mopra::AutoPtr<Counted>>::value, "no assignment");
static_assert(!std::is_copy_constructible<mopra::OpHandleHolder>::value, "no copy");
static_assert(!std::is_copy_assignable<mopra::OpHandleHolder>::value, "no assignment");

TEST(BUILD_SUITE(AutoPtr), OwnedDeletedOnceBorrowedNever) {
  Counted::made = Counted::deleted = 0;
  {
    mopra::AutoPtr<Counted> p;
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_THROW(*p, std::runtime_error);
    p.ctor(0);
    Counted* first = p.get();
    ASSERT_NE(first, nullptr);
    p.ctor(0);  // already holds one: nothing
    EXPECT_EQ(p.get(), first);
    EXPECT_FALSE(p.releaseIfNotOwner());
    EXPECT_EQ(p.get(), first);
    p.selfClone(0);  // already owner: nothing
    EXPECT_EQ(p.get(), first);
  }
  EXPECT_EQ(Counted::made, 1);
  EXPECT_EQ(Counted::deleted, 1);

  Counted lent;
  lent.v = 7;
  Counted::made = Counted::deleted = 0;
  {
    mopra::AutoPtr<Counted> p;
    p.reset(&lent, false);
    EXPECT_EQ(p.get(), &lent);
    p.release();
    EXPECT_EQ(p.get(), nullptr);
    p.reset(&lent, false);
    EXPECT_TRUE(p.releaseIfNotOwner());
    EXPECT_EQ(p.get(), nullptr);
    p.reset(&lent, false);
  }  // destroyed while borrowing
  EXPECT_EQ(Counted::deleted, 0);

  {
    mopra::AutoPtr<Counted> p;
    p.selfClone(0);  // empty: nothing
    EXPECT_EQ(p.get(), nullptr);
    p.reset(&lent, false);
    p.selfClone(0);
    ASSERT_NE(p.get(), &lent);
    EXPECT_EQ((*p).v, 7);
    EXPECT_TRUE(p.isOwner());
  }
  EXPECT_EQ(Counted::made, 1);
  EXPECT_EQ(Counted::deleted, 1);
}

TEST(BUILD_SUITE(AutoPtr), NullDereferenceText) {
  const mopra::AutoPtr<Counted> p;
  try {
    (void)*p;
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "mopra__AutoPtr: null pointer");
  }
}

TEST(BUILD_SUITE(OpHandleHolder), GettersOfAnEmptyHolderThrow) {
  mopra::OpHandleHolder h;
  EXPECT_TRUE(h.isNull());
  auto expect_null = [](auto&& get) {
    try {
      get();
      ADD_FAILURE() << "no throw";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "mopra__AutoPtr: null pointer");
    }
  };
  expect_null([&] { (void)h.getAuth(); });
  expect_null([&] { (void)h.getSource(); });
  expect_null([&] { (void)h.getFwseq(); });
  expect_null([&] { (void)h.getReason(); });
  expect_null([&] { (void)h.getSeq(); });
  expect_null([&] { (void)h.getSession(); });
}

// The reason is any int the scripts pass, named by the IDL or not; a copy keeps it.
TEST(BUILD_SUITE(OpHandleHolder), ReasonKeepsEveryInt) {
  for (int v : {0, 6, 7, 8, -1, 1000, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(v);
    mopra::OpHandleHolder h;
    h.setReason(v);
    EXPECT_EQ(h.getReason(), v);
    mopra::OpHandleHolder c;
    c.handle().reset(h.handle().get(), false);
    c.selfClone();
    EXPECT_EQ(c.getReason(), v);
  }
}

TEST(BUILD_SUITE(OpHandleHolder), SettersCreateAnOwnedHandle) {
  mopra::OpHandleHolder h;
  h.setSeq(42);
  EXPECT_FALSE(h.isNull());
  EXPECT_TRUE(h.handle().isOwner());
  EXPECT_EQ(h.getAuth(), "");
  EXPECT_EQ(h.getSeq(), 42);
  EXPECT_TRUE(h.handle().get()->__isset.seq);
  EXPECT_FALSE(h.handle().get()->__isset.auth);

  std::string auth = "token";
  h.setAuth(auth);
  EXPECT_EQ(auth, "token");  // copied, not taken over
  h.setSource("src");
  h.setFwseq(-3);
  h.setReason(2);
  h.setSession(int64_t(1) << 40);
  const mopra::OpHandle& o = *h.handle();
  EXPECT_EQ(h.getAuth(), "token");
  EXPECT_TRUE(o.__isset.auth && o.__isset.fwseq && o.__isset.reason && o.__isset.session);
  EXPECT_EQ(h.getSource(), "src");
  EXPECT_EQ(h.getFwseq(), -3);
  EXPECT_EQ(h.getReason(), 2);
  EXPECT_EQ(h.getSession(), int64_t(1) << 40);
  EXPECT_FALSE(h.releaseIfNotOwner());
  EXPECT_EQ(h.getSeq(), 42);
  h.release();
  EXPECT_TRUE(h.isNull());

  mopra::OpHandleHolder c;
  c.ctor();
  EXPECT_EQ(c.getSeq(), 0);
  EXPECT_EQ(c.getSource(), "");
}

TEST(BUILD_SUITE(OpHandleHolder), BorrowedHandle) {
  mopra::OpHandle lent;
  lent.__set_seq(9);
  {
    mopra::OpHandleHolder h;
    h.handle().reset(&lent, false);
    EXPECT_EQ(h.getSeq(), 9);
    EXPECT_TRUE(h.releaseIfNotOwner());
    EXPECT_TRUE(h.isNull());
    h.handle().reset(&lent, false);
    h.selfClone();
    h.setSeq(10);  // on the owned copy
    EXPECT_EQ(h.getSeq(), 10);
    EXPECT_TRUE(h.handle().isOwner());
    mopra::OpHandleHolder b;
    b.handle().reset(&lent, false);
  }  // b is destroyed borrowing: lent must survive (ASan checks)
  EXPECT_EQ(lent.seq, 9);
}

// ---- free functions ----------------------------------------------------------------------

TEST(BUILD_SUITE(MopraInfo), Text) {
  const std::string text = mopra::info();
#ifdef MOPRA_PX_BUILD
  const std::string head =
      "Name:\t\t\tMopraX<br/>\nVersion:\t\t1.2.1<br/>\nDescription:\tShared types, util functions for Toka "
      "libraries<br/>\nBuild at:\t\t";
  const std::string tail = "<br/>\n";
#else
  const std::string head =
      "Name:\t\t\tMopraX\nVersion:\t\t1.2.0\nDescription:\tShared types, util functions for Toka "
      "libraries\nBuild at:\t\t";
  const std::string tail = "\n";
#endif
  ASSERT_GT(text.size(), head.size() + tail.size());
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  // "Mmm dd yyyy hh:mm:ss" between them.
  EXPECT_EQ(text.size() - head.size() - tail.size(), 20u);
  EXPECT_TRUE(
      std::regex_match(text.substr(head.size(), 20),
                       std::regex("[A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
      << text;
  EXPECT_EQ(mopra::info(), text);
}

// Holder plumbing of the one-input codecs: result and code equal the raw codec's, and the
// output's value is all that changes.
TEST(BUILD_SUITE(MopraCodecs), ForwardToTheCodec) {
  using Fn = int (*)(StrHolder&, const StrHolder&, int);
  using Raw = int (*)(std::string&, const std::string&, uint64_t);
  struct Case {
    const char* name;
    Fn fn;
    Raw raw;
    std::string in;
  };
  const std::string bytes("\x00\xff\x10 hello", 9);
  std::string packed;
  wcypher::compress0(packed, bytes + bytes + bytes, 0);
  const Case cases[] = {
      {"hexing", mopra::hexing, wcypher::hexing0, bytes},
      {"unhexing", mopra::unhexing, wcypher::unhexing0, "00ff10"},
      {"unhexing odd", mopra::unhexing, wcypher::unhexing0, "abc"},
      {"unhexing bad", mopra::unhexing, wcypher::unhexing0, "00zz"},
      {"base64_encode", mopra::base64_encode, wcypher::base64_encode0, bytes},
      {"base64_decode", mopra::base64_decode, wcypher::base64_decode0, "0123"},
      {"base64_decode bad", mopra::base64_decode, wcypher::base64_decode0, "01*3"},
      {"base64_decode 4k+1", mopra::base64_decode, wcypher::base64_decode0, "01234"},
  };
  for (const Case& c : cases) {
    for (int extra : {0, 16, -1, -1000}) {
      std::string expect = "junk";
      const int rc = c.raw(expect, c.in, 0);
      StrHolder out = holder("junk");
      const StrHolder in = holder(c.in);
      EXPECT_EQ(c.fn(out, in, extra), rc) << c.name;
      EXPECT_EQ(out.value, expect) << c.name;
      EXPECT_EQ(in.value, c.in);
      // The same holder as output and input: the input is read first.
      std::string expect_aliased = c.in;  // a codec that fails early leaves its output
      c.raw(expect_aliased, std::string(c.in), 0);
      StrHolder both = holder(c.in);
      EXPECT_EQ(c.fn(both, both, extra), rc) << c.name << " aliased";
      EXPECT_EQ(both.value, expect_aliased) << c.name << " aliased";
    }
  }
  StrHolder odd;
  EXPECT_EQ(mopra::unhexing(odd, holder("abc"), 0), -11);  // the code itself, not just equal
  StrHolder h = holder("abc");
  EXPECT_EQ(mopra::hexing(h, h, 0), 0);
  EXPECT_EQ(h.value, "616263");
}

TEST(BUILD_SUITE(MopraCodecs), CompressAndDecompress) {
  const std::string text(3000, 'a');
  for (int method : {0, 2, 255}) {
    StrHolder packed, back;
    std::string expect;
    const int rc = wcypher::compress0(expect, text, method);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(mopra::compress(packed, holder(text), method, -1), 0);
    EXPECT_EQ(packed.value, expect);
    EXPECT_EQ(mopra::decompress(back, packed, method, 0), 0);
    EXPECT_EQ(back.value, text);
    StrHolder inplace = holder(text);
    EXPECT_EQ(mopra::compress(inplace, inplace, method, 0), 0);
    EXPECT_EQ(mopra::decompress(inplace, inplace, method, 0), 0);
    EXPECT_EQ(inplace.value, text);
  }
  StrHolder out;
  EXPECT_EQ(mopra::compress(out, holder(text), 7, 0), -4);
  EXPECT_EQ(mopra::decompress(out, holder(text), 7, 0), -5);
  EXPECT_EQ(mopra::decompress(out, holder("\xff\xff\xff"), 0, 0), -5);
}

TEST(BUILD_SUITE(MopraLists), SerializeAndDeserialize) {
  mopra::string_vector list{"a", std::string("b\0c", 3), ""};
  std::string expect;
  wcypher::serialize0(expect, std::vector<std::string>(list.begin(), list.end()));
  StrHolder out = holder("junk");
  EXPECT_EQ(mopra::serialize(out, list, -7), 0);
  EXPECT_EQ(out.value, expect);

  mopra::string_vector back{"stale"};
  EXPECT_EQ(mopra::deserialize(back, out), 0);
  EXPECT_EQ(back, list);  // cleared first
  back.assign({"stale"});
  EXPECT_EQ(mopra::deserialize(back, holder("\x05\x00\x00")), -3);
  EXPECT_TRUE(back.empty());
  mopra::string_vector empty;
  EXPECT_EQ(mopra::serialize(out, empty, 0), 0);
  EXPECT_EQ(out.value, "");
}

TEST(BUILD_SUITE(MopraLists), ListHolderAccess) {
  mopra::string_vector list;
  mopra::list_add_strholder(list, holder("x"));
  mopra::list_add_strholder(list, holder("y"));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(mopra::list_set_strholder(list, holder("z"), 1), 0);
  EXPECT_EQ(list[1], "z");
  EXPECT_EQ(mopra::list_set_strholder(list, holder("w"), 2), -1);
  EXPECT_EQ(mopra::list_set_strholder(list, holder("w"), -1), -1);
  StrHolder out = holder("keep");
  EXPECT_EQ(mopra::list_get_strholder(out, list, 2), -1);
  EXPECT_EQ(out.value, "keep");
  EXPECT_EQ(mopra::list_get_strholder(out, list, -1), -1);
  EXPECT_EQ(out.value, "keep");
  EXPECT_EQ(mopra::list_get_strholder(out, list, 1), 0);
  EXPECT_EQ(out.value, "z");
  EXPECT_EQ(list, (mopra::string_vector{"x", "z"}));
}

TEST(BUILD_SUITE(MopraHash), KindsAndUnknownKind) {
  const StrHolder in = holder("some key");
  for (int kind : {0, 1, 2, 3}) {
    EXPECT_EQ(mopra::hash64(in, kind), wcypher::hash0(in.value, kind));
    EXPECT_EQ(mopra::hash(in, kind), static_cast<int>(wcypher::hash0(in.value, kind)));
  }
  EXPECT_EQ(mopra::hash(in, 3), static_cast<int>(static_cast<uint32_t>(mopra::hash64(in, 3))));
  EXPECT_EQ(mopra::hash(in, 3), mopra::hash(in, 1));  // Jenkins in the low half
  EXPECT_EQ(mopra::hash(in, 9), -1);
  EXPECT_EQ(mopra::hash64(in, 9), -1);
}

TEST(BUILD_SUITE(MopraNoise), ShortValuesAreOnlyEncoded) {
  StrHolder h = holder("ab");
  EXPECT_EQ(mopra::noise(h), 0);
  std::string b64;
  wcypher::base64_encode0(b64, "ab");
  EXPECT_EQ(h.value, b64);
  EXPECT_EQ(h.value.size(), 3u);
  EXPECT_EQ(mopra::denoise(h), 0);
  EXPECT_EQ(h.value, "ab");
}

TEST(BUILD_SUITE(MopraNoise), RoundTripAndBadText) {
  const std::string plain("0123456789abcdef\x00\x01", 18);
  StrHolder h = holder(plain);
  EXPECT_EQ(mopra::noise(h), 0);
  std::string raw;
  ASSERT_EQ(wcypher::base64_decode0(raw, h.value), 0);
  EXPECT_EQ(raw.size(), plain.size() + 8);
  EXPECT_EQ(mopra::denoise(h), 0);
  EXPECT_EQ(h.value, plain);

  StrHolder bad = holder("ab*d");
  EXPECT_EQ(mopra::denoise(bad), -7);
  EXPECT_EQ(bad.value, "ab*d");
}

TEST(BUILD_SUITE(MopraNoise), IntegerTokens) {
  const int64_t key = 0x1234567890LL;
  StrHolder token;
  EXPECT_EQ(mopra::noise64(token, -77, key), 0);
  EXPECT_EQ(token.value.size(), 20u);
  IntegralHolder out;
  EXPECT_EQ(mopra::denoise64(out, token, key), 0);
  EXPECT_EQ(out.value, -77);

  StrHolder v1;
  ASSERT_EQ(wcypher::noise64(v1.value, 123456789012345LL, key), 0);
  ASSERT_EQ(v1.value.size(), 32u);
  EXPECT_EQ(mopra::denoise64(out, v1, key), 0);
  EXPECT_EQ(out.value, 123456789012345LL);

  out.value = 5;
#ifdef MOPRA_PX_BUILD
  out.error = 3;
#endif
  // Any other length is -3; a failing decode leaves the value.
  for (size_t n : {0, 19, 21, 31, 33}) {
    EXPECT_EQ(mopra::denoise64(out, holder(std::string(n, '0')), key), -3) << n;
  }
  std::string wrong = token.value;
  wrong[19] = wrong[19] == '0' ? '1' : '0';
  EXPECT_EQ(mopra::denoise64(out, holder(wrong), key), -2);
  EXPECT_EQ(mopra::denoise64(out, token, key + 1), -2);
  EXPECT_EQ(out.value, 5);
#ifdef MOPRA_PX_BUILD
  EXPECT_EQ(out.error, 3);  // never touched
#endif
}

// An envelope whose time item is `when`, made with the codec's own steps.
std::string envelope_at(const std::vector<std::string>& parts, const std::string& secret, int flags,
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
  EXPECT_EQ(wcypher::detail::wma_finish(out, serialized, secret, flags, 0, false), 0);
  return out;
}

TEST(BUILD_SUITE(MopraEnvelope), RoundTrip) {
  const mopra::string_vector parts{"user", std::string("\x00\x01", 2), ""};
  const StrHolder secret = holder("a secret");
  const int flags = (2 << 8) | 0;
  for (auto encode : {mopra::wma_encode, mopra::wma_encode_withpadding}) {
    StrHolder env = holder("junk");
    ASSERT_EQ(encode(env, parts, secret, flags, -1), 0);
    mopra::string_vector back{"stale"};
    EXPECT_EQ(mopra::wma_decode(back, env, secret, flags, 60), 0);
    EXPECT_EQ(back, parts);
    EXPECT_EQ(mopra::wma_decode(back, env, holder("other"), flags, 0), -15);
    EXPECT_TRUE(back.empty());
  }
  StrHolder s = holder("a secret");  // output and secret the same holder
  ASSERT_EQ(mopra::wma_encode(s, parts, s, flags, 0), 0);
  mopra::string_vector back;
  EXPECT_EQ(mopra::wma_decode(back, s, secret, flags, 0), 0);
  EXPECT_EQ(back, parts);
}

TEST(BUILD_SUITE(MopraEnvelope), MaxAgeIsSignExtended) {
  const std::vector<std::string> parts{"p1", "p2"};
  const StrHolder secret = holder("k3y!");
  const int flags = 0;
  // More than 2^32 seconds away: only a sign-extended -1 accepts it.
  const uint64_t far = static_cast<uint64_t>(std::time(nullptr)) + (uint64_t(1) << 33);
  const StrHolder env = holder(envelope_at(parts, secret.value, flags, far));
  mopra::string_vector out;
  EXPECT_EQ(mopra::wma_decode(out, env, secret, flags, -1), 0);
  EXPECT_EQ(out, (mopra::string_vector{"p1", "p2"}));
  // Too old: -13, and the parts are still delivered.
  const StrHolder old = holder(envelope_at(parts, secret.value, flags, 1000));
  EXPECT_EQ(mopra::wma_decode(out, old, secret, flags, 100), -13);
  EXPECT_EQ(out, (mopra::string_vector{"p1", "p2"}));
  EXPECT_EQ(mopra::wma_decode(out, old, secret, flags, 0), 0);
}

}  // namespace
