#!/usr/bin/env bash
# TessiX benchmark: gets and puts of 100-byte values (90% hits) through the C++ cache and
# through TessiJNI, Caffeine, ConcurrentHashMap and a synchronized LinkedHashMap LRU in one
# JVM, at 1, 2, 4 and 8 threads; then TessiJNI with 4 KiB and 64 KiB values, method 0 against 1.
# Prints the figures and the ratios the cache is held to.
# usage: bench/tessix/run.sh [build-dir] [items] [ops per thread] [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
items=${2:-100000}
ops=${3:-2000000}
rounds=${4:-3}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
java="$JAVA_HOME/bin/java"
results=$(mktemp /tmp/tessi-bench-XXXXXX)
trap 'rm -f "$results"' EXIT

"$dir/bench/tessix/bench_tessix_cpp" "$items" "$ops" "$rounds" | grep '^RESULT' | tee -a "$results"
# The heap is fixed and touched before main: TessiJNI is the one store whose gets allocate
# (a fresh array per hit), so on a growing, untouched heap its figures would hold the
# kernel's first-touch page faults of the Java heap, which the other stores never pay.
"$java" -Xms2g -Xmx2g -XX:+AlwaysPreTouch -Djava.library.path="$dir" -cp "$dir/TessiX.jar:$dir/bench/tessix/classes:/usr/share/java/caffeine.jar" \
  TessiBench "$items" "$ops" "$rounds" | grep '^RESULT' | tee -a "$results"

# ops/s of one line: name, threads, get|put
rate() { grep "^RESULT $1 threads $2 " "$results" | sed -E "s/.* $3 ([0-9]+) ops\/s.*/\1/"; }
ns() { grep "^RESULT $1 threads $2 " "$results" | sed -E "s/.* $3 [0-9]+ ops\/s ([0-9.]+) ns\/op.*/\1/"; }
awk -v tj="$(rate tessijni 1 get)" -v cf="$(rate caffeine 1 get)" -v tjp="$(rate tessijni 1 put)" \
    -v cfp="$(rate caffeine 1 put)" -v jn="$(ns tessijni 1 get)" -v cn="$(ns cpp 1 get)" \
    -v jnp="$(ns tessijni 1 put)" -v cnp="$(ns cpp 1 put)" -v t8="$(rate tessijni 8 get)" \
    -v c8="$(rate caffeine 8 get)" -v l1="$(rate synclru 1 get)" 'BEGIN {
  printf "TessiJNI against Caffeine, 1 thread: get %.2fx (target: at least 0.5x)  put %.2fx\n", tj/cf, tjp/cfp
  printf "JNI layer share of the call, 1 thread: get %.0f%% (%.1f of %.1f ns)  put %.0f%% (target: under 30%%)\n", (jn-cn)*100/jn, jn-cn, jn, (jnp-cnp)*100/jnp
  printf "8 threads: TessiJNI get %.2fM/s, Caffeine %.2fM/s (one table lock serialises the cache)\n", t8/1e6, c8/1e6
  printf "synchronized LinkedHashMap, 1 thread: get %.2fM/s\n", l1/1e6
}'
# Scaling: each store's aggregate at 2, 4 and 8 threads against its own 1-thread figure
# (target for TessiJNI: at least 0.5x at 8 threads, gets and puts).
for name in tessijni synclru cpp; do
  for op in get put; do
    one=$(rate "$name" 1 "$op")
    line="scaling $name $op:"
    for t in 2 4 8; do
      line="$line $(awk -v a="$(rate "$name" "$t" "$op")" -v b="$one" 'BEGIN { printf "%dT %.2fx", '"$t"', a/b }')"
    done
    echo "$line"
  done
done
