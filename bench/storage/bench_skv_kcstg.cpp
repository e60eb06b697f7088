// Throughput of wdb::SKV_KCStg against raw kyotocabinet::PolyDB on the same file and keys
// in the same run (put with ADD, get, pop), plain and compressed, and of the raw snappy and
// LZF codecs on the same values.
//
// Usage: bench_skv_kcstg [records=200000] [directory=/tmp]
#include <kcpolydb.h>
#include <lzf.h>
#include <snappy-c.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "src/wdb/kc/SKV_KCStg.h"

namespace {

struct Data {
  std::vector<std::string> keys;
  std::vector<std::string> values;
};

Data makeData(size_t n) {
  Data d;
  d.keys.reserve(n);
  d.values.reserve(n);
  char buf[32];
  unsigned x = 2463534242u;
  const char* words[] = {"alpha ", "beta ", "gamma ", "delta ", "store ", "value "};
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof(buf), "key%010zu", (i * 2654435761u) % (n * 10));
    d.keys.push_back(buf);
    std::string v;
    while (v.size() < 100) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      v += words[x % 6];
    }
    v.resize(100);
    d.values.push_back(v);
  }
  return d;
}

// Seconds spent per phase.
struct Times {
  double put = 0, get = 0, pop = 0;
};

volatile size_t g_sink = 0;

// The two contenders behind one face: raw Kyoto Cabinet and the store.
class Raw {
 public:
  bool open(const std::string& path, const std::string& tune) {
    return db_.open(path + tune, kyotocabinet::PolyDB::OWRITER | kyotocabinet::PolyDB::OCREATE |
                                     kyotocabinet::PolyDB::OTRUNCATE);
  }
  void close() { db_.close(); }
  void put(const std::string& k, const std::string& v) {
    db_.add(k.data(), k.size(), v.data(), v.size());
  }
  void get(const std::string& k) {
    size_t sp = 0;
    char* v = db_.get(k.data(), k.size(), &sp);
    g_sink += sp;
    delete[] v;
  }
  void pop(const std::string& k) {
    size_t sp = 0;
    char* v = db_.seize(k.data(), k.size(), &sp);
    g_sink += sp;
    delete[] v;
  }

 private:
  kyotocabinet::PolyDB db_;
};

class Store {
 public:
  bool open(const std::string& path, const std::string& tune) {
    s_.setDBPath(path.c_str());
    s_.setTuneOptions(tune.c_str());
    // The store's "[inf]" open line is not part of the report.
    std::fflush(stdout);
    const int saved = dup(1);
    const int devnull = ::open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    const int rc = s_.open(kyotocabinet::PolyDB::OWRITER | kyotocabinet::PolyDB::OCREATE |
                           kyotocabinet::PolyDB::OTRUNCATE);
    std::fflush(stdout);
    dup2(saved, 1);
    ::close(saved);
    ::close(devnull);
    return rc == 0;
  }
  void close() { s_.close(); }
  void put(const std::string& k, const std::string& v) {
    s_.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), 1);
  }
  void get(const std::string& k) {
    wdb::ValueBuffer v(s_);
    s_.getTx0(nullptr, v.out(), v.outLength(), k.data(), k.size());
    g_sink += v.length();
  }
  void pop(const std::string& k) {
    wdb::ValueBuffer v(s_);
    s_.popTx0(nullptr, v.out(), v.outLength(), k.data(), k.size());
    g_sink += v.length();
  }

 private:
  wdb::SKV_KCStg s_;
};

// One chunk of one phase, timed.
template <typename DB, typename Op>
double chunk(DB& db, const Data& d, size_t from, size_t to, Op op) {
  return bench::time_once([&] {
    for (size_t i = from; i < to; ++i) op(db, d, i);
  });
}

// Runs the three phases on both contenders in alternating chunks of keys, so that both see
// the same load of the machine; the files are swapped between rounds.
void compare(const std::string& fileA, const std::string& fileB, const std::string& rawTune,
             const std::string& storeTune, const Data& d, int rounds, Times* raw, Times* store) {
  const size_t n = d.keys.size();
  const size_t step = 5000;
  auto put = [](auto& db, const Data& dd, size_t i) { db.put(dd.keys[i], dd.values[i]); };
  auto get = [](auto& db, const Data& dd, size_t i) { db.get(dd.keys[i]); };
  auto pop = [](auto& db, const Data& dd, size_t i) { db.pop(dd.keys[i]); };
  for (int round = 0; round < rounds; ++round) {
    Raw r;
    Store s;
    const bool swap = round % 2 == 1;
    if (!r.open(swap ? fileB : fileA, rawTune) || !s.open(swap ? fileA : fileB, storeTune)) {
      std::fprintf(stderr, "open failed\n");
      std::exit(1);
    }
    for (int phase = 0; phase < 3; ++phase) {
      for (size_t from = 0; from < n; from += step) {
        const size_t to = std::min(n, from + step);
        const bool rawFirst = (from / step + round) % 2 == 0;
        double tr = 0, ts = 0;
        for (int k = 0; k < 2; ++k) {
          if ((k == 0) == rawFirst) {
            tr = phase == 0   ? chunk(r, d, from, to, put)
                 : phase == 1 ? chunk(r, d, from, to, get)
                              : chunk(r, d, from, to, pop);
          } else {
            ts = phase == 0   ? chunk(s, d, from, to, put)
                 : phase == 1 ? chunk(s, d, from, to, get)
                              : chunk(s, d, from, to, pop);
          }
        }
        double* tRaw = phase == 0 ? &raw->put : phase == 1 ? &raw->get : &raw->pop;
        double* tStore = phase == 0 ? &store->put : phase == 1 ? &store->get : &store->pop;
        *tRaw += tr;
        *tStore += ts;
      }
    }
    r.close();
    s.close();
  }
}

