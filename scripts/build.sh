#!/usr/bin/env bash
# Installs what is missing and builds everything.
# usage: scripts/build.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
dir=${1:-build}
shift || true
export JAVA_HOME=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
[ -x "$JAVA_HOME/bin/javac" ] || export JAVA_HOME=/usr/lib/jvm/java-17-openjdk-amd64
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
