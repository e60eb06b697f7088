#include "WFileTransport.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <thrift/protocol/TBinaryProtocol.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/tmpdir.h"

namespace {

using apache::thrift::transport::TTransport;
using apache::thrift::transport::TTransportException;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
typedef WFileTransport::Stat Stat;

const uint8_t* U(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

void putFile(const std::string& path, const std::string& bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
  ::close(fd);
}

// Counter deltas since the last mark.
struct Counters {
  explicit Counters(const WFileTransport& t) : t(t) { mark(); }
  void mark() { t.getStat(base); }
  Stat delta() const {
    Stat now;
    t.getStat(now);
    return Stat{now.readCount - base.readCount,   now.writeCount - base.writeCount,
                now.preadCount - base.preadCount, now.pwriteCount - base.pwriteCount,
                now.seekCount - base.seekCount,   now.syncCount - base.syncCount};
  }
  const WFileTransport& t;
  Stat base;
};

#define EXPECT_STAT(d, r, w, pr, pw, s, y) \
  do {                                     \
    Stat d_ = (d);                         \
    EXPECT_EQ(d_.readCount, r##u);         \
    EXPECT_EQ(d_.writeCount, w##u);        \
    EXPECT_EQ(d_.preadCount, pr##u);       \
    EXPECT_EQ(d_.pwriteCount, pw##u);      \
    EXPECT_EQ(d_.seekCount, s##u);         \
    EXPECT_EQ(d_.syncCount, y##u);         \
  } while (0)

class FileTransport : public ::testing::Test {
 protected:
  void TearDown() override { ASSERT_TRUE(tmp.removeAll()); }
  // Opens path for reading and writing, creating it, with the given capacities.
  void openRW(WFileTransport& t, uint32_t rcap, uint32_t wcap) {
    t.openPath(path.c_str(), true, true, O_CREAT, true);
    t.configBuffer(rcap, wcap, true);
  }
  TmpDir tmp{"wfiletransport"};
  std::string dir = tmp.path();
  std::string path = dir + "/data";
};

// Runs f and returns the exception's kind and text ("" when nothing is thrown).
struct Thrown {
  std::string kind;
  int type;
  std::string text;
};
Thrown thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const TTransportException& e) {
    return {"transport", int(e.getType()), e.what()};
  } catch (const WEOFException& e) {
    return {"eof", -1, e.what()};
  } catch (const std::exception& e) {
    return {"other", -1, e.what()};
  }
  return {"", -1, ""};
}

TEST_F(FileTransport, EveryFailureRaisesItsKindAndText) {
  putFile(path, "12345");
  putFile(dir + "/ro", "abc");
  const std::string missing = dir + "/no/such/file";
  uint8_t buf[16];
  WFileTransport closed;
  WFileTransport t;
  const int UNKNOWN = TTransportException::UNKNOWN, NOT_OPEN = TTransportException::NOT_OPEN,
            BAD_ARGS = TTransportException::BAD_ARGS;
  struct Case {
    const char* name;
    std::function<void()> f;
    std::string kind;
    int type;
    std::string text;
  } cases[] = {
      {"null path", [&] { t.openPath(nullptr, true, true, 0, true); }, "transport", UNKNOWN,
       "Path is null"},
      {"no access", [&] { t.openPath(path.c_str(), false, false, 0, true); }, "transport", UNKNOWN,
       "Neither READ nor WRITE specified"},
      {"open read-only fails", [&] { t.openPath(missing.c_str(), true, false, 0, true); },
       "transport", UNKNOWN,
       "Failed to open file \"" + missing + "\" for writing: No such file or directory"},
      {"read closed", [&] { closed.read(buf, 4); }, "transport", NOT_OPEN, "File is not opened"},
      {"readAll closed", [&] { closed.readAll(buf, 4); }, "transport", NOT_OPEN,
       "File is not opened"},
      {"readAt closed", [&] { closed.readAt(0, buf, 4); }, "transport", NOT_OPEN,
       "File is not opened"},
      {"write closed", [&] { closed.write(U("x"), 1); }, "transport", NOT_OPEN,
       "File is not opened"},
      {"writeAt closed", [&] { closed.writeAt(0, U("x"), 1); }, "transport", NOT_OPEN,
       "File is not opened"},
      {"read null", [&] { closed.read(nullptr, 4); }, "transport", BAD_ARGS, "Empty output buffer"},
      {"read 0", [&] { closed.read(buf, 0); }, "transport", BAD_ARGS, "Empty output buffer"},
      {"readAll 0", [&] { closed.readAll(buf, 0); }, "transport", BAD_ARGS, "Empty output buffer"},
      {"readAt null", [&] { closed.readAt(0, nullptr, 3); }, "transport", BAD_ARGS,
       "Empty output buffer"},
      {"consume unborrowed", [&] { closed.consume(1); }, "transport", UNKNOWN,
       "Please consume correctly"},
  };
  for (const Case& c : cases) {
    Thrown e = thrown(c.f);
    EXPECT_EQ(e.kind, c.kind) << c.name;
    EXPECT_EQ(e.type, c.type) << c.name;
    EXPECT_EQ(e.text, c.text) << c.name;
  }
  // Writes, reads and moves that the descriptor refuses carry the system's error text.
  WFileTransport ro, wo, pipeT;
  ro.openPath((dir + "/ro").c_str(), true, false, 0, true);
  wo.openPath(path.c_str(), false, true, 0, true);
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  pipeT.setFD(p[1], false);
  pipeT.write(U("x"), 1);
  struct SysCase {
    const char* name;
    std::function<void()> f;
    std::string text;
  } sys[] = {
      {"write", [&] { ro.write(U("x"), 1); }, "WFileTransport::writeFD(): Bad file descriptor"},
      {"writeAt", [&] { ro.writeAt(0, U("x"), 1); },
       "WFileTransport::writeFDAt(): Bad file descriptor"},
      {"read", [&] { wo.read(buf, 1); }, "WFileTransport::readFD(): Bad file descriptor"},
      {"readAt", [&] { wo.readAt(0, buf, 1); }, "WFileTransport::readFDAt(): Bad file descriptor"},
      {"seek", [&] { ro.seek(-1, SEEK_SET); }, "WFileTransport::seek(): Invalid argument"},
      {"truncate", [&] { ro.truncate(1); }, "WFileTransport::truncate(): Invalid argument"},
      {"sync", [&] { pipeT.flush(true); }, "WFileTransport::flush(): Invalid argument"},
  };
  for (const SysCase& c : sys) {
    Thrown e = thrown(c.f);
    EXPECT_EQ(e.kind, "transport") << c.name;
    EXPECT_EQ(e.type, UNKNOWN) << c.name;
    EXPECT_EQ(e.text, c.text) << c.name;
  }
  pipeT.setFD(-1, false);
  ::close(p[0]);
  ::close(p[1]);
}

TEST_F(FileTransport, EofExceptionTexts) {
  EXPECT_STREQ(WEOFException(nullptr).what(), "WEOFException");
  EXPECT_STREQ(WEOFException("").what(), "WEOFException");
  EXPECT_STREQ(WEOFException("No more data to read").what(), "No more data to read");
}

TEST_F(FileTransport, CloseFailureIsRaisedAndTheTransportIsClosedAllTheSame) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  WFileTransport t;
  t.setFD(fd, false);
  ::close(fd);
  Thrown e = thrown([&] { t.close(); });
  EXPECT_EQ(e.text, "WFileTransport::close(): Bad file descriptor");
  EXPECT_FALSE(t.isOpen());
  EXPECT_EQ(thrown([&] { t.close(); }).kind, "");  // a second close does nothing
}

TEST_F(FileTransport, FstatAndTellgFailuresPrintTheirLineAndAnswerZero) {
  WFileTransport t;
  EXPECT_EQ(t.fileSize(), 0u);
  EXPECT_EQ(t.tellg(), 0);
  t.setFD(987, false);  // not an open descriptor
  CaptureStdout();
  EXPECT_EQ(t.fileSize(), 0u);
  EXPECT_EQ(t.tellg(), 0);
  std::fflush(stdout);
  EXPECT_EQ(GetCapturedStdout(),
            "Failed fstat: Bad file descriptor\nFailed tellg: Bad file descriptor\n");
  t.setFD(-1, false);
}

// Every capacity pair against a model of the file: what was written is read back at its
// position whatever the buffering, through reads, positioned reads and writes, seeks,
// truncation and borrowing, with read-ahead and pending bytes mixed freely.
TEST_F(FileTransport, MixedOperationsMatchAPlainFile) {
  const uint32_t caps[] = {0, 16, 65536};
  for (uint32_t rcap : caps) {
    for (uint32_t wcap : caps) {
      SCOPED_TRACE("read capacity " + std::to_string(rcap) + ", write capacity " +
                   std::to_string(wcap));
      ::unlink(path.c_str());
      std::string model;
      uint64_t pos = 0;
      WFileTransport t;
      openRW(t, rcap, wcap);
      std::mt19937 rng(rcap * 7 + wcap + 1);
      auto pick = [&](uint64_t n) { return n ? uint64_t(rng() % n) : 0; };
      auto bytes = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s) c = char('a' + rng() % 26);
        return s;
      };
      auto place = [&](uint64_t at, const std::string& s) {
        if (model.size() < at + s.size()) model.resize(at + s.size(), '\0');
        model.replace(at, s.size(), s);
      };
      const size_t sizes[] = {1, 3, 15, 16, 17, 100, 5000, 70000};
      for (int step = 0; step < 1000 && !HasFailure(); ++step) {
        const size_t len = sizes[pick(8)];
        switch (pick(9)) {
          case 0:
          case 1: {
            std::string s = bytes(len);
            t.write(U(s.c_str()), uint32_t(len));
            place(pos, s);
            pos += len;
            break;
          }
          case 2: {
            size_t n = std::min<uint64_t>(len, model.size() - pos);
            if (pick(2)) {
              // A plain read: short only at the end; end of data there with a read buffer.
              std::string got(len, '\0');
              Thrown e = thrown(
                  [&] { got.resize(t.read(reinterpret_cast<uint8_t*>(&got[0]), uint32_t(len))); });
              if (n == 0 && rcap >= len) {
                EXPECT_EQ(e.text, "No more data to read");
                break;
              }
              EXPECT_EQ(e.text, "");
              EXPECT_EQ(got, model.substr(pos, n));
              pos += n;
              break;
            }
            if (n == 0) break;
            std::string got(n, '\0');
            EXPECT_EQ(t.readAll(reinterpret_cast<uint8_t*>(&got[0]), uint32_t(n)), n);
            EXPECT_EQ(got, model.substr(pos, n));
            pos += n;
            break;
          }
          case 3: {
            uint64_t at = pick(model.size() + 1);
            std::string s = bytes(len);
            t.writeAt(at, U(s.c_str()), uint32_t(len));
            place(at, s);
            break;
          }
          case 4: {
            uint64_t at = pick(model.size() + 1);
            std::string got(len, '\0');
            uint32_t n = t.readAt(at, reinterpret_cast<uint8_t*>(&got[0]), uint32_t(len));
            got.resize(n);
            EXPECT_EQ(got, model.substr(at, len));
            break;
          }
          case 5: {
            int whence = int(pick(3));
            int64_t to = int64_t(pick(model.size() + 1));
            int64_t off = whence == SEEK_SET   ? to
                          : whence == SEEK_CUR ? to - int64_t(pos)
                                               : to - int64_t(model.size());
            EXPECT_EQ(t.seek(off, whence), to);
            pos = uint64_t(to);
            break;
          }
          case 6: {
            if (pick(4)) break;
            uint64_t to = pick(model.size() + 20);
            t.truncate(to);
            model.resize(to, '\0');
            if (pos > to) {  // no holes: a hole is not "written"
              EXPECT_EQ(t.seek(int64_t(to), SEEK_SET), int64_t(to));
              pos = to;
            }
            break;
          }
          case 7: {
            // Now and then more than is left: no borrow then.
            uint32_t want = uint32_t(pick(4) ? std::min<uint64_t>(len, model.size() - pos) : len);
            if (want == 0) break;  // nothing left to borrow
            uint32_t n = want;
            const uint8_t* b = t.borrow(nullptr, &n);
            if (rcap == 0 || want > rcap || want > model.size() - pos) {
              EXPECT_EQ(b, nullptr);
              break;
            }
            ASSERT_NE(b, nullptr);
            ASSERT_GE(n, want);
            ASSERT_LE(pos + n, model.size());
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), n), model.substr(pos, n));
            uint32_t k = uint32_t(pick(n + 1));
            t.consume(k);
            pos += k;
            break;
          }
          case 8: t.flush(pick(8) == 0); break;
        }
        if (step % 16 == 0) {
          EXPECT_EQ(uint64_t(t.tellg()), pos);
        }
      }
      t.flush(false);
      EXPECT_EQ(readWholeFile(path), model);
      EXPECT_EQ(t.fileSize(), model.size());
      t.close();
    }
  }
}

