#include "logutil.h"

#include <cstdio>

#include "src/xstring.h"

namespace {

// Appends text so that vfprintf prints it literally.
void append_literal(xstring& line, const char* text) {
  if (!text) return;
  for (const char* p = text; *p; ++p) {
    if (*p == '%') line.push_back('%');
    line.push_back(*p);
  }
}

}  // namespace

int __vprintLog(const char* tag, const char* place, const char* fmt, va_list ap) {
  return __vprintLogTo(stdout, tag, place, fmt, ap);
}

int __vprintLogTo(FILE* stream, const char* tag, const char* place, const char* fmt, va_list ap) {
  try {
    xstring line;
    line.reserve(300);
    line.push_back('[');
    append_literal(line, tag);
    line.append("] ");
    append_literal(line, place);
    line.append(": ");
    if (fmt) line.append(fmt);
    line.push_back('\n');
    return std::vfprintf(stream, line.c_str(), ap);
  } catch (...) {
    // No memory for the line's format: nothing printed.
    return -1;
  }
}

int __printLog(const char* tag, const char* place, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int r = __vprintLog(tag, place, fmt, ap);
  va_end(ap);
  return r;
}

#define TOKA_DEFINE_LEVEL_PRINTER(name, tag)          \
  int name(const char* place, const char* fmt, ...) { \
    va_list ap;                                       \
    va_start(ap, fmt);                                \
    int r = __vprintLog(tag, place, fmt, ap);         \
    va_end(ap);                                       \
    return r;                                         \
  }

TOKA_DEFINE_LEVEL_PRINTER(__printLogDbg, "dbg")
TOKA_DEFINE_LEVEL_PRINTER(__printLogInf, "inf")
TOKA_DEFINE_LEVEL_PRINTER(__printLogWrn, "WRN")
TOKA_DEFINE_LEVEL_PRINTER(__printLogCri, "CRI")
TOKA_DEFINE_LEVEL_PRINTER(__printLogErr, "ERR")

#undef TOKA_DEFINE_LEVEL_PRINTER
