// Configuration, open and close, routing, KeyMAX and the record operations of the contiguous
// store. The meta database and the partition lifecycle are in SKV_ContMKCStg_priv.cpp.
#include "src/wdb/kc/SKV_ContMKCStg.h"

#include <Poco/Thread.h>
#include <Poco/ThreadPool.h>
#include <Poco/Util/AbstractConfiguration.h>
#include <kcpolydb.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <string>

#include "src/wdb/kc/SKV_ContMKCStg_priv.h"
#include "src/wdb/kc/fileutil.h"
#include "src/wdb/kc/partfile.h"
#include "src/xcheck.h"
#include "src/xlabs.h"

namespace wdb {

typedef Poco::FastMutex::ScopedLock ScopedLock;

namespace {
// The store's comparator, byte order when none is set.
const KComparator& comparatorOr(const KComparator* cmp) {
  static const BytewiseKComparator bytewise;
  return cmp != nullptr ? *cmp : bytewise;
}
}  // namespace

int compareKeys(const KComparator* cmp, const void* a, size_t aLen, const void* b, size_t bLen) {
  return comparatorOr(cmp).compare(a, aLen, b, bLen);
}

bool equalKeys(const KComparator* cmp, const void* a, size_t aLen, const void* b, size_t bLen) {
  return comparatorOr(cmp).equal(a, aLen, b, bLen);
}

bool SKV_ContMKCStg::DBECmpByKeyMin::operator()(const DBEntry& a, const DBEntry& b) const {
  return compareKeys(cmp, a.keyMin.data(), a.keyMin.size(), b.keyMin.data(), b.keyMin.size()) < 0;
}

SKV_ContMKCStg::SKV_ContMKCStg()
    : kComparator(nullptr),
      openMode(0),
      partitionBytes(8589934592ULL),
      partitionRecords(8388608),
      newestPartition(0),
      keyMaxReady(0),
      _generation(0),
      _keyMaxTasks(std::make_shared<TaskGate>()),
      _users(std::make_shared<TaskGate>()),
      _probedBytes(-1) {}

SKV_ContMKCStg::~SKV_ContMKCStg() { close(); }

// ---------------------------------------------------------------------------------------
// Configuration and accessors

int SKV_ContMKCStg::loadConfig(const std::string& name,
                               const Poco::Util::AbstractConfiguration& config) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::loadConfig";
  ScopedLock lock(mutex);
  dbHome = xstring(config.getString(name + ".home"));
  dbName = xstring(config.getString(name + ".dbname"));
  dbType = xstring(config.getString(name + ".dbtype", std::string(dbType.data(), dbType.size())));
  {
    const std::string key = name + ".partitions";
    const int n = config.getInt(key, static_cast<int>(std::min<uint32_t>(partitions, INT_MAX)));
    if (n < 0)
      contPrintWrn(PLACE, "Ignore %s=%d: a partition count is not negative; keep %u", key.c_str(),
                   n, partitions);
    else
      partitions = static_cast<uint32_t>(n);
  }
  tuneOptions = xstring(config.getString(name + ".tune_options",
                                         std::string(tuneOptions.data(), tuneOptions.size())));
  {
    const std::string key = name + ".partition_megabytes";
    if (config.hasProperty(key)) {
      const int mb = config.getInt(key);
      if (mb <= 0)
        contPrintWrn(PLACE, "Ignore %s=%d: the limit must be positive; keep %llu bytes",
                     key.c_str(), mb, static_cast<unsigned long long>(partitionBytes));
      else
        partitionBytes = static_cast<uint64_t>(static_cast<int64_t>(mb)) * 1048576ULL;
    }
  }
  {
    const std::string key = name + ".partition_records";
    if (config.hasProperty(key)) {
      const int records = config.getInt(key);
      if (records <= 0)
        contPrintWrn(PLACE, "Ignore %s=%d: the limit must be positive; keep %u", key.c_str(),
                     records, partitionRecords);
      else
        partitionRecords = static_cast<uint32_t>(records);
    }
  }
  for (const std::string& path : configuredPartitionPaths(config, name, partitions))
    dbPaths.insert(xstring(path));
  return RC_OK;
}

