// LRU table benchmark: get and put operations per second of xlru_table, against a plain
// C++ LRU (std::unordered_map + std::list under one std::mutex) in the same run.
//
// Working set: keys drawn uniformly from twice the LRU size, so about half the gets hit and
// most puts insert and evict. Both sides do the same work per operation: a get copies the
// value into the caller's buffer (xlru_table: under the item's key lock, as the cache
// does), a put stores a 64-byte value under a prebuilt key. The table's put builds its item
// the way the cache does (fresh entry, key and data set, key lock chosen, add_or_update).
// Each figure is the best of three alternating rounds of table and baseline.
// Usage: bench_xlru_table [seconds per round, default 0.2] [most threads, default 8]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bench/support/bench_timer.h"
#include "mopralib/inc/xds/xhash_compare.h"
#include "mopralib/inc/xds/xlru_table_impl.h"
#include "src/xstring.h"

namespace {

struct BenchValue {
  xstring key;
  int16_t flags = 0;
  uint16_t compressMed = 0;
  uint32_t expiry = 0;
  xstring data;
  BenchValue() {}
  template <typename K>
  explicit BenchValue(const K& k) : key(k.data(), k.size()) {}
  BenchValue(const BenchValue&) = default;
};
struct BenchHasher {
  static uint64_t HASH(const BenchValue& v) { return jenkins_hasher::HASH(v.key); }
};
struct BenchComparator {
  static int COMPARE(const BenchValue& a, const BenchValue& b) {
    return Comparator::COMPARE(a.key, b.key);
  }
};
typedef xlru_item_entry<BenchValue, 1> BenchEntry;
typedef xlru_table<BenchEntry, BenchHasher, BenchHasher, BenchComparator,
                   xtable_null_event<BenchValue>, 1, 0>
    Table;
typedef Table::table_item Item;

// The baseline: the textbook LRU.
class PlainLru {
 public:
  explicit PlainLru(size_t capacity) : _capacity(capacity) { _map.reserve(capacity * 2); }
  bool get(const std::string& key, std::string& out) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _map.find(key);
    if (it == _map.end()) return false;
    _list.splice(_list.begin(), _list, it->second);
    out.assign(it->second->second);
    return true;
  }
  void put(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _map.find(key);
    if (it != _map.end()) {
      it->second->second = value;
      _list.splice(_list.begin(), _list, it->second);
      return;
    }
    _list.emplace_front(key, value);
    _map.emplace(key, _list.begin());
    if (_map.size() > _capacity) {
      _map.erase(_list.back().first);
      _list.pop_back();
    }
  }

 private:
  typedef std::list<std::pair<std::string, std::string>> List;
  size_t _capacity;
  std::mutex _mutex;
  List _list;
  std::unordered_map<std::string, List::iterator> _map;
};

struct TableSide {
  Table table;
  explicit TableSide(size_t lru) : table(lru, lru, false, true) {}
  bool get(const xstring& key, std::string& out) {
    Item h;
    if (!table.get_key(h, key)) return false;
    Item::scope_read_lock lock(h);
    const xstring& d = h.data().data;
    out.assign(d.data(), d.size());
    return true;
  }
  void put(const xstring& key, const std::string& value) {
    Item h;
    h.ctor0();
    h.data().key = key;
    h.data().data.assign(value.data(), value.size());
    h.set_mutex();
    table.add_or_update(h);
  }
};

struct PlainSide {
  PlainLru lru;
  explicit PlainSide(size_t n) : lru(n) {}
  bool get(const std::string& key, std::string& out) { return lru.get(key, out); }
  void put(const std::string& key, const std::string& value) { lru.put(key, value); }
};

// Operations per second of op over `threads` threads, each running for `seconds`.
template <typename Op>
double measure(int threads, double seconds, Op op) {
  std::atomic<bool> stop{false};
  std::atomic<int> ready{0};
  std::vector<uint64_t> done(threads, 0);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      std::mt19937_64 rng(977 * (t + 1));
      std::string buffer;
      buffer.reserve(256);
      ready.fetch_add(1);
      while (ready.load() < threads) {
      }
      uint64_t n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        for (int i = 0; i < 256; ++i) op(rng, buffer);
        n += 256;
      }
      done[t] = n;
    });
  }
  while (ready.load() < threads) {
  }
  const double elapsed = bench::time_once([&] {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop.store(true);
    for (auto& th : pool) th.join();
  });
  uint64_t total = 0;
  for (uint64_t n : done) total += n;
  return bench::per_second(double(total), elapsed);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 0.2;
  const int max_threads = argc > 2 ? std::atoi(argv[2]) : 8;
  Item::INIT_POOL();
  global_locks<BenchEntry, 1>::construct(10000);
  const std::string value(64, 'v');
  std::printf("%-8s %-7s %-4s %14s %14s %7s\n", "lru", "op", "thr", "xlru_table/s", "plain_lru/s",
              "ratio");
  for (size_t lru : {size_t(10000), size_t(100000)}) {
    const size_t nkeys = 2 * lru;
    std::vector<std::string> keys;
    std::vector<xstring> xkeys;
    for (size_t i = 0; i < nkeys; ++i) {
      keys.push_back("key-" + std::to_string(i * 7919 % 1000003));
      xkeys.emplace_back(keys.back());
    }
    for (int threads : {1, 2, 4, 8}) {
      if (threads > max_threads) break;
      TableSide table(lru);
      PlainSide plain(lru);
      for (size_t i = 0; i < nkeys; ++i) {  // fill both: the last lru keys stay
        table.put(xkeys[i], value);
        plain.put(keys[i], value);
      }
      // Best of three alternating rounds: the machine may be shared.
      const bench::Pair get = bench::best_rates(
          3,
          [&] {
            return measure(threads, seconds, [&](std::mt19937_64& rng, std::string& out) {
              table.get(xkeys[rng() % nkeys], out);
            });
          },
          [&] {
            return measure(threads, seconds, [&](std::mt19937_64& rng, std::string& out) {
              plain.get(keys[rng() % nkeys], out);
            });
          });
      std::printf("%-8zu %-7s %-4d %14.0f %14.0f %6.2fx\n", lru, "get", threads, get.a, get.b,
                  get.a / get.b);
      const bench::Pair put = bench::best_rates(
          3,
          [&] {
            return measure(threads, seconds, [&](std::mt19937_64& rng, std::string&) {
              table.put(xkeys[rng() % nkeys], value);
            });
          },
          [&] {
            return measure(threads, seconds, [&](std::mt19937_64& rng, std::string&) {
              plain.put(keys[rng() % nkeys], value);
            });
          });
      std::printf("%-8zu %-7s %-4d %14.0f %14.0f %6.2fx\n", lru, "put", threads, put.a, put.b,
                  put.a / put.b);
      std::fflush(stdout);
    }
  }
  return 0;
}
