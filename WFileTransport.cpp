#include "WFileTransport.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "mopralib/inc/xds/ScopeRWLock.h"

using apache::thrift::TOutput;
using apache::thrift::transport::TTransportException;

namespace {

typedef ScopeRWLock<Poco::FastMutex> WriteLock;

// An interrupted read is repeated this many times before it counts as a failure.
const int kReadRetries = 5;

inline void counted(std::atomic<uint64_t>& counter) {
  counter.fetch_add(1, std::memory_order_relaxed);
}

[[noreturn]] void throwNotOpen() {
  throw TTransportException(TTransportException::NOT_OPEN, "File is not opened");
}

[[noreturn]] void throwEmptyBuffer() {
  throw TTransportException(TTransportException::BAD_ARGS, "Empty output buffer");
}

// Ranges [a, a + alen) and [b, b + blen) share a byte (no wrap: offsets stay below 2^63).
inline bool overlaps(uint64_t a, uint64_t alen, uint64_t b, uint64_t blen) {
  return alen != 0 && blen != 0 && a < b + blen && b < a + alen;
}

}  // namespace

WEOFException::WEOFException(const char* text) : _message(text ? text : "") {}

WEOFException::~WEOFException() noexcept {}

const char* WEOFException::what() const noexcept {
  return _message.empty() ? "WEOFException" : _message.c_str();
}

WFileTransport::WFileTransport(int closePolicy)
    : _fd(-1),
      _closePolicy(closePolicy),
      _rBuf(nullptr),
      _rBufSize(0),
      _rUsed(0),
      _rPos(0),
      _wBuf(nullptr),
      _wBufSize(0),
      _wPending(0),
      _offset(0),
      _readCount(0),
      _writeCount(0),
      _preadCount(0),
      _pwriteCount(0),
      _seekCount(0),
      _syncCount(0) {}

WFileTransport::~WFileTransport() {
  // Pending bytes are the caller's data: write them out whatever the close policy. Nothing
  // may escape a destructor, so failures end here.
  try {
    if (_closePolicy == 1) {
      close();
    } else if (_fd.load() >= 0) {
      // The descriptor stays open: leave it where this transport's reader and writer stand.
      WriteLock lock(_wMutex, LockType::WRITE);
      if (_wBuf && _wPending.load()) _writeOut();
      _giveBackReadAhead();
    }
  } catch (...) {
  }
  if (_closePolicy == 1) {
    int fd = _fd.exchange(-1);
    if (fd >= 0) ::close(fd);  // the write-out failed and close stopped before closing
  }
  delete[] _rBuf;
  delete[] _wBuf;
}

bool WFileTransport::isOpen() const { return _fd.load() >= 0; }

void WFileTransport::open() {}

void WFileTransport::flush() { flush(false); }

// ---- under the write mutex ----------------------------------------------------------------

// The descriptor stands past the unconsumed read-ahead; seek it back so that the next write
// lands at the reader's position. A descriptor without positions (pipe, socket) keeps the
// read-ahead: reading and writing there do not share a position.
void WFileTransport::_giveBackReadAhead() {
  if (_rPos < _rUsed) {
    const int64_t back = int64_t(_rUsed - _rPos);
    off64_t r = ::lseek64(_fd.load(), -back, SEEK_CUR);
    int err = errno;
    counted(_seekCount);
    if (r < 0) {
      if (err == ESPIPE) return;
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::seek()", err);
    }
    _offset.store(r);
  }
  _rUsed = 0;
  _rPos = 0;
}

// Writes the pending bytes at the descriptor's position. On failure the bytes already
// written leave the buffer, so that a later write-out does not write them twice.
void WFileTransport::_writeOut() {
  _giveBackReadAhead();
  const uint32_t total = _wPending.load();
  uint32_t done = 0;
  try {
    while (done < total) {
      ssize_t n = ::write(_fd.load(), _wBuf + done, total - done);
      int err = errno;
      counted(_writeCount);
      if (n < 0) {
        if (err == EINTR) continue;
        throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::writeFD()", err);
      }
      if (n == 0) throw WEOFException("WFileTransport::writeFD()");
      done += uint32_t(n);
      _offset.fetch_add(n);
    }
  } catch (...) {
    std::memmove(_wBuf, _wBuf + done, total - done);
    _wPending.store(total - done);
    throw;
  }
  _wPending.store(0);
}

