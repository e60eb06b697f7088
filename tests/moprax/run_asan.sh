#!/usr/bin/env bash
# Runs MopraX's PHP suite through run-tests.php (run_phpt.sh) with the engine's allocator off
# (USE_ZEND_ALLOC=0, so request memory goes through malloc too) and a memory checker watching
# the php processes.
#
# usage: tests/moprax/run_asan.sh [build-dir]            AddressSanitizer + UBSan (default
#                                                        build-asan, configured with
#                                                        -DTOKA_SANITIZE=address)
#        tests/moprax/run_asan.sh --valgrind [build-dir] valgrind memcheck on a plain build
#                                                        (default build)
# The sanitizer's runtime is preloaded into php, after a small shim that drops the
# RTLD_DEEPBIND flag php opens extensions with (the runtime refuses it). run-tests.php hands
# its environment on to every php it starts, and a sanitizer's report lands in the case's
# output (stderr is captured with stdout), so the case fails; valgrind's reports go to a
# per-case log that run-tests.php counts as a leak. Either makes the script exit non-zero.
#
# A fatal error ends the request by a long jump, after which the engine's own request memory
# (compiled script, error state) is never freed. USE_TRACKED_ALLOC=1 has the engine record
# that memory and free what is left when a request ends uncleanly, so the cases that expect a
# fatal error run with leak checking on like every other case.
set -euo pipefail
cd "$(dirname "$0")/../.."
mode=asan
if [ "${1:-}" = "--valgrind" ]; then
  mode=valgrind
  shift
fi
if [ "$mode" = asan ]; then dir=${1:-build-asan}; else dir=${1:-build}; fi
cmake --build "$dir" --target MopraX >/dev/null
ext=$(realpath "$dir/MopraX.so")
work=$(realpath "$dir")/moprax-phpt-$mode
export USE_ZEND_ALLOC=0 USE_TRACKED_ALLOC=1

if [ "$mode" = asan ]; then
  shim=$(realpath "$dir")/moprax-nodeepbind.so
  cc -shared -fPIC -O2 -o "$shim" tests/moprax/nodeepbind.c -ldl
  asan=$(gcc -print-file-name=libasan.so)
  export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export PHP_PRELOAD="$shim:$asan"
  exec bash tests/moprax/run_phpt.sh "$ext" "$work"
else
  # run-tests.php -m puts valgrind -q --tool=memcheck --log-file=<case>.mem in front of php;
  # VALGRIND_OPTS adds the rest to it.
  export VALGRIND_OPTS="--suppressions=$(realpath tests/moprax/valgrind.supp) --leak-check=full \
--errors-for-leak-kinds=definite --show-leak-kinds=definite"
  exec bash tests/moprax/run_phpt.sh "$ext" "$work" -m --show-mem
fi
