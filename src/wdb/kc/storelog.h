// The log lines of the stores: "[tag] place: text\n" (or the text alone) written whole, in
// one write, whatever the module log level. The text is formatted by the C library into a
// buffer of its own, so lines come out right in every allocator state (also after the
// pooled allocator has stopped).
//
// Free functions; no state, no lock beyond the stream's own; never throw.
#ifndef TOKA_SRC_WDB_KC_STORELOG_H
#define TOKA_SRC_WDB_KC_STORELOG_H

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace wdb {

// One line on stream: with a tag, "[tag] place: " + text + "\n"; without (null tag), the
// formatted text as it is (its own "\n" included).
inline void storeVLine(FILE* stream, const char* tag, const char* place, const char* fmt,
                       va_list ap) noexcept {
  va_list aq;
  va_copy(aq, ap);
  const int head = tag != nullptr ? std::snprintf(nullptr, 0, "[%s] %s: ", tag, place) : 0;
  const int text = std::vsnprintf(nullptr, 0, fmt, aq);
  va_end(aq);
  if (head < 0 || text < 0) return;
  const size_t tail = tag != nullptr ? 1 : 0;
  const size_t total = static_cast<size_t>(head) + static_cast<size_t>(text) + tail;
  char small[1024];
  std::vector<char> big;
  char* out = small;
  if (total + 1 > sizeof small) {
    try {
      big.resize(total + 1);
    } catch (...) {
      return;
    }
    out = big.data();
  }
  if (tag != nullptr) std::snprintf(out, static_cast<size_t>(head) + 1, "[%s] %s: ", tag, place);
  std::vsnprintf(out + head, static_cast<size_t>(text) + 1, fmt, ap);
  if (tail) out[total - 1] = '\n';
  std::fwrite(out, 1, total, stream);
}

inline void storeLine(FILE* stream, const char* tag, const char* place, const char* fmt, ...)
    noexcept __attribute__((format(printf, 4, 5)));
inline void storeLine(FILE* stream, const char* tag, const char* place, const char* fmt, ...)
    noexcept {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stream, tag, place, fmt, ap);
  va_end(ap);
}

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_STORELOG_H
