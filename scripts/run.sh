#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the main demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build
./build/demo/allocdemo
