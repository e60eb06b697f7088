#include "src/wdb/kc/SKV_UniMKCStg.h"

#include <Poco/DirectoryIterator.h>
#include <Poco/Exception.h>
#include <Poco/File.h>
#include <Poco/Util/AbstractConfiguration.h>
#include <kcpolydb.h>
#include <libhashkit-1.0/hashkit.h>

#include <cstdio>
#include <exception>

#include "src/wdb/kc/fileutil.h"
#include "src/wdb/kc/partfile.h"
#include "src/wdb/kc/storelog.h"
#include "src/xlabs.h"

namespace wdb {

namespace {

const char* const PLACE_OPEN = "wdb::SKV_UniMKCStg::open";

std::string toStd(const xstring& s) { return std::string(s.data(), s.size()); }

// Listing lines on standard output.
void printTitle(const char* title) { storeLine(stdout, nullptr, nullptr, "%s\n", title); }

void printPath(const xstring& path) { storeLine(stdout, nullptr, nullptr, "%s\n", path.c_str()); }

}  // namespace

SKV_UniMKCStg::SKV_UniMKCStg() : kHasher(nullptr), openMode(0) {}

SKV_UniMKCStg::~SKV_UniMKCStg() { close(); }

int SKV_UniMKCStg::loadConfig(const std::string& name,
                              const Poco::Util::AbstractConfiguration& config) {
  Lock lock(mutex);
  // Plain strings: the keys come out right in every allocator state.
  dbHome = xstring(config.getString(name + ".home"));
  dbName = xstring(config.getString(name + ".dbname"));
  dbType = xstring(config.getString(name + ".dbtype", toStd(dbType)));
  const std::string countKey = name + ".partitions";
  if (config.hasProperty(countKey)) {
    const int count = config.getInt(countKey);
    if (count < 0) throw Poco::InvalidArgumentException("negative partition count", countKey);
    partitions = static_cast<uint32_t>(count);
  }
  tuneOptions = xstring(config.getString(name + ".tune_options", toStd(tuneOptions)));
  for (const std::string& p : configuredPartitionPaths(config, name, partitions)) {
    const xstring path(p);
    dbPaths.insert(path);
    _cfgPaths.insert(path);
  }
  return 0;
}

int SKV_UniMKCStg::open(unsigned mode) {
  Lock lock(mutex);
  if (dbHome.empty() || dbName.empty() || dbType.empty() || partitions == 0) return RC_INVALID_DATA;
  const bool wasOpen = !dbEntries.empty();
  // An open store keeps the partition count it opened with.
  const uint32_t count = wasOpen ? static_cast<uint32_t>(dbEntries.size()) : partitions;
  if (count > kMaxOpenPartitions) {
    storeLine(stderr, "ERR", PLACE_OPEN,
              "%u partitions are above the limit of %d partitions a process can hold open at "
              "once",
              count, static_cast<int>(kMaxOpenPartitions));
    return RC_INVALID_DATA;
  }
  // The longest name is the one of the last partition; refuse rather than truncate.
  xstring longest;
  if (!isSafeKCPath(dbHome) || !isSafeKCPath(dbName) || !isSafeKCPath(dbType) ||
      !formatPartitionFileName(longest, dbName, count - 1, dbType))
    return RC_INVALID_PARAM;

  if ((mode & kyotocabinet::PolyDB::OWRITER) &&
      (mode & (kyotocabinet::PolyDB::OCREATE | kyotocabinet::PolyDB::OTRUNCATE)))
    makeDirectories(toStd(dbHome), false);

  if (!wasOpen) {
    dbEntries.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
      DBEntry entry;
      entry.db.reset(new SKV_KCStg());
      entry.index = i;
      dbEntries.push_back(entry);
    }
  }

  try {
    _scanDBPaths();
    _appyDBPaths();
  } catch (...) {
    if (!wasOpen) _close();
    throw;
  }

  const int result = _openPartitions(mode);
  if (result < 0) {
    // Nothing to serve: the store stays closed.
    _close();
    return result;
  }
  openMode = mode;
  return RC_OK;
}

int SKV_UniMKCStg::close() {
  Lock lock(mutex);
  return _close();
}

int SKV_UniMKCStg::_close() {
  dbEntries.clear();
  dbPaths = _cfgPaths;
  return RC_OK;
}

bool SKV_UniMKCStg::isOpen() const {
  Lock lock(mutex);
  return !dbEntries.empty();
}

xstring SKV_UniMKCStg::_homePath(const xstring& fileName) const {
  xstring path(dbHome);
  if (path.empty() || path[path.size() - 1] != '/') path.push_back('/');
  path.append(fileName);
  return path;
}

