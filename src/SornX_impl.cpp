#include "src/SornX_impl.h"

#include <Poco/AutoPtr.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "logutil.h"
#include "shared-types/mopra_types.h"
#include "src/jni/jni_module.h"
#include "src/jni/jni_util.h"
#include "src/wdb/kc/OpenKCFromConfig.h"
#include "src/xlabs.h"
#include "src/xlive.h"
#include "wexception.h"

// ---------------------------------------------------------------------------------------
// Module state and functions.

namespace {

// The log level and the information text.
tjni::Module moduleState("SornX", "1.0.0", "Sorn for Toka libraries");

}  // namespace

void sornx__setLogLevel(int level) { moduleState.setLogLevel(level); }

int sornx__getLogLevel() { return moduleState.logLevel(); }

bool sornx__errOn() { return moduleState.errOn(); }

bool sornx__infOn() { return moduleState.infOn(); }

bool sornx__dbgOn() { return moduleState.dbgOn(); }

xstring sornx__info() {
  const std::string& text = moduleState.info();
  return xstring(text.data(), text.size());
}

int sornx__initialize() {
  init_xallocator();
  return 1;
}

void sornx__uninitialize() {
  // Stores hold pooled memory: stopping under them would leave them on freed pages.
  const int64_t live = xlive_count();
  if (live > 0) {
    __printLogErr("sornx__uninitialize",
                  "%lld SornGeneric objects are alive: the allocator keeps running",
                  static_cast<long long>(live));
    return;
  }
  uninit_xallocator();
}

namespace sorn {

// ---------------------------------------------------------------------------------------
// Exclusive open: the files an open store holds, registered process-wide. Kyoto Cabinet's
// file locks do not keep one process from opening a file twice, and two databases over one
// file lose records; so no two objects may hold the same store files at once.

class StoreClaim {
 public:
  std::string home;                // canonical home directory
  std::string dbname;              // first part of every file name of the store
  std::vector<std::string> files;  // canonical explicit partition paths

  bool conflicts(const StoreClaim& other) const {
    if (home == other.home && namesOverlap(dbname, other.dbname)) return true;
    for (const std::string& f : files) {
      if (other.holds(f)) return true;
    }
    for (const std::string& f : other.files) {
      if (holds(f)) return true;
    }
    return false;
  }

 private:
  // Names whose files one store could take for its own ("a-..." is scanned as a partition
  // of "a"), so "a" and "a-1" in one home overlap.
  static bool namesOverlap(const std::string& a, const std::string& b) {
    return a == b || prefixed(a, b + "-") || prefixed(b, a + "-");
  }
  static bool prefixed(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
  }
  // True for an explicit path of this store or a file in its home named like its files.
  bool holds(const std::string& file) const {
    for (const std::string& f : files) {
      if (f == file) return true;
    }
    const std::string::size_type slash = file.rfind('/');
    const std::string dir = slash == 0 ? "/"
                                       : file.substr(0, slash == std::string::npos ? 0 : slash);
    const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
    return dir == home && (prefixed(base, dbname + "-") || prefixed(base, dbname + "."));
  }
};

namespace {

// An absolute, symlink-free, normalised form of a path, also for paths that do not exist yet.
std::string canonicalPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
  if (ec) p = std::filesystem::path(path);
  std::filesystem::path c = std::filesystem::weakly_canonical(p, ec);
  if (ec) c = p.lexically_normal();
  std::string s = c.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

struct ClaimRegistry {
  std::mutex mutex;
  std::vector<const StoreClaim*> claims;
};

// Never destroyed: natives may run on other threads while the process exits.
ClaimRegistry& claimRegistry() {
  static ClaimRegistry* const registry = new ClaimRegistry();
  return *registry;
}

// Registers claim unless it conflicts with a registered claim other than ignore.
bool acquireClaim(const StoreClaim* claim, const StoreClaim* ignore) {
  ClaimRegistry& r = claimRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const StoreClaim* c : r.claims) {
    if (c != ignore && c->conflicts(*claim)) return false;
  }
  r.claims.push_back(claim);
  return true;
}

void releaseClaim(const StoreClaim* claim) {
  if (claim == nullptr) return;
  ClaimRegistry& r = claimRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (std::vector<const StoreClaim*>::iterator it = r.claims.begin(); it != r.claims.end(); ++it) {
    if (*it == claim) {
      r.claims.erase(it);
      return;
    }
  }
}

// The configuration of one open: a layered configuration over one writeable map.
class MyLayeredConfiguration : public Poco::Util::LayeredConfiguration {
 public:
  MyLayeredConfiguration() {
    Poco::AutoPtr<Poco::Util::AbstractConfiguration> map(new Poco::Util::MapConfiguration());
    add(map, -100, true);
  }
  ~MyLayeredConfiguration() override {}
};

}  // namespace

