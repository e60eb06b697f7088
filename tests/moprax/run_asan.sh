#!/usr/bin/env bash
# Runs MopraX's PHP suite with the engine's allocator off (USE_ZEND_ALLOC=0, so request
# memory goes through malloc too) and a memory checker watching the php processes.
#
# usage: tests/moprax/run_asan.sh [build-dir]            AddressSanitizer + UBSan (default
#                                                        build-asan, configured with
#                                                        -DTOKA_SANITIZE=address)
#        tests/moprax/run_asan.sh --valgrind [build-dir] valgrind memcheck on a plain build
#                                                        (default build)
# The sanitizer's runtime is preloaded into php, after a small shim that drops the
# RTLD_DEEPBIND flag php opens extensions with (the runtime refuses it). Any report of the
# checker lands in a case's output, so the case fails; the script exits non-zero then.
set -euo pipefail
cd "$(dirname "$0")/../.."
mode=asan
if [ "${1:-}" = "--valgrind" ]; then
  mode=valgrind
  shift
fi
if [ "$mode" = asan ]; then dir=${1:-build-asan}; else dir=${1:-build}; fi
php=${PHP:-php}
cmake --build "$dir" --target MopraX >/dev/null
ext=$(realpath "$dir/MopraX.so")
export USE_ZEND_ALLOC=0

if [ "$mode" = asan ]; then
  shim=$(realpath "$dir")/moprax-nodeepbind.so
  cc -shared -fPIC -O2 -o "$shim" tests/moprax/nodeepbind.c -ldl
  asan=$(gcc -print-file-name=libasan.so)
  export ASAN_OPTIONS="verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:halt_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  export LD_PRELOAD="$shim:$asan"
  # A fatal error ends the request by a long jump, and the engine (with its allocator off)
  # then leaks memory of its own (compiled script, error state), extension or not: leak
  # checking is off for the cases that expect one; memory errors are still reported.
  export MOPRAX_FATAL_ENV="ASAN_OPTIONS=${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}"
else
  vg="valgrind -q --error-exitcode=99 --suppressions=$(realpath tests/moprax/valgrind.supp)"
  export MOPRAX_PHP_WRAPPER="$vg --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite"
  export MOPRAX_FATAL_WRAPPER="$vg --leak-check=no"
fi
exec "$php" -n tests/moprax/run_tests.php "$ext" tests/moprax/cases
