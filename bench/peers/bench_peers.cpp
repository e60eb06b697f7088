// The SornX stores against their peers on the same workloads, in one process run:
//   - the uniform store (8 partitions) and the contiguous store, opened as SornX opens them
//     (wdb::OpenKCFromConfig, default tuning, no auto-sync),
//   - one raw Kyoto Cabinet hash database with the uniform store's total bucket count and map
//     size and the same open mode (auto-transaction, no sync),
//   - LevelDB and RocksDB, with their defaults and with the options a user sets for point
//     lookups (256 MiB block cache, 10-bit bloom filter); writes never sync.
// Value compression is varied where the engine has it: the stores with the kcext snappy and
// LZF compressors ("zcomp", default threshold), the raw database with the same snappy
// compressor, LevelDB and RocksDB with snappy (their default) or none. One more raw row opens
// without auto-transaction, to show what that open mode costs.
//
// Workloads (16-byte keys, 50%-compressible values): fill N random keys, fill N sequential
// keys (each into a new database), N random point reads of which half miss, and N operations
// of a 90/10 read/update mix on 1 and 8 threads (the reads and the mix run on the database
// of the random fill). The disk size is taken after the mix, once LSM engines have flushed
// and compacted, and after the database is closed.
//
// usage: bench_peers [-n records for 100-byte values (1000000)] [-m records for 4 KiB values
//                    (100000)] [-s value sizes, e.g. 100,4096] [-e engines: comma-separated
//                    name substrings, "=name" for one exact name; ratios need "SornX uniform"]
//                    [-d base dir (/tmp)]
#include <Poco/AutoPtr.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>
#include <fcntl.h>
#include <kchashdb.h>
#include <kcpolydb.h>
#include <leveldb/cache.h>
#include <leveldb/db.h>
#include <leveldb/filter_policy.h>
#include <leveldb/options.h>
#include <rocksdb/cache.h>
#include <rocksdb/db.h>
#include <rocksdb/filter_policy.h>
#include <rocksdb/options.h>
#include <rocksdb/table.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "kcext/kccompress_snappy.h"
#include "src/wdb/kc/ISKVStorage.h"
#include "src/wdb/kc/OpenKCFromConfig.h"
#include "src/xlabs.h"

namespace {

namespace fs = std::filesystem;

FILE* out = stdout;  // the table

const unsigned MIX_THREADS = 8;
const size_t KEY_BYTES = 16;
// The stores' default partition tuning; the raw database gets PARTITIONS times the buckets
// and map of one partition.
const unsigned PARTITIONS = 8;
const long long PART_BUCKETS = 10485760;
const long long PART_MAP = 536870912;

// ---------------------------------------------------------------------------------------
// Keys and values

// Key number k as 16 lower-case hex digits: byte order is number order, so the sequential
// fill is also sorted for the LSM engines. Present keys are even numbers, misses odd.
inline void makeKey(uint64_t k, char* out) {
  static const char HEX[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i) {
    out[i] = HEX[k & 15];
    k >>= 4;
  }
}

// xorshift64*: cheap enough not to show next to a database operation.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
  }
};

// Values are taken at varying offsets from a pool of text that compresses to about half,
// built as LevelDB's db_bench builds its values (runs of 50 random printable bytes, each
// repeated once).
class ValuePool {
 public:
  explicit ValuePool(size_t valueBytes) : _valueBytes(valueBytes) {
    std::mt19937_64 rnd(301);
    const size_t total = (1 << 20) + valueBytes;
    while (_data.size() < total) {
      char piece[50];
      for (char& c : piece) c = static_cast<char>(' ' + rnd() % 95);
      _data.append(piece, sizeof piece);
      _data.append(piece, sizeof piece);
    }
  }
  const char* value(uint64_t i) const {
    return _data.data() + (i * 131) % (_data.size() - _valueBytes);
  }
  size_t size() const { return _valueBytes; }

 private:
  size_t _valueBytes;
  std::string _data;
};

// ---------------------------------------------------------------------------------------
// Engines

