// WFileTransport under Thrift's own protocols and layers, against Thrift's file transports on
// the other side: every combination of protocol, layer, read capacity, direction, peer and
// record stream reads back exactly, to the end of the file, and the file WFileTransport
// writes is byte for byte the one Thrift's transport writes.
#include "WFileTransport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TCompactProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TFDTransport.h>
#include <thrift/transport/TSimpleFileTransport.h>

#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "tests/support/tmpdir.h"

namespace {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TCompactProtocol;
using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TType;
using apache::thrift::transport::TBufferedTransport;
using apache::thrift::transport::TFDTransport;
using apache::thrift::transport::TFramedTransport;
using apache::thrift::transport::TSimpleFileTransport;
using apache::thrift::transport::TTransport;
namespace pt = apache::thrift::protocol;

// One record: a fixed struct of every kind of field the stream needs.
struct Rec {
  int32_t i;
  int64_t l;
  double d;
  bool flag;
  std::string s;
  std::string bin;
  std::vector<std::string> list;
  std::map<int32_t, std::string> map;
  bool operator==(const Rec& o) const {
    return i == o.i && l == o.l && d == o.d && flag == o.flag && s == o.s && bin == o.bin &&
           list == o.list && map == o.map;
  }
};

void writeRec(TProtocol& p, const Rec& r) {
  p.writeStructBegin("Rec");
  p.writeFieldBegin("i", pt::T_I32, 1);
  p.writeI32(r.i);
  p.writeFieldEnd();
  p.writeFieldBegin("l", pt::T_I64, 2);
  p.writeI64(r.l);
  p.writeFieldEnd();
  p.writeFieldBegin("d", pt::T_DOUBLE, 3);
  p.writeDouble(r.d);
  p.writeFieldEnd();
  p.writeFieldBegin("flag", pt::T_BOOL, 4);
  p.writeBool(r.flag);
  p.writeFieldEnd();
  p.writeFieldBegin("s", pt::T_STRING, 5);
  p.writeString(r.s);
  p.writeFieldEnd();
  p.writeFieldBegin("bin", pt::T_STRING, 6);
  p.writeBinary(r.bin);
  p.writeFieldEnd();
  p.writeFieldBegin("list", pt::T_LIST, 7);
  p.writeListBegin(pt::T_STRING, uint32_t(r.list.size()));
  for (const std::string& e : r.list) p.writeString(e);
  p.writeListEnd();
  p.writeFieldEnd();
  p.writeFieldBegin("map", pt::T_MAP, 8);
  p.writeMapBegin(pt::T_I32, pt::T_STRING, uint32_t(r.map.size()));
  for (const auto& e : r.map) {
    p.writeI32(e.first);
    p.writeString(e.second);
  }
  p.writeMapEnd();
  p.writeFieldEnd();
  p.writeFieldStop();
  p.writeStructEnd();
}

void expectField(TProtocol& p, TType type, int16_t id) {
  std::string name;
  TType t;
  int16_t got;
  p.readFieldBegin(name, t, got);
  EXPECT_EQ(t, type);
  EXPECT_EQ(got, id);
}

Rec readRec(TProtocol& p) {
  Rec r;
  std::string name;
  p.readStructBegin(name);
  expectField(p, pt::T_I32, 1);
  p.readI32(r.i);
  p.readFieldEnd();
  expectField(p, pt::T_I64, 2);
  p.readI64(r.l);
  p.readFieldEnd();
  expectField(p, pt::T_DOUBLE, 3);
  p.readDouble(r.d);
  p.readFieldEnd();
  expectField(p, pt::T_BOOL, 4);
  p.readBool(r.flag);
  p.readFieldEnd();
  expectField(p, pt::T_STRING, 5);
  p.readString(r.s);
  p.readFieldEnd();
  expectField(p, pt::T_STRING, 6);
  p.readBinary(r.bin);
  p.readFieldEnd();
  expectField(p, pt::T_LIST, 7);
  TType et, kt, vt;
  uint32_t n;
  p.readListBegin(et, n);
  EXPECT_EQ(et, pt::T_STRING);
  r.list.resize(n);
  for (std::string& e : r.list) p.readString(e);
  p.readListEnd();
  p.readFieldEnd();
  expectField(p, pt::T_MAP, 8);
  p.readMapBegin(kt, vt, n);
  if (n) {  // the compact protocol writes no types for an empty map
    EXPECT_EQ(kt, pt::T_I32);
    EXPECT_EQ(vt, pt::T_STRING);
  }
  for (uint32_t k = 0; k < n; ++k) {
    int32_t key;
    p.readI32(key);
    p.readString(r.map[key]);
  }
  p.readMapEnd();
  p.readFieldEnd();
  expectField(p, pt::T_STOP, 0);
  p.readStructEnd();
  return r;
}

enum Proto { BINARY, COMPACT };
enum Layer { NONE, BUFFERED, FRAMED };
enum Direction { WFILE_WRITES, WFILE_READS };
enum Peer { SIMPLE_FILE, FD };
enum Shape { EMPTY_FILE, SMALL, EMPTIES, LARGE };

// Ends with short fields, so that the last varints of the file have fewer than 10 bytes
// after them.
std::vector<Rec> records(Shape shape) {
  std::vector<Rec> out;
  switch (shape) {
    case EMPTY_FILE: break;
    case SMALL:
      out.push_back({1, -1, 0.5, true, "a", std::string("\0\1", 2), {"x", "yz"}, {{-3, "q"}}});
      out.push_back({INT32_MIN, INT64_MIN, -1e300, false, "small", "", {}, {{INT32_MAX, "m"}}});
      out.push_back({INT32_MAX, INT64_MAX, 3.25, true, "end", "b", {""}, {{0, "ab"}}});
      break;
    case EMPTIES:
      out.push_back({0, 0, 0.0, false, "", "", {}, {}});
      out.push_back({0, 0, 0.0, true, "", "", {"", ""}, {{0, ""}}});
      out.push_back({0, 0, 0.0, false, "", "", {}, {}});
      break;
    case LARGE: {
      // String lengths around the capacities and Thrift's 512-byte buffer; a few beyond 64 KiB.
      const uint32_t lens[] = {0, 1, 9, 10, 11, 511, 512, 513, 4095, 4096, 4097, 15};
      for (int k = 0; k < 130; ++k) {
        Rec r;
        r.i = int32_t(k * 2654435761u);
        r.l = int64_t(uint64_t(k) * 0x9E3779B97F4A7C15ull);
        r.d = k * 1.5 - 40;
        r.flag = k % 3 == 0;
        uint32_t len = k % 60 == 11 ? 70000 : lens[k % 12];
        r.s.assign(len, char('a' + k % 26));
        r.bin.assign(lens[(k + 5) % 12], char(k));
        for (int e = 0; e < k % 20; ++e) r.list.push_back(std::string(size_t(e), char('A' + e)));
        for (int e = 0; e < k % 7; ++e) r.map[e * 1000 - k] = std::string(size_t(k % 5), 'v');
        out.push_back(r);
      }
      out.push_back({7, 7, 7.0, true, "", "", {}, {{1, "z"}}});
      break;
    }
  }
  return out;
}

std::shared_ptr<TTransport> layered(std::shared_ptr<TTransport> base, Layer layer) {
  switch (layer) {
    case BUFFERED: return std::make_shared<TBufferedTransport>(base);
    case FRAMED: return std::make_shared<TFramedTransport>(base);
    default: return base;
  }
}

std::shared_ptr<TProtocol> protocol(std::shared_ptr<TTransport> t, Proto proto) {
  if (proto == COMPACT) return std::make_shared<TCompactProtocol>(t);
  return std::make_shared<TBinaryProtocol>(t);
}

std::shared_ptr<TTransport> thriftFile(const std::string& path, Peer peer, bool write) {
  if (peer == SIMPLE_FILE) return std::make_shared<TSimpleFileTransport>(path, !write, write);
  int fd = write ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                 : ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  return std::make_shared<TFDTransport>(fd, TFDTransport::CLOSE_ON_DESTROY);
}

std::shared_ptr<TTransport> wfile(const std::string& path, uint32_t capacity, bool write) {
  auto t = std::make_shared<WFileTransport>();
  t->openPath(path.c_str(), !write, write, write ? O_CREAT | O_TRUNC : 0, true);
  t->configBuffer(capacity, capacity, true);
  return t;
}

// Writes the stream through layer and protocol, flushing every few records and at the end.
void writeStream(std::shared_ptr<TTransport> base, Layer layer, Proto proto,
                 const std::vector<Rec>& recs) {
  std::shared_ptr<TTransport> t = layered(base, layer);
  std::shared_ptr<TProtocol> p = protocol(t, proto);
  for (size_t k = 0; k < recs.size(); ++k) {
    writeRec(*p, recs[k]);
    if (k % 5 == 4) t->flush();
  }
  t->flush();
  t->close();
}

typedef std::tuple<Proto, Layer, uint32_t, Direction, Peer, Shape> Case;

class ThriftMatrix : public ::testing::TestWithParam<Case> {
 protected:
  TmpDir tmp{"wfiletransport-thrift"};
  std::string dir = tmp.path();
};

TEST_P(ThriftMatrix, ReadsBackExactlyToTheEndOfTheFile) {
  Proto proto;
  Layer layer;
  uint32_t capacity;
  Direction direction;
  Peer peer;
  Shape shape;
  std::tie(proto, layer, capacity, direction, peer, shape) = GetParam();
  const std::string path = dir + "/data";
  const std::vector<Rec> recs = records(shape);

  if (direction == WFILE_WRITES) {
    writeStream(wfile(path, capacity, true), layer, proto, recs);
    const std::string reference = dir + "/reference";
    writeStream(thriftFile(reference, peer, true), layer, proto, recs);
    ASSERT_TRUE(readWholeFile(path) == readWholeFile(reference));
  } else {
    writeStream(thriftFile(path, peer, true), layer, proto, recs);
  }
  const size_t size = readWholeFile(path).size();
  if (shape == EMPTY_FILE) {
    ASSERT_EQ(size, 0u);
  } else if (shape == LARGE) {
    ASSERT_GT(size, 3u * 65536);
  } else {
    ASSERT_LT(size, 512u);
  }

  std::shared_ptr<TTransport> base = direction == WFILE_WRITES ? thriftFile(path, peer, false)
                                                               : wfile(path, capacity, false);
  std::shared_ptr<TTransport> t = layered(base, layer);
  std::shared_ptr<TProtocol> p = protocol(t, proto);
  for (size_t k = 0; k < recs.size(); ++k) {
    try {
      Rec got = readRec(*p);
      ASSERT_TRUE(got == recs[k]) << "record " << k;
    } catch (const std::exception& e) {
      FAIL() << "record " << k << " of " << recs.size() << ": " << e.what();
    }
  }

  // The end of the file: the layer asks the file transport for `ask` bytes. Thrift's
  // transports, and WFileTransport without a read buffer of that size, answer 0;
  // WFileTransport with one raises its end-of-data exception.
  const uint32_t ask = layer == BUFFERED ? 512 : layer == FRAMED ? 4 : 1;
  const bool raises = direction == WFILE_READS && capacity != 0 && capacity >= ask;
  uint8_t byte;
  if (raises) {
    try {
      t->read(&byte, 1);
      ADD_FAILURE() << "no end of data reported";
    } catch (const WEOFException& e) {
      EXPECT_STREQ(e.what(), "No more data to read");
    }
  } else {
    EXPECT_EQ(t->read(&byte, 1), 0u);
  }
  t->close();
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
  static const char* protos[] = {"binary", "compact"};
  static const char* layers[] = {"plain", "buffered", "framed"};
  static const char* directions[] = {"WFileWrites", "WFileReads"};
  static const char* peers[] = {"SimpleFile", "FD"};
  static const char* shapes[] = {"emptyFile", "small", "empties", "large"};
  return std::string(protos[std::get<0>(info.param)]) + "_" + layers[std::get<1>(info.param)] +
         "_cap" + std::to_string(std::get<2>(info.param)) + "_" +
         directions[std::get<3>(info.param)] + "_" + peers[std::get<4>(info.param)] + "_" +
         shapes[std::get<5>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(AllCombinations, ThriftMatrix,
                         ::testing::Combine(::testing::Values(BINARY, COMPACT),
                                            ::testing::Values(NONE, BUFFERED, FRAMED),
                                            ::testing::Values(0u, 1u, 16u, 4096u, 65536u),
                                            ::testing::Values(WFILE_WRITES, WFILE_READS),
                                            ::testing::Values(SIMPLE_FILE, FD),
                                            ::testing::Values(EMPTY_FILE, SMALL, EMPTIES, LARGE)),
                         caseName);

}  // namespace
