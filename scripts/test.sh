#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test (C++, Java, PHP).
# usage: scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
bash scripts/build.sh "$@"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
