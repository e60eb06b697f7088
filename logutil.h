// Log lines: one line per call, "[tag] place: text\n", on standard output (or on the stream
// given to __vprintLogTo).
//
// The tag and place are copied into the line's format (a '%' in them is printed as it
// stands); the caller's format and arguments are formatted by one vfprintf call, so a line
// reaches the stream in one piece. Nothing is filtered or flushed here: callers test their
// module's log level first. Each returns what vfprintf returns (negative on an output
// error, or -1 when the line's format cannot be built).
//
// Threads: no state; the C library locks the stream, so lines from different threads do
// not interleave within a line. Uses a pooled string (src/xstring.h) for the line's format.
#ifndef TOKA_LOGUTIL_H
#define TOKA_LOGUTIL_H

#include <cstdarg>
#include <cstdio>

int __vprintLog(const char* tag, const char* place, const char* fmt, va_list ap);
int __vprintLogTo(FILE* stream, const char* tag, const char* place, const char* fmt, va_list ap);
int __printLog(const char* tag, const char* place, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

int __printLogDbg(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int __printLogInf(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int __printLogWrn(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int __printLogCri(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int __printLogErr(const char* place, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

#endif  // TOKA_LOGUTIL_H
