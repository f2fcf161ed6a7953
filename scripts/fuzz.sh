#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang and runs each one for a bounded time
# on a scratch copy of its seed corpus. Exits non-zero when a target finds a
# crash, a leak, a time-out, an allocation over the limit or a broken
# property; the reproducer is kept in the scratch directory (printed).
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Environment: ZR_FUZZ_BUILD_DIR (default build/fuzz), ZR_FUZZ_JOBS (targets
# run side by side, default 1), ZR_FUZZ_SEED (libFuzzer's -seed; 0, the
# default, picks a new one each run; a fixed one repeats the same search for
# as long as the time allows), ZR_FUZZ_WORK (scratch directory, default a
# new one under /tmp).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${ZR_FUZZ_BUILD_DIR:-$root/build/fuzz}"
build="$(mkdir -p "$build" && cd "$build" && pwd)"
jobs="${ZR_FUZZ_JOBS:-1}"
work="${ZR_FUZZ_WORK:-$(mktemp -d /tmp/zrfuzz.XXXXXX)}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_reply_value fuzz_base64 fuzz_dime_reply fuzz_http_reply)
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZR_FUZZ=ON \
  -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF -DZR_BUILD_OCTAVE=OFF -DZR_BUILD_MATLAB=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

# Every finding must stop the run: UBSan reports abort, leaks are checked
# after each input, and an input that runs longer than 10 s counts as a hang.
# A DIME record header can make gSOAP allocate its announced size (up to
# 4 GiB) before any of it arrives; such an allocation is virtual until the
# bytes come, so single allocations are allowed up to that size while the
# resident set stays under -rss_limit_mb.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

run_target() {
  local target="$1"
  local dir="$work/$target"
  mkdir -p "$dir/corpus"
  cp "$root/fuzz/corpus/$target/"* "$dir/corpus/"
  # -close_fd_mask=1: the decoder's warnings on standard output are noise.
  (cd "$dir" && "$build/fuzz/$target" corpus -max_total_time="$seconds" -rss_limit_mb=2048 \
     -malloc_limit_mb=4200 -timeout=10 -seed="${ZR_FUZZ_SEED:-0}" -max_len=16384 -close_fd_mask=1 -print_final_stats=1 \
     >"$dir/log" 2>&1)
}

status=0
pids=()
names=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=("$!")
  names+=("$target")
  if [ ${#pids[@]} -ge "$jobs" ]; then
    if ! wait "${pids[0]}"; then status=1; echo "FAIL ${names[0]}: see $work/${names[0]}/log"; fi
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  if ! wait "${pids[$i]}"; then status=1; echo "FAIL ${names[$i]}: see $work/${names[$i]}/log"; fi
done

for target in "${targets[@]}"; do
  log="$work/$target/log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  echo "$target: ${runs:-?} runs, ${speed:-?} exec/s in ${seconds} s"
  ls "$work/$target" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | sed "s|^|  finding: $work/$target/|" || true
done
echo "fuzz work directory: $work"
exit $status