TEST_F(FileTransport, WriteThenReadBackAtEachCapacity) {
  const uint32_t caps[] = {0, 16, 65536};
  for (uint32_t cap : caps) {
    SCOPED_TRACE(cap);
    ::unlink(path.c_str());
    std::string all;
    std::mt19937 rng(cap + 3);
    {
      WFileTransport t;
      openRW(t, cap, cap);
      for (int i = 0; i < 400; ++i) {
        std::string rec(1 + rng() % (i % 50 == 0 ? 100000 : 300), char('A' + i % 26));
        t.write(U(rec.c_str()), uint32_t(rec.size()));
        all += rec;
      }
      t.seek(0, SEEK_SET);
      std::string got;
      while (got.size() < all.size()) {
        uint32_t n = uint32_t(std::min<size_t>(1 + rng() % 5000, all.size() - got.size()));
        std::string chunk(n, '\0');
        t.readAll(reinterpret_cast<uint8_t*>(&chunk[0]), n);
        got += chunk;
      }
      EXPECT_TRUE(got == all);
      t.close();
    }
    EXPECT_TRUE(readWholeFile(path) == all);
  }
}

TEST_F(FileTransport, UnbufferedReadsAreShortAtTheEnd) {
  putFile(path, std::string(100, 'x'));
  WFileTransport t;
  t.openPath(path.c_str(), true, false, 0, true);
  Counters c(t);
  uint8_t buf[100];
  EXPECT_EQ(t.seek(60, SEEK_SET), 60);
  EXPECT_EQ(t.read(buf, 100), 40u);
  EXPECT_EQ(t.read(buf, 100), 0u);
  EXPECT_STAT(c.delta(), 2, 0, 0, 0, 1, 0);
  EXPECT_EQ(t.seek(-3, SEEK_END), 97);
}

