#!/usr/bin/env bash
# libSornX.so exports exactly the 21 natives that javac declared for SornJNI, nothing else.
# usage: check_exports.sh <libSornX.so> <generated com_olm_toka_jni_sorn_SornJNI.h>
set -euo pipefail
lib=$1
header=$2
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
declared=$(grep -o 'Java_com_olm_toka_jni_sorn_SornJNI_[A-Za-z0-9_]*' "$header" | sort -u)
n=$(printf '%s\n' "$exported" | grep -c '^Java_' || true)
echo "exported Java_ symbols: $n"
if [ "$n" -ne 21 ]; then
  echo "expected exactly 21 Java_ symbols"; printf '%s\n' "$exported"; exit 1
fi
if [ "$exported" != "$declared" ]; then
  echo "exported symbols differ from the declared natives:"
  diff <(printf '%s\n' "$declared") <(printf '%s\n' "$exported") || true
  exit 1
fi
echo "ok: the 21 declared natives and nothing else"