void SKV_UniMKCStg::_scanDBPaths() {
  Poco::DirectoryIterator end;
  for (Poco::DirectoryIterator it(toStd(dbHome)); it != end; ++it) {
    // The name test first: only candidates have their status read.
    if (!parsePartitionFileName(it.name().c_str(), dbName, dbType, nullptr, nullptr)) continue;
    if (!it->isFile()) continue;
    dbPaths.insert(_homePath(xstring(it.name())));
  }
  _printDBPaths();
}

void SKV_UniMKCStg::_appyDBPaths() {
  const uint32_t count = static_cast<uint32_t>(dbEntries.size());
  // The winner per partition: a canonical name beats any other; among equals the last
  // in set (byte) order.
  std::vector<const xstring*> chosen(count, nullptr);
  std::vector<char> chosenCanonical(count, 0);
  for (std::set<xstring>::const_iterator it = dbPaths.begin(); it != dbPaths.end(); ++it) {
    unsigned n = 0;
    bool canonical = false;
    if (!isSafeKCPath(*it)) {
      if (parsePartitionFileName(fileNameOf(*it).c_str(), dbName, dbType, &n, nullptr) && n < count)
        storeLine(stdout, "WRN", PLACE_OPEN,
                  "\"%s\" is not used: Kyoto Cabinet cannot open this path", it->c_str());
      continue;
    }
    if (!parsePartitionFileName(fileNameOf(*it).c_str(), dbName, dbType, &n, &canonical) ||
        n >= count)
      continue;
    if (chosen[n] == nullptr || canonical || !chosenCanonical[n]) {
      chosen[n] = &*it;
      chosenCanonical[n] = canonical;
    }
  }
  for (uint32_t n = 0; n < count; ++n) {
    if (chosen[n] == nullptr) continue;
    SKV_KCStg* db = dbEntries[n].db.get();
    // An open partition stays on its file: its records are there.
    if (!db->isOpen() && db->getDBPath() != *chosen[n]) db->setDBPath(*chosen[n]);
  }
  // Every other claimant is reported and left alone.
  for (std::set<xstring>::const_iterator it = dbPaths.begin(); it != dbPaths.end(); ++it) {
    unsigned n = 0;
    if (!isSafeKCPath(*it) ||
        !parsePartitionFileName(fileNameOf(*it).c_str(), dbName, dbType, &n, nullptr) || n >= count)
      continue;
    const xstring used = dbEntries[n].db->getDBPath();
    if (used != *it)
      storeLine(stdout, "WRN", PLACE_OPEN, "Partition[%u] uses \"%s\"; \"%s\" is left alone", n,
                used.c_str(), it->c_str());
  }
  printTitle("=== List of DB Entries all ===");
  _printDBEntries();
}

int SKV_UniMKCStg::_openPartitions(unsigned mode) {
  int lastFailure = RC_FAIL;
  bool anyOpen = false;
  for (size_t i = dbEntries.size(); i-- > 0;) {
    DBEntry& entry = dbEntries[i];
    if (entry.db->getDBPath().empty()) {
      xstring name;
      if (!formatPartitionFileName(name, dbName, entry.index, dbType)) {
        lastFailure = RC_INVALID_PARAM;
        continue;
      }
      entry.db->setDBPath(_homePath(name));
    }
    entry.db->setTuneOptions(tuneOptions);
    const int r = entry.db->open(mode);
    if (r < 0) lastFailure = r;
    if (entry.db->isOpen()) anyOpen = true;
  }
  printTitle("=== List of DB Entries opened ===");
  _printDBEntries();
  return anyOpen ? RC_OK : lastFailure;
}

void SKV_UniMKCStg::_printDBPaths() const {
  printTitle("=== List of DB Paths from Config & in Home dir ===");
  for (std::set<xstring>::const_iterator it = dbPaths.begin(); it != dbPaths.end(); ++it)
    printPath(*it);
}

void SKV_UniMKCStg::_printDBEntries() const {
  for (size_t i = 0; i < dbEntries.size(); ++i) {
    const DBEntry& entry = dbEntries[i];
    const xstring path = entry.db ? entry.db->getDBPath() : xstring();
    storeLine(stdout, nullptr, nullptr, "Partition[%u]: %s\n", entry.index, path.c_str());
  }
}

void SKV_UniMKCStg::setKHasher(const KHasher* hasher) {
  Lock lock(mutex);
  kHasher = hasher;
}

const SKV_UniMKCStg::KHasher* SKV_UniMKCStg::getKHasher() const {
  Lock lock(mutex);
  return kHasher;
}