// Up to the capacity a read is whole, short only where the file ends (whatever is left, at
// least a byte), and end of data once nothing is left.
TEST_F(FileTransport, BufferedReadIsShortOnlyAtTheEndOfTheFile) {
  putFile(path, "abcde");
  WFileTransport t;
  t.openPath(path.c_str(), true, false, 0, true);
  t.configBuffer(16, 0, true);
  Counters c(t);
  uint8_t buf[8];
  EXPECT_EQ(t.read(buf, 8), 5u);  // the fill, and one more read that finds the end
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "abcde");
  EXPECT_STAT(c.delta(), 2, 0, 0, 0, 0, 0);
  Thrown e = thrown([&] { t.read(buf, 1); });
  EXPECT_EQ(e.kind, "eof");
  EXPECT_EQ(e.text, "No more data to read");
  EXPECT_EQ(thrown([&] { t.read(buf, 8); }).text, "No more data to read");
  t.seek(0, SEEK_SET);
  EXPECT_EQ(thrown([&] { t.readAll(buf, 8); }).text, "No more data to read");
  t.seek(0, SEEK_SET);
  EXPECT_EQ(t.readAll(buf, 5), 5u);

  // Bytes left in the buffer and the file's last byte after them.
  t.configBuffer(4, 0, true);
  t.seek(0, SEEK_SET);
  EXPECT_EQ(t.read(buf, 3), 3u);
  c.mark();
  EXPECT_EQ(t.read(buf, 3), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "de");
  EXPECT_STAT(c.delta(), 1, 0, 0, 0, 0, 0);
  EXPECT_EQ(thrown([&] { t.read(buf, 3); }).text, "No more data to read");
}

