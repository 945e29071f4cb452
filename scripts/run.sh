#!/usr/bin/env bash
# Installs what is missing, builds Kestrix and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run

build_dir="${KESTRIX_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=OFF
cmake --build "$build_dir" --parallel "$(nproc)"

exec "$build_dir/src/app/kestrix" "$@"
