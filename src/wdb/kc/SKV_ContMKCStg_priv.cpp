// Meta database, opening steps, partition lifecycle and background scans of the contiguous
// store, with the helpers they share with SKV_ContMKCStg.cpp.
#include "src/wdb/kc/SKV_ContMKCStg_priv.h"

#include <Poco/File.h>
#include <Poco/Thread.h>
#include <errno.h>
#include <fcntl.h>
#include <kcpolydb.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <utility>
#include <vector>

#include "kcext/kcpolydb_ext.h"
#include "src/wdb/kc/partfile.h"
#include "src/wdb/kc/storelog.h"
#include "src/xcheck.h"

namespace wdb {

using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TType;
using apache::thrift::transport::TMemoryBuffer;

const char kReservedKey[1] = {'\0'};
const char kMetaNumPartitions[] = "num_partitions";
const char kMetaNewestPartition[] = "newest_partition";

// ---------------------------------------------------------------------------------------
// Log lines

void contPrintInf(const char* place, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stdout, "inf", place, fmt, ap);
  va_end(ap);
}

void contPrintWrn(const char* place, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stdout, "WRN", place, fmt, ap);
  va_end(ap);
}

void contPrintErr(const char* place, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stderr, "ERR", place, fmt, ap);
  va_end(ap);
}

void contPrintLine(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stdout, nullptr, nullptr, fmt, ap);
  va_end(ap);
}

void contPrintCurrentException(const char* place) noexcept {
  try {
    throw;
  } catch (const std::exception& e) {
    const char* what = "Unknown exception";
    try {
      what = e.what();
    } catch (...) {
    }
    contPrintErr(place, "%s", what);
  } catch (...) {
    contPrintErr(place, "%s", "Unknown exception");
  }
}

xstring metaPartitionKey(uint32_t index) {
  char key[128];
  const int n = std::snprintf(key, sizeof key, "partition-%u", index);
  return xstring(key, static_cast<size_t>(n));
}

xstring keyText(const void* key, size_t keyLen) {
  if (key == nullptr) return xstring();
  const char* k = static_cast<const char*>(key);
  return xstring(k, strnlen(k, keyLen));
}

// ---------------------------------------------------------------------------------------
// Meta values

xstring encodeMetaU32(uint32_t value) {
  char bytes[4];
  std::memcpy(bytes, &value, 4);  // host byte order
  return xstring(bytes, 4);
}

bool decodeMetaU32(const xstring& value, uint32_t* out) {
  if (value.size() < 4) return false;
  std::memcpy(out, value.data(), 4);
  return true;
}

uint32_t SKV_ContMKCStg::DBEntry::write(TProtocol* oprot) const {
  XCHECK(db != nullptr, "DBEntry::write needs its db");
  const xstring path = db->getDBPath();
  uint32_t n = 0;
  n += oprot->writeStructBegin("DBEntry");
  n += oprot->writeFieldBegin("path", apache::thrift::protocol::T_STRING, 1);
  n += oprot->writeString(std::string(path.data(), path.size()));
  n += oprot->writeFieldEnd();
  n += oprot->writeFieldBegin("keyMin", apache::thrift::protocol::T_STRING, 2);
  n += oprot->writeString(std::string(keyMin.data(), keyMin.size()));
  n += oprot->writeFieldEnd();
  n += oprot->writeFieldStop();
  n += oprot->writeStructEnd();
  return n;
}

uint32_t SKV_ContMKCStg::DBEntry::read(TProtocol* iprot) {
  XCHECK(db != nullptr, "DBEntry::read needs its db");
  uint32_t n = 0;
  std::string name;
  TType type;
  int16_t id;
  n += iprot->readStructBegin(name);
  for (;;) {
    n += iprot->readFieldBegin(name, type, id);
    if (type == apache::thrift::protocol::T_STOP) break;
    if (id == 1 && type == apache::thrift::protocol::T_STRING) {
      std::string s;
      n += iprot->readString(s);
      db->setDBPath(xstring(s));
    } else if (id == 2 && type == apache::thrift::protocol::T_STRING) {
      std::string s;
      n += iprot->readString(s);
      keyMin = xstring(s);
    } else {
      n += iprot->skip(type);
    }
    n += iprot->readFieldEnd();
  }
  n += iprot->readStructEnd();
  return n;
}

template <class Record, class Protocol>
TSerializer<Record, Protocol>::TSerializer() {}

template <class Record, class Protocol>
TSerializer<Record, Protocol>::~TSerializer() {}

template <class Record, class Protocol>
uint32_t TSerializer<Record, Protocol>::serialize(const Record& record) {
  try {
    if (!_buffer) _buffer = std::make_shared<TMemoryBuffer>();
    Protocol protocol(_buffer);
    return record.write(&protocol);
  } catch (...) {
    return 0;
  }
}