TEST_F(FileTransport, ReadAboveTheCapacityTakesTheBufferedBytesAndOneDirectRead) {
  putFile(path, "0123456789abcdefghij");
  WFileTransport t;
  t.openPath(path.c_str(), true, false, 0, true);
  t.configBuffer(4, 0, true);
  Counters c(t);
  uint8_t buf[32];
  EXPECT_EQ(t.read(buf, 2), 2u);  // fills 4, hands out 2
  EXPECT_EQ(t.read(buf, 10), 10u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 10), "23456789ab");
  EXPECT_EQ(t.read(buf, 30), 8u);
  EXPECT_STAT(c.delta(), 3, 0, 0, 0, 0, 0);
}

TEST_F(FileTransport, WriteBufferFillsWritesOutAndGoesDirect) {
  WFileTransport t;
  openRW(t, 0, 8);
  Counters c(t);
  t.write(U("abc"), 3);
  t.write(U("defgh"), 5);
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(t.fileSize(), 0u);
  t.write(U("i"), 1);  // the 8 first
  EXPECT_STAT(c.delta(), 0, 1, 0, 0, 0, 0);
  EXPECT_EQ(readWholeFile(path), "abcdefgh");
  t.flush(false);
  c.mark();
  t.write(U("ABCDEFGH"), 8);  // exactly the capacity: direct
  EXPECT_STAT(c.delta(), 0, 1, 0, 0, 0, 0);
  c.mark();
  t.write(U("xyz"), 3);
  t.write(U("123456789"), 9);  // pending first, then the 9 directly
  EXPECT_STAT(c.delta(), 0, 2, 0, 0, 0, 0);
  EXPECT_EQ(readWholeFile(path), "abcdefghiABCDEFGHxyz123456789");
  t.write(nullptr, 5);
  t.write(U("x"), 0);
  t.writeAt(0, U("x"), 0);
  EXPECT_EQ(readWholeFile(path), "abcdefghiABCDEFGHxyz123456789");
}

TEST_F(FileTransport, PrepareWriteMakesRoom) {
  WFileTransport t;
  openRW(t, 0, 0);
  EXPECT_FALSE(t.prepareWrite(1));
  t.configBuffer(0, 8, true);
  EXPECT_FALSE(t.prepareWrite(9));
  t.write(U("abcde"), 5);
  Counters c(t);
  EXPECT_TRUE(t.prepareWrite(3));
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 0, 0);
  EXPECT_TRUE(t.prepareWrite(4));
  EXPECT_STAT(c.delta(), 0, 1, 0, 0, 0, 0);
  EXPECT_EQ(readWholeFile(path), "abcde");
}

