#!/usr/bin/env bash
# A PHP script whose standard output is a pipe prints exactly its own output there; the
# allocator's start, null-pool and stop lines arrive on standard error, in their own text.
# usage: tests/moprax/stdout_clean.sh <php> <MopraX.so>
set -euo pipefail
php=$1
ext=$2
err=$(mktemp)
trap 'rm -f "$err"' EXIT
# 4000000 ints (16000000 bytes and a little) lie above the largest slab class: a null-pool block.
script='echo "a\n"; $v = new_std__vectorT_int_t(4000000); echo std__vectorT_int_t_size($v), "\n";
unset($v); echo "b\n";'
out=$("$php" -n -d extension="$ext" -r "$script" 2>"$err" | od -c)
want=$(printf 'a\n4000000\nb\n' | od -c)
fail=0
if [ "$out" != "$want" ]; then
  echo "standard output:"; echo "$out"; echo "expected:"; echo "$want"; fail=1
fi
hex='0x[0-9a-f]+ '
pattern="^init xallocator $hex
init xallocator $hex
init xallocator $hex
nullpool_alloc: 1600[0-9]{4} 
uninit xallocator $hex
uninit xallocator $hex
uninit xallocator $hex\$"
if ! [[ "$(cat "$err")" =~ $pattern ]]; then
  echo "standard error:"; cat "$err"; fail=1
fi
[ "$fail" = 0 ] && echo "ok: script output on stdout, allocator lines on stderr"
exit "$fail"
