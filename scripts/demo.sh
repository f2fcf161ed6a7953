#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what is missing, builds the MEX modules and the demo broker,
# starts the broker on a free loopback port, runs the Octave demo against it
# and stops the broker again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null

build=build/release
log=$(mktemp)
portfile=$(mktemp)
broker_pid=
cleanup() {
  if [[ -n $broker_pid ]]; then
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
  fi
  rm -f "$log" "$portfile"
}
trap cleanup EXIT

echo "demo: building connector, invoker and the demo broker in $build ..."
if ! { cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$build" -j2 --target connector invoker zrdemobroker; } >"$log" 2>&1; then
  tail -n 40 "$log"
  echo "demo: the build failed" >&2
  exit 1
fi
broker=$(find "$build/tools" -name zrdemobroker -type f -perm -u+x | head -n 1)

"$broker" --port 0 >"$portfile" &
broker_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$portfile" | head -n 1)
  [[ -n $port ]] && break
  kill -0 "$broker_pid" 2>/dev/null || { echo "demo: the broker did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -n $port ]] || { echo "demo: the broker reported no port" >&2; exit 1; }
echo "demo: demo broker (pid $broker_pid) listening on 127.0.0.1:$port"

octave-cli --no-gui --norc --quiet --no-history \
  --path "$build/mex" --path matlab --eval "zrdemo($port)"
