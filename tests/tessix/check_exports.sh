#!/usr/bin/env bash
# libTessiX.so exports exactly the natives that javac declared for TessiJNI (29) and, when
# its header is given, WNfQueueJNI (13 more: 42), plus only the C++ symbols of the file
# transport's classes WFileTransport and WEOFException; nothing else.
# usage: check_exports.sh <libTessiX.so> <com_olm_toka_jni_tessi_TessiJNI.h> [<..._WNfQueueJNI.h>]
set -euo pipefail
lib=$1
shift
declared=$(grep -ho 'Java_com_olm_toka_jni_[A-Za-z0-9_]*' "$@" | sort -u)
expected=29
[ $# -ge 2 ] && expected=42
nd=$(printf '%s\n' "$declared" | grep -c '^Java_' || true)
if [ "$nd" -ne "$expected" ]; then
  echo "the headers declare $nd natives, expected $expected"; exit 1
fi
exported=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u)
java=$(printf '%s\n' "$exported" | grep '^Java_' || true)
n=$(printf '%s\n' "$java" | grep -c '^Java_' || true)
echo "exported Java_ symbols: $n"
if [ "$java" != "$declared" ]; then
  echo "exported natives differ from the declared ones:"
  diff <(printf '%s\n' "$declared") <(printf '%s\n' "$java") || true
  exit 1
fi
# Everything else must belong to the file transport's classes (demangled: their members,
# vtables, typeinfo and thunks).
others=$(printf '%s\n' "$exported" | grep -v '^Java_' | grep -v '^$' || true)
bad=""
if [ -n "$others" ]; then
  while IFS= read -r sym; do
    d=$(printf '%s\n' "$sym" | c++filt)
    case "$d" in
      WFileTransport::*|WEOFException::*) ;;
      "vtable for WFileTransport"|"vtable for WEOFException") ;;
      "typeinfo for WFileTransport"|"typeinfo for WEOFException") ;;
      "typeinfo name for WFileTransport"|"typeinfo name for WEOFException") ;;
      *"thunk to WFileTransport::"*|*"thunk to WEOFException::"*) ;;
      *) bad="$bad$d"$'\n' ;;
    esac
  done <<< "$others"
fi
if [ -n "$bad" ]; then
  echo "symbols exported that are not ours to export:"; printf '%s' "$bad"; exit 1
fi
echo "ok: the $expected declared natives, and $(printf '%s' "$others" | grep -c . || true) file-transport symbols"
