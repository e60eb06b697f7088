#!/usr/bin/env bash
# Runs the PHP demo of MopraX and the Java demos of MopraXJNI and SornX from an existing build directory
# (default: build).
# usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
# MopraX: holders, containers and a hex / Base64 / envelope round trip in PHP.
php -n -d extension="$(realpath "$dir")/MopraX.so" demo/php/moprax_demo.php
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
[ -x "$JAVA_HOME/bin/java" ] || JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
# MopraXJNI: a holder through hexing and Base64, a vector and a map.
"$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" \
  -cp "$dir/MopraXJNI.jar:$dir/demo/java" MopraXJNIDemo
exec "$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" \
  -cp "$dir/SornX.jar:$dir/demo/java" SornDemo