TEST_F(FileTransport, PositionedAccessSeesPendingBytes) {
  putFile(path, "AAAAAAAAAA");
  WFileTransport t;
  openRW(t, 0, 16);
  t.seek(0, SEEK_END);
  t.write(U("BBBB"), 4);  // pending at [10, 14)
  Counters c(t);
  uint8_t buf[16];
  // Inside: answered from the buffer, nothing reaches the file.
  EXPECT_EQ(t.readAt(11, buf, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "BB");
  t.writeAt(12, U("b"), 1);
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 0, 0);
  EXPECT_EQ(readWholeFile(path), "AAAAAAAAAA");
  // Starting inside, ending past them: buffer, then the file after them.
  EXPECT_EQ(t.readAt(12, buf, 8), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "bB");
  // Starting before them and overlapping: they are written out first.
  EXPECT_EQ(t.readAt(8, buf, 4), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "AABB");
  EXPECT_EQ(readWholeFile(path), "AAAAAAAAAABBbB");

  t.write(U("CCCC"), 4);        // pending at [14, 18)
  t.writeAt(12, U("dddd"), 4);  // before and into them
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), "AAAAAAAAAABBddddCC");

  // A patch running past the pending bytes must not move where the next write lands.
  t.write(U("EE"), 2);  // pending at [18, 20)
  t.writeAt(19, U("fff"), 3);
  t.write(U("G"), 1);
  EXPECT_EQ(t.tellg(), 21);
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), "AAAAAAAAAABBddddCCEfGf");
}

TEST_F(FileTransport, SeekAndTruncateWritePendingBytesAtTheirPlaceFirst) {
  WFileTransport t;
  openRW(t, 0, 64);
  t.write(U("XYZ"), 3);
  Counters c(t);
  EXPECT_EQ(t.seek(6, SEEK_SET), 6);
  EXPECT_STAT(c.delta(), 0, 1, 0, 0, 1, 0);
  t.write(U("Q"), 1);
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), std::string("XYZ\0\0\0Q", 7));

  t.write(U("0123456789"), 10);  // pending at [7, 17)
  t.truncate(9);
  EXPECT_EQ(readWholeFile(path), std::string("XYZ\0\0\0Q01", 9));
  EXPECT_EQ(t.tellg(), 17);
  t.write(U("!"), 1);
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), std::string("XYZ\0\0\0Q01\0\0\0\0\0\0\0\0!", 18));
}

TEST_F(FileTransport, WritesLandAtTheReadersPositionAndReadsSeePendingBytes) {
  std::string content;
  for (int i = 0; i < 100; ++i) content += char('0' + i % 10);
  const uint32_t caps[] = {0, 16, 65536};
  for (uint32_t wcap : caps) {
    SCOPED_TRACE(wcap);
    putFile(path, content);
    WFileTransport t;
    openRW(t, 64, wcap);
    uint8_t buf[8];
    EXPECT_EQ(t.read(buf, 5), 5u);  // read-ahead holds 64 bytes
    t.write(U("ZZ"), 2);            // lands at 5
    EXPECT_EQ(t.tellg(), 7);
    EXPECT_EQ(t.read(buf, 3), 3u);  // sees the file after the written bytes
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "789");
    t.write(U("YY"), 2);
    t.flush(false);
    std::string want = content;
    want.replace(5, 2, "ZZ");
    want.replace(10, 2, "YY");
    EXPECT_EQ(readWholeFile(path), want);
    // Unconsumed read-ahead given back by a capacity change stays readable.
    t.seek(20, SEEK_SET);
    EXPECT_EQ(t.read(buf, 2), 2u);
    t.configBuffer(0, wcap, true);
    EXPECT_EQ(t.read(buf, 2), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "23");
  }
}

TEST_F(FileTransport, BorrowAndConsume) {
  putFile(path, "0123456789");
  WFileTransport t;
  uint32_t n = 4;
  EXPECT_EQ(t.borrow(nullptr, &n), nullptr);  // closed
  t.openPath(path.c_str(), true, false, 0, true);
  EXPECT_EQ(t.borrow(nullptr, &n), nullptr);  // unbuffered
  t.configBuffer(8, 0, true);
  EXPECT_EQ(t.borrow(nullptr, nullptr), nullptr);
  n = 9;
  EXPECT_EQ(t.borrow(nullptr, &n), nullptr);  // above the capacity
  uint8_t copy[4] = {0};
  n = 4;
  const uint8_t* b = t.borrow(copy, &n);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 8), "01234567");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy), 4), "0123");
  t.consume(2);
  // 2 + (2^32 - 1) wraps to 1 in 32 bits: still more than the 6 bytes borrowed.
  EXPECT_EQ(thrown([&] { t.consume(UINT32_MAX); }).text, "Please consume correctly");
  EXPECT_EQ(thrown([&] { t.consume(7); }).text, "Please consume correctly");
  n = 7;  // more than the 6 left: compacted and refilled
  b = t.borrow(nullptr, &n);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), 8), "23456789");
  t.consume(8);
  n = 1;
  EXPECT_EQ(thrown([&] { EXPECT_EQ(t.borrow(nullptr, &n), nullptr); }).text, "");  // at the end
  // Fewer left than asked for: null, and the bytes are still there to read.
  t.seek(7, SEEK_SET);
  n = 4;
  EXPECT_EQ(thrown([&] { EXPECT_EQ(t.borrow(copy, &n), nullptr); }).text, "");
  EXPECT_EQ(t.read(copy, 4), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(copy), 3), "789");
  // Through Thrift's interface.
  t.seek(0, SEEK_SET);
  TTransport& base = t;
  n = 3;
  b = base.borrow(nullptr, &n);
  ASSERT_NE(b, nullptr);
  base.consume(3);
  uint8_t buf[2];
  EXPECT_EQ(base.read(buf, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "34");
}

