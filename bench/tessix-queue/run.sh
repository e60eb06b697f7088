#!/usr/bin/env bash
# TessiX queue benchmark: the C++ queue against a std::deque + mutex + condition variable
# queue, then WNfQueueJNI against LinkedBlockingQueue and ArrayBlockingQueue in one JVM.
# usage: bench/tessix-queue/run.sh [build-dir] [items] [hand-off samples] [rounds]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
items=${2:-2000000}
samples=${3:-2000}
rounds=${4:-3}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
"$dir/bench/tessix-queue/bench_nfqueue_cpp" "$items" "$samples" "$rounds" | grep '^RESULT'
"$JAVA_HOME/bin/java" -Xms1g -Djava.library.path="$dir" \
  -cp "$dir/TessiX.jar:$dir/bench/tessix-queue/classes" NfQueueBench "$items" "$samples" "$rounds" \
  | grep '^RESULT'
