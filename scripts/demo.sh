#!/usr/bin/env bash
# Runs the Java demos of SornX, TessiX and the TessiX queue from an existing build directory
# (default: build).
# usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
[ -x "$JAVA_HOME/bin/java" ] || JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
"$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" \
  -cp "$dir/SornX.jar:$dir/demo/java" SornDemo
"$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" \
  -cp "$dir/TessiX.jar:$dir/demo/java" TessiDemo
"$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" -cp "$dir/TessiX.jar:$dir/demo/java" NfQueueDemo
