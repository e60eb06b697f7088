// Throughput of the wcypher codecs: serialize, LZF compress/decompress next to raw liblzf
// on the same data in the same run (the wrapper's cost over the library), Base64, and
// envelope encode/decode for 1 KiB and 64 KiB lists. Prints one line per measurement.
// Usage: bench_wcypher [CPU seconds per measurement, default 0.5]
#include <alloca.h>
#include <lzf.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/support/bench_timer.h"
#include "shared-types/WCypher.h"
#include "shared-types/base64.h"

namespace {

double g_seconds = 0.5;
volatile size_t g_sink = 0;

// Best seconds per call of fn over `rounds` rounds sharing `seconds` of CPU time (a warm-up
// call first).
template <class Fn>
double time_per_call(Fn&& fn, int rounds = 5, double seconds = -1) {
  return bench::best_cpu_per_call(fn, rounds, seconds < 0 ? g_seconds : seconds);
}

// liblzf keeps its 256 KiB hash table on the stack, so the time of one call depends on where
// that table falls relative to the data buffers (cache set conflicts): raw liblzf alone
// moves by up to a quarter between stack depths a few KiB apart. Every LZF measurement is therefore
// made at each of these stack offsets, spanning more than a cache way, and averaged.
constexpr size_t kStackOffsets = 16;
constexpr size_t kStackStep = 4160;

template <class Fn>
__attribute__((noinline)) void at_stack_offset(size_t bytes, Fn& fn) {
  volatile char* pad = static_cast<char*>(alloca(bytes + 1));
  pad[0] = 0;
  pad[bytes] = 0;
  fn();
}

// Times two functions in alternating short rounds at every stack offset (so that load
// changes hit both alike); per offset the best seconds per call, averaged over the offsets.
// Also the spread of a over the offsets (slowest / fastest - 1).
struct PairTimes {
  double a, b, spread_a;
};

template <class A, class B>
PairTimes time_pair(A&& a, B&& b) {
  double sum_a = 0, sum_b = 0, min_a = 1e30, max_a = 0;
  const int rounds = 4;
  const double slice = g_seconds / (rounds * kStackOffsets);
  for (size_t k = 0; k < kStackOffsets; ++k) {
    auto call_a = [&] { at_stack_offset(k * kStackStep, a); };
    auto call_b = [&] { at_stack_offset(k * kStackStep, b); };
    const bench::Pair best = bench::best_times(
        rounds, [&] { return time_per_call(call_a, 1, slice); },
        [&] { return time_per_call(call_b, 1, slice); });
    sum_a += best.a;
    sum_b += best.b;
    min_a = std::min(min_a, best.a);
    max_a = std::max(max_a, best.a);
  }
  return {sum_a / kStackOffsets, sum_b / kStackOffsets, max_a / min_a - 1};
}

void report_mbs(const char* what, size_t bytes, double sec) {
  std::printf("%-44s %10.1f MB/s\n", what, bytes / sec / 1e6);
}

// Text-like data: repeated words with numbers, compresses about 2-3:1 with LZF.
std::string sample_text(size_t n, unsigned seed) {
  static const char* words[] = {"user", "session", "token",   "value", "expires", "flags", "42",
                                "1024", "secret",  "payload", "=",     ";",       " "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += words[rng() % (sizeof words / sizeof *words)];
    s += std::to_string(rng() % 1000);
  }
  s.resize(n);
  return s;
}

std::vector<std::string> sample_list(size_t total, size_t item) {
  std::vector<std::string> list;
  for (size_t done = 0; done < total; done += item)
    list.push_back(sample_text(std::min(item, total - done), static_cast<unsigned>(done)));
  return list;
}

void bench_lzf(size_t n) {
  const std::string in = sample_text(n, 1);
  // Raw liblzf: the caller's buffers sized once, as a bare library user would.
  std::vector<char> cbuf(n * 11 / 10 + 128);
  std::vector<char> dbuf(n + 16);
  unsigned clen = lzf_compress(in.data(), in.size(), cbuf.data(), cbuf.size());
  std::string packed, back;
  const PairTimes c = time_pair(
      [&] {
        clen = lzf_compress(in.data(), in.size(), cbuf.data(), cbuf.size());
        g_sink += clen;
      },
      [&] {
        wcypher::compress0(packed, in, 0, 0);
        g_sink += packed.size();
      });
  const PairTimes d = time_pair(
      [&] { g_sink += lzf_decompress(cbuf.data(), clen, dbuf.data(), dbuf.size()); },
      [&] {
        wcypher::decompress0(back, packed, 0, 0);
        g_sink += back.size();
      });
  if (back != in || packed.size() != clen) {
    std::fprintf(stderr, "LZF round trip mismatch\n");
    std::exit(1);
  }
  char label[96];
  std::snprintf(label, sizeof label, "lzf compress raw liblzf (%zu KiB, ratio %.2f)", n / 1024,
                double(n) / clen);
  report_mbs(label, n, c.a);
  std::snprintf(label, sizeof label, "lzf compress compress0 (%zu KiB)", n / 1024);
  report_mbs(label, n, c.b);
  std::printf("%-44s %+9.1f %%   (raw spread over stack offsets %.1f %%)\n", "  wrapper cost",
              (c.b / c.a - 1) * 100, c.spread_a * 100);
  std::snprintf(label, sizeof label, "lzf decompress raw liblzf (%zu KiB)", n / 1024);
  report_mbs(label, n, d.a);
  std::snprintf(label, sizeof label, "lzf decompress decompress0 (%zu KiB)", n / 1024);
  report_mbs(label, n, d.b);
  std::printf("%-44s %+9.1f %%   (raw spread over stack offsets %.1f %%)\n", "  wrapper cost",
              (d.b / d.a - 1) * 100, d.spread_a * 100);
}

void bench_envelope(size_t total, int method) {
  const std::vector<std::string> parts = sample_list(total, 256);
  const std::string secret = "bench secret 16b";
  const int flags = (1 << 8) | method;
  std::string token;
  const double enc = time_per_call([&] {
    wcypher::wma_encode0(token, parts, secret, flags, 0);
    g_sink += token.size();
  });
  std::vector<std::string> back;
  const double dec = time_per_call([&] {
    wcypher::wma_decode0(back, token, secret, flags, 0);
    g_sink += back.size();
  });
  if (back != parts) {
    std::fprintf(stderr, "envelope round trip mismatch\n");
    std::exit(1);
  }
  std::printf("%-44s %10.0f ops/s %8.1f MB/s\n",
              (std::string("wma_encode0 ") + std::to_string(total / 1024) + " KiB, method " +
               std::to_string(method))
                  .c_str(),
              1 / enc, total / enc / 1e6);
  std::printf("%-44s %10.0f ops/s %8.1f MB/s\n",
              (std::string("wma_decode0 ") + std::to_string(total / 1024) + " KiB, method " +
               std::to_string(method))
                  .c_str(),
              1 / dec, total / dec / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) g_seconds = std::atof(argv[1]);
  if (g_seconds <= 0) g_seconds = 0.5;

  for (size_t n : {size_t{1024}, size_t{64 * 1024}}) {
    const std::vector<std::string> list = sample_list(n, 64);
    std::string out;
    const double s = time_per_call([&] {
      wcypher::serialize0(out, list, 0);
      g_sink += out.size();
    });
    std::vector<std::string> back;
    const double d = time_per_call([&] {
      wcypher::deserialize0(back, out);
      g_sink += back.size();
    });
    report_mbs(("serialize0 " + std::to_string(n / 1024) + " KiB, 64-byte items").c_str(), n, s);
    report_mbs(("deserialize0 " + std::to_string(n / 1024) + " KiB, 64-byte items").c_str(), n, d);
  }

  for (size_t n : {size_t{1024}, size_t{64 * 1024}, size_t{1024 * 1024}}) bench_lzf(n);

  for (size_t n : {size_t{1024}, size_t{64 * 1024}}) {
    std::mt19937 rng(3);
    std::string in(n, '\0');
    for (auto& c : in) c = static_cast<char>(rng());
    std::string text, back;
    const double e = time_per_call([&] {
      encodeBase64(text, in, 0, false);
      g_sink += text.size();
    });
    const double d = time_per_call([&] {
      decodeBase64(back, text, 0);
      g_sink += back.size();
    });
    report_mbs(("encodeBase64 " + std::to_string(n / 1024) + " KiB (input bytes)").c_str(), n, e);
    report_mbs(("decodeBase64 " + std::to_string(n / 1024) + " KiB (output bytes)").c_str(), n, d);
  }

  for (size_t n : {size_t{1024}, size_t{64 * 1024}}) {
    bench_envelope(n, 0);
    bench_envelope(n, 255);
  }
  return 0;
}
