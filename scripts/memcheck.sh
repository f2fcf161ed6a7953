#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the Octave end-to-end tests once with AddressSanitizer and UBSan built
# into the core library, the MEX modules and the demo broker, the sanitizer
# runtime preloaded into Octave. Fails on any sanitizer report.
#
#   scripts/memcheck.sh
#
# Environment: ZR_MEMCHECK_BUILD_DIR (default build/memcheck).
#
# Octave itself is not instrumented; ASan still checks every access made by
# the project's code and every heap block it frees. Leak detection is off:
# Octave leaves memory behind at exit that is not ours to free.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZR_MEMCHECK_BUILD_DIR:-$root/build/memcheck}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_SANITIZE=ON \
  -DZR_BUILD_OCTAVE=ON -DZR_BUILD_MATLAB=OFF -DZR_BUILD_TESTS=ON -DZR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target connector invoker zrdemobroker

# The runtime the project was built with: it must be the first library in
# Octave's process for its allocator to be the one everybody uses.
compiler="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")"
runtime="$("$compiler" -print-file-name=libasan.so)"
if [ ! -e "$runtime" ]; then
  echo "memcheck: no ASan runtime found for $compiler" >&2
  exit 2
fi

log="$build/memcheck.log"
status=0
ZRT_SANITIZED=1 LD_PRELOAD="$runtime" \
ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$build" -L octave --output-on-failure >"$log" 2>&1 || status=$?
cat "$log"

if grep -qE 'ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer' "$log"; then
  echo "memcheck: sanitizer report in the Octave tests (see $log)" >&2
  exit 1
fi
if [ "$status" -ne 0 ]; then
  echo "memcheck: Octave tests failed (see $log)" >&2
  exit "$status"
fi
if ! grep -qE '^100% tests passed, 0 tests failed out of [1-9]' "$log"; then
  echo "memcheck: no Octave test ran" >&2
  exit 1
fi
echo "memcheck: Octave tests clean under ASan and UBSan"