template <class Record, class Protocol>
xstring TSerializer<Record, Protocol>::bytes() const {
  if (!_buffer) return xstring();
  uint8_t* data = nullptr;
  uint32_t size = 0;
  _buffer->getBuffer(&data, &size);
  return xstring(reinterpret_cast<const char*>(data), size);
}

template class TSerializer<SKV_ContMKCStg::DBEntry, TBinaryProtocol>;

xstring encodeMetaEntry(const xstring& path, const xstring& keyMin) {
  try {
    std::shared_ptr<SKV_KCStg> db = std::make_shared<SKV_KCStg>();
    db->setDBPath(path);
    SKV_ContMKCStg::DBEntry entry(db, 0, keyMin);
    TSerializer<SKV_ContMKCStg::DBEntry, TBinaryProtocol> serializer;
    if (serializer.serialize(entry) == 0) return xstring();
    return serializer.bytes();
  } catch (...) {
    return xstring();
  }
}

namespace {

// Walks one binary-protocol value of the given type; false for a type byte that is no Thrift
// type, a negative or overlong length, nesting deeper than 64 or bytes missing. Lets the
// reader refuse such values before the protocol turns a stray byte into its type enum.
bool walkBinaryValue(const uint8_t*& p, const uint8_t* end, int type, int depth) {
  auto need = [&](size_t n) { return static_cast<size_t>(end - p) >= n; };
  auto i32 = [&]() {
    const uint32_t v = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
                       uint32_t(p[3]);
    p += 4;
    return static_cast<int32_t>(v);
  };
  auto known = [](int t) {
    return t == 2 || t == 3 || t == 4 || t == 6 || t == 8 || t == 10 || t == 11 || t == 12 ||
           t == 13 || t == 14 || t == 15;
  };
  if (depth > 64) return false;
  switch (type) {
    case 2:  // bool
    case 3:  // byte
      if (!need(1)) return false;
      p += 1;
      return true;
    case 6:  // i16
      if (!need(2)) return false;
      p += 2;
      return true;
    case 8:  // i32
      if (!need(4)) return false;
      p += 4;
      return true;
    case 4:   // double
    case 10:  // i64
      if (!need(8)) return false;
      p += 8;
      return true;
    case 11: {  // string
      if (!need(4)) return false;
      const int32_t n = i32();
      if (n < 0 || !need(static_cast<size_t>(n))) return false;
      p += n;
      return true;
    }
    case 12:  // struct
      for (;;) {
        if (!need(1)) return false;
        const int t = static_cast<int8_t>(*p++);
        if (t == 0) return true;
        if (!known(t) || !need(2)) return false;
        p += 2;  // field id
        if (!walkBinaryValue(p, end, t, depth + 1)) return false;
      }
    case 13: {  // map
      if (!need(6)) return false;
      const int k = static_cast<int8_t>(p[0]);
      const int v = static_cast<int8_t>(p[1]);
      p += 2;
      const int32_t n = i32();
      if (!known(k) || !known(v) || n < 0) return false;
      for (int32_t i = 0; i < n; ++i)
        if (!walkBinaryValue(p, end, k, depth + 1) || !walkBinaryValue(p, end, v, depth + 1))
          return false;
      return true;
    }
    case 14:    // set
    case 15: {  // list
      if (!need(5)) return false;
      const int e = static_cast<int8_t>(p[0]);
      p += 1;
      const int32_t n = i32();
      if (!known(e) || n < 0) return false;
      for (int32_t i = 0; i < n; ++i)
        if (!walkBinaryValue(p, end, e, depth + 1)) return false;
      return true;
    }
    default: return false;
  }
}

// Reads one "partition-<i>" value into entry (whose db is set); 0 on any failure.
uint32_t readMetaEntry(const void* data, size_t size, SKV_ContMKCStg::DBEntry* entry) noexcept {
  try {
    if (size == 0 || size > UINT32_MAX) return 0;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (!walkBinaryValue(p, p + size, 12, 0)) return 0;
    // OBSERVE: the buffer reads the bytes in place and never writes them.
    std::shared_ptr<TMemoryBuffer> buffer = std::make_shared<TMemoryBuffer>(
        const_cast<uint8_t*>(static_cast<const uint8_t*>(data)), static_cast<uint32_t>(size),
        TMemoryBuffer::OBSERVE);
    // No string or container can be longer than the value itself: a length beyond it fails
    // at once instead of reserving that much memory first.
    const int32_t limit = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
    TBinaryProtocol protocol(buffer, limit, limit, false, true);
    return entry->read(&protocol);
  } catch (...) {
    return 0;
  }
}

}  // namespace

