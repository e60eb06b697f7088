#!/usr/bin/env bash
# Tokens made by MopraX in PHP decode in MopraXJNI, and the reverse.
# usage: run_crosslang.sh <php> <MopraX.so> <java> <libdir> <classpath>
set -euo pipefail
php=$1; ext=$2; java=$3; libdir=$4; cp=$5
here=$(dirname "$0")
tok() { awk -v k="$1" '$1 == k {print $2}'; }
run_php() { "$php" -n -d extension="$ext" "$here/crosslang.php" "$@"; }
run_java() { "$java" -Xcheck:jni -Djava.library.path="$libdir" -cp "$cp" CrossLang "$@"; }

tmp=$(mktemp)
trap 'rm -f "$tmp"' EXIT
run_php make "$tmp"
from_php=$(cat "$tmp")
echo "$from_php"
decoded=$(run_java decode "$(tok wma <<<"$from_php")" "$(tok noise64 <<<"$from_php")" \
  "$(tok base64 <<<"$from_php")" 2>&1)
echo "$decoded"
if grep -q 'WARNING in native method\|JNI WARNING' <<<"$decoded"; then echo "JNI warning"; exit 1; fi
from_java=$(run_java make)
echo "$from_java"
run_php decode "$(tok wma <<<"$from_java")" "$(tok noise64 <<<"$from_java")" "$(tok base64 <<<"$from_java")"
echo "ok: PHP -> Java and Java -> PHP"
