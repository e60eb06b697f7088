#!/usr/bin/env bash
# Runs the demos from an existing build directory (default: build): MopraX in PHP, then the
# Java demos of SornX, TessiX (cache and queue) and MopraXJNI on the real JVM.
# usage: scripts/demo.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
# MopraX: holders, containers and a hex / Base64 / envelope round trip in PHP.
php -n -d extension="$(realpath "$dir")/MopraX.so" demo/php/moprax_demo.php
JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
[ -x "$JAVA_HOME/bin/java" ] || JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
java() { "$JAVA_HOME/bin/java" -Xcheck:jni -Djava.library.path="$dir" -cp "$1:$dir/demo/java" "$2"; }
java "$dir/SornX.jar" SornDemo
java "$dir/TessiX.jar" TessiDemo
java "$dir/TessiX.jar" NfQueueDemo
# MopraXJNI: a holder through hexing and Base64, a vector and a map.
java "$dir/MopraXJNI.jar" MopraXJNIDemo
