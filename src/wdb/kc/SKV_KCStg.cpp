#include "src/wdb/kc/SKV_KCStg.h"

#include <Poco/Util/AbstractConfiguration.h>
#include <errno.h>
#include <fcntl.h>
#include <kcpolydb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "kcext/kcpolydb_ext.h"
#include "src/wdb/kc/storelog.h"
#include "src/xlabs.h"

namespace wdb {

namespace {

typedef kyotocabinet::BasicDB::Error KCError;

// One "[tag] place: message\n" line on a stream. Never throws.
void printLine(FILE* stream, const char* tag, const char* place, const char* message) noexcept {
  storeLine(stream, tag, place, "%s", message);
}

void printErr(const char* place, const char* message) noexcept {
  printLine(stderr, "ERR", place, message);
}

void printExc(const char* place, const std::exception& e) noexcept {
  const char* what = "Unknown exception";
  try {
    what = e.what();
  } catch (...) {
  }
  printErr(place, what);
}

// The cause of an open refused for want of thread-specific keys (a fixed number per
// process; Kyoto Cabinet takes two for every open database).
const char* const kNoThreadKeyText =
    "Fail open DB for want of thread-specific keys (Kyoto Cabinet takes two per open "
    "database and the process has used them up; close databases or open fewer at once)";

// A message quoting a database name: text "\"name\"".
void printQuoted(FILE* stream, const char* tag, const char* place, const char* text,
                 const xstring& name) noexcept {
  storeLine(stream, tag, place, "%s: \"%s\"", text, name.c_str());
}

const char* const EMPTY = "";

// Copies the value of a record into a value buffer (value + NUL) inside Kyoto Cabinet's
// record lock; optionally removes the record in the same visit. A buffer that cannot be had
// leaves the record as it is. Nothing is thrown out of the visit.
class CopyVisitor : public kyotocabinet::DB::Visitor {
 public:
  CopyVisitor(bool remove, bool unpooled)
      : buffer(nullptr), size(0), failed(false), _remove(remove), _unpooled(unpooled) {}

  const char* visit_full(const char*, size_t, const char* vbuf, size_t vsiz, size_t*) override {
    try {
      char* buf = static_cast<char*>(newValueBuffer(vsiz + 1, _unpooled));
      if (buf == nullptr) {
        failed = true;
        return NOP;
      }
      if (vsiz > 0) std::memcpy(buf, vbuf, vsiz);
      buf[vsiz] = '\0';
      buffer = buf;
      size = vsiz;
      return _remove ? REMOVE : NOP;
    } catch (...) {
      failed = true;
      return NOP;
    }
  }

  void* buffer;
  size_t size;
  bool failed;

 private:
  bool _remove;
  bool _unpooled;
};

class ExistVisitor : public kyotocabinet::DB::Visitor {
 public:
  ExistVisitor() : found(false) {}
  const char* visit_full(const char*, size_t, const char*, size_t, size_t*) override {
    found = true;
    return NOP;
  }
  bool found;
};

// The file extension of a path ("" when there is none).
std::string extensionOf(const xstring& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == xstring::npos || (slash != xstring::npos && dot < slash)) return std::string();
  return std::string(path.data() + dot + 1, path.size() - dot - 1);
}

// A new hash or tree database file is first made complete under a temporary name in the same
// directory (".creating-<name>", extension kept so that the type stays the same) and then
// linked into place: a process killed while Kyoto Cabinet sizes a new file and writes its
// header would otherwise leave, under the database's own name, a file of zeros that no open
// accepts again. Nothing happens when the file exists or is not of these types; on any
// failure the caller's open runs as before and reports it. A temporary file left by a killed
// process is truncated by the next creation. Never throws.
void createAtomically(const xstring& path, const xstring& tuneOptions, unsigned mode) noexcept {
  try {
    const std::string ext = extensionOf(path);
    if (ext != "kch" && ext != "kct") return;
    const size_t slash = path.rfind('/');
    const std::string target(path.data(), path.size());
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0 || errno != ENOENT) return;
    const std::string dir = slash == xstring::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == xstring::npos ? target : target.substr(slash + 1);
    const std::string temp = dir + ".creating-" + base;
    const unsigned sync = mode & kyotocabinet::BasicDB::OAUTOSYNC;
    {
      kyotocabinet::ExtPolyDB db;
      if (!db.open(temp + std::string(tuneOptions.data(), tuneOptions.size()),
                   kyotocabinet::BasicDB::OWRITER | kyotocabinet::BasicDB::OCREATE |
                       kyotocabinet::BasicDB::OTRUNCATE | sync)) {
        ::unlink(temp.c_str());
        return;
      }
      if (!db.close()) {
        ::unlink(temp.c_str());
        return;
      }
    }
    // link, not rename: a file made meanwhile under the name is never replaced.
    const bool linked = ::link(temp.c_str(), target.c_str()) == 0;
    ::unlink(temp.c_str());
    if (linked && sync != 0) {
      const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
      }
    }
  } catch (...) {
  }
}

