#!/usr/bin/env bash
# Runs a libFuzzer target for a while: scripts/fuzz.sh TARGET [SECONDS]
# Targets: xml (and the ones listed in fuzz/CMakeLists.txt without the fuzz_ prefix).
set -euo pipefail
cd "$(dirname "$0")/.."
target="${1:-xml}"
seconds="${2:-60}"
bash scripts/install-deps.sh test
if ! command -v clang++ >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
      -DKESTRIX_BUILD_FUZZ=ON -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=OFF
cmake --build build-fuzz --target "fuzz_${target}" --parallel "$(nproc)"
mkdir -p "build-fuzz/corpus-${target}"
./build-fuzz/fuzz/"fuzz_${target}" -max_total_time="${seconds}" -max_len=65536 "build-fuzz/corpus-${target}"