// Writes the caller's bytes at the descriptor's position, bypassing the buffer.
void WFileTransport::_writeDirect(const uint8_t* buf, uint32_t len) {
  _giveBackReadAhead();
  uint32_t done = 0;
  while (done < len) {
    ssize_t n = ::write(_fd.load(), buf + done, len - done);
    int err = errno;
    counted(_writeCount);
    if (n < 0) {
      if (err == EINTR) continue;
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::writeFD()", err);
    }
    if (n == 0) throw WEOFException("WFileTransport::writeFD()");
    done += uint32_t(n);
    _offset.fetch_add(n);
  }
}

void WFileTransport::_attach(int fd) {
  _fd.store(fd);
  _path.clear();
  _rUsed = 0;
  _rPos = 0;
  _wPending.store(0);
}

uint32_t WFileTransport::_pwriteFD(uint64_t offset, const uint8_t* buf, uint32_t len) {
  uint32_t done = 0;
  while (done < len) {
    ssize_t n = ::pwrite64(_fd.load(), buf + done, len - done, off64_t(offset + done));
    int err = errno;
    counted(_pwriteCount);
    if (n < 0) {
      if (err == EINTR) continue;
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::writeFDAt()", err);
    }
    if (n == 0) throw WEOFException("WFileTransport::writeFDAt()");
    done += uint32_t(n);
  }
  return done;
}

// ---- read side ----------------------------------------------------------------------------

void WFileTransport::_writeOutBeforeRead() {
  if (_wPending.load() == 0) return;
  WriteLock lock(_wMutex, LockType::WRITE);
  if (_wBuf && _wPending.load()) _writeOut();
}

uint32_t WFileTransport::_readFD(uint8_t* buf, uint32_t len) {
  for (int retries = 0;; ++retries) {
    ssize_t n = ::read(_fd.load(), buf, len);
    int err = errno;
    counted(_readCount);
    if (n >= 0) {
      _offset.fetch_add(n);
      return uint32_t(n);
    }
    if (err != EINTR || retries == kReadRetries) {
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::readFD()", err);
    }
  }
}

uint32_t WFileTransport::_preadFD(uint64_t offset, uint8_t* buf, uint32_t len) {
  for (int retries = 0;; ++retries) {
    ssize_t n = ::pread64(_fd.load(), buf, len, off64_t(offset));
    int err = errno;
    counted(_preadCount);
    if (n >= 0) return uint32_t(n);
    if (err != EINTR || retries == kReadRetries) {
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::readFDAt()", err);
    }
  }
}

// Makes len (at most the read capacity) bytes available from the read position, refilling
// and compacting the read buffer with one read call each, and returns the number available
// there: fewer than len when the descriptor gives no more (the end of a file; 0 when
// nothing is left).
uint32_t WFileTransport::_fillReadBuffer(uint32_t len) {
  if (!_rBuf) _rBuf = new uint8_t[_rBufSize];
  if (_rPos >= _rUsed) {
    _rUsed = 0;
    _rPos = 0;
    _rUsed = _readFD(_rBuf, _rBufSize);
    if (_rUsed == 0) return 0;
  }
  if (_rUsed - _rPos < len) {
    const uint32_t rest = _rUsed - _rPos;
    std::memmove(_rBuf, _rBuf + _rPos, rest);
    _rPos = 0;
    _rUsed = rest;
    _rUsed += _readFD(_rBuf + rest, _rBufSize - rest);
  }
  return _rUsed - _rPos;
}

// ---- opening and closing ------------------------------------------------------------------