// Takes the store's log lock; a lock that cannot be had (never seen) is not taken.
void lockQuietly(std::unique_lock<std::mutex>& lock) noexcept {
  try {
    lock.lock();
  } catch (...) {
  }
}

// The longest write-ahead log that no write cut at a page boundary can reach into.
const int64_t LOG_PAGE = 4096;

// Cuts a regular file to `size` bytes when it is longer; a failed cut leaves it as it is (the
// next transaction then runs as Kyoto Cabinet runs it).
void cutRegularFile(int fd, int64_t size) noexcept {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= size) return;
  if (::ftruncate(fd, size) != 0) {
  }
}

// Cuts the write-ahead log back to one page under Kyoto Cabinet's exclusive lock of the
// database: no write is then halfway through an automatic transaction. The page is kept, not
// emptied: that saves part of what the cut and the next transaction's growth cost. A log whose
// first byte is not zero belongs to a transaction still open (begun explicitly) and is left
// alone.
class LogShortener : public kyotocabinet::BasicDB::FileProcessor {
 public:
  explicit LogShortener(int fd) : _fd(fd) {}
  bool process(const std::string&, int64_t, int64_t) override {
    char first = 1;
    if (::pread(_fd, &first, 1, 0) == 1 && first == 0) cutRegularFile(_fd, LOG_PAGE);
    return true;
  }

 private:
  int _fd;
};

}  // namespace

class SKV_KCStg::LogWatchScope {
 public:
  LogWatchScope(SKV_KCStg& db, bool watched) : _db(db), _lock(db._logLock, std::defer_lock) {
    if (watched) lockQuietly(_lock);
  }
  ~LogWatchScope() {
    if (_lock.owns_lock()) _db._shortenLog();
  }

 private:
  LogWatchScope(const LogWatchScope&) = delete;
  LogWatchScope& operator=(const LogWatchScope&) = delete;
  SKV_KCStg& _db;
  std::unique_lock<std::mutex> _lock;
};

SKV_KCStg::SKV_KCStg()
    : polyDB(nullptr), _logWatch(LOG_UNWATCHED), _logFd(-1), _unpooledBuffers(false) {}

SKV_KCStg::~SKV_KCStg() {
  close();
  if (polyDB != nullptr) {
    delete polyDB;
    polyDB = nullptr;
  }
  if (_logFd >= 0) ::close(_logFd);
}