uint32_t decodeMetaEntry(const void* data, size_t size, xstring* path, xstring* keyMin) {
  try {
    std::shared_ptr<SKV_KCStg> db = std::make_shared<SKV_KCStg>();
    db->setDBPath(*path);
    SKV_ContMKCStg::DBEntry entry(db, 0, *keyMin);
    const uint32_t n = readMetaEntry(data, size, &entry);
    if (n == 0) return 0;
    *path = db->getDBPath();
    keyMin->swap(entry.keyMin);
    return n;
  } catch (...) {
    return 0;
  }
}

// ---------------------------------------------------------------------------------------
// Partition databases and tasks

int ContPartitionDB::scanReadLocked(kyotocabinet::DB::Visitor* visitor,
                                    kyotocabinet::BasicDB::ProgressChecker* checker) const {
  if (polyDB == nullptr) return RC_NOT_OPENED;
  return polyDB->scan_parallel(visitor, 1, checker) ? RC_OK : RC_FAIL;
}

void ContMetaDB::_emptyLog() {
  if (_logReusable) _cutLog(0);
}

bool ContMetaDB::beginBatch(bool hard) {
  if (polyDB == nullptr) return false;
  try {
    _emptyLog();
    return polyDB->begin_transaction(hard);
  } catch (...) {
    return false;
  }
}

bool ContMetaDB::endBatch(bool commit) {
  if (polyDB == nullptr) return false;
  try {
    const bool ok = polyDB->end_transaction(commit);
    if (ok)
      _emptyLog();
    else
      _logReusable = false;
    return ok;
  } catch (...) {
    _logReusable = false;
    return false;
  }
}

MetaBatch::MetaBatch(const std::shared_ptr<SKV_KCStg>& meta, bool hard) : _db(nullptr) {
  ContMetaDB* db = dynamic_cast<ContMetaDB*>(meta.get());
  if (db != nullptr && db->beginBatch(hard)) _db = db;
}

MetaBatch::~MetaBatch() {
  if (_db != nullptr) _db->endBatch(false);
}

bool MetaBatch::commit() {
  if (_db == nullptr) return true;
  ContMetaDB* db = _db;
  _db = nullptr;
  return db->endBatch(true);
}

int scanPartition(const SKV_KCStg& db, kyotocabinet::DB::Visitor* visitor,
                  kyotocabinet::BasicDB::ProgressChecker* checker) {
  const ContPartitionDB* part = dynamic_cast<const ContPartitionDB*>(&db);
  if (part != nullptr) return part->scanReadLocked(visitor, checker);
  return db.kc_iterate(visitor, 0);
}

int scanKeyBound(const SKV_KCStg& db, xstring* bound, const KComparator* cmp, int sign,
                 const std::atomic<uint32_t>* gen, uint32_t mine, const char* place) {
  // Changes nothing; an error inside a visit is kept for after the scan, never thrown.
  class BoundVisitor : public kyotocabinet::DB::Visitor {
   public:
    BoundVisitor(xstring* bound, const KComparator* cmp, int sign, const std::atomic<uint32_t>* gen,
                 uint32_t mine)
        : _bound(bound), _cmp(cmp), _sign(sign), _gen(gen), _mine(mine), failed(false) {
      message[0] = '\0';
    }
    const char* visit_full(const char* kbuf, size_t ksiz, const char*, size_t, size_t*) override {
      if (ksiz < 2 || failed) return NOP;
      if (_gen != nullptr && _gen->load(std::memory_order_relaxed) != _mine) return NOP;
      try {
        const int c = _bound->empty()
                          ? _sign
                          : compareKeys(_cmp, kbuf, ksiz, _bound->data(), _bound->size());
        if (_sign > 0 ? c > 0 : c < 0) _bound->assign(kbuf, ksiz);
      } catch (const std::exception& e) {
        failed = true;
        std::snprintf(message, sizeof message, "%s", e.what());
      } catch (...) {
        failed = true;
        std::snprintf(message, sizeof message, "%s", "Unknown exception");
      }
      return NOP;
    }

   private:
    xstring* _bound;
    const KComparator* _cmp;
    int _sign;
    const std::atomic<uint32_t>* _gen;
    uint32_t _mine;

   public:
    bool failed;
    char message[512];
  };
  try {
    BoundVisitor visitor(bound, cmp, sign, gen, mine);
    // No progress checker aborts the scan: an aborted scan leaves a per-thread error record of
    // Kyoto Cabinet behind on the thread. A stale scan only skips the records.
    const int r = scanPartition(db, &visitor, nullptr);
    if (visitor.failed) {
      contPrintErr(place, "%s", visitor.message);
      return RC_EXCEPTION;
    }
    return r;
  } catch (...) {
    contPrintCurrentException(place);
  }
  return RC_EXCEPTION;
}

void TaskGate::enter() {
  Poco::FastMutex::ScopedLock lock(_m);
  ++_count;
}

