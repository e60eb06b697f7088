#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent: only packages that are missing are installed. Never installs a JDK:
# the build pins the JDK 17 that the machine ships.
set -euo pipefail

PKGS=(
  build-essential cmake pkg-config ninja-build
  libgtest-dev libgmock-dev libbenchmark-dev
  libkyotocabinet-dev kyotocabinet-utils
  libpoco-dev
  libthrift-dev thrift-compiler
  libboost-dev
  libsnappy-dev liblzf-dev libhashkit-dev zlib1g-dev
  php8.2-dev php8.2-cli
  junit5
  clang libclang-rt-14-dev clang-format
  libjemalloc-dev libmimalloc-dev libgoogle-perftools-dev
  libleveldb-dev librocksdb-dev
  libleveldb-java libcaffeine-java
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
