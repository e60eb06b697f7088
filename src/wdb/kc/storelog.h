// The log lines of the stores: "[tag] place: text\n" through the one log printer
// (logutil.h) on the stream given, or the text alone, whatever the module log level. The
// printer's line format is a pooled string, which takes the system allocator once the pooled
// allocator has stopped, so lines come out right in every allocator state.
//
// Free functions; no state, no lock beyond the stream's own; never throw.
#ifndef TOKA_SRC_WDB_KC_STORELOG_H
#define TOKA_SRC_WDB_KC_STORELOG_H

#include <cstdarg>
#include <cstdio>

#include "logutil.h"

namespace wdb {

// One line on stream: with a tag, "[tag] place: " + text + "\n"; without (null tag), the
// formatted text as it is (its own "\n" included).
inline void storeVLine(FILE* stream, const char* tag, const char* place, const char* fmt,
                       va_list ap) noexcept {
  if (tag != nullptr) {
    __vprintLogTo(stream, tag, place, fmt, ap);
  } else {
    std::vfprintf(stream, fmt, ap);
  }
}

inline void storeLine(FILE* stream, const char* tag, const char* place, const char* fmt,
                      ...) noexcept __attribute__((format(printf, 4, 5)));
inline void storeLine(FILE* stream, const char* tag, const char* place, const char* fmt,
                      ...) noexcept {
  va_list ap;
  va_start(ap, fmt);
  storeVLine(stream, tag, place, fmt, ap);
  va_end(ap);
}

}  // namespace wdb

#endif  // TOKA_SRC_WDB_KC_STORELOG_H
