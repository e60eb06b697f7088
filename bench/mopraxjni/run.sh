#!/usr/bin/env bash
# MopraXJNI benchmark: prints one RESULT line per codec and size, and the getter's cost.
# usage: bench/mopraxjni/run.sh [build-dir] [iterations per round]
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build}
iters=${2:-200000}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
exec "$JAVA_HOME/bin/java" -Djava.library.path="$dir" \
  -cp "$dir/MopraXJNI.jar:$dir/bench/mopraxjni/classes" MopraXJNIBench "$iters"
