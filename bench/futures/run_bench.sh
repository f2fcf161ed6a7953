#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the futures benchmark against one demo broker on a free loopback
# port: bench_futures.m with the modules of BUILD (everything), and the
# small synchronous call alone with the modules of BEFORE_BUILD (a build
# without futures) and of BUILD in turns, three times each, then prints the
# figures and the targets' ratios.
# Usage: bench/futures/run_bench.sh BUILD_DIR [BEFORE_BUILD_DIR BEFORE_MFILES_DIR]
set -euo pipefail
build=$(cd "${1:?usage: run_bench.sh BUILD_DIR [BEFORE_BUILD_DIR BEFORE_MFILES_DIR]}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
broker=$(find "$build/tools" -name zrdemobroker -type f -perm -u+x | head -n 1)
[[ -x $broker ]] || { echo "run_bench: build zrdemobroker, connector and invoker first" >&2; exit 1; }

# The same start and stop of the demo broker as the install tests use.
source "$root/tests/install/broker.sh"
work=$(mktemp -d)
trap 'stop_broker; rm -rf "$work"' EXIT
start_broker "$broker"
port=$broker_port

run() {  # name mex-dir m-file-dir what
  echo "== $1" >&2
  octave-cli --no-gui --norc --quiet --no-history --path "$2" --path "$3" --path "$here" \
    --eval "bench_futures($port, '$4')" | tee "$work/$1.txt" >&2
}
if [[ $# -ge 3 ]]; then
  for turn in 1 2 3; do
    run before-$turn "$(cd "$2" && pwd)/mex" "$(cd "$3" && pwd)" small
    run after-$turn "$build/mex" "$root/matlab" small
  done
fi
run after "$build/mex" "$root/matlab" all

python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]

def figures(name):
    values = {}
    path = f"{work}/{name}.txt"
    if os.path.exists(path):
        for line in open(path):
            if line.startswith("RESULT "):
                _, key, value = line.split()
                values[key] = float(value)
    return values

after = figures("after")
turns = [(figures(f"before-{t}"), figures(f"after-{t}")) for t in (1, 2, 3)]
if turns[0][0]:
    b = sorted(t[0]["sync_small_us"] for t in turns)[1]
    a = sorted(t[1]["sync_small_us"] for t in turns)[1]
    print(f"small synchronous call, median of three processes each: before {b:.1f} us, after {a:.1f} us"
          f" ({a / b:.2f}x)")
print(f"100 x 50 ms: one after another {after['sync_delay100_s']:.2f} s,"
      f" as futures on 32 connections {after['async_delay100_s']:.3f} s (target <= 0.35 s)")
print(f"fetchOutputs(p.async('echo', {{1}})) {after['async_small_us']:.1f} us,"
      f" p('echo', {{1}}) {after['sync_small_us']:.1f} us: {after['async_small_us'] / after['sync_small_us']:.2f}x"
      " (target <= 1.5x)")
sync_rate = 10000 / after['sync_small10000_s']
async_rate = 10000 / after['async_small10000_s']
each_rate = 10000 / after['async_each10000_s']
print(f"10,000 small echoes, median of three rounds: synchronous loop {sync_rate:.0f} calls/s;"
      f" 10,000 futures in flight on 8 connections, fetched together {async_rate:.0f} calls/s"
      f" ({async_rate / sync_rate:.2f}x, target >= 1.3x), each fetched alone {each_rate:.0f} calls/s"
      f" ({each_rate / sync_rate:.2f}x)")
print(f"  Octave VmRSS with 10,000 futures streaming through, up to 1,000 in flight: after the first 1,000"
      f" {after['rss_after_1000_mb']:.1f} MB, after 10,000 {after['rss_after_10000_mb']:.1f} MB")
print(f"2,000 finished futures handed out one by one with fetchNext: {after['fetchnext_drain2000_s']:.2f} s")
held = (after['held_rss_after_10000_mb'] - after['held_rss_after_1000_mb']) * 2**20 / 9000
print(f"  with all 10,000 held (first round): {after['held_rss_after_1000_mb']:.1f} MB after the first 1,000,"
      f" {after['held_rss_after_10000_mb']:.1f} MB after 10,000, {held:.0f} bytes per future held")
PY
