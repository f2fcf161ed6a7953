#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one Octave test: run_octave_test.sh BROKER OCTAVE-COMMAND...
# The script starts its demo brokers itself (support/zrt_broker_start.m) and
# lists their pids in $ZRT_PIDFILE. Should Octave die before stopping one,
# it is stopped here and the test fails. A broker is recognised by the
# pid file named in its environment, so no other process is ever touched.
set -u
export ZRT_BROKER=$1
shift
ZRT_PIDFILE=$(mktemp)
export ZRT_PIDFILE

# Standard input is a pipe that stays open, as a terminal would: a call that
# fell back to reading it would hang here instead of meeting end-of-file.
stdin_pipe=$(mktemp -u)
mkfifo "$stdin_pipe"
sleep 3600 >"$stdin_pipe" &
holder=$!
"$@" <"$stdin_pipe"
status=$?
kill "$holder" 2>/dev/null
rm -f "$stdin_pipe"

while read -r pid; do
  environ=/proc/$pid/environ
  if [[ -r $environ ]] && tr '\0' '\n' <"$environ" | grep -qxF "ZRT_PIDFILE=$ZRT_PIDFILE"; then
    echo "run_octave_test: the test left broker $pid running; stopping it" >&2
    kill "$pid"
    [[ $status -ne 0 ]] || status=1
  fi
done <"$ZRT_PIDFILE"
rm -f "$ZRT_PIDFILE"
exit "$status"