// MB/s of value bytes through the raw codec: compress and decompress.
void rawCodec(const Data& d, double* snC, double* snD, double* lzC, double* lzD) {
  const size_t n = d.values.size();
  const double mb = n * 100.0 / 1e6;
  std::vector<char> out(snappy_max_compressed_length(100) + 200);
  std::vector<std::string> comp(n);
  *snC = mb / bench::time_once([&] {
           for (size_t i = 0; i < n; ++i) {
             size_t len = out.size();
             snappy_compress(d.values[i].data(), 100, out.data(), &len);
             comp[i].assign(out.data(), len);
           }
         });
  *snD = mb / bench::time_once([&] {
           for (size_t i = 0; i < n; ++i) {
             size_t len = out.size();
             snappy_uncompress(comp[i].data(), comp[i].size(), out.data(), &len);
             g_sink += len;
           }
         });
  *lzC = mb / bench::time_once([&] {
           for (size_t i = 0; i < n; ++i) {
             unsigned len = lzf_compress(d.values[i].data(), 100, out.data(), 174);
             comp[i].assign(out.data(), len);
           }
         });
  *lzD = mb / bench::time_once([&] {
           for (size_t i = 0; i < n; ++i) {
             g_sink += lzf_decompress(comp[i].data(), comp[i].size(), out.data(), out.size());
           }
         });
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string base = dir + "/bench_skv_kcstg." + std::to_string(getpid());
  const std::string fileA = base + ".a.kch", fileB = base + ".b.kch";
  const std::string tune = "#bnum=" + std::to_string(n / 2) + "#msiz=16777216";
  const Data d = makeData(n);
  const int rounds = 4;
  const double ops = static_cast<double>(n) * rounds;

  std::printf("records %zu, 100-byte values, tuning \"%s\", %d rounds, alternating chunks\n", n,
              tune.c_str(), rounds);
  Times raw, store;
  compare(fileA, fileB, tune, tune, d, rounds, &raw, &store);
  std::printf("%-30s %12s %12s %12s\n", "", "put/s", "get/s", "pop/s");
  std::printf("%-30s %12.0f %12.0f %12.0f\n", "raw PolyDB", ops / raw.put, ops / raw.get,
              ops / raw.pop);
  std::printf("%-30s %12.0f %12.0f %12.0f\n", "SKV_KCStg", ops / store.put, ops / store.get,
              ops / store.pop);
  std::printf("%-30s %12.3f %12.3f %12.3f\n", "ratio SKV_KCStg / raw", raw.put / store.put,
              raw.get / store.get, raw.pop / store.pop);

  double snC, snD, lzC, lzD;
  rawCodec(d, &snC, &snD, &lzC, &lzD);
  const double mb = n * 100.0 * rounds / 1e6;
  std::printf("\ncompressed (\"#opts=c#zthrh=64#zcomp=...\"), MB/s of value bytes\n");
  std::printf("%-30s %12s %12s %12s\n", "", "put MB/s", "get MB/s", "pop MB/s");
  for (const char* z : {"snappy", "lzf"}) {
    Times zraw, zs;
    compare(fileA, fileB, tune, tune + "#opts=c#zthrh=64#zcomp=" + z, d, rounds, &zraw, &zs);
    std::printf("%-30s %12.1f %12.1f %12.1f\n", (std::string("SKV_KCStg ") + z).c_str(),
                mb / zs.put, mb / zs.get, mb / zs.pop);
  }
  std::printf("%-30s %12.1f %12.1f %12s\n", "raw PolyDB uncompressed", mb / raw.put, mb / raw.get,
              "");
  std::printf("%-30s %12.1f %12.1f %12s\n", "raw snappy compress/uncompress", snC, snD, "");
  std::printf("%-30s %12.1f %12.1f %12s\n", "raw LZF compress/decompress", lzC, lzD, "");
  std::remove(fileA.c_str());
  std::remove(fileB.c_str());
  return g_sink == 42 ? 1 : 0;
}