void TaskGate::leave() {
  Poco::FastMutex::ScopedLock lock(_m);
  XCHECK(_count > 0, "TaskGate::leave without enter");
  if (--_count == 0) _idle.broadcast();
}

void TaskGate::waitIdle() {
  Poco::FastMutex::ScopedLock lock(_m);
  while (_count != 0) _idle.wait(_m);
}

IterateKeyMAXProc::IterateKeyMAXProc(SKV_ContMKCStg* store, const SKV_ContMKCStg::KeyMaxJob& job,
                                     const std::shared_ptr<TaskGate>& gate)
    : _store(store), _job(job), _gate(gate) {}

IterateKeyMAXProc::~IterateKeyMAXProc() {}

void IterateKeyMAXProc::run() {
  try {
    _store->_iterateKeyMAX(_job);
  } catch (...) {
  }
  contPrintInf("wdb::SKV_ContMKCStg::asynIterateKeyMAX::IterateKeyMAXProc::run", "%s",
               "Exit thread");
  // Let go of the partition before signing off: once the gate is idle the store may close
  // and reopen the file, and this task must no longer hold it.
  std::shared_ptr<TaskGate> gate;
  gate.swap(_gate);
  _job.db.reset();
  xstring().swap(_job.keyMin);
  gate->leave();
  delete this;
}

IterateKeyRangeProc::IterateKeyRangeProc(const xstring& name, SKV_ContMKCStg* store,
                                         SKV_ContMKCStg::DBEntry* entry, int* result)
    : _name(name), _store(store), _entry(entry), _result(result) {}

IterateKeyRangeProc::~IterateKeyRangeProc() {}

void IterateKeyRangeProc::run() {
  int r = RC_EXCEPTION;
  try {
    r = _store->_iterateKeyRange(_entry);
  } catch (...) {
  }
  *_result = r;
  contPrintInf("wdb::SKV_ContMKCStg::iterateKeyRangeThread::IterateKeyRangeProc::run",
               "Exit thread \"%s\"", _name.c_str());
  delete this;
}

// ---------------------------------------------------------------------------------------
// Meta database

namespace {

const char* const kMetaAssert = "_metaDB != NullPtr && _metaDB->isOpen()";

// True when something exists at path (a dangling link included) or its state cannot be told.
bool pathTaken(const xstring& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) return true;
  return errno != ENOENT && errno != ENOTDIR;
}

// rename(from, to) that never replaces an existing file: renameat2 with RENAME_NOREPLACE,
// or link + unlink where the file system lacks it. 0 or an errno value.
int renameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  int e = errno;
  if (e != EINVAL && e != ENOSYS && e != EOPNOTSUPP) return e;
  if (::link(from, to) == 0) {
    ::unlink(from);
    return 0;
  }
  e = errno;
  if (e == EEXIST) return e;
  // No hard links either: test, then rename (the window is the file system's own).
  struct stat st;
  if (::lstat(to, &st) == 0) return EEXIST;
  return ::rename(from, to) == 0 ? 0 : errno;
}

// True when path names the file of partition `index`: it ends with "<dbName>-<index>.<dbType>"
// after a '/' (or is just that), the index written as the directory scan reads it (so a name
// the scan found, such as "data-03.kch", stays valid) or as the store formats it (indices
// beyond the scan's int range). The directory may be any: configured partitions live where
// the configuration puts them. A database name with '/' in it puts its leading part into
// the directory the store makes partitions in, so that part is matched as a path tail.
bool namesPartitionFile(const xstring& path, const xstring& dbName, const xstring& dbType,
                        uint32_t index) {
  if (path.find('\0') != xstring::npos) return false;
  const size_t nameSlash = dbName.rfind('/');
  const xstring dbBase = nameSlash == xstring::npos ? dbName
                                                    : xstring(dbName.substr(nameSlash + 1));
  const size_t slash = path.rfind('/');
  const xstring name = slash == xstring::npos ? path : xstring(path.substr(slash + 1));
  if (nameSlash != xstring::npos) {
    // The directory part of the path must end with "<leading part of dbName>/".
    const size_t lead = nameSlash + 1;
    const size_t dirLen = slash == xstring::npos ? 0 : slash + 1;
    if (dirLen < lead || path.compare(dirLen - lead, lead, dbName, 0, lead) != 0) return false;
  }
  unsigned parsed = 0;
  if (parsePartitionFileName(name.c_str(), dbBase, dbType, &parsed, nullptr))
    return parsed == index;
  xstring formatted;
  return formatPartitionFileName(formatted, dbBase, index, dbType) && formatted == name;
}

}  // namespace

int SKV_ContMKCStg::_storeMeta() {
  XCHECK(_metaDB != nullptr && _metaDB->isOpen(), kMetaAssert);
  MetaBatch batch(_metaDB, (openMode & kyotocabinet::BasicDB::OAUTOSYNC) != 0);
  _putMetaCounts();
  for (DBEntries::const_iterator it = dbEntries.begin(); it != dbEntries.end(); ++it)
    _putMetaEntry(*it);
  batch.commit();
  return RC_OK;
}

