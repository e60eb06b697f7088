// Wire form of the IDL records over the binary protocol and a memory buffer, and the
// enumerations' name tables.
#include "shared-types/mopra_constants.h"
#include "shared-types/mopra_types.h"
#include "shared-types/wservicebase_constants.h"
#include "shared-types/wservicebase_types.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TMemoryBuffer;
using namespace mopra;

std::string toHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string fromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// Writes the record and returns its bytes as hex; also checks the returned byte count.
template <class T>
std::string wireOf(const T& rec) {
  auto buf = std::make_shared<TMemoryBuffer>();
  TBinaryProtocol prot(buf);
  uint32_t n = rec.write(&prot);
  std::string bytes = buf->getBufferAsString();
  EXPECT_EQ(bytes.size(), n);
  return toHex(bytes);
}

// Reads a record from hex; `left` receives the bytes the read did not consume.
template <class T>
void readFrom(const std::string& hex, T& rec, uint32_t* left = nullptr) {
  std::string bytes = fromHex(hex);
  auto buf = std::make_shared<TMemoryBuffer>();
  buf->write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
  TBinaryProtocol prot(buf);
  struct Left {
    std::shared_ptr<TMemoryBuffer> buf;
    uint32_t* out;
    ~Left() {
      if (out) *out = buf->available_read();
    }
  } guard{buf, left};
  uint32_t n = rec.read(&prot);
  EXPECT_EQ(bytes.size(), n);
}

template <class T>
TProtocolException::TProtocolExceptionType readFailure(const std::string& hex, uint32_t* left) {
  T rec;
  try {
    readFrom(hex, rec, left);
  } catch (const TProtocolException& e) {
    return e.getType();
  }
  ADD_FAILURE() << "read succeeded";
  return TProtocolException::UNKNOWN;
}

static_assert(std::is_base_of<apache::thrift::TException, WException>::value,
              "WException is a TException");

// The wire strings keep one field per group; the formatter would give each literal a line.
// clang-format off
// Field headers: type byte, then the id as a big-endian i16.
const std::string kVersion1234 =
    "080001" "00000001" "080002" "00000002" "080003" "00000003" "080004" "00000004" "00";

TEST(IdlWire, WExceptionWritesMessageOnlyWhenFlagged) {
  WException e;
  e.error = ECode::REACH_MAX;
  EXPECT_EQ("080001" "0000001b" "00", wireOf(e));

  e.__set_message("");
  EXPECT_EQ("080001" "0000001b" "0b0002" "00000000" "00", wireOf(e));

  WException back;
  readFrom(wireOf(e), back);
  EXPECT_EQ(ECode::REACH_MAX, back.error);
  EXPECT_TRUE(back.__isset.message);
  EXPECT_EQ("", back.message);
}

TEST(IdlWire, OpHandleWithOnlySourceReadsAndWritesBackAlone) {
  const std::string wire = "0b0001" "00000003" "737263" "00";
  OpHandle h;
  readFrom(wire, h);
  EXPECT_EQ("src", h.source);
  EXPECT_FALSE(h.__isset.auth || h.__isset.reason || h.__isset.seq || h.__isset.fwseq ||
               h.__isset.session || h.__isset._selfSeq);
  EXPECT_EQ(wire, wireOf(h));
  EXPECT_EQ(wire, wireOf(OpHandle(h)));
}

TEST(IdlWire, OpHandleAllFieldsAndCopy) {
  OpHandle h;
  h.__set_source("s");
  h.__set_auth("a");
  h.__set_reason(OpReason::SVR_REP);
  h.__set_seq(0x0102030405060708LL);
  h.__set_fwseq(-1);
  h.__set_session(9);
  h.__set__selfSeq(10);
  const std::string wire =
      "0b0001" "00000001" "73"
      "0b0002" "00000001" "61"
      "080003" "00000005"
      "0a0004" "0102030405060708"
      "080005" "ffffffff"
      "0a0006" "0000000000000009"
      "0a0007" "000000000000000a"
      "00";
  EXPECT_EQ(wire, wireOf(h));

  OpHandle copy(h);
  EXPECT_EQ(h, copy);
  EXPECT_TRUE(copy.__isset.auth && copy.__isset.reason && copy.__isset.seq && copy.__isset.fwseq &&
              copy.__isset.session && copy.__isset._selfSeq);
  EXPECT_EQ(wire, wireOf(copy));

  OpHandle back;
  readFrom(wire, back);
  EXPECT_EQ(h, back);

  OpHandle other;
  other.__set_source("o");
  swap(other, copy);
  EXPECT_EQ("o", copy.source);
  EXPECT_FALSE(copy.__isset.auth);
  EXPECT_EQ(wire, wireOf(other));
}

