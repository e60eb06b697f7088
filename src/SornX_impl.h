// SornX binding: the storage object sorn::SornGeneric behind a Java handle, the module
// functions sornx__* (log level, information text, allocator start and stop) and the
// binding helpers (debug dumps of keys and values, the error report jThrowException).
//
// SornGeneric opens a uniform or contiguous store from the Java arguments of its open
// (through a layered configuration and wdb::OpenKCFromConfig), owns it inside a typed
// adapter and answers the record operations through the store's raw operations; values go
// back as fresh Java arrays or strings and the store's buffers are returned at once. An
// object that is not open answers every record operation as a failure (null or false).
// Within one process no two objects hold the same store files open at once: an open whose
// home and database name (or explicit partition path) another object holds is refused.
//
// Every SornGeneric counts as a live object of the library (src/xlive.h) from its
// constructor to its destructor, so that sornx__uninitialize never stops the allocator
// under it. An object made after the stop opens stores that work on the system
// allocator, reads included.
//
// Threads: a SornGeneric has no lock of its own; the store guards its records, and the
// caller must not open, close or delete an object while another call on it runs. The
// exclusive-open registry has one mutex, held only while claims are checked and changed.
// The module log level and information text are a tjni::Module (src/jni/jni_module.h): one
// atomic word, and a text built once, thread-safely, in storage that outlives the allocator
// (never pooled, never destroyed).
#ifndef TOKA_SRC_SORNX_IMPL_H
#define TOKA_SRC_SORNX_IMPL_H

#include <jni.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "src/wdb/kc/ISKVStorage.h"
#include "src/wdb/kc/TSKVAdapterStorage.h"
#include "src/jni/jni_log.h"
#include "src/xlive.h"
#include "src/xstring.h"

namespace Poco {
namespace Util {
class LayeredConfiguration;
}
}  // namespace Poco

// Module functions of SornX.
void sornx__setLogLevel(int level);  // any value is accepted
int sornx__getLogLevel();
// The module level tests of the callers: errors, information lines, debug dumps.
bool sornx__errOn();
bool sornx__infOn();
bool sornx__dbgOn();
xstring sornx__info();    // a copy of the information text
int sornx__initialize();  // starts the pooled allocator; always 1
// Stops the pooled allocator for good; while any SornGeneric is alive it prints the error
// line "[ERR] sornx__uninitialize: <n> SornGeneric objects are alive: the allocator keeps
// running" (at every log level) and stops nothing.
void sornx__uninitialize();

namespace sorn {

// The binding's log helpers are the JNI helper layer's (src/jni/jni_log.h): key and value
// dumps and the error line of a failure report.
using tjni::dumpKey;
using tjni::dumpValue;
using tjni::dumpKeyValue;
using tjni::jThrowException;

class StoreClaim;
class StoreConfig;

class SornGeneric {
 public:
  // Calls sornx__initialize.
  SornGeneric();
  // Closes.
  ~SornGeneric();

  // Opens the store that the arguments describe. false when home, dbname, distribType or the
  // name is null or empty (the object is left as it was) or when the store did not open.
  // Reopening the same store files closes the old store first; otherwise the new store is
  // opened before the old one is closed. Throws (the native reports it) for an unknown
  // distribution type, a configuration the store cannot read, a file-system failure, or
  // store files another object holds open. A failed open or an exception leaves the object
  // as it was: the configuration is checked whole before the old store is touched, and an
  // old store closed for a new one that then fails is opened again with its own
  // configuration.
  bool open(JNIEnv* env, jstring name, jstring home, jstring dbname, jstring dbtype,
            jboolean autoSync, jstring distribType, jint partitions, jint partMB, jlong partRecords,
            jstring tune, jobjectArray paths);
  void close();
  bool isOpen() const { return static_cast<bool>(_db); }
  // The kind of the last store opened, also after close.
  bool isContiguous() const { return _contiguous; }
  // The adapter's answers (0 and nothing for the partitioned stores, and when not open).
  int64_t size() const;
  void clear();

  // A fresh byte array (asString false) or a string up to the value's first NUL byte; null
  // when absent, not open, or when the Java result cannot be made. A pop whose result cannot
  // be made puts the record back (as an add: a newer record under the key is kept).
  jobject get(JNIEnv* env, const char* key, int keyLen, bool asString);
  jobject pop(JNIEnv* env, const char* key, int keyLen, bool asString);
  // Policy 1 add, 2 update, 3 add or update; any other is refused without touching the store.
  bool put(const char* key, int keyLen, const char* value, int valueLen, int policy);
  bool remove(const char* key, int keyLen);
  bool exist(const char* key, int keyLen);

  // The largest record limit a store accepts; larger Java values are clamped to it.
  static const int64_t kMaxPartitionRecords = 2147483647;

 private:
  SornGeneric(const SornGeneric&) = delete;
  SornGeneric& operator=(const SornGeneric&) = delete;

  // Writes the Java arguments as "<name>.<key>" entries; returns the name, or empty when the
  // name, home, dbname or distribType is missing. claim (when given) receives the canonical
  // home, the database name and the partition paths written.
  std::string _setConfig(Poco::Util::LayeredConfiguration& config, JNIEnv* env, jstring name,
                         jstring home, jstring dbname, jstring dbtype, jboolean autoSync,
                         jstring distribType, jint partitions, jint partMB, jlong partRecords,
                         jstring tune, jobjectArray paths, StoreClaim* claim);
  // A new Java array or string of the value; null when the VM cannot make it (JNI calls
  // only, so nothing is thrown).
  jobject _extract(JNIEnv* env, const void* value, int valueLen, bool asString) noexcept;
  // Makes the opened store the object's own, with the files it holds and its configuration.
  void _adopt(wdb::ISKVStorage* store, bool contiguous, std::unique_ptr<StoreClaim> claim,
              std::unique_ptr<StoreConfig> config);
  // Puts a popped record back (its buffer stays the caller's).
  void _putBack(const char* key, int keyLen, const void* value, size_t length);

  // Counts the object among the library's live ones for as long as it exists.
  XLiveToken _live;
  boost::shared_ptr<wdb::SKVAdapterStorage> _db;
  wdb::ISKVStorage* _innerDb;
  bool _contiguous;
  // The files the open store holds, registered process-wide while it is open.
  std::unique_ptr<StoreClaim> _claim;
  // The configuration the open store was opened with, to open it again.
  std::unique_ptr<StoreConfig> _config;
};

}  // namespace sorn

#endif  // TOKA_SRC_SORNX_IMPL_H
