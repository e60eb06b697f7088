// Cost of the mopra functions over the raw wcypher codec they forward to: hexing, Base64
// encode + decode, and the envelope round trip (encode + decode of one part), for 100-byte
// and 4 KiB values, measured in the same run with the raw call as baseline. Prints one line
// per measurement with the ratio mopra / raw. Built against each build (bench_holders_px,
// bench_holders_jni).
// Usage: bench_holders [CPU seconds per measurement, default 0.5]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "shared-types/MopraX_impl.h"
#include "shared-types/WCypher.h"

namespace {

double g_seconds = 0.5;
volatile size_t g_sink = 0;

// Best seconds per call of each of the two functions, measured in alternating rounds so
// that both see the same machine state.
template <class A, class B>
void time_pair(A&& a, B&& b, double& ta, double& tb) {
  const int rounds = 10;
  const double slice = g_seconds / rounds / 2;
  a();
  b();
  const bench::Pair best = bench::best_times(
      rounds, [&] { return bench::cpu_per_call(a, slice); },
      [&] { return bench::cpu_per_call(b, slice); });
  ta = best.a;
  tb = best.b;
}

void report(const char* what, size_t size, double raw, double mopra) {
  std::printf("%-22s %5zu B  raw %9.1f ns  mopra %9.1f ns  ratio %.3f\n", what, size, raw * 1e9,
              mopra * 1e9, mopra / raw);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_seconds = std::atof(argv[1]);
#ifdef MOPRA_PX_BUILD
  std::printf("build: MopraX (pooled containers)\n");
#else
  std::printf("build: MopraXJNI (standard allocator)\n");
#endif
  std::mt19937 rng(7);
  for (size_t size : {size_t(100), size_t(4096)}) {
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>(rng());
    mopra::StrHolder in, out, back;
    in.value = data;
    std::string raw_out, raw_back;
    double tr, tm;

    time_pair(
        [&] {
          wcypher::hexing0(raw_out, data, 0);
          g_sink += raw_out.size();
        },
        [&] {
          mopra::hexing(out, in, 0);
          g_sink += out.value.size();
        },
        tr, tm);
    report("hexing", size, tr, tm);

    time_pair(
        [&] {
          wcypher::base64_encode0(raw_out, data, 0);
          wcypher::base64_decode0(raw_back, raw_out, 0);
          g_sink += raw_back.size();
        },
        [&] {
          mopra::base64_encode(out, in, 0);
          mopra::base64_decode(back, out, 0);
          g_sink += back.value.size();
        },
        tr, tm);
    report("base64 enc+dec", size, tr, tm);

    const std::string secret_text = "bench secret";
    const std::vector<std::string> raw_parts{data};
    std::vector<std::string> raw_decoded;
    const mopra::string_vector parts{data};
    mopra::string_vector decoded;
    mopra::StrHolder secret;
    secret.value = secret_text;
    const int flags = (1 << 8) | 0;
    time_pair(
        [&] {
          wcypher::wma_encode0(raw_out, raw_parts, secret_text, flags, 0);
          wcypher::wma_decode0(raw_decoded, raw_out, secret_text, flags, 0);
          g_sink += raw_decoded.size();
        },
        [&] {
          mopra::wma_encode(out, parts, secret, flags, 0);
          mopra::wma_decode(decoded, out, secret, flags, 0);
          g_sink += decoded.size();
        },
        tr, tm);
    report("wma enc+dec", size, tr, tm);
  }
  return g_sink == 0;
}