TEST(IdlWire, OpHandleSkipsUnknownAndMistypedFieldsAndKeepsAnyReason) {
  OpHandle h;
  // Field 9 (unknown, a list of i32), field 2 sent as i32 (mistyped), reason 99 (out of range).
  readFrom("0f0009" "08" "00000002" "00000001" "00000002"
           "080002" "00000007"
           "0b0001" "00000001" "78"
           "080003" "00000063"
           "00",
           h);
  EXPECT_EQ("x", h.source);
  EXPECT_FALSE(h.__isset.auth);
  EXPECT_TRUE(h.__isset.reason);
  // 99 lies outside OpReason's value range, so the member is inspected as raw bits
  // (loading it as the enumeration is what UBSan reports).
  int32_t raw = 0;
  static_assert(sizeof raw == sizeof h.reason, "reason is stored as 32 bits");
  std::memcpy(&raw, &h.reason, sizeof raw);
  EXPECT_EQ(99, raw);
}

TEST(IdlWire, ServiceRecordsExactBytesAndRoundTrip) {
  TVersion v;
  v.verMajor = 1;
  v.verMinor = 2;
  v.verBuild = 3;
  v.verRev = 4;
  TConnInfo r;
  r.address = "r";
  r.port = 1;
  TConnInfo w;
  w.address = "w";
  w.port = 2;
  w.framed = true;
  TAppInfo app;
  app.name = "n";
  app.desc = "d";
  app.version = v;
  app.rConnInfo = r;
  app.wConnInfo = w;
  TAppConnInfo conns;
  conns.rConnInfo.push_back(r);

  EXPECT_EQ(kVersion1234, wireOf(v));
  EXPECT_EQ("080001" "00000000" "080002" "00000000" "080003" "00000000" "080004" "00000000" "00",
            wireOf(TVersion()));
  EXPECT_EQ("0b0001" "00000000" "080002" "00000000" "020003" "00" "00", wireOf(TConnInfo()));
  EXPECT_EQ("0b0001" "00000001" "77" "080002" "00000002" "020003" "01" "00", wireOf(w));
  const std::string appWire =
      "0b0001" "00000001" "6e"
      "0b0002" "00000001" "64"
      "0c0003" + kVersion1234 +
      "0c0004" "0b0001" "00000001" "72" "080002" "00000001" "020003" "00" "00"
      "0c0005" "0b0001" "00000001" "77" "080002" "00000002" "020003" "01" "00"
      "00";
  EXPECT_EQ(appWire, wireOf(app));
  EXPECT_EQ("0f0001" "0c" "00000000" "0f0002" "0c" "00000000" "00", wireOf(TAppConnInfo()));
  const std::string connsWire = "0f0001" "0c" "00000001"
                                "0b0001" "00000001" "72" "080002" "00000001" "020003" "00" "00"
                                "0f0002" "0c" "00000000" "00";
  EXPECT_EQ(connsWire, wireOf(conns));

  TAppInfo appBack;
  readFrom(appWire, appBack);
  EXPECT_EQ(app, appBack);
  TAppConnInfo connsBack;
  readFrom(connsWire, connsBack);
  EXPECT_EQ(conns, connsBack);
}

TEST(IdlWire, MissingRequiredFieldFailsAfterConsumingTheStruct) {
  const std::string connR = "0b0001" "00000001" "72" "080002" "00000001" "020003" "00" "00";
  struct Case {
    const char* what;
    std::string hex;
    TProtocolException::TProtocolExceptionType (*read)(const std::string&, uint32_t*);
  } cases[] = {
      {"TAppInfo without wConnInfo",
       "0b0001" "00000001" "6e" "0b0002" "00000001" "64" "0c0003" + kVersion1234 +
           "0c0004" + connR + "00",
       readFailure<TAppInfo>},
      {"TVersion with an i64 field 2",
       "080001" "00000001" "0a0002" "0000000000000002" "080003" "00000003" "080004" "00000004" "00",
       readFailure<TVersion>},
      {"TVersion without verRev", "080001" "00000001" "080002" "00000002" "080003" "00000003" "00",
       readFailure<TVersion>},
      {"TConnInfo without framed", "0b0001" "00000001" "72" "080002" "00000001" "00",
       readFailure<TConnInfo>},
      {"TAppConnInfo without wConnInfo", "0f0001" "0c" "00000000" "00", readFailure<TAppConnInfo>},
      {"WException without error", "0b0002" "00000001" "6d" "00", readFailure<WException>},
      {"OpHandle without source", "0a0004" "0000000000000001" "00", readFailure<OpHandle>},
  };
  for (const Case& c : cases) {
    uint32_t left = 12345;
    EXPECT_EQ(TProtocolException::INVALID_DATA, c.read(c.hex, &left)) << c.what;
    EXPECT_EQ(0u, left) << c.what;
  }
}
// clang-format on