TEST_F(FileTransport, SyncedFlushIsOnTheFileForAnyReader) {
  WFileTransport t;
  openRW(t, 0, 4096);
  t.write(U("durable"), 7);
  Counters c(t);
  t.flush(true);
  EXPECT_STAT(c.delta(), 0, 1, 0, 0, 0, 1);
  int fd = ::open(path.c_str(), O_RDONLY);
  char buf[16];
  EXPECT_EQ(::pread(fd, buf, sizeof(buf), 0), 7);
  EXPECT_EQ(std::string(buf, 7), "durable");
  ::close(fd);
  c.mark();
  t.flush(true);  // nothing pending: the sync alone
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 0, 1);
}

TEST_F(FileTransport, DestructorWritesOutWhateverTheClosePolicy) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
  {
    WFileTransport t;  // policy 0: the descriptor stays the caller's
    t.setFD(fd, false);
    t.configBuffer(0, 64, true);
    t.write(U("kept"), 4);
  }
  EXPECT_EQ(readWholeFile(path), "kept");
  EXPECT_NE(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 4);
  {
    // Unconsumed read-ahead is given back: the descriptor stands after what was read.
    WFileTransport t;
    t.setFD(fd, false);
    t.seek(0, SEEK_SET);
    t.configBuffer(64, 0, true);
    uint8_t b[1];
    EXPECT_EQ(t.read(b, 1), 1u);
  }
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 1);
  ::lseek(fd, 0, SEEK_END);
  {
    WFileTransport t(1);
    t.setFD(fd, false);
    t.configBuffer(0, 64, true);
    t.write(U("+closed"), 7);
  }
  EXPECT_EQ(readWholeFile(path), "kept+closed");
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  {
    // A write-out that fails in the destructor ends there, not the process.
    int ro = ::open(path.c_str(), O_RDONLY);
    WFileTransport t(1);
    t.setFD(ro, false);
    t.configBuffer(0, 64, true);
    t.write(U("lost"), 4);
  }
  EXPECT_EQ(readWholeFile(path), "kept+closed");
}

TEST_F(FileTransport, CloseWritesOutAndFreesButKeepsCapacities) {
  WFileTransport t;
  openRW(t, 16, 16);
  t.write(U("abc"), 3);
  t.close();
  EXPECT_FALSE(t.isOpen());
  std::string p;
  t.getPath(p);
  EXPECT_EQ(p, "");
  EXPECT_EQ(readWholeFile(path), "abc");
  t.close();
  t.openPath(path.c_str(), true, true, 0, false);
  Counters c(t);
  t.write(U("d"), 1);  // buffered again
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 0, 0);
}

