#!/usr/bin/env bash
# Installs what is missing, builds Kestrix with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh test

build_dir="${KESTRIX_TEST_BUILD_DIR:-build-test}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Sanitize
cmake --build "$build_dir" --parallel "$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build_dir" --output-on-failure --parallel "$(nproc)" --timeout 600
