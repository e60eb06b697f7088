// WFileTransport: a buffered Thrift transport over one file descriptor.
//
// Reads go through an optional read-ahead buffer (read capacity, 0 = unbuffered), writes
// through an optional write-behind buffer (write capacity, 0 = unbuffered); readAt/writeAt
// work at absolute offsets and see bytes still held in the write buffer. Whatever the
// buffering, a byte written is read back at its position: pending bytes are written out
// before anything reads the descriptor, moves it or cuts the file, and unconsumed read-ahead
// is given back (the descriptor sought back over it) before anything writes or moves it.
// Every system call is counted, successful or not (getStat).
//
// Ownership: the transport owns its buffers. A descriptor opened by openPath is closed by
// close, by the next openPath or by setFD with closeFirst; the destructor always writes the
// pending bytes out, but closes the descriptor only with close policy 1 (the constructor's
// argument), so an owner that leaves the policy at 0 calls close itself. A descriptor given
// by setFD stays the caller's unless the transport is asked to close it; setFD without
// closeFirst leaves the previous descriptor untouched and drops its pending bytes, so a
// caller that keeps using that descriptor flushes before switching.
//
// Threads: write, prepareWrite, writeAt, flush, readAt, tellg, fileSize and getStat may run
// on many threads at once; close may run alongside write, prepareWrite, writeAt and flush,
// none of whose writes reaches a descriptor once it is closed. They serialise on one mutex,
// the write mutex, taken through ScopeRWLock in the write kind (a failure to lock raises
// Poco::SystemException). It guards the write buffer, every write(2) and pwrite(2), every
// move of the descriptor and its close; the transport takes no other lock and calls nothing
// of its caller while holding it. Pending count, offset, descriptor and counters are atomic.
// read, readAll, borrow, consume, seek, truncate, openPath, setFD, duplicate, rename,
// configBuffer, releaseRBuf and releaseWBuf are for one thread at a time, with no other
// call on the transport running.
//
// Failures raise apache::thrift::transport::TTransportException (UNKNOWN, NOT_OPEN or
// BAD_ARGS; system errors as "<text>: <error text>") or WEOFException; fileSize and tellg
// print "Failed fstat: %s\n" / "Failed tellg: %s\n" on standard output and return 0.
#ifndef TOKA_WFILETRANSPORT_H
#define TOKA_WFILETRANSPORT_H

#include <Poco/Mutex.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

// End of data: a read that cannot be satisfied, or a write the descriptor accepts nothing of.
class __attribute__((visibility("default"))) WEOFException : public std::exception {
 public:
  // A null text gives an empty message.
  explicit WEOFException(const char* text);
  ~WEOFException() noexcept override;
  // The message, or "WEOFException" when it is empty.
  const char* what() const noexcept override;

 private:
  std::string _message;
};

