// Test helpers for the contiguous store: a fresh temporary directory, a configured store,
// byte-string record helpers, a raw reader of partition and meta files, and a comparator that
// can hold the background scans.
#ifndef TOKA_TESTS_STORAGE_CONTIGUOUS_CONT_TEST_UTIL_H
#define TOKA_TESTS_STORAGE_CONTIGUOUS_CONT_TEST_UTIL_H

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/store_buffer.h"
#include "tests/support/tmpdir.h"

#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_KCStg.h"

namespace conttest {

using ::TmpDir;

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline std::string readFile(const std::string& path) { return readWholeFile(path); }

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline xstring xs(const std::string& s) { return xstring(s.data(), s.size()); }
inline std::string ss(const xstring& s) { return std::string(s.data(), s.size()); }

const char kTune[] = "#bnum=1024";
// Reader, writer, create, auto-transaction (the factory's mode without auto-sync).
const unsigned kMode = 23;

// A store over dir with database "data", type kch and small tuning.
inline std::unique_ptr<wdb::SKV_ContMKCStg> makeStore(const TmpDir& dir, uint32_t partitions,
                                                      uint32_t records,
                                                      uint64_t bytes = 8589934592ULL) {
  std::unique_ptr<wdb::SKV_ContMKCStg> s(new wdb::SKV_ContMKCStg());
  s->setDBHome(xs(dir.path()));
  s->setDBName("data");
  s->setDBType("kch");
  s->setTuneOptions(kTune);
  s->setPartitions(partitions);
  s->setPartitionRecords(records);
  s->setPartitionBytes(bytes);
  return s;
}

using tsupport::get;
using tsupport::put;

inline int removeKey(wdb::ISKVStorage& s, const std::string& key) {
  return s.removeTx0(nullptr, key.data(), key.size());
}

// Waits (bounded) until the KeyMAX scan has finished; false when it did not.
inline bool waitKeyMax(const wdb::SKV_ContMKCStg& s) {
  for (int i = 0; i < 20000; ++i) {
    if (!s.getKeyMax().empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// A record of a Kyoto Cabinet file read through a one-database store, or "<rc>". Prints
// the open line.
inline std::string rawGet(const std::string& path, const std::string& key, const char* tune = "") {
  wdb::SKV_KCStg db;
  db.setDBPath(xs(path));
  db.setTuneOptions(tune);
  const int r = db.open(1);  // reader
  if (r < 0) return "<open " + std::to_string(r) + ">";
  return get(db, key);
}

// Creates a partition file holding the given records (key, value pairs).
inline void makePartitionFile(const std::string& path,
                              const std::vector<std::pair<std::string, std::string>>& records) {
  wdb::SKV_KCStg db;
  db.setDBPath(xs(path));
  ASSERT_EQ(0, db.open(6));
  for (size_t i = 0; i < records.size(); ++i)
    ASSERT_EQ(0, put(db, records[i].first, records[i].second));
  db.close();
}

inline std::string u32le(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// Byte order; calls made on any thread but the owner's wait while the gate is closed.
class GateComparator : public wdb::KComparator {
 public:
  GateComparator() : owner_(std::this_thread::get_id()), open_(true), waiting_(0) {}
  ~GateComparator() override {}
  void close() {
    std::lock_guard<std::mutex> l(m_);
    open_ = false;
  }
  void open() {
    std::lock_guard<std::mutex> l(m_);
    open_ = true;
    cv_.notify_all();
  }
  // Calls from the calling thread pass the gate from now on; they are counted.
  void letThrough() { through_ = true; }
  int throughCalls() const { return throughCalls_.load(); }
  // Waits (bounded) until threads let through have made more than `after` calls.
  bool waitThrough(int after = 0) const {
    for (int i = 0; i < 20000 && throughCalls_.load() <= after; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return throughCalls_.load() > after;
  }
  // Waits (bounded) until a foreign thread is held at the gate.
  bool waitHeld() {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::seconds(20), [this] { return waiting_ > 0; });
  }
  int compare(const void* a, size_t aLen, const void* b, size_t bLen) const override {
    pass();
    return bytes_.compare(a, aLen, b, bLen);
  }
  bool equal(const void* a, size_t aLen, const void* b, size_t bLen) const override {
    pass();
    return bytes_.equal(a, aLen, b, bLen);
  }

 private:
  void pass() const {
    if (std::this_thread::get_id() == owner_) return;
    if (through_) {
      throughCalls_.fetch_add(1);
      return;
    }
    std::unique_lock<std::mutex> l(m_);
    ++waiting_;
    cv_.notify_all();
    cv_.wait(l, [this] { return open_; });
    --waiting_;
  }
  const std::thread::id owner_;
  mutable std::mutex m_;
  mutable std::condition_variable cv_;
  bool open_;
  mutable int waiting_;
  mutable std::atomic<int> throughCalls_{0};
  static thread_local bool through_;
  wdb::BytewiseKComparator bytes_;
};

inline thread_local bool GateComparator::through_ = false;

}  // namespace conttest

#endif  // TOKA_TESTS_STORAGE_CONTIGUOUS_CONT_TEST_UTIL_H
