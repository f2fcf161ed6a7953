#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: the C++
# tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the full
# suite (C++ and Octave) in an optimised build. Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

echo "== sanitizer build (C++ tests) =="
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=ON \
  -DZR_BUILD_OCTAVE=OFF -DZR_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j2

echo "== release build (all tests) =="
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j2
ctest --test-dir build/release --output-on-failure -j2
