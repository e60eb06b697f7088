// The meta records' exact bytes: the Thrift binary "DBEntry" struct and the 4-byte counters.
#include <string>
#include <thrift/protocol/TBinaryProtocol.h>
#include <vector>

#include <gtest/gtest.h>

#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_ContMKCStg_priv.h"
#include "tests/storage-contiguous/cont_test_util.h"

using conttest::ss;
using conttest::xs;

namespace {

const std::string kPath = "/d/x-0.kch";
const std::string kEntry = std::string("\x0B\x00\x01\x00\x00\x00\x0A", 7) + kPath +
                           std::string("\x0B\x00\x02\x00\x00\x00\x02", 7) + "ab" +
                           std::string("\x00", 1);

TEST(ContMeta, SerializerWritesTheThriftStructBytes) {
  std::shared_ptr<wdb::SKV_KCStg> db = std::make_shared<wdb::SKV_KCStg>();
  db->setDBPath(xs(kPath));
  wdb::SKV_ContMKCStg::DBEntry entry(db, 7, "ab");
  wdb::TSerializer<wdb::SKV_ContMKCStg::DBEntry, apache::thrift::protocol::TBinaryProtocol> ser;
  EXPECT_EQ(27u, ser.serialize(entry));
  EXPECT_EQ(kEntry, ss(ser.bytes()));
  EXPECT_EQ(kEntry, ss(wdb::encodeMetaEntry(xs(kPath), "ab")));
}

TEST(ContMeta, EntryIs15PlusPathPlusKeyMinAndRoundTrips) {
  const std::string binaryKey("\x00\xFFk\x80", 4);
  struct Case {
    std::string path;
    std::string keyMin;
  } cases[] = {{kPath, ""}, {kPath, binaryKey}, {"", "zz"}, {std::string(300, 'p'), "ab"}};
  for (const Case& c : cases) {
    const xstring bytes = wdb::encodeMetaEntry(xs(c.path), xs(c.keyMin));
    ASSERT_EQ(15 + c.path.size() + c.keyMin.size(), bytes.size());
    xstring path = "old", keyMin = "old";
    EXPECT_EQ(bytes.size(), wdb::decodeMetaEntry(bytes.data(), bytes.size(), &path, &keyMin));
    EXPECT_EQ(c.path, ss(path));
    EXPECT_EQ(c.keyMin, ss(keyMin));
  }
}

TEST(ContMeta, BadValuesFailToDecodeAndLeaveTheOutputs) {
  std::vector<std::string> bad;
  bad.push_back("");
  for (size_t n = 1; n < kEntry.size(); ++n) bad.push_back(kEntry.substr(0, n));  // cut short
  bad.push_back(std::string("\x0B\x00\x01\xFF\xFF\xFF\xFF", 7) + kPath);          // negative length
  bad.push_back(std::string("\x0B\x00\x01\x7F\xFF\xFF\xFF", 7));          // beyond the value
  bad.push_back(std::string("\x63\x00\x01\x00", 4));                      // unknown type
  bad.push_back(std::string("\x0F\x00\x03\x63\x00\x00\x00\x00\x00", 9));  // empty list of type 99
  bad.push_back(std::string("\x0D\x00\x03\x0B\x11\x00\x00\x00\x00\x00", 10));  // map to UTF-16
  std::string deep;
  for (int i = 0; i < 70; ++i) deep += std::string("\x0C\x00\x05", 3);  // nested too deep
  bad.push_back(deep + std::string(71, '\0'));
  for (const std::string& b : bad) {
    xstring path = "keep", keyMin = "keep";
    EXPECT_EQ(0u, wdb::decodeMetaEntry(b.data(), b.size(), &path, &keyMin)) << b.size();
    EXPECT_EQ("keep", ss(path));
    EXPECT_EQ("keep", ss(keyMin));
  }
}

TEST(ContMeta, ReaderSkipsUnknownFieldsAndKeepsMissingOnes) {
  // Field 3 (i32) and field 1 as an i32 are skipped; keyMin is read.
  const std::string withExtra = std::string("\x08\x00\x03\x00\x00\x00\x05", 7) +
                                std::string("\x08\x00\x01\x00\x00\x00\x01", 7) +
                                std::string("\x0B\x00\x02\x00\x00\x00\x02", 7) + "cd" +
                                std::string("\x00", 1);
  xstring path = "keep", keyMin = "keep";
  EXPECT_EQ(withExtra.size(),
            wdb::decodeMetaEntry(withExtra.data(), withExtra.size(), &path, &keyMin));
  EXPECT_EQ("keep", ss(path));
  EXPECT_EQ("cd", ss(keyMin));
  // The stop byte alone: a valid empty struct, nothing changes.
  const std::string stop("\x00", 1);
  EXPECT_EQ(1u, wdb::decodeMetaEntry(stop.data(), stop.size(), &path, &keyMin));
  EXPECT_EQ("keep", ss(path));
  EXPECT_EQ("cd", ss(keyMin));
}

TEST(ContMeta, CountersAreFourBytesInHostOrder) {
  EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), ss(wdb::encodeMetaU32(0x01020304u)));
  uint32_t v = 0;
  EXPECT_TRUE(wdb::decodeMetaU32(xstring("\x05\x00\x00\x00\x09", 5), &v));  // longer: 4 bytes
  EXPECT_EQ(5u, v);
  EXPECT_FALSE(wdb::decodeMetaU32(xstring("\x05\x00\x00", 3), &v));
  EXPECT_EQ(5u, v);
}

}  // namespace