void WFileTransport::openPath(const char* path, bool read, bool write, int extraFlags,
                              bool closeFirst) {
  if (!path) throw TTransportException(TTransportException::UNKNOWN, "Path is null");
  const std::string name(path);  // path may be our own, which close empties
  if (closeFirst) close();
  int flags;
  if (read && write) {
    flags = O_RDWR | O_LARGEFILE;
  } else if (read) {
    flags = O_RDONLY;
  } else if (write) {
    flags = O_WRONLY | O_LARGEFILE;
  } else {
    throw TTransportException(TTransportException::UNKNOWN, "Neither READ nor WRITE specified");
  }
  int fd = ::open(name.c_str(), flags | extraFlags, 0644);
  if (fd < 0) {
    int err = errno;
    char text[1280];
    std::snprintf(text, sizeof(text), "Failed to open file \"%s\" for writing: %s", name.c_str(),
                  TOutput::strerror_s(err).c_str());
    throw TTransportException(TTransportException::UNKNOWN, text);
  }
  try {
    close();  // the file still open, now that the new one is
  } catch (...) {
    ::close(fd);
    throw;
  }
  {
    WriteLock lock(_wMutex, LockType::WRITE);
    _attach(fd);
    _path = name;
  }
  _offset.store(tellg());
}

void WFileTransport::setFD(int fd, bool closeFirst) {
  if (closeFirst) close();
  // The previous descriptor is not touched: the caller may have closed it already and its
  // number may now name another file. Its pending bytes and read-ahead are dropped.
  WriteLock lock(_wMutex, LockType::WRITE);
  _attach(fd);
  int64_t position = 0;
  if (fd >= 0) {
    off64_t r = ::lseek64(fd, 0, SEEK_CUR);
    counted(_seekCount);
    if (r > 0) position = r;
  }
  _offset.store(position);
}

void WFileTransport::duplicate(WFileTransport& other, bool read, bool write, int extraFlags,
                               bool closeFirst) const {
  const std::string path = _path;
  if (!path.empty()) other.openPath(path.c_str(), read, write, extraFlags, closeFirst);
}

bool WFileTransport::rename(const std::string& newPath) {
  if (newPath == _path) return true;
  if (::rename(_path.c_str(), newPath.c_str()) != 0) return false;
  _path = newPath;
  return true;
}

void WFileTransport::getPath(std::string& path) const { path = _path; }

void WFileTransport::close() {
  if (_fd.load() < 0) return;
  int closed = 0;
  int err = 0;
  {
    WriteLock lock(_wMutex, LockType::WRITE);
    const int fd = _fd.load();
    if (fd < 0) return;
    if (_wBuf && _wPending.load()) _writeOut();
    delete[] _rBuf;
    _rBuf = nullptr;
    _rUsed = 0;
    _rPos = 0;
    delete[] _wBuf;
    _wBuf = nullptr;
    _wPending.store(0);
    // Closed under the mutex: no writer still holding the number can reach a descriptor
    // that the process reuses for another file.
    _fd.store(-1);
    closed = ::close(fd);
    err = errno;
    _path.clear();
  }
  if (closed != 0 && std::uncaught_exceptions() == 0) {
    throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::close()", err);
  }
}

// ---- positions ----------------------------------------------------------------------------

uint64_t WFileTransport::fileSize() const {
  const int fd = _fd.load();
  if (fd < 0) return 0;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    std::printf("Failed fstat: %s\n", TOutput::strerror_s(err).c_str());
    return 0;
  }
  return uint64_t(st.st_size);
}

int64_t WFileTransport::tellg() const {
  if (_fd.load() < 0) return 0;
  off64_t r;
  int err;
  int64_t held;
  {
    WriteLock lock(_wMutex, LockType::WRITE);
    const int fd = _fd.load();
    if (fd < 0) return 0;
    r = ::lseek64(fd, 0, SEEK_CUR);
    err = errno;
    counted(_seekCount);
    held = int64_t(_wPending.load()) - int64_t(_rUsed - _rPos);
  }
  if (r < 0) {
    std::printf("Failed tellg: %s\n", TOutput::strerror_s(err).c_str());
    return 0;
  }
  return r + held;
}

int64_t WFileTransport::seek(int64_t offset, int whence) {
  if (_fd.load() < 0) return 0;
  WriteLock lock(_wMutex, LockType::WRITE);
  if (_wBuf && _wPending.load()) _writeOut();
  if (whence == SEEK_CUR) offset -= int64_t(_rUsed - _rPos);
  off64_t r = ::lseek64(_fd.load(), offset, whence);
  int err = errno;
  counted(_seekCount);
  if (r < 0) throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::seek()", err);
  _rUsed = 0;
  _rPos = 0;
  _offset.store(r);
  return r;
}

