#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the main demo: a PHP script over
# MopraX, then Java programs over SornX, the TessiX cache and queue, and MopraXJNI.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh build
bash scripts/demo.sh build