std::vector<SKV_UniMKCStg::DBEntry> SKV_UniMKCStg::_copyEntries() const {
  Lock lock(mutex);
  return dbEntries;
}

int64_t SKV_UniMKCStg::_sum(uint64_t (SKV_KCStg::*measure)() const) const {
  const std::vector<DBEntry> entries = _copyEntries();
  int64_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i)
    if (entries[i].db) total += static_cast<int64_t>((entries[i].db.get()->*measure)());
  return total;
}

int64_t SKV_UniMKCStg::kc_count() const { return _sum(&SKV_KCStg::kc_count); }

int64_t SKV_UniMKCStg::kc_size() const { return _sum(&SKV_KCStg::kc_size); }

int SKV_UniMKCStg::kc_iterate(kyotocabinet::DB::Visitor* visitor, uint64_t threads) const {
  if (threads > 1) return RC_UNSUPPORTED;
  const std::vector<DBEntry> entries = _copyEntries();
  int result = RC_OK;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].db) continue;
    const int r = entries[i].db->kc_iterate(visitor, 0);
    if (r < 0) result = r;
  }
  return result;
}

ITransaction* SKV_UniMKCStg::makeTransaction() const { return nullptr; }

ITransaction* SKV_UniMKCStg::makeTransaction(unsigned) const { return nullptr; }

ISKVCursor* SKV_UniMKCStg::makeSKVCursor(ITransaction*) const { return nullptr; }

int SKV_UniMKCStg::flush() { return RC_OK; }

bool SKV_UniMKCStg::empty() const { return true; }

uint64_t SKV_UniMKCStg::size() const { return 0; }

uint64_t SKV_UniMKCStg::maxSize() const { return UINT64_MAX; }

void SKV_UniMKCStg::clear() {}

void SKV_UniMKCStg::freeData(void* data) const { releaseValueBuffer(data); }

SKV_KCStg* SKV_UniMKCStg::_route(const void* key, size_t keyLen, const char** kbuf) const {
  const size_t count = dbEntries.size();
  if (count == 0) return nullptr;
  size_t index = 0;
  if (key != nullptr && keyLen > 0) {
    *kbuf = static_cast<const char*>(key);
    if (kHasher != nullptr) {
      index = static_cast<size_t>(kHasher->hash(key, keyLen) % count);
    } else {
      const uint32_t h = libhashkit_jenkins(*kbuf, keyLen);
      index = h % count;
    }
  } else {
    *kbuf = "";  // an empty key is still a valid buffer for Kyoto Cabinet
  }
  return dbEntries[index].db.get();
}

template <typename Op>
int SKV_UniMKCStg::_forward(const void* key, size_t keyLen, Op op) const {
  Lock lock(mutex);
  const char* kbuf = nullptr;
  if (dbEntries.empty()) return RC_NOT_OPENED;
  if (key == nullptr && keyLen > 0) return RC_INVALID_PARAM;
  SKV_KCStg& db = *_route(key, keyLen, &kbuf);  // sets kbuf: route before the call
  return op(db, kbuf);
}

int SKV_UniMKCStg::putTx0(ITransaction* tx, const void* key, size_t keyLen, const void* value,
                          size_t valueLen, int policy) {
  return _forward(key, keyLen, [&](SKV_KCStg& db, const char* kbuf) {
    return db.putTx0(tx, kbuf, keyLen, value, valueLen, policy);
  });
}

int SKV_UniMKCStg::removeTx0(ITransaction* tx, const void* key, size_t keyLen) {
  return _forward(key, keyLen,
                  [&](SKV_KCStg& db, const char* kbuf) { return db.removeTx0(tx, kbuf, keyLen); });
}

int SKV_UniMKCStg::popTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                          size_t keyLen) {
  return _forward(key, keyLen, [&](SKV_KCStg& db, const char* kbuf) {
    return db.popTx0(tx, value, valueLen, kbuf, keyLen);
  });
}

int SKV_UniMKCStg::getTx0(ITransaction* tx, void** value, size_t* valueLen, const void* key,
                          size_t keyLen) const {
  return _forward(key, keyLen, [&](SKV_KCStg& db, const char* kbuf) {
    return db.getTx0(tx, value, valueLen, kbuf, keyLen);
  });
}

int SKV_UniMKCStg::existTx0(ITransaction* tx, const void* key, size_t keyLen) const {
  return _forward(key, keyLen,
                  [&](SKV_KCStg& db, const char* kbuf) { return db.existTx0(tx, kbuf, keyLen); });
}

}  // namespace wdb
