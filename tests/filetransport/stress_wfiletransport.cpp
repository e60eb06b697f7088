// Concurrent writers on one WFileTransport: whole records only, nothing written to a
// descriptor after close, positioned reads consistent with concurrent buffered writes.
#include "WFileTransport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tmpdir.h"

namespace {

using apache::thrift::transport::TTransportException;

const uint32_t kMagic = 0x57465452;
const int kThreads = 4;

// Record: magic, writer, sequence, body length, body (a pattern of writer and sequence).
std::string makeRecord(uint32_t writer, uint32_t seq, uint32_t bodyLen) {
  std::string r(16 + bodyLen, '\0');
  uint32_t head[4] = {kMagic, writer, seq, bodyLen};
  std::memcpy(&r[0], head, sizeof(head));
  for (uint32_t i = 0; i < bodyLen; ++i) r[16 + i] = char((writer * 131 + seq * 7 + i) & 0xff);
  return r;
}

// Checks that bytes hold whole records only; counts them per writer, in sequence order.
void checkRecords(const std::string& bytes, std::vector<uint32_t>& perWriter) {
  size_t at = 0;
  while (at < bytes.size()) {
    ASSERT_LE(at + 16, bytes.size()) << "cut record at " << at;
    uint32_t head[4];
    std::memcpy(head, bytes.data() + at, sizeof(head));
    ASSERT_EQ(head[0], kMagic) << "interleaved at " << at;
    ASSERT_LT(head[1], perWriter.size());
    ASSERT_EQ(head[2], perWriter[head[1]]) << "writer " << head[1];
    ASSERT_LE(at + 16 + head[3], bytes.size());
    ASSERT_TRUE(bytes.compare(at, 16 + head[3], makeRecord(head[1], head[2], head[3])) == 0)
        << "interleaved record at " << at;
    ++perWriter[head[1]];
    at += 16 + head[3];
  }
}

class FileTransportStress : public ::testing::TestWithParam<uint32_t> {
 protected:
  void TearDown() override { ASSERT_TRUE(tmp.removeAll()); }
  TmpDir tmp{"wfiletransport-stress"};
  std::string dir = tmp.path();
  std::string path = dir + "/data";
};

// Record sizes around and above the write capacity, so that buffered and direct writes mix.
TEST_P(FileTransportStress, WholeRecordsFromFourWriters) {
  const uint32_t capacity = GetParam();
  const uint32_t perThread = 400;
  WFileTransport t;
  t.openPath(path.c_str(), true, true, O_CREAT | O_TRUNC, true);
  t.configBuffer(0, capacity, true);
  std::vector<std::thread> threads;
  for (int w = 0; w < kThreads; ++w) {
    threads.emplace_back([&t, w, perThread] {
      for (uint32_t s = 0; s < perThread; ++s) {
        std::string r = makeRecord(uint32_t(w), s, (s * 977 + uint32_t(w) * 31) % 9000);
        t.write(reinterpret_cast<const uint8_t*>(r.data()), uint32_t(r.size()));
        if (s % 97 == 0) t.flush(false);
      }
    });
  }
  for (auto& th : threads) th.join();
  t.close();
  std::vector<uint32_t> counts(kThreads, 0);
  checkRecords(readWholeFile(path), counts);
  for (int w = 0; w < kThreads; ++w) EXPECT_EQ(counts[w], perThread) << "writer " << w;
}

// A pipe splits large writes; records must still not interleave.
TEST_P(FileTransportStress, WholeRecordsThroughAPipe) {
  const uint32_t capacity = GetParam();
  const uint32_t perThread = 12;
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  std::string received;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = ::read(p[0], buf, sizeof(buf))) > 0) received.append(buf, size_t(n));
  });
  {
    WFileTransport t;
    t.setFD(p[1], false);
    t.configBuffer(0, capacity, true);
    std::vector<std::thread> threads;
    for (int w = 0; w < kThreads; ++w) {
      threads.emplace_back([&t, w, perThread] {
        for (uint32_t s = 0; s < perThread; ++s) {
          std::string r = makeRecord(uint32_t(w), s, 100000 + s * 1000);
          t.write(reinterpret_cast<const uint8_t*>(r.data()), uint32_t(r.size()));
        }
      });
    }
    for (auto& th : threads) th.join();
    t.flush(false);
    t.setFD(-1, false);
  }
  ::close(p[1]);
  reader.join();
  ::close(p[0]);
  std::vector<uint32_t> counts(kThreads, 0);
  checkRecords(received, counts);
  for (int w = 0; w < kThreads; ++w) EXPECT_EQ(counts[w], perThread) << "writer " << w;
}