// The configuration of one open and the store name its keys begin with.
class StoreConfig {
 public:
  MyLayeredConfiguration config;
  std::string name;
};

// ---------------------------------------------------------------------------------------
// SornGeneric.

SornGeneric::SornGeneric() : _innerDb(nullptr), _contiguous(false) { sornx__initialize(); }

SornGeneric::~SornGeneric() { close(); }

std::string SornGeneric::_setConfig(Poco::Util::LayeredConfiguration& config, JNIEnv* env,
                                    jstring name, jstring home, jstring dbname, jstring dbtype,
                                    jboolean autoSync, jstring distribType, jint partitions,
                                    jint partMB, jlong partRecords, jstring tune,
                                    jobjectArray paths, StoreClaim* claim) {
  tjni::JStringUTF jname(env, name);
  if (jname.empty()) return std::string();
  const std::string n(jname.data(), jname.length());

  tjni::JStringUTF jhome(env, home);
  if (jhome.empty()) return std::string();
  config.setString(wdb::configKey(n, "home"), std::string(jhome.data(), jhome.length()));

  tjni::JStringUTF jdbname(env, dbname);
  if (jdbname.empty()) return std::string();
  config.setString(wdb::configKey(n, "dbname"), std::string(jdbname.data(), jdbname.length()));

  tjni::JStringUTF jdistrib(env, distribType);
  if (jdistrib.empty()) return std::string();
  config.setString(wdb::configKey(n, "distrib_type"),
                   std::string(jdistrib.data(), jdistrib.length()));

  // A string the VM could not supply leaves an exception pending: stop before the next call.
  tjni::JStringUTF jdbtype(env, dbtype);
  if (jdbtype.failed()) return std::string();
  if (!jdbtype.empty()) {
    config.setString(wdb::configKey(n, "dbtype"), std::string(jdbtype.data(), jdbtype.length()));
  }
  config.setBool(wdb::configKey(n, "auto_sync"), autoSync != 0);
  if (partitions > 0) config.setInt(wdb::configKey(n, "partitions"), partitions);

  tjni::JStringUTF jtune(env, tune);
  if (jtune.failed()) return std::string();
  if (!jtune.empty()) {
    config.setString(wdb::configKey(n, "tune_options"), std::string(jtune.data(), jtune.length()));
  }
  if (partMB > 0) config.setInt(wdb::configKey(n, "partition_megabytes"), partMB);
  if (partRecords > 0) {
    // The stores keep the limit as an int: larger values are clamped, never cut.
    const jlong records = partRecords > kMaxPartitionRecords ? kMaxPartitionRecords : partRecords;
    config.setInt(wdb::configKey(n, "partition_records"), static_cast<int>(records));
  }

  if (claim != nullptr) {
    claim->home = canonicalPath(std::string(jhome.data(), jhome.length()));
    claim->dbname.assign(jdbname.data(), jdbname.length());
  }
  if (paths != nullptr) {
    const jsize count = env->GetArrayLength(paths);
    for (jsize i = 0; i < count; ++i) {
      jobject element = env->GetObjectArrayElement(paths, i);
      if (element == nullptr) {
        // A null element, or the VM could not read it (an exception is then pending).
        if (env->ExceptionCheck()) return std::string();
        continue;
      }
      // The local reference goes on every path, also when a setter throws.
      struct LocalRef {
        JNIEnv* env;
        jobject ref;
        ~LocalRef() { env->DeleteLocalRef(ref); }
      } ref = {env, element};
      tjni::JStringUTF jpath(env, static_cast<jstring>(element));
      if (jpath.failed()) return std::string();
      if (jpath.empty()) continue;
      const std::string path(jpath.data(), jpath.length());
      config.setString(n + ".partitions[" + std::to_string(i) + "].path", path);
      if (claim != nullptr) claim->files.push_back(canonicalPath(path));
    }
  }
  return n;
}

