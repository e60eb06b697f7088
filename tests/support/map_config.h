// Test support: a Poco layered configuration over one writable map layer, for the store
// factory. Header only: for binaries that link Poco.
#ifndef TOKA_TESTS_SUPPORT_MAP_CONFIG_H
#define TOKA_TESTS_SUPPORT_MAP_CONFIG_H

#include <Poco/AutoPtr.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>

#include <string>

namespace tsupport {

class Config {
 public:
  Config() : layered_(new Poco::Util::LayeredConfiguration()) {
    layered_->add(
        Poco::AutoPtr<Poco::Util::AbstractConfiguration>(new Poco::Util::MapConfiguration()), -100,
        true);
  }
  void set(const std::string& k, const std::string& v) { layered_->setString(k, v); }
  Poco::Util::LayeredConfiguration& get() { return *layered_; }

 private:
  Poco::AutoPtr<Poco::Util::LayeredConfiguration> layered_;
};

}  // namespace tsupport

#endif  // TOKA_TESTS_SUPPORT_MAP_CONFIG_H
