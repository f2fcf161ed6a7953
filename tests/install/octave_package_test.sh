#!/usr/bin/env bash
# octave_package_test.sh BUILD-DIR CMAKE PACKAGE OCTAVE DEMOBROKER
# Assembles the Octave package, installs it with `pkg install` into a
# scratch prefix (nothing outside it is read or written), then in a fresh
# session loads it, runs `pkg test`, checks that every entry point has help
# and calls the demo broker through the installed files.
set -euo pipefail
build=$1
cmake=$2
package=$(realpath "$3")
octave=$4
demobroker=$5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/broker.sh"

"$cmake" --build "$build" --target octave-package >/dev/null

scratch=$(mktemp -d)
trap 'stop_broker; rm -rf "$scratch"' EXIT
lists="pkg('local_list', '$scratch/local_list'); pkg('global_list', '$scratch/global_list');"
run_octave() {
  (cd "$scratch" && "$octave" --no-gui --norc --quiet --no-history --eval "$1")
}

run_octave "$lists
  pkg('prefix', '$scratch/packages', '$scratch/packages-arch');
  started = tic;
  pkg('install', '-local', '$package');
  printf('pkg install took %.0f s\n', toc(started));"

for module in connector.mex invoker.mex libzrcore.so.0; do
  file=$(find "$scratch/packages-arch" -name "$module")
  runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ $runpath == '$ORIGIN' ]] || { echo "$module has run path '$runpath', not \$ORIGIN" >&2; exit 1; }
done

start_broker "$demobroker"
output=$(run_octave "$lists
  pkg load zrbridge
  for name = {'ZRProxy', 'connector', 'invoker', 'zrdemo'}
    [text, format] = get_help_text(name{1});
    if ~strcmp(format, 'plain text') || isempty(strtrim(text))
      error('no help for %s (%s)', name{1}, format);
    end
    printf('help %s: %s\n', name{1}, strtrim(strtok(text, char(10))));
  end
  % Help files must sit beside their module, never in its place.
  for name = {'connector', 'invoker'}
    [~, ~, extension] = fileparts(which(name{1}));
    if ~strcmp(extension, '.mex'), error('%s is %s', name{1}, which(name{1})); end
  end
  pkg test zrbridge
  p = ZRProxy('Echo', '127.0.0.1', $broker_port);
  r = p('echo', {int32(7), 'seven'});
  if ~isequal(r, {int32(7); 'seven'}), disp(r); error('echo returned the wrong value'); end
  zrdemo($broker_port);")
echo "$output"
grep -qE '^ +PASS +[1-9]' <<<"$output" || { echo "pkg test ran no test" >&2; exit 1; }
grep -qE '^ +FAIL +0$' <<<"$output" || { echo "pkg test failed" >&2; exit 1; }
grep -q '^Done:' <<<"$output" || { echo "zrdemo did not finish" >&2; exit 1; }
