#!/usr/bin/env bash
# Runs the one-thread dump program and compares its output, the lines that print an
# address removed, with the recorded figures.
# usage: alloc_dump_compare.sh <program> <recorded output>
set -euo pipefail
out=$("$1" | grep -v 'xallocator 0x')
diff <(printf '%s\n' "$out") "$2"