bool SornGeneric::open(JNIEnv* env, jstring name, jstring home, jstring dbname, jstring dbtype,
                       jboolean autoSync, jstring distribType, jint partitions, jint partMB,
                       jlong partRecords, jstring tune, jobjectArray paths) {
  std::unique_ptr<StoreConfig> config(new StoreConfig());
  std::unique_ptr<StoreClaim> claim(new StoreClaim());
  config->name = _setConfig(config->config, env, name, home, dbname, dbtype, autoSync, distribType,
                            partitions, partMB, partRecords, tune, paths, claim.get());
  if (config->name.empty()) return false;
  // Everything the configuration can tell is checked here, before the old store is touched.
  wdb::PreparedKCStore prepared = wdb::PrepareKCFromConfig(config->config, config->name);
  if (prepared.get() == nullptr) return false;

  // Reopening (some of) the files this object holds: the old store goes first, or both
  // would be open over the same files.
  const bool overlapsOld = _claim && _claim->conflicts(*claim);
  if (!acquireClaim(claim.get(), _claim.get())) {
    throw wexception("Store files are already opened by another handle");
  }
  // Until the new store is in place, its claim is given back on every way out.
  struct ClaimGuard {
    StoreClaim* claim;
    ~ClaimGuard() {
      if (claim != nullptr) releaseClaim(claim);
    }
  } guard = {claim.get()};

  if (!overlapsOld) {
    if (prepared.open() < 0) return false;
    guard.claim = nullptr;
    _adopt(prepared.release(), prepared.contiguous(), std::move(claim), std::move(config));
    return true;
  }

  // The old store is closed, but its files stay claimed until the new one is in place, so
  // that it can be opened again over them if the new one fails.
  std::unique_ptr<StoreClaim> oldClaim = std::move(_claim);
  std::unique_ptr<StoreConfig> oldConfig = std::move(_config);
  const bool oldContiguous = _contiguous;
  _db.reset();
  _innerDb = nullptr;
  struct Restore {
    SornGeneric* self;
    std::unique_ptr<StoreClaim>* claim;
    std::unique_ptr<StoreConfig>* config;
    bool contiguous;
    bool armed;
    ~Restore() {
      if (!armed) return;
      // Opened again as it was opened before; a store that cannot be is closed for good.
      try {
        const std::pair<wdb::ISKVStorage*, bool> again = wdb::OpenKCFromConfig(
            (*config)->config, (*config)->name, static_cast<xstring*>(nullptr));
        if (again.first != nullptr) {
          self->_adopt(again.first, contiguous, std::move(*claim), std::move(*config));
          return;
        }
      } catch (...) {
      }
      releaseClaim(claim->get());
    }
  } restore = {this, &oldClaim, &oldConfig, oldContiguous, true};

  if (prepared.open() < 0) return false;
  restore.armed = false;
  guard.claim = nullptr;
  _adopt(prepared.release(), prepared.contiguous(), std::move(claim), std::move(config));
  releaseClaim(oldClaim.get());
  return true;
}

