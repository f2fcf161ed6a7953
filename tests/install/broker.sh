# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the install tests: start_broker PROGRAM starts a demo broker on
# a free loopback port and sets broker_port; stop_broker stops it. Call
# stop_broker from an EXIT trap so the broker never outlives the test.
broker_pid=
broker_port=

start_broker() {
  local portfile
  portfile=$(mktemp)
  "$1" --port 0 >"$portfile" &
  broker_pid=$!
  for _ in $(seq 100); do
    broker_port=$(sed -n 's/^port \([0-9][0-9]*\)$/\1/p' "$portfile")
    [[ -n $broker_port ]] && break
    kill -0 "$broker_pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$portfile"
  [[ -n $broker_port ]] || { echo "the demo broker $1 reported no port" >&2; return 1; }
}

stop_broker() {
  if [[ -n $broker_pid ]]; then
    kill "$broker_pid" 2>/dev/null || true
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=
  fi
}
