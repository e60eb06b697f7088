#include "src/xlive.h"

#include <atomic>

#include "src/xcheck.h"

namespace {
std::atomic<int64_t> g_live{0};
}

void xlive_acquire() { g_live.fetch_add(1, std::memory_order_relaxed); }

void xlive_release() {
  int64_t before = g_live.fetch_sub(1, std::memory_order_acq_rel);
  XCHECK(before > 0, "xlive_release without a live object");
}

int64_t xlive_count() { return g_live.load(std::memory_order_acquire); }
