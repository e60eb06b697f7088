// Always-on invariant checks.
//
// XCHECK(cond, "text") prints "Assertion failed: text (file:line)" to standard error and
// aborts when cond is false. Unlike assert() it stays on in release builds: a broken
// invariant of the allocator or the tables must stop the process, never run on.
// Thread-safe; takes no lock; allocates nothing.
#ifndef TOKA_SRC_XCHECK_H
#define TOKA_SRC_XCHECK_H

[[noreturn]] void xcheck_fail(const char* text, const char* file, int line) noexcept;

#define XCHECK(cond, text)                                                     \
  do {                                                                         \
    if (__builtin_expect(!(cond), 0)) xcheck_fail((text), __FILE__, __LINE__); \
  } while (0)

#endif  // TOKA_SRC_XCHECK_H