void SKV_ContMKCStg::setKComparator(const KComparator* comparator) {
  ScopedLock lock(mutex);
  kComparator = comparator;
}
const SKV_ContMKCStg::KComparator* SKV_ContMKCStg::getKComparator() const {
  ScopedLock lock(mutex);
  return kComparator;
}
void SKV_ContMKCStg::setPartitionBytes(uint64_t bytes) {
  ScopedLock lock(mutex);
  partitionBytes = bytes;
}
uint64_t SKV_ContMKCStg::getPartitionBytes() const {
  ScopedLock lock(mutex);
  return partitionBytes;
}
void SKV_ContMKCStg::setPartitionRecords(uint32_t records) {
  ScopedLock lock(mutex);
  partitionRecords = records;
}
uint32_t SKV_ContMKCStg::getPartitionRecords() const {
  ScopedLock lock(mutex);
  return partitionRecords;
}

bool SKV_ContMKCStg::isOpen() const {
  ScopedLock lock(mutex);
  return _metaDB != nullptr;
}

xstring SKV_ContMKCStg::getKeyMin() const {
  ScopedLock lock(mutex);
  return dbEntries.empty() ? xstring() : dbEntries.front().keyMin;
}

xstring SKV_ContMKCStg::getKeyMax() const {
  if (keyMaxReady.load() == 0) return xstring();
  ScopedLock lock(keyMaxMutex);
  return keyMax;
}

// ---------------------------------------------------------------------------------------
// Open and close

int SKV_ContMKCStg::open(unsigned mode) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::open";
  ScopedLock lock(mutex);
  if (dbHome.empty() || dbName.empty() || dbType.empty() || partitions == 0) return RC_INVALID_DATA;
  if (_metaDB != nullptr && _metaDB->isOpen()) {
    contPrintInf(PLACE, "%s", "DB is already opened");
    return RC_OK;
  }
  // Every file name must fit 255 characters, the greatest partition index included.
  xstring longest;
  if (dbName.size() + 4 > static_cast<size_t>(kPartitionFileNameMax) ||
      dbName.find('\0') != xstring::npos ||
      !formatPartitionFileName(longest, dbName, UINT32_MAX, dbType)) {
    contPrintErr(PLACE, "%s", "Database name or type is too long for the file names");
    return RC_INVALID_DATA;
  }
  if ((mode & kyotocabinet::BasicDB::OWRITER) &&
      (mode & (kyotocabinet::BasicDB::OCREATE | kyotocabinet::BasicDB::OTRUNCATE)))
    makeDirectories(std::string(dbHome.data(), dbHome.size()), false);
  if (_metaDB == nullptr) {
    std::shared_ptr<SKV_KCStg> meta = std::make_shared<ContMetaDB>();
    xstring path(dbHome);
    path.append("/").append(dbName).append(".kct");
    meta->setDBPath(path);
    const int r = meta->open(23);
    if (r < 0) return r;
    _metaDB = meta;
  }
  if (!_metaDB->isOpen()) return RC_FAIL;
  try {
    {
      ScopedLock keyLock(keyMaxMutex);
      ++_generation;
      keyMaxReady.store(0);
      keyMax.clear();
    }
    _warnPartitionBytes();
    _loadMeta();
    _scanDBPaths();
    _appyDBPaths();
    const int r = _openPartitions(mode);
    if (r < 0) {
      _closeLocked();
      return r;
    }
    _storeMeta();
    std::stable_sort(dbEntries.begin(), dbEntries.end(), DBECmpByKeyMin(kComparator));
    _asynIterateKeyMAX();
    return RC_OK;
  } catch (...) {
    _closeLocked();
    throw;
  }
}

int SKV_ContMKCStg::close() {
  ScopedLock lock(mutex);
  _closeLocked();
  return RC_OK;
}

void SKV_ContMKCStg::_closeLocked() {
  {
    ScopedLock keyLock(keyMaxMutex);
    ++_generation;  // a scan still running stops and never marks KeyMAX known
    keyMaxReady.store(0);
    keyMax.clear();
  }
  _waitKeyMaxTask();
  DBEntries entries;
  entries.swap(dbEntries);
  entries.clear();  // partitions nobody else holds close here
  if (_metaDB != nullptr) {
    _metaDB->close();
    _metaDB.reset();
  }
  newestPartition = 0;
  dbPaths.clear();
  // Totals still at work hold partitions; they close them, and a new open must not open the
  // same files while they do.
  _users->waitIdle();
}