TEST_F(FileTransport, OpenPathSetFdDuplicateRename) {
  putFile(path, "0123456789");
  WFileTransport t;
  Counters c(t);
  t.openPath(path.c_str(), true, true, 0, false);
  EXPECT_STAT(c.delta(), 0, 0, 0, 0, 1, 0);
  EXPECT_TRUE(t.isOpen());
  std::string p;
  t.getPath(p);
  EXPECT_EQ(p, path);
  EXPECT_EQ(t.fileSize(), 10u);
  t.openPath(p.c_str(), true, false, 0, true);  // its own path, closing first
  t.getPath(p);
  EXPECT_EQ(p, path);

  WFileTransport other, empty;
  t.duplicate(other, true, false, 0, true);
  EXPECT_TRUE(other.isOpen());
  uint8_t buf[3];
  EXPECT_EQ(other.read(buf, 3), 3u);
  empty.duplicate(other, true, false, 0, true);  // empty path: nothing
  EXPECT_EQ(other.tellg(), 3);

  const std::string moved = dir + "/moved";
  EXPECT_TRUE(t.rename(path));
  EXPECT_FALSE(t.rename(dir + "/no/such"));
  t.getPath(p);
  EXPECT_EQ(p, path);
  EXPECT_TRUE(t.rename(moved));
  t.getPath(p);
  EXPECT_EQ(p, moved);
  EXPECT_EQ(readWholeFile(moved), "0123456789");

  // Opening without closing first: the old file is written out and closed once the new one
  // is open; reopening its own path is safe.
  {
    int old = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);  // path was moved away
    WFileTransport u;
    u.setFD(old, false);
    u.configBuffer(0, 64, true);
    u.seek(0, SEEK_END);
    u.write(U("!"), 1);
    u.openPath(moved.c_str(), true, false, 0, false);
    EXPECT_EQ(::fcntl(old, F_GETFD), -1);
    EXPECT_EQ(readWholeFile(path), "!");
    u.duplicate(u, true, false, 0, true);
    u.getPath(p);
    EXPECT_EQ(p, moved);
    EXPECT_EQ(u.read(buf, 3), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "012");
    u.close();
  }

  // setFD: empty path, the descriptor's own position as the offset.
  int fd = ::open(moved.c_str(), O_RDWR);
  ASSERT_EQ(::lseek(fd, 0, SEEK_END), 10);
  t.setFD(fd, true);
  t.getPath(p);
  EXPECT_EQ(p, "");
  t.configBuffer(0, 16, true);
  t.write(U("ab"), 2);
  EXPECT_EQ(t.readAt(10, buf, 2), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 2), "ab");
  EXPECT_EQ(t.tellg(), 12);
  // Leaving it without closing: it stays open and untouched, the pending bytes are dropped.
  t.setFD(-1, false);
  EXPECT_EQ(readWholeFile(moved), "0123456789");
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 10);
  ::close(fd);
}

// setFD without closeFirst never touches the previous descriptor: the caller may have closed
// it, and its number may name another file by now. Pending bytes and read-ahead are dropped,
// nothing is raised, and the new descriptor is attached.
TEST_F(FileTransport, SetFdWithoutClosingLeavesThePreviousDescriptorAlone) {
  const std::string other = dir + "/other";
  struct Case {
    const char* name;
    bool closeOld;   // the caller closes the previous descriptor before setFD
    bool reuse;      // ... and opens the new file, which gets the same number
    bool readAhead;  // read-ahead held instead of pending bytes
  } cases[] = {
      {"closed, number reused", true, true, false},
      {"closed, number reused, read-ahead", true, true, true},
      {"closed", true, false, false},
      {"still open", false, false, false},
      {"still open, read-ahead", false, false, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    putFile(path, "0123456789");
    putFile(other, "abcdefghij");
    WFileTransport t;
    int oldFd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(oldFd, 0);
    t.setFD(oldFd, false);
    t.configBuffer(k.readAhead ? 64 : 0, k.readAhead ? 0 : 64, true);
    uint8_t b[2];
    if (k.readAhead) {
      ASSERT_EQ(t.read(b, 1), 1u);  // 9 bytes of read-ahead left
    } else {
      ASSERT_EQ(t.seek(0, SEEK_END), 10);
      t.write(U("old"), 3);  // pending
    }
    int newFd = -1;
    if (k.closeOld && !k.reuse) newFd = ::open(other.c_str(), O_RDWR);
    if (k.closeOld) ::close(oldFd);
    if (newFd < 0) newFd = ::open(other.c_str(), O_RDWR);
    ASSERT_GE(newFd, 0);
    if (k.reuse) ASSERT_EQ(newFd, oldFd);
    ASSERT_EQ(::lseek(newFd, 6, SEEK_SET), 6);
    Counters c(t);
    EXPECT_EQ(thrown([&] { t.setFD(newFd, false); }).text, "");
    EXPECT_STAT(c.delta(), 0, 0, 0, 0, 1, 0);  // the new descriptor's position only
    EXPECT_TRUE(t.isOpen());
    EXPECT_EQ(t.tellg(), 6);
    EXPECT_EQ(readWholeFile(path), "0123456789");
    EXPECT_EQ(readWholeFile(other), "abcdefghij");
    if (!k.closeOld) EXPECT_EQ(::lseek(oldFd, 0, SEEK_CUR), 10);
    // The new descriptor is the transport's, from its own position.
    ASSERT_EQ(t.read(b, 2), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 2), "gh");
    t.write(U("new"), 3);
    t.flush(false);
    EXPECT_EQ(readWholeFile(other), "abcdefghnew");
    EXPECT_EQ(readWholeFile(path), "0123456789");
    t.setFD(-1, false);
    ::close(newFd);
    if (!k.closeOld) ::close(oldFd);
  }
}

TEST_F(FileTransport, ConfigAndReleaseBuffers) {
  WFileTransport t;
  openRW(t, 0, 16);
  t.write(U("abc"), 3);
  t.configBuffer(0, 32, true);  // written out
  EXPECT_EQ(readWholeFile(path), "abc");
  t.write(U("def"), 3);
  t.configBuffer(0, 8, false);  // dropped
  t.write(U("g"), 1);
  t.releaseWBuf();  // dropped
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), "abc");
}