using Names = std::vector<std::pair<int, std::string>>;

Names namesOf(const std::map<int, const char*>& m) {
  Names out;
  for (const auto& kv : m) out.emplace_back(kv.first, kv.second);
  return out;
}

TEST(IdlEnums, ValueToNameTables) {
  Names ecode;
  const char* ecodeNames[] = {
      "C_SUCCESS",      "C_FAIL",       "EXCEPTION",         "NULL_PTR",
      "INVALID_PARAM",  "INVALID_DATA", "INVALID_OPERATION", "NOT_FOUND",
      "OUT_RANGE",      "NOT_EXIST",    "ALREADY_EXIST",     "C_EMPTY",
      "UNSUPPORTED",    "UNLOADED",     "TIMEOUT",           "OVER_FLOW",
      "UNDER_FLOW",     "NOT_SERVE",    "NOT_PERMIT",        "NOT_ALLOW",
      "UNREADABLE",     "UNWRITABLE",   "WRONG_AUTH",        "NOT_CONNECTED",
      "BAD_CONNECTION", "LOW_MEM",      "LOW_DISK_SPACE",    "REACH_MAX",
      "NOT_OPENED",     "INVALID_HDR",  "NOT_FIT",           "NOT_MATCHED",
      "END_FILE",       "UNCHANGED",    "DUPLICATED",        "NO_CONNECTION",
      "OVER_LOAD",      "SVR_MOVED"};
  for (int i = 0; i < 38; ++i) ecode.emplace_back(i, ecodeNames[i]);
  EXPECT_EQ(38u, _ECode_VALUES_TO_NAMES.size());
  EXPECT_STREQ("REACH_MAX", _ECode_VALUES_TO_NAMES.at(27));

  struct Case {
    const char* what;
    const std::map<int, const char*>& map;
    Names want;
  } cases[] = {
      {"ECode", _ECode_VALUES_TO_NAMES, ecode},
      {"DataCommand",
       _DataCommand_VALUES_TO_NAMES,
       {{1, "ADD"}, {2, "UPDATE"}, {3, "ADD_OR_UDP"}, {4, "DELETE"}}},
      {"BitwiseCommand",
       _BitwiseCommand_VALUES_TO_NAMES,
       {{1, "C_SET"}, {2, "C_AND"}, {3, "C_OR"}, {4, "C_XOR"}, {5, "C_NOT"}}},
      {"HashMed",
       _HashMed_VALUES_TO_NAMES,
       {{0, "NOHASH"}, {1, "JENKINS"}, {2, "MURMUR"}, {3, "MURJENS"}}},
      {"CompressMed", _CompressMed_VALUES_TO_NAMES, {{0, "NOCOMP"}, {1, "SNAPPY"}, {2, "LZF"}}},
      {"PutPolicy", _PutPolicy_VALUES_TO_NAMES, {{1, "ADD"}, {2, "UPDATE"}, {3, "ADD_OR_UDP"}}},
      {"OpReason",
       _OpReason_VALUES_TO_NAMES,
       {{0, "CLI_REQ"},
        {1, "SVR_BK"},
        {2, "SVR_RS"},
        {3, "SVR_WU"},
        {4, "SVR_SYN"},
        {5, "SVR_REP"},
        {6, "PRX_FW"}}},
      {"LogLevel",
       _LogLevel_VALUES_TO_NAMES,
       {{0, "NOLOG"}, {1, "CRI"}, {2, "ERR"}, {3, "WRN"}, {4, "INF"}, {5, "DBG"}}},
      {"ProgLang", _ProgLang_VALUES_TO_NAMES, {{1, "CPP"}, {2, "JAVA"}, {3, "PHP"}, {4, "CSHARP"}}},
      {"TServiceState",
       _TServiceState_VALUES_TO_NAMES,
       {{0, "Begin"}, {1, "Initialized"}, {2, "Running"}, {3, "Stopped"}, {4, "Terminated"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, namesOf(c.map)) << c.what;
  EXPECT_EQ(0u, _ProgLang_VALUES_TO_NAMES.count(0));
}

TEST(IdlEnums, ConstantsInstancesExist) {
  const mopraConstants* a = &g_mopra_constants;
  const wservicebaseConstants* b = &g_wservicebase_constants;
  EXPECT_NE(nullptr, a);
  EXPECT_NE(nullptr, b);
}

}  // namespace
