#!/usr/bin/env bash
# SornX benchmark: N puts then N gets (16-character keys, 100-byte values) through the C++
# store API, through SornJNI and through the pure-Java LevelDB port, in one run, each in a
# fresh directory; prints the figures and the JNI layer's cost.
# usage: bench/sornx/run.sh [build-dir] [records] [distrib type]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
n=${2:-1000000}
distrib=${3:-uniform}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
java="$JAVA_HOME/bin/java"
cp="$dir/SornX.jar:$dir/bench/sornx/classes:/usr/share/java/leveldb.jar:/usr/share/java/leveldb-api.jar:/usr/share/java/guava.jar"
tmp=$(mktemp -d /tmp/sorn-bench-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

cpp=$("$dir/bench/sornx/bench_sornx_cpp" "$tmp/cpp" "$n" "$distrib" | grep '^RESULT')
rm -rf "$tmp/cpp"
jniall=$("$java" -Xms2g -Djava.library.path="$dir" -cp "$cp" SornBench sorn "$tmp/jni" "$n" "$distrib" | grep '^RESULT')
jni=$(echo "$jniall" | grep '^RESULT sornjni')
layer=$(echo "$jniall" | grep '^RESULT jnilayer' | sed -E 's/.* put ([0-9]+) ns\/op.*/\1/')
rm -rf "$tmp/jni"
ldb=$("$java" -Xms2g --add-opens java.base/sun.nio.ch=ALL-UNNAMED --add-opens java.base/java.nio=ALL-UNNAMED -cp "$cp" SornBench leveldb "$tmp/ldb" "$n" | grep '^RESULT')
echo "$cpp"; echo "$jniall"; echo "$ldb"

ns() { echo "$1" | sed -E "s/.* $2 ([0-9]+) ns\/op.*/\1/"; }
awk -v cp="$(ns "$cpp" put)" -v cg="$(ns "$cpp" get)" \
    -v jp="$(ns "$jni" put)" -v jg="$(ns "$jni" get)" \
    -v lp="$(ns "$ldb" put)" -v lg="$(ns "$ldb" get)" -v jl="$layer" 'BEGIN {
  printf "JNI overhead over the C++ path: put %+.1f%%  get %+.1f%%  (target: under 25%%)\n", (jp-cp)*100/cp, (jg-cg)*100/cg
  printf "JNI layer alone (put refused before the store): %d ns/op = %.2f%% of the C++ put\n", jl, jl*100/cp
  printf "SornJNI against leveldb-java:  put %.2fx  get %.2fx  (target: at least 5x)\n", lp/jp, lg/jg
}'