// A failed write-out keeps only what did not reach the file; the rest goes out once.
TEST_F(FileTransport, FailedWriteOutDoesNotWriteBytesTwice) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*oldHandler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  WFileTransport t;
  openRW(t, 0, 64);
  std::string want = std::string(60, 'a') + std::string(30, 'b') + std::string(40, 'c');
  t.write(U(want.c_str()), 60);
  t.write(U(want.c_str() + 60), 30);
  t.write(U(want.c_str() + 90), 40);  // 60 + 30 on the file, 40 pending
  struct rlimit lim = saved;
  lim.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &lim), 0);
  Thrown e = thrown([&] { t.flush(false); });
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(e.text, "WFileTransport::writeFD(): File too large");
  EXPECT_EQ(t.tellg(), 130);
  t.flush(false);
  EXPECT_EQ(readWholeFile(path), want);
  ::signal(SIGXFSZ, oldHandler);
}

extern "C" void onSignal(int) {}

// Installs a handler without SA_RESTART, so that blocking calls fail with EINTR.
struct InterruptingSignal {
  InterruptingSignal() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = onSignal;
    ::sigaction(SIGUSR1, &sa, &old);
  }
  ~InterruptingSignal() { ::sigaction(SIGUSR1, &old, nullptr); }
  struct sigaction old;
};

// Signals thread until counter(stat) reaches target.
void interruptUntil(pthread_t thread, const WFileTransport& t, uint64_t (*counter)(const Stat&),
                    uint64_t target) {
  for (int i = 0; i < 20000; ++i) {
    Stat s;
    t.getStat(s);
    if (counter(s) >= target) return;
    ::pthread_kill(thread, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

TEST_F(FileTransport, InterruptedWriteIsRetried) {
  InterruptingSignal sig;
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ASSERT_EQ(::fcntl(p[1], F_SETFL, O_NONBLOCK), 0);
  char fill[4096] = {0};
  size_t filled = 0;
  ssize_t n;
  while ((n = ::write(p[1], fill, sizeof(fill))) > 0) filled += size_t(n);
  ASSERT_EQ(::fcntl(p[1], F_SETFL, 0), 0);
  WFileTransport t;
  t.setFD(p[1], false);
  std::string failure = "none";
  std::thread writer([&] { failure = thrown([&] { t.write(U("!"), 1); }).text; });
  interruptUntil(
      writer.native_handle(), t, [](const Stat& s) { return s.writeCount; }, 2);
  std::vector<char> drain(filled + 1);
  size_t got = 0;
  while (got < filled + 1) got += size_t(::read(p[0], drain.data() + got, drain.size() - got));
  writer.join();
  EXPECT_EQ(failure, "");
  EXPECT_EQ(drain.back(), '!');
  Stat s;
  t.getStat(s);
  EXPECT_GE(s.writeCount, 2u);
  t.setFD(-1, false);
  ::close(p[0]);
  ::close(p[1]);
}

TEST_F(FileTransport, InterruptedReadIsRetriedFiveTimes) {
  InterruptingSignal sig;
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  WFileTransport t;
  t.setFD(p[0], false);
  std::string failure;
  std::thread reader([&] {
    uint8_t b;
    failure = thrown([&] { t.read(&b, 1); }).text;
  });
  interruptUntil(
      reader.native_handle(), t, [](const Stat& s) { return s.readCount; }, 6);
  reader.join();
  EXPECT_EQ(failure, "WFileTransport::readFD(): Interrupted system call");
  Stat s;
  t.getStat(s);
  EXPECT_EQ(s.readCount, 6u);
  t.setFD(-1, false);
  ::close(p[0]);
  ::close(p[1]);
}

// Thrift callers see an open transport and lose nothing through the base class's flush.
TEST_F(FileTransport, ThriftProtocolRoundTrip) {
  auto t = std::make_shared<WFileTransport>();
  std::shared_ptr<TTransport> base = t;
  EXPECT_FALSE(base->isOpen());
  openRW(*t, 4096, 4096);
  EXPECT_TRUE(base->isOpen());
  base->open();
  {
    apache::thrift::protocol::TBinaryProtocol proto(base);
    proto.writeI32(42);
    proto.writeString(std::string("over a file"));
    base->flush();
  }
  EXPECT_EQ(readWholeFile(path).size(), 4u + 4u + 11u);
  t->seek(0, SEEK_SET);
  {
    apache::thrift::protocol::TBinaryProtocol proto(base);
    int32_t i = 0;
    std::string s;
    proto.readI32(i);
    proto.readString(s);
    EXPECT_EQ(i, 42);
    EXPECT_EQ(s, "over a file");
  }
  base->close();
  EXPECT_FALSE(base->isOpen());
}

}  // namespace