void WFileTransport::truncate(uint64_t length) {
  if (_fd.load() < 0) return;
  WriteLock lock(_wMutex, LockType::WRITE);
  if (_wBuf && _wPending.load()) _writeOut();
  // Read-ahead past the new end is gone from the file.
  if (_rPos < _rUsed && length < uint64_t(_offset.load())) _giveBackReadAhead();
  if (::ftruncate64(_fd.load(), off64_t(length)) != 0) {
    throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::truncate()", errno);
  }
}

// ---- reading ------------------------------------------------------------------------------

uint32_t WFileTransport::read(uint8_t* buf, uint32_t len) {
  if (!buf || len == 0) throwEmptyBuffer();
  if (_fd.load() < 0) throwNotOpen();
  _writeOutBeforeRead();
  if (_rBufSize == 0) return _readFD(buf, len);
  if (_rBufSize >= len) {
    // Short where the file ends, as Thrift's own transports are; nothing at all left is the
    // end of data.
    const uint32_t n = std::min(len, _fillReadBuffer(len));
    if (n == 0) throw WEOFException("No more data to read");
    std::memcpy(buf, _rBuf + _rPos, n);
    _rPos += n;
    return n;
  }
  const uint32_t have = _rUsed - _rPos;
  if (have) std::memcpy(buf, _rBuf + _rPos, have);
  _rUsed = 0;
  _rPos = 0;
  return have + _readFD(buf + have, len - have);
}

uint32_t WFileTransport::readAll(uint8_t* buf, uint32_t len) {
  if (!buf || len == 0) throwEmptyBuffer();
  uint32_t have = 0;
  while (have < len) {
    uint32_t n = read(buf + have, len - have);
    if (n == 0) throw WEOFException("No more data to read");
    have += n;
  }
  return len;
}

const uint8_t* WFileTransport::borrow(uint8_t* buf, uint32_t* len) {
  if (_fd.load() < 0 || !len) return nullptr;
  const uint32_t want = *len;
  if (_rBufSize == 0 || _rBufSize < want) return nullptr;
  _writeOutBeforeRead();
  // Fewer bytes left in the file than asked for: no borrow, and the caller reads instead.
  if (_fillReadBuffer(want) < want) return nullptr;
  if (buf && want) std::memcpy(buf, _rBuf + _rPos, want);
  *len = _rUsed - _rPos;
  return _rBuf + _rPos;
}

void WFileTransport::consume(uint32_t len) {
  // Compared as a difference: position + len could wrap.
  if (len > _rUsed - _rPos) {
    throw TTransportException(TTransportException::UNKNOWN, "Please consume correctly");
  }
  _rPos += len;
}

uint32_t WFileTransport::readAt(uint64_t offset, uint8_t* buf, uint32_t len) {
  if (!buf || len == 0) throwEmptyBuffer();
  if (_fd.load() < 0) throwNotOpen();
  if (overlaps(offset, len, uint64_t(_offset.load()), _wPending.load())) {
    WriteLock lock(_wMutex, LockType::WRITE);
    const uint64_t start = uint64_t(_offset.load());
    const uint32_t pending = _wPending.load();
    if (overlaps(offset, len, start, pending)) {
      if (offset >= start) {
        // Starts inside the pending bytes: they are the file's newest content there.
        const uint64_t place = offset - start;
        const uint32_t available = uint32_t(pending - place);
        if (len <= available) {
          std::memcpy(buf, _wBuf + place, len);
          return len;
        }
        std::memcpy(buf, _wBuf + place, available);
        return available + _preadFD(offset + available, buf + available, len - available);
      }
      // Starts before them: the file must hold them before it is read.
      _writeOut();
      return _preadFD(offset, buf, len);
    }
  }
  return _preadFD(offset, buf, len);
}

// ---- writing ------------------------------------------------------------------------------