// ---------------------------------------------------------------------------------------
// KeyMAX

int SKV_ContMKCStg::_compare(const void* a, size_t aLen, const void* b, size_t bLen) const {
  return compareKeys(kComparator, a, aLen, b, bLen);
}

bool SKV_ContMKCStg::_equal(const void* a, size_t aLen, const void* b, size_t bLen) const {
  return equalKeys(kComparator, a, aLen, b, bLen);
}

int SKV_ContMKCStg::_cmpKeyMax(const void* key, size_t keyLen) const {
  // Once KeyMAX is known only holders of `mutex` change keyMax (the scan has finished and
  // close waited for it), and the caller holds `mutex`: no writer can run meanwhile.
  if (keyMax.empty()) return 1;
  return _compare(key, keyLen, keyMax.data(), keyMax.size());
}

int SKV_ContMKCStg::_udpKeyMax(const void* key, size_t keyLen) {
  ScopedLock lock(keyMaxMutex);
  if (keyMax.empty() ? keyLen > 0 : _compare(key, keyLen, keyMax.data(), keyMax.size()) >= 1) {
    keyMax.assign(static_cast<const char*>(key), keyLen);
    return 1;
  }
  return 0;
}

void SKV_ContMKCStg::_forceUdpKeyMax(const void* key, size_t keyLen) {
  ScopedLock lock(keyMaxMutex);
  keyMax.assign(static_cast<const char*>(key), keyLen);
}

void SKV_ContMKCStg::_asynIterateKeyMAX() {
  if (dbEntries.empty()) {
    keyMaxReady.fetch_add(1);
    return;
  }
  KeyMaxJob job;
  job.db = dbEntries.back().db;
  job.keyMin = dbEntries.back().keyMin;
  job.comparator = kComparator;
  job.generation = _generation.load();
  IterateKeyMAXProc* task = new IterateKeyMAXProc(this, job, _keyMaxTasks);
  _keyMaxTasks->enter();
  try {
    Poco::ThreadPool::defaultPool().start(*task);
    return;
  } catch (...) {
    // No pool thread free (or none can be made): the scan gets a thread of its own.
  }
  std::unique_ptr<Poco::Thread> thread;
  try {
    thread.reset(new Poco::Thread());
    thread->start(*task);
    _keyMaxThread = std::move(thread);
    return;
  } catch (...) {
  }
  if (thread && thread->isRunning()) {
    _keyMaxThread = std::move(thread);  // started after all
    return;
  }
  task->run();  // no thread at all: scan here, before open returns
}

void SKV_ContMKCStg::_waitKeyMaxTask() {
  _keyMaxTasks->waitIdle();
  if (_keyMaxThread) {
    try {
      _keyMaxThread->join();
    } catch (...) {
    }
    _keyMaxThread.reset();
  }
}

int SKV_ContMKCStg::_iterateKeyMAX(const KeyMaxJob& job) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::iterateKeyMAX";
  try {
    // Once the store has moved on to another open or close the scan only skips the records.
    xstring m(job.keyMin);
    const int r = scanKeyBound(*job.db, &m, job.comparator, 1, &_generation, job.generation, PLACE);
    if (r < 0) return r;
    {
      ScopedLock lock(keyMaxMutex);
      if (_generation.load() != job.generation) return RC_OK;  // a stale scan: drop it
      if (keyMax.empty() ||
          compareKeys(job.comparator, m.data(), m.size(), keyMax.data(), keyMax.size()) > 0)
        keyMax = m;
      keyMaxReady.fetch_add(1);
    }
    contPrintLine("KeyMAX=\"%s\"\n", m.c_str());
    return r;
  } catch (...) {
    contPrintCurrentException(PLACE);
  }
  return RC_EXCEPTION;
}

// ---------------------------------------------------------------------------------------
// Routing

