#!/usr/bin/env bash
# Runs MopraX's .phpt cases with PHP's own runner, run-tests.php (shipped in php8.2-dev),
# against a built MopraX.so, as an extension's `make test` does. The cases are copied into a
# work directory first, since run-tests.php writes each case's script, output and diff next to
# the case. Exits non-zero when a case fails or leaks, or when the extension did not load.
#
# usage: tests/moprax/run_phpt.sh <MopraX.so> <work dir> [run-tests.php options...]
#   PHP          the php CLI (default: php); PHP_CONFIG its php-config (default: php-config)
#   PHP_PRELOAD  LD_PRELOAD for run-tests.php and every php it starts (run_asan.sh: the
#                sanitizer's runtime), kept off the other tools this script runs
# The rest of the environment is passed on to every php run as well.
set -euo pipefail
ext=$(realpath "$1")
work=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
php=$(command -v "${PHP:-php}")
run_tests=$("${PHP_CONFIG:-php-config}" --extension-dir)/build/run-tests.php
[ -f "$run_tests" ] || { echo "run-tests.php not found at $run_tests (php8.2-dev)"; exit 2; }

rm -rf "$work"
mkdir -p "$work"
cp "$here"/cases/*.phpt "$work"/
log=$work/run-tests.log
set +e
LD_PRELOAD=${PHP_PRELOAD:-${LD_PRELOAD:-}} NO_INTERACTION=1 \
  "$php" -n "$run_tests" -n -p "$php" -q --no-color --show-diff -d extension="$ext" "$@" "$work" 2>&1 |
  tee "$log"
rc=${PIPESTATUS[0]}
set -e
# A case whose extension is missing is skipped, which run-tests.php does not count as failed.
if grep -q "Required extension missing" "$log"; then
  echo "MopraX was not loaded: $ext"
  exit 1
fi
exit "$rc"