void SKV_ContMKCStg::_putMetaCounts() {
  _metaDB->put(xstring(kMetaNumPartitions), encodeMetaU32(static_cast<uint32_t>(dbEntries.size())),
               mopra::PutPolicy::ADD_OR_UDP);
  _metaDB->put(xstring(kMetaNewestPartition), encodeMetaU32(newestPartition),
               mopra::PutPolicy::ADD_OR_UDP);
}

void SKV_ContMKCStg::_putMetaEntry(const DBEntry& entry) {
  TSerializer<DBEntry, TBinaryProtocol> serializer;
  if (serializer.serialize(entry) != 0)
    _metaDB->put(metaPartitionKey(entry.index), serializer.bytes(), mopra::PutPolicy::ADD_OR_UDP);
}

int SKV_ContMKCStg::_loadMeta() {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::loadMeta";
  XCHECK(_metaDB != nullptr && _metaDB->isOpen(), kMetaAssert);
  xstring value;
  uint32_t count = 0;
  uint32_t newest = 0;
  if (_metaDB->get(value, xstring(kMetaNumPartitions)) < 0 || !decodeMetaU32(value, &count)) {
    contPrintErr(PLACE, "%s", "Read num_partitions fail!");
    count = 0;
  } else {
    contPrintLine("num_partitions=%u\n", count);
  }
  if (_metaDB->get(value, xstring(kMetaNewestPartition)) < 0 || !decodeMetaU32(value, &newest)) {
    contPrintErr(PLACE, "%s", "Read newest_partition fail!");
    newest = 0;
  } else {
    contPrintLine("newest_partition=%u\n", newest);
  }
  // A damaged count must not walk billions of indices: the meta database cannot hold more
  // partition records than it holds records besides "num_partitions".
  const uint64_t records = _metaDB->kc_count();
  const uint64_t most = records > 0 ? records - 1 : 0;
  if (count > most) {
    contPrintErr(PLACE, "num_partitions=%u is more than the meta database holds; read %llu", count,
                 static_cast<unsigned long long>(most));
    count = static_cast<uint32_t>(most);
  }
  uint32_t i = newest;
  for (uint32_t n = 0; n < count; ++n, --i) {
    const xstring key = metaPartitionKey(i);
    if (_metaDB->get(value, key) < 0) {
      contPrintErr(PLACE, "Read partition-%u fail!", i);
      continue;
    }
    DBEntry entry(std::make_shared<ContPartitionDB>(), i, xstring());
    if (readMetaEntry(value.data(), value.size(), &entry) == 0) {
      contPrintErr(PLACE, "Deserialize partition-%u meta fail!", i);
      continue;
    }
    // Kyoto Cabinet picks the database type from the file name: a record naming any other
    // file (a text file, another index's partition) would have the store write into it.
    const xstring path = entry.db->getDBPath();
    if (!namesPartitionFile(path, dbName, dbType, i)) {
      contPrintErr(PLACE, "Drop partition-%u meta: \"%s\" is no partition file of partition-%u", i,
                   path.c_str(), i);
      continue;
    }
    dbEntries.push_back(entry);
  }
  _sortDBEntries(dbEntries, false);
  contPrintLine("%s\n", "=== List of DB Entries loaded from Meta ===");
  _printDBEntries(dbEntries);
  return RC_OK;
}

void SKV_ContMKCStg::_printDBEntries(const DBEntries& entries) const {
  for (DBEntries::const_iterator it = entries.begin(); it != entries.end(); ++it)
    contPrintLine("Partition[%u]: %s\n", it->index, it->db ? it->db->getDBPath().c_str() : "");
}

void SKV_ContMKCStg::_printDBPaths() const {
  for (std::set<xstring>::const_iterator it = dbPaths.begin(); it != dbPaths.end(); ++it)
    contPrintLine("%s\n", it->c_str());
}

// ---------------------------------------------------------------------------------------
// Opening

void SKV_ContMKCStg::_scanDBPaths() {
  Poco::File home(std::string(dbHome.data(), dbHome.size()));
  std::vector<Poco::File> files;
  home.list(files);  // a home that cannot be listed raises out of open
  for (std::vector<Poco::File>::const_iterator it = files.begin(); it != files.end(); ++it) {
    bool regular = false;
    try {
      regular = it->isFile();
    } catch (...) {
      // An entry whose state cannot be read (a dangling link) is not a partition.
    }
    if (!regular) continue;
    const xstring path(it->path());
    const xstring name = fileNameOf(path);
    unsigned index = 0;
    if (parsePartitionFileName(name.c_str(), dbName, dbType, &index, nullptr)) dbPaths.insert(path);
  }
  contPrintLine("%s\n", "=== List of DB Paths from Config & in Home dir ===");
  _printDBPaths();
}

