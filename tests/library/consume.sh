#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds and runs a small
# project against it: usage: consume.sh BUILD_DIR SOURCE_DIR [LAUNCHER]
set -euo pipefail
build=$1 source=$2 launcher=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" --component Development >/dev/null
cmake -S "$source" -B "$scratch/build" -G Ninja -DCMAKE_PREFIX_PATH="$scratch/prefix" \
  ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$scratch/build" >/dev/null
"$scratch/build/consumer"