int SKV_KCStg::open(unsigned mode) {
  static const char* const PLACE = "wdb::SKV_KCStg::open";
  if (dbPath.empty()) return RC_INVALID_DATA;
  if (dbPath.find('#') != xstring::npos) return RC_INVALID_PARAM;
  if (polyDB != nullptr) {
    printLine(stdout, "inf", PLACE, "DB is already opened");
    return RC_OK;
  }
  if ((mode & kyotocabinet::BasicDB::OWRITER) && (mode & kyotocabinet::BasicDB::OCREATE) &&
      !(mode & kyotocabinet::BasicDB::OTRUNCATE))
    createAtomically(dbPath, tuneOptions, mode);
  xstring name;
  try {
    name = dbPath;
    name.append(tuneOptions);
    polyDB = new kyotocabinet::ExtPolyDB();
    if (polyDB->open(std::string(name.data(), name.size()), mode)) {
      // Opened after the allocator stopped: values are read into system buffers.
      _unpooledBuffers = valueBuffersUnpooled();
      _logWatch = LOG_UNWATCHED;
      if ((mode & kyotocabinet::BasicDB::OWRITER) && (mode & kyotocabinet::BasicDB::OAUTOTRAN)) {
        const std::string ext = extensionOf(dbPath);
        if (ext == "kct" || (ext == "kch" && (tuneOptions.find("apow") != xstring::npos ||
                                              tuneOptions.find("dfunit") != xstring::npos)))
          _logWatch = LOG_EVERY_WRITE;
        else if (ext == "kch")
          _logWatch = LOG_LARGE_PUTS;
      }
      printQuoted(stdout, "inf", PLACE, "DB is opened successfully", name);
      return RC_OK;
    }
    delete polyDB;
    polyDB = nullptr;
    printQuoted(stderr, "ERR", PLACE, "Fail open DB", name);
    return RC_FAIL;
  } catch (const std::exception& e) {
    delete polyDB;
    polyDB = nullptr;
    printExc(PLACE, e);
    // Kyoto Cabinet's words alone do not tell the user what ran out.
    if (std::strcmp(e.what(), "pthread_key_create") == 0)
      printQuoted(stderr, "ERR", PLACE, kNoThreadKeyText, name);
  } catch (...) {
    delete polyDB;
    polyDB = nullptr;
    printErr(PLACE, "Unknown exception");
  }
  return RC_FAIL;
}