const SKV_ContMKCStg::DBEntry* SKV_ContMKCStg::_findDBEntry(const DBEntries& entries,
                                                            const void* key, size_t keyLen) const {
  DBEntries::const_iterator it = std::lower_bound(
      entries.begin(), entries.end(), 0, [&](const DBEntry& e, int) {
        return _compare(e.keyMin.data(), e.keyMin.size(), key, keyLen) < 0;
      });
  if (it != entries.end() && _equal(it->keyMin.data(), it->keyMin.size(), key, keyLen)) return &*it;
  if (it == entries.begin()) return nullptr;
  return &*(it - 1);
}

SKV_ContMKCStg::DBEntries::iterator SKV_ContMKCStg::_findDBEntry(DBEntries& entries,
                                                                 uint32_t index) {
  DBEntries::iterator it = std::lower_bound(
      entries.begin(), entries.end(), index,
      [](const DBEntry& e, uint32_t i) { return e.index < i; });
  if (it != entries.end() && it->index == index) return it;
  return entries.end();
}

bool SKV_ContMKCStg::_needCreateNewPartition() const {
  if (dbEntries.empty()) return true;
  const SKV_KCStg& newest = *dbEntries.back().db;
  const uint64_t count = newest.kc_count();
  // The reserved record alone: no user record, never full (a limit below one record would
  // otherwise open a partition for every put).
  if (count <= 1) return false;
  if (count >= static_cast<uint64_t>(partitionRecords) + 1) return true;
  if (newest.kc_size() >= partitionBytes) return true;
  return false;
}

// ---------------------------------------------------------------------------------------
// Record operations

int SKV_ContMKCStg::putTx0(ITransaction* tx, const void* key, size_t keyLen, const void* value,
                           size_t valueLen, int policy) {
  if (key == nullptr || keyLen < 2) return RC_INVALID_PARAM;
  try {
    ScopedLock lock(mutex);
    const DBEntry* target = nullptr;
    if (keyMaxReady.load() != 0) {
      if (_cmpKeyMax(key, keyLen) > 0) {
        if (_needCreateNewPartition()) {
          const int r = _createNewPartition(key, keyLen);
          if (r < 0) return r;
        }
        _forceUdpKeyMax(key, keyLen);
        target = &dbEntries.back();
      } else {
        target = _findDBEntry(dbEntries, key, keyLen);
      }
    } else {
      _udpKeyMax(key, keyLen);
      target = _findDBEntry(dbEntries, key, keyLen);
    }
    if (target == nullptr) return RC_UNDER_FLOW;
    return target->db->putTx0(tx, key, keyLen, value, valueLen, policy);
  } catch (...) {
    contPrintCurrentException("wdb::SKV_ContMKCStg::putTx0");
  }
  return RC_EXCEPTION;
}

template <typename Op>
int SKV_ContMKCStg::_forward(const char* place, const void* key, size_t keyLen, int shortKey,
                             int noPartition, Op op) const {
  if (key == nullptr || keyLen < 2) return shortKey;
  try {
    ScopedLock lock(mutex);
    const DBEntry* target = _findDBEntry(dbEntries, key, keyLen);
    if (target == nullptr) return noPartition;
    return op(*target->db);
  } catch (...) {
    contPrintCurrentException(place);
  }
  return RC_EXCEPTION;
}

int SKV_ContMKCStg::removeTx0(ITransaction* tx, const void* key, size_t keyLen) {
  return _forward("wdb::SKV_ContMKCStg::removeTx0", key, keyLen, RC_REMOVE_SHORT_KEY,
                  RC_REMOVE_NOTHING, [&](SKV_KCStg& db) { return db.removeTx0(tx, key, keyLen); });
}

int SKV_ContMKCStg::popTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                           size_t keyLen) {
  return _forward("wdb::SKV_ContMKCStg::popTx0", key, keyLen, RC_INVALID_PARAM, RC_NOT_EXIST,
                  [&](SKV_KCStg& db) { return db.popTx0(tx, value, valueLen, key, keyLen); });
}