void SKV_ContMKCStg::_appyDBPaths() {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::appyDBPaths";
  DBEntries collected;
  for (std::set<xstring>::const_iterator it = dbPaths.begin(); it != dbPaths.end(); ++it) {
    const xstring& path = *it;
    const xstring name = fileNameOf(path);
    unsigned index = 0;
    if (name.find('\0') != xstring::npos ||
        !parsePartitionFileName(name.c_str(), dbName, dbType, &index, nullptr))
      continue;
    if (!isSafeKCPath(path)) {
      contPrintWrn(PLACE, "Ignore a partition path Kyoto Cabinet cannot open: \"%s\"",
                   path.c_str());
      continue;
    }
    DBEntries::iterator found = _findDBEntry(dbEntries, index);
    if (found != dbEntries.end()) {
      if (found->db->getDBPath() != path) found->db->setDBPath(path);
    } else {
      std::shared_ptr<SKV_KCStg> db = std::make_shared<ContPartitionDB>();
      db->setDBPath(path);
      collected.push_back(DBEntry(db, index, xstring()));
    }
  }
  dbEntries.insert(dbEntries.end(), collected.begin(), collected.end());
  _sortDBEntries(dbEntries, false);
  contPrintLine("%s\n", "=== List of DB Entries all ===");
  _printDBEntries(dbEntries);
}

namespace {

// The place of the log lines of every phase of _openPartitions.
const char* const kOpenPartitionsPlace = "wdb::SKV_ContMKCStg::openPartitions";

}  // namespace

// What the three phases of _openPartitions share, per record of the index-ordered list.
struct SKV_ContMKCStg::PartitionOpening {
  explicit PartitionOpening(size_t n) : dropped(n, 0), scanned(n, 0), scanResults(n, RC_OK) {
    // Room for every thread up front: a started thread must never be dropped by a failed push.
    threads.reserve(n);
  }
  // Scan threads are joined on every path out of the opening.
  ~PartitionOpening() { joinAll(); }
  void joinAll() {
    for (size_t i = 0; i < threads.size(); ++i) {
      try {
        threads[i]->join();
      } catch (...) {
      }
    }
    threads.clear();
  }

  std::vector<char> dropped;  // gone or a second record of an open file
  std::vector<char> scanned;
  std::vector<int> scanResults;
  std::vector<std::pair<dev_t, ino_t>> files;  // the files opened
  std::vector<std::unique_ptr<Poco::Thread>> threads;
  bool failed = false;
};

int SKV_ContMKCStg::_openPartitions(unsigned mode) {
  PartitionOpening opening(dbEntries.size());
  _openWindow(mode, opening);
  _joinScans(opening);
  if (opening.failed) return RC_FAIL;
  _retireBeyondWindow(opening);
  newestPartition = dbEntries.empty() ? 0 : dbEntries.back().index;
  openMode = mode;
  contPrintLine("%s\n", "=== List of DB Entries opened ===");
  _printDBEntries(dbEntries);
  _verifyDBEntriesOrder(dbEntries);
  return RC_OK;
}

void SKV_ContMKCStg::_openWindow(unsigned mode, PartitionOpening& o) {
  // Known partitions are never created or truncated: a missing file is not a partition.
  const unsigned knownMode = mode & ~static_cast<unsigned>(kyotocabinet::BasicDB::OCREATE |
                                                           kyotocabinet::BasicDB::OTRUNCATE);
  uint32_t opened = 0;
  for (size_t k = dbEntries.size(); k-- > 0 && opened < partitions;) {
    DBEntry& entry = dbEntries[k];
    const xstring path = entry.db->getDBPath();
    struct stat st;
    if (!isSafeKCPath(path) || ::stat(path.c_str(), &st) != 0) {
      const int e = errno;
      if (!isSafeKCPath(path) || e == ENOENT || e == ENOTDIR) {
        contPrintInf(kOpenPartitionsPlace, "Partition file is gone, skip partition-%u: \"%s\"",
                     entry.index, path.c_str());
        o.dropped[k] = 1;
        continue;
      }
    } else {
      const std::pair<dev_t, ino_t> id(st.st_dev, st.st_ino);
      if (std::find(o.files.begin(), o.files.end(), id) != o.files.end()) {
        contPrintInf(kOpenPartitionsPlace,
                     "Partition file is opened already, skip partition-%u: \"%s\"", entry.index,
                     path.c_str());
        o.dropped[k] = 1;
        continue;
      }
      o.files.push_back(id);
    }
    entry.db->setTuneOptions(tuneOptions);
    if (entry.db->open(knownMode) < 0) {
      contPrintErr(kOpenPartitionsPlace, "Fail open partition-%u: \"%s\"", entry.index,
                   path.c_str());
      o.failed = true;
      ++opened;  // holds its place: the window is the one a good file would give
      continue;
    }
    ++opened;
    if (entry.keyMin.size() < 2) {
      // A reserved value under 2 bytes is no key: find the smallest key by a scan.
      entry.keyMin.clear();
      xstring reserved;
      if (entry.db->get(reserved, xstring(kReservedKey, 1)) >= 0 && reserved.size() >= 2) {
        entry.keyMin.swap(reserved);
      } else {
        o.scanned[k] = 1;
        std::unique_ptr<Poco::Thread> thread(_iterateKeyRangeThread(&entry, &o.scanResults[k]));
        if (thread) o.threads.push_back(std::move(thread));
      }
    }
  }
}

