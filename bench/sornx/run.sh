#!/usr/bin/env bash
# SornX benchmark: N puts then N gets (16-character keys, 100-byte values) through the C++
# store API, through SornJNI and through the pure-Java LevelDB port, in one run, each in a
# fresh directory; prints the figures and the JNI layer's cost. The three are run in turn
# for a number of rounds and the best figure of each is kept, so that a busy machine
# disturbs the comparison less.
# usage: bench/sornx/run.sh [build-dir] [records] [distrib type] [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
n=${2:-1000000}
distrib=${3:-uniform}
rounds=${4:-3}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
java="$JAVA_HOME/bin/java"
cp="$dir/SornX.jar:$dir/bench/sornx/classes:/usr/share/java/leveldb.jar:/usr/share/java/leveldb-api.jar:/usr/share/java/guava.jar"
tmp=$(mktemp -d /tmp/sorn-bench-XXXXXX)
trap 'rm -rf "$tmp"' EXIT

results="$tmp/results"
: > "$results"
for r in $(seq "$rounds"); do
  "$dir/bench/sornx/bench_sornx_cpp" "$tmp/cpp" "$n" "$distrib" | grep '^RESULT' | tee -a "$results"
  rm -rf "$tmp/cpp"
  "$java" -Xms2g -Djava.library.path="$dir" -cp "$cp" SornBench sorn "$tmp/jni" "$n" "$distrib" \
    | grep '^RESULT' | tee -a "$results"
  rm -rf "$tmp/jni"
  "$java" -Xms2g --add-opens java.base/sun.nio.ch=ALL-UNNAMED --add-opens java.base/java.nio=ALL-UNNAMED \
    -cp "$cp" SornBench leveldb "$tmp/ldb" "$n" | grep '^RESULT' | tee -a "$results"
  rm -rf "$tmp/ldb"
done

# best (smallest) ns/op of one kind of line for put or get
best() { grep "^RESULT $1 " "$results" | grep -E " $2 [0-9]+ ns/op" | sed -E "s/.* $2 ([0-9]+) ns\/op.*/\1/" | sort -n | head -1; }
echo "best of $rounds rounds, $n records, $distrib store (ns/op):"
printf "  C++ store API   put %6s  get %6s\n" "$(best cpp put)" "$(best cpp get)"
printf "  SornJNI         put %6s  get %6s\n" "$(best sornjni put)" "$(best sornjni get)"
printf "  leveldb-java    put %6s  get %6s\n" "$(best leveldb-java put)" "$(best leveldb-java get)"
awk -v cp="$(best cpp put)" -v cg="$(best cpp get)" \
    -v jp="$(best sornjni put)" -v jg="$(best sornjni get)" \
    -v lp="$(best leveldb-java put)" -v lg="$(best leveldb-java get)" -v jl="$(best jnilayer put)" \
    -v ch="$(best cpphot get)" -v jh="$(best sornjnihot get)" 'BEGIN {
  printf "JNI overhead over the C++ path: put %+.1f%%  get %+.1f%%  (target: under 25%%)\n", (jp-cp)*100/cp, (jg-cg)*100/cg
  printf "JNI layer alone (put refused before the store): %d ns/op = %.2f%% of the C++ put\n", jl, jl*100/cp
  printf "JNI cost per get with the store in the caches: %d ns/op (%d against %d ns/op) = %.1f%% of the C++ get\n", jh-ch, jh, ch, (jh-ch)*100/cg
  printf "SornJNI against leveldb-java:  put %.2fx  get %.2fx  (target: at least 5x)\n", lp/jp, lg/jg
}'
