#include "src/wdb/kc/OpenKCFromConfig.h"

#include <Poco/Util/LayeredConfiguration.h>
#include <kcdb.h>

#include <memory>

#include "logutil.h"
#include "src/wdb/kc/KComparator.h"
#include "src/wdb/kc/SKV_ContMKCStg.h"
#include "src/wdb/kc/SKV_UniMKCStg.h"
#include "wexception.h"

namespace wdb {

static_assert(KC_OPEN_MODE == (kyotocabinet::BasicDB::OREADER | kyotocabinet::BasicDB::OWRITER |
                               kyotocabinet::BasicDB::OCREATE | kyotocabinet::BasicDB::OAUTOTRAN),
              "open mode bits");
static_assert(KC_OPEN_MODE_AUTOSYNC == (KC_OPEN_MODE | kyotocabinet::BasicDB::OAUTOSYNC),
              "auto-sync bit");

namespace {

// The comparator of every contiguous store: made once, thread-safely, and kept until the
// process ends, since a store (and its background scans) may outlive static destruction.
const KComparator* contiguousComparator() {
  static const KComparator* const comparator = new BytewiseKComparator();
  return comparator;
}

}  // namespace

std::string configKey(const std::string& name, const char* suffix) { return name + "." + suffix; }

PreparedKCStore PrepareKCFromConfig(Poco::Util::LayeredConfiguration& configuration,
                                    const std::string& name) {
  if (name.empty()) return PreparedKCStore();

  const bool autoSync = configuration.getBool(configKey(name, "auto_sync"), false);
  const unsigned mode = autoSync ? KC_OPEN_MODE_AUTOSYNC : KC_OPEN_MODE;
  const std::string distribType = configuration.getString(configKey(name, "distrib_type"));

  if (distribType == "contiguous") {
    // The key type is always the pooled string, so every contiguous open warns.
    __printLogWrn("OpenKCFromConfig", "%s",
                  "distribType is contiguous while KType is string type!");
    std::unique_ptr<SKV_ContMKCStg> store(new SKV_ContMKCStg());
    store->loadConfig(name, configuration);
    store->setKComparator(contiguousComparator());
    return PreparedKCStore(
        std::unique_ptr<ISKVStorage>(store.release()), true, mode,
        [](ISKVStorage* s, unsigned m) { return static_cast<SKV_ContMKCStg*>(s)->open(m); });
  }
  if (distribType == "uniform") {
    std::unique_ptr<SKV_UniMKCStg> store(new SKV_UniMKCStg());
    store->loadConfig(name, configuration);
    return PreparedKCStore(
        std::unique_ptr<ISKVStorage>(store.release()), false, mode,
        [](ISKVStorage* s, unsigned m) { return static_cast<SKV_UniMKCStg*>(s)->open(m); });
  }
  throw wexception("Unknown distrib-type");
}

template <typename K>
std::pair<ISKVStorage*, bool> OpenKCFromConfig(Poco::Util::LayeredConfiguration& configuration,
                                               const std::string& name, K* keyTag) {
  (void)keyTag;
  PreparedKCStore prepared = PrepareKCFromConfig(configuration, name);
  if (prepared.get() == nullptr) return std::make_pair(static_cast<ISKVStorage*>(nullptr), false);
  if (prepared.open() < 0) {
    return std::make_pair(static_cast<ISKVStorage*>(nullptr), prepared.contiguous());
  }
  const bool contiguous = prepared.contiguous();
  return std::make_pair(prepared.release(), contiguous);
}

template std::pair<ISKVStorage*, bool> OpenKCFromConfig<xstring>(Poco::Util::LayeredConfiguration&,
                                                                 const std::string&, xstring*);

}  // namespace wdb