class Engine {
 public:
  virtual ~Engine() {}
  virtual void put(const char* key, const char* value, size_t valueLen) = 0;
  // Reads a key; true with *len set when found.
  virtual bool get(const char* key, size_t* len) = 0;
  // Before the disk size is taken: LSM engines flush and compact.
  virtual void settle() {}
  // The contiguous store refuses keys below the first key it was given (RC_UNDER_FLOW): the
  // random fill then begins with the smallest key, untimed.
  virtual bool needsSmallestKeyFirst() const { return false; }
};

std::string g_tempDir;  // removed on the way out, also when a run fails

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_peers: %s\n", what.c_str());
  if (!g_tempDir.empty()) {
    std::error_code ignored;
    fs::remove_all(g_tempDir, ignored);
  }
  std::exit(1);
}

// The stores print listings and notes on open and close: kept off the table.
class QuietStdio {
 public:
  QuietStdio() {
    std::fflush(stdout);
    std::fflush(stderr);
    _out = ::dup(1);
    _err = ::dup(2);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      ::close(devnull);
    }
  }
  ~QuietStdio() {
    std::fflush(stdout);
    std::fflush(stderr);
    if (_out >= 0) ::dup2(_out, 1), ::close(_out);
    if (_err >= 0) ::dup2(_err, 2), ::close(_err);
  }

 private:
  int _out, _err;
};

class StoreEngine : public Engine {
 public:
  StoreEngine(const std::string& dir, const char* distrib, const char* zcomp)
      : _contiguous(std::strcmp(distrib, "contiguous") == 0) {
    Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
    config->add(
        Poco::AutoPtr<Poco::Util::AbstractConfiguration>(new Poco::Util::MapConfiguration()), -100,
        true);
    config->setString("bench.home", dir);
    config->setString("bench.dbname", "bench");
    config->setString("bench.distrib_type", distrib);
    config->setBool("bench.auto_sync", false);
    char tune[160];
    if (zcomp != nullptr) {
      std::snprintf(tune, sizeof tune, "#buckets=%lld#map=%lld#options=lc#zcomp=%s", PART_BUCKETS,
                    PART_MAP, zcomp);
    } else {
      std::snprintf(tune, sizeof tune, "#buckets=%lld#map=%lld#options=l", PART_BUCKETS, PART_MAP);
    }
    config->setString("bench.tune_options", tune);
    {
      QuietStdio quiet;
      _store.reset(wdb::OpenKCFromConfig(*config, "bench", static_cast<xstring*>(nullptr)).first);
    }
    if (!_store) die(std::string(distrib) + " store open failed in " + dir);
  }
  ~StoreEngine() override {
    QuietStdio quiet;
    _store.reset();
  }
  void put(const char* key, const char* value, size_t valueLen) override {
    const int rc = _store->putTx0(nullptr, key, KEY_BYTES, value, valueLen,
                                  mopra::PutPolicy::ADD_OR_UDP);
    if (rc != wdb::RC_OK)
      die("store put failed: " + std::to_string(rc) + " for key " + std::string(key, KEY_BYTES));
  }
  bool get(const char* key, size_t* len) override {
    void* buf = nullptr;
    const int rc = _store->getTx0(nullptr, &buf, len, key, KEY_BYTES);
    if (rc == wdb::RC_NOT_EXIST) return false;
    if (rc != wdb::RC_OK) die("store get failed");
    _store->freeData(buf);
    return true;
  }
  bool needsSmallestKeyFirst() const override { return _contiguous; }

 private:
  const bool _contiguous;
  std::unique_ptr<wdb::ISKVStorage> _store;
};