class __attribute__((visibility("default"))) WFileTransport
    : public apache::thrift::transport::TVirtualTransport<
          WFileTransport, apache::thrift::transport::TTransportDefaults> {
 public:
  // Counts of system calls made, in this order: read, write, pread, pwrite, lseek64, fdatasync.
  struct Stat {
    uint64_t readCount;
    uint64_t writeCount;
    uint64_t preadCount;
    uint64_t pwriteCount;
    uint64_t seekCount;
    uint64_t syncCount;
  };

  // No file, no buffers, both capacities 0. closePolicy 1: the destructor closes the file.
  explicit WFileTransport(int closePolicy = 0);
  // Writes pending bytes out (errors swallowed), closes with close policy 1, frees buffers.
  ~WFileTransport() override;

  // Thrift slots. isOpen: a descriptor is set. open: nothing (see openPath, setFD).
  // flush(): writes the pending bytes out, without sync.
  bool isOpen() const override;
  void open() override;
  void close() override;
  void flush() override;

  // Opens path (mode 0644) with O_RDWR|O_LARGEFILE, O_RDONLY or O_WRONLY|O_LARGEFILE plus
  // extraFlags. closeFirst closes the current file before opening; otherwise it is closed
  // once the new one is open.
  void openPath(const char* path, bool read, bool write, int extraFlags, bool closeFirst);
  // Takes descriptor fd (negative: none). Without closeFirst the previous descriptor is left
  // as it is, untouched: its pending bytes and unconsumed read-ahead are dropped.
  void setFD(int fd, bool closeFirst);
  // Opens this transport's path in other; nothing when the path is empty.
  void duplicate(WFileTransport& other, bool read, bool write, int extraFlags,
                 bool closeFirst) const;
  // Moves the file to newPath; false (path unchanged) when the file system refuses.
  bool rename(const std::string& newPath);
  void getPath(std::string& path) const;

  // Size of the file as the file system sees it (pending bytes not counted); 0 on failure.
  uint64_t fileSize() const;
  // Position of the next read or write: the descriptor's position plus the pending bytes,
  // minus unconsumed read-ahead. 0 without a descriptor or on failure.
  int64_t tellg() const;
  // lseek64 after writing the pending bytes out; SEEK_CUR counts from tellg's position.
  int64_t seek(int64_t offset, int whence);
  // ftruncate64 after writing the pending bytes out.
  void truncate(uint64_t length);

  // With a read buffer of at least len: len bytes, fewer (at least 1) when the file ends
  // first, WEOFException "No more data to read" when nothing is left. Otherwise the buffered
  // bytes plus one read call, 0 at the end of the file.
  uint32_t read(uint8_t* buf, uint32_t len);
  uint32_t readAll(uint8_t* buf, uint32_t len);
  // Pointer into the read buffer at the read position with *len set to the bytes available
  // there (at least the requested *len), or null: no read buffer, one below *len, or fewer
  // bytes left in the file than *len. The bytes stay until consume.
  const uint8_t* borrow(uint8_t* buf, uint32_t* len);
  void consume(uint32_t len);
  uint32_t readAt(uint64_t offset, uint8_t* buf, uint32_t len);

  void write(const uint8_t* buf, uint32_t len);
  // True when len bytes now fit into the write buffer.
  bool prepareWrite(uint32_t len);
  void writeAt(uint64_t offset, const uint8_t* buf, uint32_t len);
  // Writes the pending bytes out; sync then calls fdatasync.
  void flush(bool sync);

  // New capacities; the write buffer's pending bytes are written out first when
  // writePending is true (and dropped when it is false).
  void configBuffer(uint32_t readCapacity, uint32_t writeCapacity, bool writePending);
  void releaseRBuf();
  // Drops the pending bytes.
  void releaseWBuf();
  void getStat(Stat& stat) const;

 private:
  WFileTransport(const WFileTransport&) = delete;
  WFileTransport& operator=(const WFileTransport&) = delete;

  // All of these run under the write mutex.
  void _writeOut();
  void _writeDirect(const uint8_t* buf, uint32_t len);
  void _giveBackReadAhead();
  void _attach(int fd);
  uint32_t _pwriteFD(uint64_t offset, const uint8_t* buf, uint32_t len);
  // Read side, one thread at a time.
  void _writeOutBeforeRead();
  uint32_t _readFD(uint8_t* buf, uint32_t len);
  uint32_t _preadFD(uint64_t offset, uint8_t* buf, uint32_t len);
  uint32_t _fillReadBuffer(uint32_t len);

  std::string _path;
  std::atomic<int> _fd;
  int _closePolicy;

  uint8_t* _rBuf;
  uint32_t _rBufSize;
  uint32_t _rUsed;
  uint32_t _rPos;

  uint8_t* _wBuf;
  uint32_t _wBufSize;
  std::atomic<uint32_t> _wPending;

  // The descriptor's position as tracked; pending bytes belong at [offset, offset + pending).
  std::atomic<int64_t> _offset;
  mutable Poco::FastMutex _wMutex;

  mutable std::atomic<uint64_t> _readCount;
  mutable std::atomic<uint64_t> _writeCount;
  mutable std::atomic<uint64_t> _preadCount;
  mutable std::atomic<uint64_t> _pwriteCount;
  mutable std::atomic<uint64_t> _seekCount;
  mutable std::atomic<uint64_t> _syncCount;
};

#endif  // TOKA_WFILETRANSPORT_H