void SornGeneric::_adopt(wdb::ISKVStorage* store, bool contiguous,
                         std::unique_ptr<StoreClaim> claim, std::unique_ptr<StoreConfig> config) {
  std::unique_ptr<wdb::ISKVStorage> inner(store);
  wdb::SKVAdapterStorage* raw = new wdb::SKVAdapterStorage(inner.get(), true);
  inner.release();  // the adapter owns the store now
  boost::shared_ptr<wdb::SKVAdapterStorage> adapter(raw);
  _db.swap(adapter);  // the old adapter, if any, goes with `adapter` below
  _innerDb = _db->getInnerStorage();
  _contiguous = contiguous;
  adapter.reset();  // closes the old store before its claim is released
  releaseClaim(_claim.get());
  _claim = std::move(claim);
  _config = std::move(config);
}

void SornGeneric::close() {
  _db.reset();
  _innerDb = nullptr;
  releaseClaim(_claim.get());
  _claim.reset();
  _config.reset();
}

int64_t SornGeneric::size() const { return _db ? static_cast<int64_t>(_db->size()) : 0; }

void SornGeneric::clear() {
  if (_db) _db->clear();
}

jobject SornGeneric::_extract(JNIEnv* env, const void* value, int valueLen,
                              bool asString) noexcept {
  // The store ends every value with a NUL byte, so a string stops at the first one.
  return tjni::newResult(env, static_cast<const char*>(value), static_cast<size_t>(valueLen),
                         asString);
}

jobject SornGeneric::get(JNIEnv* env, const char* key, int keyLen, bool asString) {
  if (_innerDb == nullptr || keyLen < 0) return nullptr;
  wdb::ValueBuffer buffer(*_innerDb);
  const int r = _innerDb->getTx0(nullptr, buffer.out(), buffer.outLength(), key,
                                 static_cast<size_t>(keyLen));
  const size_t length = buffer.length();
  if (buffer.data() == nullptr || r < 0 || length > static_cast<size_t>(INT_MAX)) return nullptr;
  return _extract(env, buffer.data(), static_cast<int>(length), asString);
}

jobject SornGeneric::pop(JNIEnv* env, const char* key, int keyLen, bool asString) {
  if (_innerDb == nullptr || keyLen < 0) return nullptr;
  wdb::ValueBuffer buffer(*_innerDb);
  const int r = _innerDb->popTx0(nullptr, buffer.out(), buffer.outLength(), key,
                                 static_cast<size_t>(keyLen));
  const size_t length = buffer.length();
  if (buffer.data() == nullptr || r < 0) return nullptr;
  // The record has left the store; if it cannot reach Java it is put back, not lost.
  jobject result = length <= static_cast<size_t>(INT_MAX)
                       ? _extract(env, buffer.data(), static_cast<int>(length), asString)
                       : nullptr;
  if (result == nullptr) _putBack(key, keyLen, buffer.data(), length);
  return result;
}

void SornGeneric::_putBack(const char* key, int keyLen, const void* value, size_t length) {
  // As an add: a record written under the key meanwhile is newer and stays.
  _innerDb->putTx0(nullptr, key, static_cast<size_t>(keyLen), value, length, mopra::PutPolicy::ADD);
}

bool SornGeneric::put(const char* key, int keyLen, const char* value, int valueLen, int policy) {
  if (policy != mopra::PutPolicy::ADD && policy != mopra::PutPolicy::UPDATE &&
      policy != mopra::PutPolicy::ADD_OR_UDP) {
    return false;
  }
  if (_innerDb == nullptr || keyLen < 0 || valueLen < 0) return false;
  return _innerDb->putTx0(nullptr, key, static_cast<size_t>(keyLen), value,
                          static_cast<size_t>(valueLen), policy) >= 0;
}

bool SornGeneric::remove(const char* key, int keyLen) {
  if (_innerDb == nullptr || keyLen < 0) return false;
  return _innerDb->removeTx0(nullptr, key, static_cast<size_t>(keyLen)) >= 0;
}

bool SornGeneric::exist(const char* key, int keyLen) {
  if (_innerDb == nullptr || keyLen < 0) return false;
  return _innerDb->existTx0(nullptr, key, static_cast<size_t>(keyLen)) >= 0;
}

}  // namespace sorn