class RawKCEngine : public Engine {
 public:
  RawKCEngine(const std::string& dir, bool snappy, bool autoTran = true) {
    _db.tune_buckets(PART_BUCKETS * PARTITIONS);
    _db.tune_map(PART_MAP * PARTITIONS);
    int8_t opts = kyotocabinet::HashDB::TLINEAR;
    if (snappy) {
      _comp.reset(new kyotocabinet::SnappyCompressor());
      _db.tune_compressor(_comp.get());
      opts |= kyotocabinet::HashDB::TCOMPRESS;
    }
    _db.tune_options(opts);
    // The stores' open mode: reader, writer, create, auto-transaction, no auto-sync. Without
    // auto-transaction for reference: what the stores' open mode costs.
    const uint32_t mode = autoTran ? wdb::KC_OPEN_MODE
                                   : wdb::KC_OPEN_MODE & ~kyotocabinet::BasicDB::OAUTOTRAN;
    if (!_db.open(dir + "/raw.kch", mode))
      die(std::string("raw open failed: ") + _db.error().message());
  }
  ~RawKCEngine() override { _db.close(); }
  void put(const char* key, const char* value, size_t valueLen) override {
    if (!_db.set(key, KEY_BYTES, value, valueLen)) die("raw set failed");
  }
  bool get(const char* key, size_t* len) override {
    char* v = _db.get(key, KEY_BYTES, len);
    if (v == nullptr) {
      if (_db.error().code() != kyotocabinet::BasicDB::Error::NOREC) die("raw get failed");
      return false;
    }
    delete[] v;
    return true;
  }

 private:
  std::unique_ptr<kyotocabinet::Compressor> _comp;  // outlives the database
  kyotocabinet::HashDB _db;
};

class LevelDBEngine : public Engine {
 public:
  LevelDBEngine(const std::string& dir, bool tuned, bool snappy) {
    leveldb::Options options;
    options.create_if_missing = true;
    options.compression = snappy ? leveldb::kSnappyCompression : leveldb::kNoCompression;
    if (tuned) {
      _cache.reset(leveldb::NewLRUCache(256 << 20));
      _filter.reset(leveldb::NewBloomFilterPolicy(10));
      options.block_cache = _cache.get();
      options.filter_policy = _filter.get();
    }
    leveldb::DB* db = nullptr;
    const leveldb::Status s = leveldb::DB::Open(options, dir + "/leveldb", &db);
    if (!s.ok()) die("leveldb open: " + s.ToString());
    _db.reset(db);
  }
  ~LevelDBEngine() override { _db.reset(); }  // before the cache and the filter
  void put(const char* key, const char* value, size_t valueLen) override {
    const leveldb::Status s = _db->Put(leveldb::WriteOptions(), leveldb::Slice(key, KEY_BYTES),
                                       leveldb::Slice(value, valueLen));
    if (!s.ok()) die("leveldb put: " + s.ToString());
  }
  bool get(const char* key, size_t* len) override {
    thread_local std::string v;
    const leveldb::Status s = _db->Get(leveldb::ReadOptions(), leveldb::Slice(key, KEY_BYTES), &v);
    if (s.IsNotFound()) return false;
    if (!s.ok()) die("leveldb get: " + s.ToString());
    *len = v.size();
    return true;
  }
  void settle() override { _db->CompactRange(nullptr, nullptr); }

 private:
  std::unique_ptr<leveldb::Cache> _cache;
  std::unique_ptr<const leveldb::FilterPolicy> _filter;
  std::unique_ptr<leveldb::DB> _db;
};

class RocksDBEngine : public Engine {
 public:
  RocksDBEngine(const std::string& dir, bool tuned, bool snappy) {
    rocksdb::Options options;
    options.create_if_missing = true;
    options.compression = snappy ? rocksdb::kSnappyCompression : rocksdb::kNoCompression;
    if (tuned) {
      rocksdb::BlockBasedTableOptions table;
      table.block_cache = rocksdb::NewLRUCache(256 << 20);
      table.filter_policy.reset(rocksdb::NewBloomFilterPolicy(10));
      options.table_factory.reset(rocksdb::NewBlockBasedTableFactory(table));
    }
    rocksdb::DB* db = nullptr;
    const rocksdb::Status s = rocksdb::DB::Open(options, dir + "/rocksdb", &db);
    if (!s.ok()) die("rocksdb open: " + s.ToString());
    _db.reset(db);
  }
  ~RocksDBEngine() override {
    if (_db) _db->Close();
  }
  void put(const char* key, const char* value, size_t valueLen) override {
    const rocksdb::Status s = _db->Put(rocksdb::WriteOptions(), rocksdb::Slice(key, KEY_BYTES),
                                       rocksdb::Slice(value, valueLen));
    if (!s.ok()) die("rocksdb put: " + s.ToString());
  }
  bool get(const char* key, size_t* len) override {
    thread_local std::string v;
    const rocksdb::Status s = _db->Get(rocksdb::ReadOptions(), rocksdb::Slice(key, KEY_BYTES), &v);
    if (s.IsNotFound()) return false;
    if (!s.ok()) die("rocksdb get: " + s.ToString());
    *len = v.size();
    return true;
  }
  void settle() override {
    _db->Flush(rocksdb::FlushOptions());
    _db->CompactRange(rocksdb::CompactRangeOptions(), nullptr, nullptr);
  }

