/* Preloaded before AddressSanitizer's runtime by run_asan.sh: the php binary opens
 * extensions with RTLD_DEEPBIND, which the sanitizer runtime refuses; this drops the flag
 * and hands the call on to the next dlopen (the sanitizer's interceptor). */
#define _GNU_SOURCE
#include <dlfcn.h>

void* dlopen(const char* file, int mode) {
  static void* (*next)(const char*, int) = 0;
  if (next == 0) next = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
  return next(file, mode & ~RTLD_DEEPBIND);
}