int SKV_ContMKCStg::getTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                           size_t keyLen) const {
  return _forward("wdb::SKV_ContMKCStg::getTx0", key, keyLen, RC_INVALID_PARAM, RC_NOT_EXIST,
                  [&](SKV_KCStg& db) { return db.getTx0(tx, value, valueLen, key, keyLen); });
}

int SKV_ContMKCStg::existTx0(ITransaction* tx, const void* key, size_t keyLen) const {
  return _forward("wdb::SKV_ContMKCStg::existTx0", key, keyLen, RC_INVALID_PARAM, RC_NOT_EXIST,
                  [&](SKV_KCStg& db) { return db.existTx0(tx, key, keyLen); });
}

int SKV_ContMKCStg::setKeyMin(const void* key, size_t keyLen) {
  if (key == nullptr || keyLen < 2) return RC_INVALID_PARAM;
  try {
    ScopedLock lock(mutex);
    if (!dbEntries.empty()) return RC_ALREADY_EXIST;
    // A closed store has no meta database to record the partition in.
    if (_metaDB == nullptr) return RC_NOT_OPENED;
    const int r = _createNewPartition(key, keyLen);
    if (r < 0) return r;
    _udpKeyMax(key, keyLen);
    return RC_OK;
  } catch (...) {
    contPrintCurrentException("wdb::SKV_ContMKCStg::setKeyMin");
  }
  return RC_EXCEPTION;
}

// ---------------------------------------------------------------------------------------
// Totals

SKV_ContMKCStg::DBEntries SKV_ContMKCStg::_acquireEntries() const {
  ScopedLock lock(mutex);
  DBEntries copy(dbEntries);
  _users->enter();
  return copy;
}

namespace {

// Holds a copied partition list for a total; drops the copies before signing off, so that a
// close waiting for the totals finds the partitions closed.
class EntriesUse {
 public:
  EntriesUse(SKV_ContMKCStg::DBEntries&& entries, const std::shared_ptr<TaskGate>& gate)
      : list(std::move(entries)), _gate(gate) {}
  ~EntriesUse() {
    list.clear();
    _gate->leave();
  }
  SKV_ContMKCStg::DBEntries list;

 private:
  std::shared_ptr<TaskGate> _gate;
};

}  // namespace

int64_t SKV_ContMKCStg::_sum(uint64_t (SKV_KCStg::*measure)() const) const {
  std::shared_ptr<TaskGate> gate = _users;
  EntriesUse use(_acquireEntries(), gate);
  int64_t total = 0;
  for (DBEntries::const_iterator it = use.list.begin(); it != use.list.end(); ++it)
    total += static_cast<int64_t>((it->db.get()->*measure)());
  return total;
}

int64_t SKV_ContMKCStg::kc_count() const { return _sum(&SKV_KCStg::kc_count); }

int64_t SKV_ContMKCStg::kc_size() const { return _sum(&SKV_KCStg::kc_size); }

int SKV_ContMKCStg::kc_iterate(kyotocabinet::DB::Visitor* visitor, uint64_t threads) const {
  if (threads > 1) return RC_UNSUPPORTED;
  std::shared_ptr<TaskGate> gate = _users;
  EntriesUse use(_acquireEntries(), gate);
  int result = RC_OK;
  for (DBEntries::const_iterator it = use.list.begin(); it != use.list.end(); ++it) {
    const int r = it->db->kc_iterate(visitor, 0);
    if (r < 0) result = r;
  }
  return result;
}

// ---------------------------------------------------------------------------------------
// Fixed answers

ITransaction* SKV_ContMKCStg::makeTransaction() const { return nullptr; }
ITransaction* SKV_ContMKCStg::makeTransaction(unsigned) const { return nullptr; }
ISKVCursor* SKV_ContMKCStg::makeSKVCursor(ITransaction*) const { return nullptr; }
int SKV_ContMKCStg::flush() { return RC_OK; }
bool SKV_ContMKCStg::empty() const { return true; }
uint64_t SKV_ContMKCStg::size() const { return 0; }
uint64_t SKV_ContMKCStg::maxSize() const { return UINT64_MAX; }
void SKV_ContMKCStg::clear() {}
void SKV_ContMKCStg::freeData(void* data) const { releaseValueBuffer(data); }

}  // namespace wdb