 private:
  std::unique_ptr<rocksdb::DB> _db;
};

struct EngineSpec {
  const char* name;
  bool compressionVariant;  // listed in the compression part of the table
  std::function<Engine*(const std::string& dir)> make;
};

std::vector<EngineSpec> allEngines() {
  typedef const std::string& D;
  return {
      {"SornX uniform", false, [](D d) { return new StoreEngine(d, "uniform", nullptr); }},
      {"SornX contiguous", false, [](D d) { return new StoreEngine(d, "contiguous", nullptr); }},
      {"KC HashDB raw", false, [](D d) { return new RawKCEngine(d, false); }},
      {"LevelDB default", false, [](D d) { return new LevelDBEngine(d, false, true); }},
      {"LevelDB tuned", false, [](D d) { return new LevelDBEngine(d, true, true); }},
      {"RocksDB default", false, [](D d) { return new RocksDBEngine(d, false, true); }},
      {"RocksDB tuned", false, [](D d) { return new RocksDBEngine(d, true, true); }},
      {"SornX uniform snappy", true, [](D d) { return new StoreEngine(d, "uniform", "snappy"); }},
      {"SornX uniform lzf", true, [](D d) { return new StoreEngine(d, "uniform", "lzf"); }},
      {"SornX contiguous snappy", true,
       [](D d) { return new StoreEngine(d, "contiguous", "snappy"); }},
      {"KC HashDB raw snappy", true, [](D d) { return new RawKCEngine(d, true); }},
      {"KC HashDB raw no-autotran", true, [](D d) { return new RawKCEngine(d, false, false); }},
      {"LevelDB default nocomp", true, [](D d) { return new LevelDBEngine(d, false, false); }},
      {"LevelDB tuned nocomp", true, [](D d) { return new LevelDBEngine(d, true, false); }},
      {"RocksDB default nocomp", true, [](D d) { return new RocksDBEngine(d, false, false); }},
      {"RocksDB tuned nocomp", true, [](D d) { return new RocksDBEngine(d, true, false); }},
  };
}

// ---------------------------------------------------------------------------------------
// Workloads

enum { FILL_RANDOM, FILL_SEQ, READ_RANDOM, MIX_1, MIX_8, WORKLOADS };
const char* const WORKLOAD_NAMES[WORKLOADS] = {"fill rnd", "fill seq", "read 50%hit", "mix 1t",
                                               "mix 8t"};

struct Result {
  double opsPerSec[WORKLOADS] = {0};
  double diskBytes = 0;
};

// Allocated bytes of every file under dir.
double diskBytes(const std::string& dir) {
  double total = 0;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(dir)) {
    struct stat st;
    if (::lstat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode))
      total += static_cast<double>(st.st_blocks) * 512.0;
  }
  return total;
}

