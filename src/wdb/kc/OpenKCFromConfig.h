// Opens a partitioned store from a layered configuration whose keys begin with the store's
// name: "<name>.auto_sync" (bool, default false) and "<name>.distrib_type" (required:
// "uniform" or "contiguous", case-sensitive) are read here, the rest by the store's own
// loadConfig ("<name>.home", "<name>.dbname", "<name>.dbtype", "<name>.partitions",
// "<name>.tune_options", "<name>.partition_megabytes", "<name>.partition_records",
// "<name>.partitions[<i>].path").
//
// Result: (store, contiguous). The store is opened with reader|writer|create|auto-transaction
// (23), plus auto-sync (55) when "<name>.auto_sync" is true; the caller owns it. Null when
// the name is empty or the store's open failed (the store is then destroyed). A missing
// required key or an unreadable value raises the configuration's exception; an unknown
// distribution type raises wexception("Unknown distrib-type"). A half-built store is
// destroyed before any exception leaves.
// Every contiguous store is given the one process-wide byte-order comparator, built on the
// first contiguous open and never destroyed (stores may use it until the process ends).
// PrepareKCFromConfig is the same in two steps: it reads and checks everything (the two
// keys above and every value the store reads) and hands back the store unopened, so that a
// caller can learn of a bad configuration before it gives up anything; what is left to
// fail is the store's open itself.
// Threads: no lock of its own; the stores lock their loadConfig and open.
#ifndef TOKA_SRC_WDB_KC_OPENKCFROMCONFIG_H
#define TOKA_SRC_WDB_KC_OPENKCFROMCONFIG_H

#include <memory>
#include <string>
#include <utility>

#include "src/wdb/kc/ISKVStorage.h"
#include "src/xstring.h"

namespace Poco {
namespace Util {
class LayeredConfiguration;
}
}  // namespace Poco

namespace wdb {

// Kyoto Cabinet open modes used by the factory.
const unsigned KC_OPEN_MODE = 23;           // reader | writer | create | auto transaction
const unsigned KC_OPEN_MODE_AUTOSYNC = 55;  // the same | auto sync

// The configuration key "<name>.<suffix>"; a plain string, so keys come out right in every
// allocator state.
std::string configKey(const std::string& name, const char* suffix);

// A store read from its configuration and not opened yet; the holder owns it until
// release. Destroying an unopened or opened holder destroys (closes) the store.
class PreparedKCStore {
 public:
  PreparedKCStore() : _contiguous(false), _mode(0), _open(nullptr) {}
  PreparedKCStore(std::unique_ptr<ISKVStorage> store, bool contiguous, unsigned mode,
                  int (*open)(ISKVStorage*, unsigned))
      : _store(std::move(store)), _contiguous(contiguous), _mode(mode), _open(open) {}
  // Null for an empty name.
  ISKVStorage* get() const { return _store.get(); }
  bool contiguous() const { return _contiguous; }
  // The store's open with the configured mode: 0 or more on success, else the store's
  // negative result (the store is then closed). May throw as the store's open does.
  int open() { return _store ? _open(_store.get(), _mode) : RC_INVALID_PARAM; }
  ISKVStorage* release() { return _store.release(); }

 private:
  std::unique_ptr<ISKVStorage> _store;
  bool _contiguous;
  unsigned _mode;
  int (*_open)(ISKVStorage*, unsigned);
};

// Every check of OpenKCFromConfig, with its exceptions, and the store unopened (null for an
// empty name).
PreparedKCStore PrepareKCFromConfig(Poco::Util::LayeredConfiguration& configuration,
                                    const std::string& name);

// K selects the key type (only the pooled string exists); keyTag is not read.
template <typename K>
std::pair<ISKVStorage*, bool> OpenKCFromConfig(Poco::Util::LayeredConfiguration& configuration,
                                               const std::string& name, K* keyTag);

extern template std::pair<ISKVStorage*, bool> OpenKCFromConfig<xstring>(
    Poco::Util::LayeredConfiguration&, const std::string&, xstring*);

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_OPENKCFROMCONFIG_H