void WFileTransport::write(const uint8_t* buf, uint32_t len) {
  if (!buf || len == 0) return;
  if (_fd.load() < 0) throwNotOpen();
  WriteLock lock(_wMutex, LockType::WRITE);
  if (_fd.load() < 0) throwNotOpen();  // closed while we waited
  const uint32_t capacity = _wBufSize;
  if (capacity == 0) {
    _writeDirect(buf, len);
    return;
  }
  if (len > capacity) {
    if (_wBuf && _wPending.load()) _writeOut();
    _writeDirect(buf, len);
    return;
  }
  if (!_wBuf) _wBuf = new uint8_t[capacity];
  // Only this thread changes pending while it holds the mutex: relaxed loads, and a release
  // store for the unlocked tests of readAt and writeAt.
  uint32_t pending = _wPending.load(std::memory_order_relaxed);
  if (pending && uint64_t(pending) + len > capacity) {
    _writeOut();
    pending = 0;
  }
  if (len == capacity) {
    _writeDirect(buf, len);
    return;
  }
  if (_rUsed) _giveBackReadAhead();
  std::memcpy(_wBuf + pending, buf, len);
  _wPending.store(pending + len, std::memory_order_release);
}

bool WFileTransport::prepareWrite(uint32_t len) {
  WriteLock lock(_wMutex, LockType::WRITE);
  const uint32_t capacity = _wBufSize;
  if (capacity == 0 || capacity < len) return false;
  if (_wBuf && uint64_t(_wPending.load()) + len > capacity) _writeOut();
  return true;
}

void WFileTransport::writeAt(uint64_t offset, const uint8_t* buf, uint32_t len) {
  if (!buf || len == 0) return;
  if (_fd.load() < 0) throwNotOpen();
  WriteLock lock(_wMutex, LockType::WRITE);
  if (_fd.load() < 0) throwNotOpen();
  const uint64_t start = uint64_t(_offset.load());
  const uint32_t pending = _wPending.load();
  if (overlaps(offset, len, start, pending)) {
    if (offset >= start && offset + len <= start + pending) {
      // Inside the pending bytes: patch them. Nothing past them is touched, so the next
      // write still lands where the last one ended.
      std::memcpy(_wBuf + (offset - start), buf, len);
      return;
    }
    _writeOut();
  }
  // Read-ahead not yet consumed mirrors [offset - unconsumed, offset) of the file.
  if (_rPos < _rUsed) {
    const uint64_t end = uint64_t(_offset.load());
    const uint32_t unconsumed = _rUsed - _rPos;
    if (overlaps(offset, len, end - unconsumed, unconsumed)) _giveBackReadAhead();
  }
  _pwriteFD(offset, buf, len);
}

void WFileTransport::flush(bool sync) {
  if (_fd.load() < 0) return;
  int fd;
  {
    WriteLock lock(_wMutex, LockType::WRITE);
    fd = _fd.load();
    if (fd < 0) return;
    if (_wBuf && _wPending.load()) _writeOut();
  }
  if (sync) {
    int r = ::fdatasync(fd);
    int err = errno;
    counted(_syncCount);
    if (r != 0) {
      throw TTransportException(TTransportException::UNKNOWN, "WFileTransport::flush()", err);
    }
  }
}

// ---- buffers and counters -----------------------------------------------------------------

void WFileTransport::configBuffer(uint32_t readCapacity, uint32_t writeCapacity,
                                  bool writePending) {
  if (readCapacity != _rBufSize) {
    releaseRBuf();
    _rBufSize = readCapacity;
  }
  WriteLock lock(_wMutex, LockType::WRITE);
  if (writeCapacity != _wBufSize) {
    if (writePending && _fd.load() >= 0 && _wBuf && _wPending.load()) _writeOut();
    delete[] _wBuf;
    _wBuf = nullptr;
    _wPending.store(0);
    _wBufSize = writeCapacity;
  }
}

void WFileTransport::releaseRBuf() {
  {
    WriteLock lock(_wMutex, LockType::WRITE);
    if (_fd.load() >= 0) _giveBackReadAhead();  // unread bytes stay readable
  }
  delete[] _rBuf;
  _rBuf = nullptr;
  _rUsed = 0;
  _rPos = 0;
}

void WFileTransport::releaseWBuf() {
  WriteLock lock(_wMutex, LockType::WRITE);
  delete[] _wBuf;
  _wBuf = nullptr;
  _wPending.store(0);
}

void WFileTransport::getStat(Stat& stat) const {
  stat.readCount = _readCount.load();
  stat.writeCount = _writeCount.load();
  stat.preadCount = _preadCount.load();
  stat.pwriteCount = _pwriteCount.load();
  stat.seekCount = _seekCount.load();
  stat.syncCount = _syncCount.load();
}