// A fresh directory for one database; removed by the caller.
std::string freshDir(const std::string& base, const char* tag) {
  const std::string dir = base + "/" + tag;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

double fill(Engine& e, const ValuePool& values, const std::vector<uint32_t>* order, size_t n) {
  char key[KEY_BYTES];
  return bench::per_second(static_cast<double>(n), bench::time_once([&] {
                             for (size_t j = 0; j < n; ++j) {
                               const uint64_t i = order != nullptr ? (*order)[j] : j;
                               makeKey(2 * i, key);
                               e.put(key, values.value(i), values.size());
                             }
                           }));
}

double readRandom(Engine& e, const ValuePool& values, size_t n) {
  char key[KEY_BYTES];
  Rng rng(7);
  size_t wrong = 0;
  const double ops = bench::per_second(static_cast<double>(n), bench::time_once([&] {
                                         for (size_t j = 0; j < n; ++j) {
                                           const uint64_t r = rng.next();
                                           const bool hit = (r >> 63) != 0;
                                           makeKey(2 * ((r >> 1) % n) + (hit ? 0 : 1), key);
                                           size_t len = 0;
                                           const bool found = e.get(key, &len);
                                           if (found != hit || (found && len != values.size()))
                                             ++wrong;
                                         }
                                       }));
  if (wrong != 0) die("point reads: " + std::to_string(wrong) + " wrong answers");
  return ops;
}

double mix(Engine& e, const ValuePool& values, size_t n, unsigned threads) {
  std::atomic<size_t> wrong(0);
  auto work = [&](unsigned t, size_t ops) {
    char key[KEY_BYTES];
    Rng rng(1000 + t);
    size_t bad = 0;
    for (size_t j = 0; j < ops; ++j) {
      const uint64_t r = rng.next();
      const uint64_t i = (r >> 8) % n;
      makeKey(2 * i, key);
      if (r % 10 == 0) {
        e.put(key, values.value(i + j + 1), values.size());
      } else {
        size_t len = 0;
        if (!e.get(key, &len) || len != values.size()) ++bad;
      }
    }
    wrong += bad;
  };
  const double ops = bench::per_second(
      static_cast<double>(n), bench::time_once([&] {
        bench::split_over_threads(threads, n,
                                  [&work](unsigned t, size_t b, size_t e) { work(t, e - b); });
      }));
  if (wrong != 0) die("mix: " + std::to_string(wrong.load()) + " wrong answers");
  return ops;
}

Result runEngine(const EngineSpec& spec, const std::string& base, size_t n, const ValuePool& values,
                 const std::vector<uint32_t>& order) {
  Result r;
  {
    const std::string dir = freshDir(base, "seq");
    std::unique_ptr<Engine> e(spec.make(dir));
    r.opsPerSec[FILL_SEQ] = fill(*e, values, nullptr, n);
    e.reset();
    fs::remove_all(dir);
  }
  const std::string dir = freshDir(base, "rnd");
  std::unique_ptr<Engine> e(spec.make(dir));
  if (e->needsSmallestKeyFirst()) {
    char key[KEY_BYTES];
    makeKey(0, key);
    e->put(key, values.value(0), values.size());
  }
  r.opsPerSec[FILL_RANDOM] = fill(*e, values, &order, n);
  r.opsPerSec[READ_RANDOM] = readRandom(*e, values, n);
  r.opsPerSec[MIX_1] = mix(*e, values, n, 1);
  r.opsPerSec[MIX_8] = mix(*e, values, n, MIX_THREADS);
  e->settle();
  e.reset();
  r.diskBytes = diskBytes(dir);
  fs::remove_all(dir);
  return r;
}

std::string human(double ops) {
  char buf[32];
  if (ops >= 1e6)
    std::snprintf(buf, sizeof buf, "%.2fM", ops / 1e6);
  else
    std::snprintf(buf, sizeof buf, "%.0fk", ops / 1e3);
  return buf;
}

bool selected(const char* name, const std::string& filter) {
  if (filter.empty()) return true;
  size_t pos = 0;
  while (pos <= filter.size()) {
    const size_t end = std::min(filter.find(',', pos), filter.size());
    const std::string part = filter.substr(pos, end - pos);
    if (part.size() > 1 && part[0] == '=') {
      if (part.compare(1, std::string::npos, name) == 0) return true;
    } else if (!part.empty() && std::strstr(name, part.c_str()) != nullptr) {
      return true;
    }
    pos = end + 1;
  }
  return false;
}

void runSize(size_t valueBytes, size_t n, const std::string& base, const std::string& filter) {
  const ValuePool values(valueBytes);
  std::vector<uint32_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = static_cast<uint32_t>(i);
  std::shuffle(order.begin(), order.end(), std::mt19937(42));

  std::fprintf(out,
               "\n### %zu-byte values, N = %zu, 16-byte keys, ops/s (ratio to SornX uniform)\n\n",
               valueBytes, n);
  std::fprintf(out, "| %-25s |", "engine");
  for (int w = 0; w < WORKLOADS; ++w) std::fprintf(out, " %-15s |", WORKLOAD_NAMES[w]);
  std::fprintf(out, " %-8s |\n|%s|", "disk MB", std::string(27, '-').c_str());
  for (int w = 0; w < WORKLOADS; ++w) std::fprintf(out, "%s|", std::string(17, '-').c_str());
  std::fprintf(out, "%s|\n", std::string(10, '-').c_str());
  std::fflush(out);

  Result base0;
  bool haveBase = false;
  for (const EngineSpec& spec : allEngines()) {
    const bool isBase = std::strcmp(spec.name, "SornX uniform") == 0;
    if (!selected(spec.name, filter)) continue;
    const Result r = runEngine(spec, base, n, values, order);
    if (isBase) {
      base0 = r;
      haveBase = true;
    }
    std::fprintf(out, "| %-25s |", spec.name);
    for (int w = 0; w < WORKLOADS; ++w) {
      char cell[40];
      if (haveBase && !isBase)
        std::snprintf(cell, sizeof cell, "%s (%.2f)", human(r.opsPerSec[w]).c_str(),
                      r.opsPerSec[w] / base0.opsPerSec[w]);
      else
        std::snprintf(cell, sizeof cell, "%s", human(r.opsPerSec[w]).c_str());
      std::fprintf(out, " %-15s |", cell);
    }
    std::fprintf(out, " %8.1f |\n", r.diskBytes / 1048576.0);
    std::fflush(out);
  }
  if (selected("SornX contiguous", filter))
    std::fprintf(out,
                 "\nThe contiguous store refuses keys below its first key: its random fill "
                 "starts with the smallest key, untimed.\n");
}

}  // namespace

