// Contiguous store benchmark. One thread puts N records (16-byte keys, 100-byte values) and
// then gets them all back, once with ascending and once with random key order, into
//   raw   one Kyoto Cabinet hash database (kyotocabinet::PolyDB set/get),
//   cont  the contiguous store with one partition (limits not reached),
//   kcstg one one-database store (the partition type alone),
//   roll  the contiguous store with a record limit of N / 4 (rollovers, 8 partitions kept;
//         with random keys most puts land below KeyMAX and go to the partition by range),
// each in a fresh directory with the same tuning and open mode. Prints operations per second
// (best of the repetitions) and the ratio to raw measured in the same run.
//
// The targets run in a rotated order in every repetition, so that no target always meets the
// page cache and the disk in the same state.
//
// Usage: bench_cont_store [records] [repetitions] [directory] [targets, e.g. raw,cont]
// (the ratios need raw among the targets)
#include <fcntl.h>
#include <kcpolydb.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "src/wdb/kc/SKV_ContMKCStg.h"

namespace {

const char kTune[] = "#bnum=2000000";
const unsigned kMode = 7;  // reader, writer, create

std::string freshDir(const std::string& base) {
  std::string t = base + "/toka-bench-cont-XXXXXX";
  std::vector<char> b(t.begin(), t.end());
  b.push_back('\0');
  if (mkdtemp(b.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return b.data();
}

void removeDir(const std::string& dir) {
  const std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

struct Result {
  double put = 0;  // operations per second
  double get = 0;
  size_t found = 0;
};

class Target {
 public:
  virtual ~Target() {}
  virtual bool open(const std::string& dir) = 0;
  virtual bool put(const std::string& k, const std::string& v) = 0;
  virtual bool get(const std::string& k) = 0;
  virtual void close() = 0;
};

class Raw : public Target {
 public:
  bool open(const std::string& dir) override { return db.open(dir + "/raw.kch" + kTune, kMode); }
  bool put(const std::string& k, const std::string& v) override {
    return db.set(k.data(), k.size(), v.data(), v.size());
  }
  bool get(const std::string& k) override {
    size_t n = 0;
    char* v = db.get(k.data(), k.size(), &n);
    if (v == nullptr) return false;
    delete[] v;
    return true;
  }
  void close() override { db.close(); }
  kyotocabinet::PolyDB db;
};

// One one-database store: the partition type alone, for reading the store's own cost.
class Single : public Target {
 public:
  bool open(const std::string& dir) override {
    db.setDBPath(xstring((dir + "/single.kch").c_str()));
    db.setTuneOptions(kTune);
    return db.open(kMode) == 0;
  }
  bool put(const std::string& k, const std::string& v) override {
    return db.putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), 3) == 0;
  }
  bool get(const std::string& k) override {
    wdb::ValueBuffer v(db);
    return db.getTx0(nullptr, v.out(), v.outLength(), k.data(), k.size()) == 0;
  }
  void close() override { db.close(); }
  wdb::SKV_KCStg db;
};

class Cont : public Target {
 public:
  explicit Cont(uint32_t records) : _records(records) {}
  bool open(const std::string& dir) override {
    store.reset(new wdb::SKV_ContMKCStg());
    store->setDBHome(xstring(dir.c_str()));
    store->setDBName("bench");
    store->setTuneOptions(kTune);
    store->setPartitions(8);
    store->setPartitionRecords(_records);
    return store->open(kMode) == 0 && store->setKeyMin("k0", 2) == 0;
  }
  bool put(const std::string& k, const std::string& v) override {
    return store->putTx0(nullptr, k.data(), k.size(), v.data(), v.size(), 3) == 0;
  }
  bool get(const std::string& k) override {
    wdb::ValueBuffer v(*store);
    return store->getTx0(nullptr, v.out(), v.outLength(), k.data(), k.size()) == 0;
  }
  void close() override { store->close(); }
  std::unique_ptr<wdb::SKV_ContMKCStg> store;

 private:
  uint32_t _records;
};

// Sends standard output and error to /dev/null while it lives (the stores print their
// listings and open lines).
class Silence {
 public:
  Silence() {
    std::fflush(stdout);
    std::fflush(stderr);
    _out = dup(1);
    _err = dup(2);
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    ::close(null);
  }
  ~Silence() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(_out, 1);
    dup2(_err, 2);
    ::close(_out);
    ::close(_err);
  }

 private:
  int _out;
  int _err;
};

Result run(Target& t, const std::vector<std::string>& keys, const std::string& value,
           const std::string& base) {
  const std::string dir = freshDir(base);
  Silence quiet;
  Result r;
  if (!t.open(dir)) {
    std::fprintf(stderr, "open failed in %s\n", dir.c_str());
    std::exit(1);
  }
  r.put = bench::per_second(keys.size(), bench::time_once([&] {
                              for (const std::string& k : keys)
                                if (!t.put(k, value)) {
                                  std::fprintf(stderr, "put failed\n");
                                  std::exit(1);
                                }
                            }));
  size_t found = 0;
  r.get = bench::per_second(keys.size(), bench::time_once([&] {
                              for (const std::string& k : keys) found += t.get(k) ? 1 : 0;
                            }));
  r.found = found;
  t.close();
  removeDir(dir);
  return r;
}

const char* const kNames[4] = {"raw", "kcstg", "cont", "roll"};

bool selected(const std::string& list, const char* name) {
  return ("," + list + ",").find("," + std::string(name) + ",") != std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string base = argc > 3 ? argv[3] : "/tmp";
  const std::string only = argc > 4 ? argv[4] : "raw,kcstg,cont,roll";
  std::vector<std::string> ascending(n);
  for (size_t i = 0; i < n; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "k%015zu", i);
    ascending[i] = buf;
  }
  std::vector<std::string> random = ascending;
  std::shuffle(random.begin(), random.end(), std::mt19937(12345));
  const std::string value(100, 'v');

  std::printf("records %zu, value 100 bytes, tuning %s, mode %u, best of %d\n", n, kTune, kMode,
              reps);
  std::printf("%-10s %-5s %14s %14s %8s %8s\n", "keys", "store", "put ops/s", "get ops/s",
              "put/raw", "get/raw");
  for (int order = 0; order < 2; ++order) {
    const std::vector<std::string>& keys = order == 0 ? ascending : random;
    Result best[4];
    for (int rep = 0; rep < reps; ++rep) {
      Raw raw;
      Single single;
      Cont cont(8388608);
      Cont roll(static_cast<uint32_t>(n / 4));
      Target* targets[4] = {&raw, &single, &cont, &roll};
      for (int j = 0; j < 4; ++j) {
        const int i = (j + rep) % 4;
        if (!selected(only, kNames[i])) continue;
        const Result r = run(*targets[i], keys, value, base);
        best[i].put = std::max(best[i].put, r.put);
        best[i].get = std::max(best[i].get, r.get);
        best[i].found = r.found;
      }
    }
    for (int i = 0; i < 4; ++i)
      if (selected(only, kNames[i]))
        std::printf("%-10s %-5s %14.0f %14.0f %8.3f %8.3f  found %zu\n",
                    order == 0 ? "ascending" : "random", kNames[i], best[i].put, best[i].get,
                    best[i].put / best[0].put, best[i].get / best[0].get, best[i].found);
  }
  return 0;
}
