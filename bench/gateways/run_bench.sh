#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the gateway benchmark: bench_gateways.m in Octave (one process per
# payload, so each peak resident size is its own) and zrgateways_replay for
# the floor, against one demo broker on a free loopback port, then prints
# the figures and their ratios.
# zrconvert_bench.mex times the conversion alone.
# Usage: bench/gateways/run_bench.sh BUILD_DIR   (configured with
# -DZR_BUILD_BENCH=ON and built)
set -euo pipefail
build=$(cd "${1:?usage: run_bench.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
broker=$(find "$build/tools" -name zrdemobroker -type f -perm -u+x | head -n 1)
replay=$(find "$build/bench/gateways" -name zrgateways_replay -type f -perm -u+x | head -n 1)
convert=$(find "$build/bench/gateways" -name zrconvert_bench.mex -type f | head -n 1)
[[ -x $broker && -x $replay && -n $convert ]] ||
  { echo "run_bench: build zrdemobroker, zrgateways_replay and zrconvert_bench first" >&2; exit 1; }

work=$(mktemp -d)
broker_pid=
cleanup() {
  if [[ -n $broker_pid ]]; then
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

"$broker" --port 0 >"$work/port" &
broker_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$work/port" | head -n 1)
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || { echo "run_bench: the broker reported no port" >&2; exit 1; }

for payload in small vector matrix; do
  for mode in "" _numeric; do
    [[ $payload == small && -n $mode ]] && continue
    echo "== Octave: $payload$mode" >&2
    octave-cli --no-gui --norc --quiet --no-history --path "$build/mex" --path "$root/matlab" \
      --path "$here" --eval "bench_gateways($port, '$payload$mode')" | tee "$work/octave-$payload$mode.txt" >&2
  done
  echo "== floor and core call: $payload" >&2
  repeat=()
  [[ $payload == small ]] && repeat=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
  "$replay" --port="$port" --benchmark_filter="/$payload:" --benchmark_format=json "${repeat[@]}" \
    >"$work/replay-$payload.json"
done

echo "== conversion alone" >&2
octave-cli --no-gui --norc --quiet --no-history --path "$(dirname "$convert")" --eval "zrconvert_bench()" |
  tee "$work/octave-convert.txt" >&2

python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]

def octave(payload):
    values = {}
    for line in open(f"{work}/octave-{payload}.txt"):
        if line.startswith("RESULT "):
            _, name, value = line.split()
            values[name] = float(value)
    return values

def replay(payload):
    """Seconds of wall and CPU time per call, and the counters, per benchmark
    (the median when the benchmark was repeated)."""
    out = {}
    for b in json.load(open(f"{work}/replay-{payload}.json"))["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        b["wall"], b["cpu"] = b["real_time"] * scale, b["cpu_time"] * scale
        out[b["name"].split("/")[0]] = b
    return out

small, r = octave("small"), replay("small")
floor, core = r["BM_Replay"], r["BM_CoreCall"]
print("echo {1}: median per call (wall), and the client's CPU time per call")
print(f"  floor: raw bytes over one kept-alive socket {floor['wall']*1e6:8.1f} us {1/floor['wall']:8.0f} calls/s"
      f"  CPU {floor['cpu']*1e6:6.1f} us  ({floor['request_bytes']:.0f} B out, {floor['response_bytes']:.0f} B back)")
print(f"  core library call (C++, no Octave)          {core['wall']*1e6:8.1f} us {1/core['wall']:8.0f} calls/s"
      f"  CPU {core['cpu']*1e6:6.1f} us  {core['wall']/floor['wall']:5.2f}x floor")
for key, label in (("invoker", "invoker from Octave"), ("zrproxy", "ZRProxy from Octave")):
    per = 1 / small[key + "_calls_per_s"]
    best = 1 / small[key + "_calls_per_s_best"]
    print(f"  {label:44s}{per*1e6:8.1f} us {1/per:8.0f} calls/s  CPU {small[key + '_cpu_us_per_call']:6.1f} us"
          f"  {per/floor['wall']:5.2f}x floor (best round {best/floor['wall']:.2f}x)")

c = octave("convert")
print("conversion alone, 1000000 elements (median):")
print(f"  Float Array to a cell array   {c['result_cell_ms']:8.1f} ms")
print(f"  Float Array to a double row   {c['result_numeric_ms']:8.1f} ms")
print(f"  double row to a parameter     {c['parameter_ms']:8.1f} ms")

for payload, label in (("vector", "1x1000000 double vector"), ("matrix", "1000x1000 double matrix")):
    r = replay(payload)
    floor, core = r["BM_Replay"], r["BM_CoreCall"]
    print(f"echo of a {label} ({floor['request_bytes']/1e6:.1f} MB request, {floor['response_bytes']/1e6:.1f} MB response):")
    print(f"  floor (raw bytes)        {floor['wall']:7.2f} s wall")
    print(f"  core library call        {core['wall']:7.2f} s wall  {core['cpu']:6.2f} s CPU"
          f"  {core['wall']/floor['wall']:5.2f}x floor  VmHWM {core['VmHWM_MB']:.0f} MB")
    for mode, name in (("", "cell results"), ("_numeric", "numeric results")):
        o = octave(payload + mode)
        print(f"  invoker, {name:16s}{o['seconds_min']:7.2f} s wall  {o['cpu_seconds_median']:6.2f} s CPU"
              f"  {o['seconds_min']/floor['wall']:5.2f}x floor  core + {o['seconds_min']-core['wall']:.2f} s"
              f"  (median {o['seconds_median']:.2f} s)")
        print(f"    Octave VmHWM {o['vmhwm_start_mb']:.0f} MB at start, {o['vmhwm_after_first_mb']:.0f} MB after the first"
              f" call (+{o['vmhwm_after_first_mb']-o['vmhwm_start_mb']:.0f} MB), {o['vmhwm_end_mb']:.0f} MB after three")
PY
