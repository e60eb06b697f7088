#!/usr/bin/env bash
# libMopraXJNI.so exports exactly the 126 natives that javac declared for MopraXJNI,
# nothing else of ours.
# usage: check_exports.sh <libMopraXJNI.so> <generated com_olm_toka_jni_moprax_MopraXJNI.h>
set -euo pipefail
lib=$1
header=$2
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort)
declared=$(grep -o 'Java_com_olm_toka_jni_moprax_MopraXJNI_[A-Za-z0-9_]*' "$header" | sort -u)
n=$(printf '%s\n' "$exported" | grep -c '^Java_' || true)
echo "exported Java_ symbols: $n"
if [ "$n" -ne 126 ]; then
  echo "expected exactly 126 Java_ symbols"; printf '%s\n' "$exported"; exit 1
fi
if [ "$(printf '%s\n' "$declared" | wc -l)" -ne 126 ]; then
  echo "the header does not declare 126 natives"; exit 1
fi
if [ "$exported" != "$declared" ]; then
  echo "exported symbols differ from the declared natives:"
  diff <(printf '%s\n' "$declared") <(printf '%s\n' "$exported") || true
  exit 1
fi
echo "ok: the 126 declared natives and nothing else"
