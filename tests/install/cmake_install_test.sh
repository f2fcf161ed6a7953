#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# cmake_install_test.sh BUILD-DIR CMAKE OCTAVE
# Installs the build into a scratch prefix, builds the consumer project
# against it with find_package(zrbridge), and runs both the consumer and an
# Octave session on the installed files against the installed demo broker.
set -euo pipefail
build=$1
cmake=$2
octave=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/broker.sh"

prefix=$(mktemp -d)
trap 'stop_broker; rm -rf "$prefix"' EXIT

"$cmake" --install "$build" --prefix "$prefix/usr" >/dev/null
"$cmake" -S "$here/consumer" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix/usr" >/dev/null
"$cmake" --build "$prefix/consumer" >/dev/null

start_broker "$prefix/usr/bin/zrdemobroker"

output=$("$prefix/consumer/zrconsumer" "$broker_port")
echo "$output"
expected_echo='echo: 7 seven 0.5'
grep -qxF "$expected_echo" <<<"$output" || { echo "expected: $expected_echo" >&2; exit 1; }
grep -qxF "futures: first second" <<<"$output" || { echo "expected: futures: first second" >&2; exit 1; }
grep -q "^unknown module: " <<<"$output" && grep -q "NoSuchModule" <<<"$output" || { echo "expected the failed look-up of NoSuchModule" >&2; exit 1; }

# The MEX modules find the installed libzrcore through their run path.
"$octave" --no-gui --norc --quiet --no-history --path "$prefix/usr/share/zrbridge/octave" --eval "
  p = ZRProxy('Echo', '127.0.0.1', $broker_port);
  r = p('echo', {int32(7), 'seven'});
  if ~isequal(r, {int32(7); 'seven'}), disp(r); exit(1); end
  disp('octave: echo through the installed MEX modules');"

# zrdemobroker() finds the installed bin/zrdemobroker from the m-files'
# folder, and `help zrbridge` the overview installed beside them.
"$octave" --no-gui --norc --quiet --no-history --path "$prefix/usr/share/zrbridge/octave" --eval "
  [port, broker] = zrdemobroker();
  p = ZRProxy('Echo', '127.0.0.1', port);
  if ~isequal(p('echo', {'bundled'}), {'bundled'}), exit(1); end
  if isempty(strfind(evalc('help zrbridge'), 'zrdemobroker')), exit(1); end
  disp('octave: the installed demo broker through zrdemobroker()');"
