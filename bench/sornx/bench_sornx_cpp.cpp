// The C++ side of the SornX benchmark: the workload of SornBench.java (N puts, then N gets
// of 16-byte keys with 100-byte values, then N gets over 1024 of the keys) through the store API that the natives call, on a
// store opened by wdb::OpenKCFromConfig with the same configuration. The difference to the
// SornJNI figures is the cost of the JNI layer.
// usage: bench_sornx_cpp <home dir> [records] [distrib type]
#include <Poco/AutoPtr.h>
#include <Poco/Util/LayeredConfiguration.h>
#include <Poco/Util/MapConfiguration.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "src/wdb/kc/OpenKCFromConfig.h"
#include "src/xlabs.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <home dir> [records] [distrib type]\n", argv[0]);
    return 2;
  }
  const std::string home = argv[1];
  const long n = argc > 2 ? std::atol(argv[2]) : 1000000;
  const std::string distrib = argc > 3 ? argv[3] : "uniform";
  init_xallocator();

  Poco::AutoPtr<Poco::Util::LayeredConfiguration> config(new Poco::Util::LayeredConfiguration());
  config->add(Poco::AutoPtr<Poco::Util::AbstractConfiguration>(new Poco::Util::MapConfiguration()),
              -100, true);
  config->setString("bench.home", home);
  config->setString("bench.dbname", "bench");
  config->setString("bench.distrib_type", distrib);
  config->setBool("bench.auto_sync", false);
  std::unique_ptr<wdb::ISKVStorage> store(
      wdb::OpenKCFromConfig(*config, "bench", static_cast<xstring*>(nullptr)).first);
  if (!store) {
    std::fprintf(stderr, "open failed\n");
    return 1;
  }

  std::vector<std::string> keys(static_cast<size_t>(n));
  char buf[32];
  for (long i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "k%015ld", i);
    keys[static_cast<size_t>(i)] = buf;
  }
  char value[100];
  std::memset(value, 'v', sizeof value);
  // Each get copies the value out, as the natives copy it into a fresh Java array.
  std::vector<char> out(100);

  long failures = 0;
  const double put = bench::time_once([&] {
    for (long i = 0; i < n; ++i) {
      const std::string& k = keys[static_cast<size_t>(i)];
      if (store->putTx0(nullptr, k.data(), k.size(), value, sizeof value, 3) < 0) ++failures;
    }
  });
  // n gets, the i-th of the key keyOf(i).
  auto gets = [&](auto keyOf) {
    for (long i = 0; i < n; ++i) {
      const std::string& k = keys[keyOf(i)];
      void* v = nullptr;
      size_t len = 0;
      if (store->getTx0(nullptr, &v, &len, k.data(), k.size()) < 0 || v == nullptr) {
        ++failures;
        continue;
      }
      std::memcpy(out.data(), v, len < out.size() ? len : out.size());
      store->freeData(v);
    }
  };
  const double get = bench::time_once([&] { gets([](long i) { return static_cast<size_t>(i); }); });
  // The same gets over 1024 keys only: the store's lookups stay in the caches, so the
  // difference to the SornJNI figure is the cost of the JNI layer per call.
  const double hot = bench::time_once(
      [&] { gets([](long i) { return static_cast<size_t>(i & 1023); }); });
  const double putNs = bench::ns_per_op(put, n);
  const double getNs = bench::ns_per_op(get, n);
  std::printf("RESULT cpp %s put %.0f ns/op %.0f ops/s get %.0f ns/op %.0f ops/s failures %ld\n",
              distrib.c_str(), putNs, 1e9 / putNs, getNs, 1e9 / getNs, failures);
  std::printf("RESULT cpphot get %.0f ns/op\n", bench::ns_per_op(hot, n));
  store.reset();
  return failures == 0 ? 0 : 1;
}
