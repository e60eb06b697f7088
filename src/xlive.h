// Count of the live native objects of one library (stores, caches, queues), so that the
// module's uninitialize can refuse to stop the pooled allocator under them.
//
// Each deliverable links its own copy of the foundation, so the count is per library.
// Threads: every function is thread-safe (one atomic counter, no lock).
#ifndef TOKA_SRC_XLIVE_H
#define TOKA_SRC_XLIVE_H

#include <cstdint>

// One more / one less live object. A release without an acquire is a broken invariant.
void xlive_acquire();
void xlive_release();
// The objects alive now.
int64_t xlive_count();

// Holds one count for the lifetime of the object it is a member (or base) of.
class XLiveToken {
 public:
  XLiveToken() { xlive_acquire(); }
  XLiveToken(const XLiveToken&) { xlive_acquire(); }
  XLiveToken& operator=(const XLiveToken&) { return *this; }
  ~XLiveToken() { xlive_release(); }
};

#endif  // TOKA_SRC_XLIVE_H