// close runs while four writers write: after it no write reaches the descriptor number,
// which the next open reuses, and the file holds whole records.
TEST_P(FileTransportStress, CloseWhileWriting) {
  const uint32_t capacity = GetParam();
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    ::unlink(path.c_str());
    WFileTransport t;
    t.openPath(path.c_str(), false, true, O_CREAT, true);
    t.configBuffer(0, capacity, true);
    std::atomic<uint32_t> written(0);
    std::atomic<int> failures(0);
    std::vector<std::thread> threads;
    for (int w = 0; w < kThreads; ++w) {
      threads.emplace_back([&, w] {
        for (uint32_t s = 0;; ++s) {
          std::string r = makeRecord(uint32_t(w), s, 100 + (s % 3) * 3000);
          try {
            t.write(reinterpret_cast<const uint8_t*>(r.data()), uint32_t(r.size()));
          } catch (const TTransportException& e) {
            if (e.getType() != TTransportException::NOT_OPEN) failures.fetch_add(1);
            return;
          }
          written.fetch_add(1);
        }
      });
    }
    while (written.load() < 200) std::this_thread::yield();
    t.close();
    const std::string other = dir + "/other";
    int fd = ::open(other.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), 0) << "a write reached a closed descriptor";
    ::close(fd);
    std::vector<uint32_t> counts(kThreads, 0);
    checkRecords(readWholeFile(path), counts);
    uint32_t total = 0;
    for (uint32_t c : counts) total += c;
    EXPECT_GE(total, 200u);
  }
}

// One writer appends fixed-size records while a reader reads published ones back at their
// offsets: each must come back whole, from the write buffer or the file.
TEST_P(FileTransportStress, PositionedReadsDuringBufferedWrites) {
  const uint32_t capacity = GetParam();
  const uint32_t records = 20000, size = 100;
  WFileTransport t;
  t.openPath(path.c_str(), true, true, O_CREAT | O_TRUNC, true);
  t.configBuffer(0, capacity, true);
  std::atomic<uint32_t> published(0);
  std::thread writer([&] {
    for (uint32_t s = 0; s < records; ++s) {
      std::string r = makeRecord(0, s, size - 16);
      if (s % 5 == 0) {
        t.writeAt(uint64_t(s) * size, reinterpret_cast<const uint8_t*>(r.data()), 16);
        t.write(reinterpret_cast<const uint8_t*>(r.data()), size);
      } else {
        t.write(reinterpret_cast<const uint8_t*>(r.data()), size);
      }
      published.store(s + 1);
    }
  });
  uint32_t mismatches = 0;
  uint32_t seed = 7;
  while (published.load() < records) {
    uint32_t n = published.load();
    if (n == 0) continue;
    seed = seed * 1103515245u + 12345u;
    uint32_t s = (seed >> 8) % n;
    uint8_t buf[100];
    uint32_t got = t.readAt(uint64_t(s) * size, buf, size);
    if (got != size || std::memcmp(buf, makeRecord(0, s, size - 16).data(), size) != 0) {
      ++mismatches;
    }
  }
  writer.join();
  EXPECT_EQ(mismatches, 0u);
  t.close();
}

INSTANTIATE_TEST_SUITE_P(Capacities, FileTransportStress, ::testing::Values(0u, 4096u, 65536u));

}  // namespace
