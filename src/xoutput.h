// Where the pooled allocator writes its own lines: the start and stop lines of the page
// allocators, the null-pool line, the pool leak report and the messages printed before it
// stops the process. (The dump callbacks print where their caller asked: standard output.)
//
// Standard output by default (SornX, TessiX). MopraX's copy of the foundation is compiled
// with XALLOC_LINES_TO_STDERR: in a PHP process standard output is the script's output, so
// there the same lines go to standard error.
// Thread-safe; takes no lock.
#ifndef TOKA_SRC_XOUTPUT_H
#define TOKA_SRC_XOUTPUT_H

#include <cstdio>

std::FILE* xalloc_output();

#endif  // TOKA_SRC_XOUTPUT_H