int SKV_KCStg::close() {
  static const char* const PLACE = "wdb::SKV_KCStg::close";
  if (polyDB == nullptr) return RC_OK;
  try {
    const bool ok = polyDB->close();
    // Kyoto Cabinet has let the database go either way; the object is of no further use.
    delete polyDB;
    polyDB = nullptr;
    _logWatch = LOG_UNWATCHED;
    if (_logFd >= 0) {
      ::close(_logFd);
      _logFd = -1;
    }
    if (!ok) {
      printErr(PLACE, "Fail close DB");
      return RC_FAIL;
    }
    return RC_OK;
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
  return RC_FAIL;
}

void SKV_KCStg::loadConfig(const char* name, const Poco::Util::AbstractConfiguration& config) {
  // Plain strings: the keys come out right in every allocator state.
  const std::string prefix(name);
  const std::string path = config.getString(prefix + ".dbpath");
  dbPath = path.c_str();  // up to the first NUL
  const std::string options = config.getString(prefix + ".tune_options");
  tuneOptions = options.c_str();
}

uint64_t SKV_KCStg::kc_count() const {
  if (polyDB == nullptr) return 0;
  const int64_t n = polyDB->count();
  return n < 0 ? 0 : static_cast<uint64_t>(n);
}

uint64_t SKV_KCStg::kc_size() const {
  if (polyDB == nullptr) return 0;
  const int64_t n = polyDB->size();
  return n < 0 ? 0 : static_cast<uint64_t>(n);
}

int SKV_KCStg::kc_iterate(kyotocabinet::DB::Visitor* visitor, size_t threads) const {
  if (polyDB == nullptr) return RC_NOT_OPENED;
  const bool ok = threads <= 1 ? polyDB->iterate(visitor, false, nullptr)
                               : polyDB->scan_parallel(visitor, threads, nullptr);
  return ok ? RC_OK : RC_FAIL;
}

ITransaction* SKV_KCStg::makeTransaction() const { return nullptr; }

ITransaction* SKV_KCStg::makeTransaction(unsigned) const { return nullptr; }

ISKVCursor* SKV_KCStg::makeSKVCursor(ITransaction*) const { return nullptr; }

int SKV_KCStg::flush() {
  static const char* const PLACE = "wdb::SKV_KCStg::flush";
  if (polyDB == nullptr) return RC_NOT_OPENED;
  try {
    if (polyDB->synchronize(false, nullptr, nullptr)) return RC_OK;
    printErr(PLACE, "Fail flush DB");
    return RC_FAIL;
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
  return RC_EXCEPTION;
}

bool SKV_KCStg::empty() const {
  if (polyDB == nullptr) return true;
  return polyDB->count() < 1;
}

uint64_t SKV_KCStg::size() const { return kc_count(); }

uint64_t SKV_KCStg::maxSize() const { return polyDB == nullptr ? 0 : UINT64_MAX; }

void SKV_KCStg::clear() {
  static const char* const PLACE = "wdb::SKV_KCStg::clear";
  if (polyDB == nullptr) return;
  LogWatchScope logWatch(*this, _logWatch != LOG_UNWATCHED);
  try {
    if (!polyDB->clear()) printErr(PLACE, "Fail clear DB");
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
}

int SKV_KCStg::_openLog() {
  if (_logFd < 0) {
    try {
      xstring log(dbPath);
      log.append(".wal");
      // Never created here: it exists once Kyoto Cabinet has begun a transaction. No link is
      // followed: the log is the database's own file.
      _logFd = ::open(log.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } catch (...) {
    }
  }
  return _logFd;
}

void SKV_KCStg::_shortenLog() {
  try {
    const int fd = _openLog();
    if (fd < 0) return;
    // Kyoto Cabinet's lock is taken only when the log has grown beyond the page; the processor
    // looks again under it.
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= LOG_PAGE) return;
    LogShortener shortener(fd);
    polyDB->occupy(true, &shortener);
  } catch (...) {
  }
}

void SKV_KCStg::_cutLog(int64_t size) {
  std::unique_lock<std::mutex> lock(_logLock, std::defer_lock);
  lockQuietly(lock);
  const int fd = _openLog();
  if (fd >= 0) cutRegularFile(fd, size);
}

void SKV_KCStg::freeData(void* data) const { releaseValueBuffer(data); }

int SKV_KCStg::putTx0(ITransaction*, const void* key, size_t keyLen, const void* value,
                      size_t valueLen, int policy) {
  static const char* const PLACE = "wdb::SKV_KCStg::putTx0";
  if (polyDB == nullptr) return RC_NOT_OPENED;
  if ((key == nullptr && keyLen > 0) || (value == nullptr && valueLen > 0)) return RC_INVALID_PARAM;
  const char* kbuf = key != nullptr ? static_cast<const char*>(key) : EMPTY;
  const char* vbuf = value != nullptr ? static_cast<const char*>(value) : EMPTY;
  if (policy != mopra::PutPolicy::ADD && policy != mopra::PutPolicy::UPDATE &&
      policy != mopra::PutPolicy::ADD_OR_UDP)
    return RC_INVALID_PARAM;
  LogWatchScope logWatch(*this, _watchesWrite(keyLen, valueLen));
  int result = RC_EXCEPTION;
  try {
    switch (policy) {
      case mopra::PutPolicy::ADD:
        if (polyDB->add(kbuf, keyLen, vbuf, valueLen))
          result = RC_OK;
        else
          result = polyDB->error().code() == KCError::DUPREC ? RC_ALREADY_EXIST : RC_FAIL;
        break;
      case mopra::PutPolicy::UPDATE:
        if (polyDB->replace(kbuf, keyLen, vbuf, valueLen))
          result = RC_OK;
        else
          result = polyDB->error().code() == KCError::NOREC ? RC_NOT_EXIST : RC_FAIL;
        break;
      default: result = polyDB->set(kbuf, keyLen, vbuf, valueLen) ? RC_OK : RC_FAIL; break;
    }
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
  return result;
}

int SKV_KCStg::removeTx0(ITransaction*, const void* key, size_t keyLen) {
  static const char* const PLACE = "wdb::SKV_KCStg::removeTx0";
  if (polyDB == nullptr) return RC_NOT_OPENED;
  if (key == nullptr && keyLen > 0) return RC_INVALID_PARAM;
  const char* kbuf = key != nullptr ? static_cast<const char*>(key) : EMPTY;
  // A removal logs record headers only, apart from the cases of LOG_EVERY_WRITE.
  LogWatchScope logWatch(*this, _logWatch == LOG_EVERY_WRITE);
  int result = RC_EXCEPTION;
  try {
    if (polyDB->remove(kbuf, keyLen))
      result = RC_OK;
    else
      result = polyDB->error().code() == KCError::NOREC ? RC_REMOVE_NOTHING : RC_FAIL;
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
  return result;
}

int SKV_KCStg::_read(const char* place, bool remove, void** value, size_t* valueLen,
                     const void* key, size_t keyLen) const {
  if (polyDB == nullptr) return RC_NOT_OPENED;
  if (value == nullptr || valueLen == nullptr || (key == nullptr && keyLen > 0))
    return RC_INVALID_PARAM;
  const char* kbuf = key != nullptr ? static_cast<const char*>(key) : EMPTY;
  CopyVisitor visitor(remove, _unpooledBuffers);
  try {
    const bool ok = polyDB->accept(kbuf, keyLen, &visitor, remove);
    if (visitor.failed) {
      printErr(place, "Fail allocate value buffer");
      return RC_EXCEPTION;
    }
    if (!ok && visitor.buffer != nullptr) {
      // The visit ran but Kyoto Cabinet failed the operation afterwards.
      releaseValueBuffer(visitor.buffer);
      visitor.buffer = nullptr;
    }
    *valueLen = visitor.buffer != nullptr ? visitor.size : 0;
    *value = visitor.buffer;
    return visitor.buffer != nullptr ? RC_OK : RC_NOT_EXIST;
  } catch (const std::exception& e) {
    printExc(place, e);
  } catch (...) {
    printErr(place, "Unknown exception");
  }
  releaseValueBuffer(visitor.buffer);
  return RC_EXCEPTION;
}

int SKV_KCStg::popTx0(ITransaction*, void** value, size_t* valueLen, const void* key,
                      size_t keyLen) {
  LogWatchScope logWatch(*this, _logWatch == LOG_EVERY_WRITE);
  return _read("wdb::SKV_KCStg::popTx0", true, value, valueLen, key, keyLen);
}

int SKV_KCStg::getTx0(ITransaction*, void** value, size_t* valueLen, const void* key,
                      size_t keyLen) const {
  return _read("wdb::SKV_KCStg::getTx0", false, value, valueLen, key, keyLen);
}

int SKV_KCStg::existTx0(ITransaction*, const void* key, size_t keyLen) const {
  static const char* const PLACE = "wdb::SKV_KCStg::existTx0";
  if (polyDB == nullptr) return RC_NOT_OPENED;
  if (key == nullptr && keyLen > 0) return RC_INVALID_PARAM;
  const char* kbuf = key != nullptr ? static_cast<const char*>(key) : EMPTY;
  try {
    ExistVisitor visitor;
    if (!polyDB->accept(kbuf, keyLen, &visitor, false)) return RC_FAIL;
    return visitor.found ? RC_OK : RC_NOT_EXIST;
  } catch (const std::exception& e) {
    printExc(PLACE, e);
  } catch (...) {
    printErr(PLACE, "Unknown exception");
  }
  return RC_EXCEPTION;
}

}  // namespace wdb