void SKV_ContMKCStg::_joinScans(PartitionOpening& o) {
  o.joinAll();
  for (size_t k = 0; k < dbEntries.size(); ++k) {
    if (!o.scanned[k] || o.scanResults[k] >= 0) continue;
    contPrintErr(kOpenPartitionsPlace, "Fail scan partition-%u: \"%s\"", dbEntries[k].index,
                 dbEntries[k].db->getDBPath().c_str());
    o.failed = true;
  }
}

void SKV_ContMKCStg::_retireBeyondWindow(const PartitionOpening& o) {
  // Retire what is beyond the limit or holds no user key; drop records of gone files.
  for (size_t j = dbEntries.size(); j-- > 0;) {
    DBEntry& entry = dbEntries[j];
    if (o.dropped[j]) {
      dbEntries.erase(dbEntries.begin() + j);
      continue;
    }
    if (entry.db->isOpen() && !entry.keyMin.empty()) continue;
    const xstring path = entry.db->getDBPath();
    const uint32_t index = entry.index;
    struct stat st;
    if (!entry.db->isOpen() && ::stat(path.c_str(), &st) == 0 &&
        std::find(o.files.begin(), o.files.end(), std::make_pair(st.st_dev, st.st_ino)) !=
            o.files.end()) {
      // Beyond the limit, but another name of a file opened above: moving it aside would
      // take the live partition's file away.
      contPrintInf(kOpenPartitionsPlace,
                   "Partition file is opened already, skip partition-%u: \"%s\"", index,
                   path.c_str());
      dbEntries.erase(dbEntries.begin() + j);
      continue;
    }
    dbEntries.erase(dbEntries.begin() + j);  // the last holder closes it
    if (pathTaken(path)) {
      _obsoleteDBFile(path);
    } else {
      contPrintInf(kOpenPartitionsPlace, "Partition file is gone, skip partition-%u: \"%s\"", index,
                   path.c_str());
    }
  }
}

Poco::Thread* SKV_ContMKCStg::_iterateKeyRangeThread(DBEntry* entry, int* result) {
  const xstring name = metaPartitionKey(entry->index);
  IterateKeyRangeProc* proc = new IterateKeyRangeProc(name, this, entry, result);
  std::unique_ptr<Poco::Thread> thread;
  try {
    thread.reset(new Poco::Thread());
    thread->start(*proc);
    return thread.release();
  } catch (...) {
  }
  if (thread && thread->isRunning()) {
    thread->join();  // started after all
  } else {
    proc->run();  // no thread to be had: scan here
  }
  return nullptr;
}

int SKV_ContMKCStg::_iterateKeyRange(DBEntry* entry) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::iterateKeyRange";
  try {
    const int r = scanKeyBound(*entry->db, &entry->keyMin, kComparator, -1, nullptr, 0, PLACE);
    if (r < 0) return r;
    if (entry->keyMin.empty()) return RC_SCAN_EMPTY;
    entry->db->put(xstring(kReservedKey, 1), entry->keyMin, mopra::PutPolicy::ADD_OR_UDP);
    return r;
  } catch (...) {
    contPrintCurrentException(PLACE);
  }
  return RC_EXCEPTION;
}

bool SKV_ContMKCStg::_obsoleteDBFile(const xstring& path) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::obsoleteDBFile";
  try {
    xstring target(path);
    target.append(".obs");
    const int e = renameNoReplace(path.c_str(), target.c_str());
    if (e == 0) return true;
    contPrintErr(PLACE, "Rename obsolete partition is fail: %s: \"%s\" -> \"%s\"", std::strerror(e),
                 path.c_str(), target.c_str());
  } catch (const std::exception& ex) {
    contPrintErr(PLACE, "Rename obsolete partition is fail: %s", ex.what());
  } catch (...) {
    contPrintErr(PLACE, "%s", "Rename obsolete partition is fail: unknown error");
  }
  return false;
}

void SKV_ContMKCStg::_sortDBEntries(DBEntries& entries, bool verify) {
  std::stable_sort(entries.begin(), entries.end(), DBECmpByPartition());
  if (verify) _verifyDBEntriesOrder(entries);
}

