#include "src/xoutput.h"

std::FILE* xalloc_output() {
#ifdef XALLOC_LINES_TO_STDERR
  return stderr;
#else
  return stdout;
#endif
}