int main(int argc, char** argv) {
  size_t nSmall = 1000000, nLarge = 100000;
  std::string sizes = "100,4096", filter, baseDir = "/tmp";
  int opt;
  while ((opt = ::getopt(argc, argv, "n:m:s:e:d:")) != -1) {
    switch (opt) {
      case 'n': nSmall = std::strtoull(optarg, nullptr, 10); break;
      case 'm': nLarge = std::strtoull(optarg, nullptr, 10); break;
      case 's': sizes = optarg; break;
      case 'e': filter = optarg; break;
      case 'd': baseDir = optarg; break;
      default:
        std::fprintf(stderr,
                     "usage: %s [-n records 100B] [-m records 4KiB] [-s sizes] [-e engines] "
                     "[-d base dir]\n",
                     argv[0]);
        return 2;
    }
  }
  if (nSmall == 0 || nLarge == 0 || nSmall > UINT32_MAX || nLarge > UINT32_MAX)
    die("record counts must be between 1 and 2^32-1");
  // The table goes to standard output; what the stores print while they work (partition
  // notes, listings) goes to standard error.
  std::fflush(stdout);
  const int tableFd = ::dup(1);
  FILE* table = tableFd >= 0 ? ::fdopen(tableFd, "w") : nullptr;
  if (table == nullptr) die("cannot duplicate standard output");
  ::dup2(2, 1);
  out = table;
  init_xallocator();

  std::string tmpl = baseDir + "/bench-peers-XXXXXX";
  if (::mkdtemp(&tmpl[0]) == nullptr) die("mkdtemp failed under " + baseDir);
  const std::string base = tmpl;
  g_tempDir = base;

  std::fprintf(out,
               "bench_peers: stores at default tuning (8 x %lld buckets, %lld-byte maps), "
               "raw KC %lld buckets; no sync anywhere; %u threads for the 8-thread mix\n",
               PART_BUCKETS, PART_MAP, PART_BUCKETS * PARTITIONS, MIX_THREADS);
  size_t pos = 0;
  while (pos < sizes.size()) {
    const size_t end = std::min(sizes.find(',', pos), sizes.size());
    const size_t valueBytes = std::strtoull(sizes.substr(pos, end - pos).c_str(), nullptr, 10);
    if (valueBytes > 0) runSize(valueBytes, valueBytes <= 1024 ? nSmall : nLarge, base, filter);
    pos = end + 1;
  }
  fs::remove_all(base);
  std::fclose(table);
  return 0;
}