void SKV_ContMKCStg::_verifyDBEntriesOrder(const DBEntries& entries) {
  if (entries.size() < 2) return;
  for (size_t i = 0; i + 1 < entries.size(); ++i) {
    const xstring& a = entries[i].keyMin;
    const xstring& b = entries[i + 1].keyMin;
    if (_compare(a.data(), a.size(), b.data(), b.size()) > 0)
      contPrintErr("wdb::SKV_ContMKCStg::sortDBEntries",
                   "Partition[%u].keyMin > Partition[%u].keyMin. Please double check!",
                   static_cast<unsigned>(i), static_cast<unsigned>(i + 1));
  }
}

// ---------------------------------------------------------------------------------------
// Partition lifecycle

int SKV_ContMKCStg::_createNewPartition(const void* key, size_t keyLen) {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::createNewPartition";
  contPrintLine("Create new partition with KeyMIN=\"%s\"\n", keyText(key, keyLen).c_str());
  uint32_t index = dbEntries.empty() ? 0 : newestPartition + 1;
  // Never reuse an index whose file or retired file is still there.
  xstring path;
  for (uint32_t tries = 0;; ++tries, ++index) {
    xstring name;
    if (!formatPartitionFileName(name, dbName, index, dbType)) {
      contPrintErr(PLACE, "%s", "Partition file name is too long");
      return RC_INVALID_DATA;
    }
    path = dbHome;
    path.append("/").append(name);
    xstring retired(path);
    retired.append(".obs");
    if (!pathTaken(path) && !pathTaken(retired)) break;
    if (tries == UINT32_MAX) {
      contPrintErr(PLACE, "%s", "No free partition index");
      return RC_FAIL;
    }
  }
  const xstring keyMin(static_cast<const char*>(key), keyLen);
  std::shared_ptr<SKV_KCStg> db = std::make_shared<ContPartitionDB>();
  db->setDBPath(path);
  db->setTuneOptions(tuneOptions);
  const int r = db->open(openMode);
  if (r < 0) return r;
  db->put(xstring(kReservedKey, 1), keyMin, mopra::PutPolicy::ADD_OR_UDP);
  dbEntries.push_back(DBEntry(db, index, keyMin));
  newestPartition = index;
  // Retire the oldest; never the partition just made (a limit of 0 set on the open store
  // keeps one). A total still at work on it keeps it open and closes it when done.
  if (dbEntries.size() > partitions && dbEntries.size() > 1) {
    const xstring oldPath = dbEntries.front().db->getDBPath();
    dbEntries.erase(dbEntries.begin());
    _obsoleteDBFile(oldPath);
  }
  if (_metaDB != nullptr && _metaDB->isOpen()) {
    MetaBatch batch(_metaDB, (openMode & kyotocabinet::BasicDB::OAUTOSYNC) != 0);
    _putMetaCounts();
    _putMetaEntry(dbEntries.back());
    batch.commit();
  }
  return RC_OK;
}

void SKV_ContMKCStg::_warnPartitionBytes() {
  static const char* const PLACE = "wdb::SKV_ContMKCStg::open";
  xstring setting(dbType);
  setting.append("\n").append(tuneOptions);
  if (setting != _probedSetting) {
    _probedSetting = setting;
    _probedBytes = -1;
    // Measure an empty database file of this type and tuning in a scratch directory.
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp != nullptr && tmp[0] != '\0') ? tmp : "/tmp";
    dir += "/toka-cont-probe-XXXXXX";
    std::vector<char> buffer(dir.begin(), dir.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) != nullptr) {
      const std::string probeDir(buffer.data());
      const std::string file = probeDir + "/probe." + std::string(dbType.data(), dbType.size());
      try {
        kyotocabinet::ExtPolyDB db;
        if (db.open(file + std::string(tuneOptions.data(), tuneOptions.size()),
                    kyotocabinet::BasicDB::OWRITER | kyotocabinet::BasicDB::OCREATE |
                        kyotocabinet::BasicDB::OTRUNCATE)) {
          db.set(kReservedKey, 1, "", 0);
          _probedBytes = db.size();
          db.close();
        }
      } catch (...) {
      }
      // Kyoto Cabinet may leave companion files (write-ahead log) beside the probe.
      try {
        Poco::File(probeDir).remove(true);
      } catch (...) {
      }
    }
  }
  if (_probedBytes > 0 && partitionBytes < static_cast<uint64_t>(_probedBytes))
    contPrintWrn(PLACE,
                 "Partition byte limit %llu is below the size of an empty partition file "
                 "(%lld bytes)",
                 static_cast<unsigned long long>(partitionBytes),
                 static_cast<long long>(_probedBytes));
}

}  // namespace wdb
