// Reference-counted objects and the notification interface.
//
// wdb::RefCountedObject carries an atomic reference count, 1 after construction; duplicate()
// adds one, release() drops one and destroys the object through doRelease() when the count
// reaches 0. Poco::AutoPtr holds these objects (it calls duplicate/release). Whoever holds a
// reference owns it; the thread that drops the last one runs doRelease.
//
// wdb::INotification is the root of every notification: the storage interfaces pass it to
// notifProcTx, the notification queue stores it. Thread-safe: the count changes only by
// atomic read-modify-write; no lock is taken.
#ifndef TOKA_SRC_WDB_INOTIFICATION_H
#define TOKA_SRC_WDB_INOTIFICATION_H

#include <atomic>
#include <cstdint>
#include <string>

namespace wdb {

class RefCountedObject {
 public:
  RefCountedObject();

  void duplicate() const;
  // Drops one reference; the last one destroys the object.
  void release() const;
  int32_t referenceCount() const;

 protected:
  // Destroys the object with the ordinary delete.
  virtual void doRelease() const;
  virtual ~RefCountedObject();

 private:
  RefCountedObject(const RefCountedObject&) = delete;
  RefCountedObject& operator=(const RefCountedObject&) = delete;

  mutable std::atomic<int32_t> _counter;
};

// Kinds of operation a notification stands for. The queue's notifications use OT_NOTIFY.
enum OpType {
  OT_NONE = 0,
  OT_PUT = 1,
  OT_REMOVE = 2,
  OT_NOTIFY = 3,
};

class INotification : public RefCountedObject {
 public:
  ~INotification() override;

  // The platform's type name of the most derived class.
  virtual std::string name() const;
  // A new notification with the count 1, owned by the caller.
  virtual INotification* clone() = 0;
  virtual int notifTypeID() const = 0;
  virtual OpType opType() const = 0;
  virtual int opCount() const = 0;
  virtual void beforeProc(const void* context);
  virtual void afterProc(const void* context);
};

}  // namespace wdb

#endif  // TOKA_SRC_WDB_INOTIFICATION_H
