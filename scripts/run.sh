#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the main demo: the SornX store
# driven from Java through the real JVM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build
bash scripts/demo.sh build
