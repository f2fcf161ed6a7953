#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# octave_package_test.sh BUILD-DIR CMAKE PACKAGE OCTAVE DEMOBROKER SOURCE-DIR
# Assembles the Octave package, checks that a second assembly (elsewhere,
# later, under another umask) gives the same bytes and that it carries the
# licence, installs it with `pkg install` into a scratch prefix (nothing
# outside it is read or written, HOME included) and checks that the install
# does not print the code generator's chatter. Then, in fresh sessions that
# have only the installed package on their path: `pkg test` passes with no
# file untested, `help zrbridge` gives the overview, `lookfor` finds the
# entry points, zrdemo() runs the bundled broker and stops it, and a proxy
# calls an outside demo broker through the installed files.
set -euo pipefail
build=$1
cmake=$2
package=$(realpath "$3")
octave=$4
demobroker=$5
source_dir=$6
here=$(cd "$(dirname "$0")" && pwd)
source "$here/broker.sh"

"$cmake" --build "$build" --target octave-package >/dev/null

scratch=$(mktemp -d)
trap 'stop_broker; rm -rf "$scratch"' EXIT

# Reproducible: the same bytes from another folder, a second later, with
# another umask.
sleep 1
(umask 077 && "$cmake" -DMANIFEST="$build/octave-package/manifest.cmake" -DSOURCE_DIR="$source_dir" \
  -DOUTPUT_DIR="$scratch/again" -P "$source_dir/cmake/ZRAssembleOctavePackage.cmake" >/dev/null)
cmp "$package" "$scratch/again/$(basename "$package")" ||
  { echo "two assemblies of the same sources differ" >&2; exit 1; }
name=$(basename "$package" .tar.gz)
tar -xzOf "$package" "$name/COPYING" | cmp - "$source_dir/COPYING" ||
  { echo "the package's COPYING is not the licence text" >&2; exit 1; }
tar -xzOf "$package" "$name/DESCRIPTION" | grep -qx 'License: GPLv2+' ||
  { echo "DESCRIPTION names no licence" >&2; exit 1; }

lists="pkg('local_list', '$scratch/local_list'); pkg('global_list', '$scratch/global_list');"
run_octave() {
  (cd "$scratch" && HOME="$scratch" "$octave" --no-gui --norc --quiet --no-history --eval "$1")
}

run_octave "$lists
  pkg('prefix', '$scratch/packages', '$scratch/packages-arch');
  started = tic;
  pkg('install', '-local', '$package');
  printf('pkg install took %.0f s\n', toc(started));" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log"; exit 1; }
cat "$scratch/install.log"
if grep -qiE 'code generator|soapcpp2|Saving .*generated' "$scratch/install.log"; then
  echo "pkg install printed the code generator's output" >&2
  exit 1
fi

for module in connector.mex invoker.mex libzrcore.so.0; do
  file=$(find "$scratch/packages-arch" -name "$module")
  runpath=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
  [[ $runpath == '$ORIGIN' ]] || { echo "$module has run path '$runpath', not \$ORIGIN" >&2; exit 1; }
done
bundled=$(find "$scratch/packages-arch" -name zrdemobroker -type f)
[[ -x $bundled ]] || { echo "the package installed no executable zrdemobroker" >&2; exit 1; }

start_broker "$demobroker"
output=$(run_octave "$lists
  pkg load zrbridge
  for name = {'ZRProxy', 'connector', 'invoker', 'zrdemo', 'zrdemobroker', 'zrbinary'}
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
  % Only the installed package: nothing of a build or source tree.
  if ~isempty(strfind(path(), '$source_dir')), error('the source tree is on the path'); end
  pkg test zrbridge
  help zrbridge
  disp('== lookfor SOAP'); lookfor SOAP
  disp('== lookfor broker'); lookfor broker
  disp('== end of lookfor');
  p = ZRProxy('Echo', '127.0.0.1', $broker_port);
  r = p('echo', {int32(7), 'seven'});
  if ~isequal(r, {int32(7); 'seven'}), disp(r); error('echo returned the wrong value'); end
  zrdemo($broker_port);
  zrdemo();" 2>&1)
echo "$output"
stop_broker
grep -qE '^ +PASS +[1-9]' <<<"$output" || { echo "pkg test ran no test" >&2; exit 1; }
grep -qE '^ +FAIL +0$' <<<"$output" || { echo "pkg test failed" >&2; exit 1; }
if ! grep -qE '^0 \(of [0-9]+\) \.m files have no tests' <<<"$output"; then
  echo "pkg test found m-files without tests" >&2
  exit 1
fi
grep -qE '^ +zrdemobroker +- start the bundled demo broker' <<<"$output" ||
  { echo "help zrbridge gave no list of functions" >&2; exit 1; }
lookfor() {
  sed -n "/^== lookfor $1\$/,/^== /p" <<<"$output" | grep -qE "^$2 " ||
    { echo "lookfor $1 does not find $2" >&2; exit 1; }
}
for entry in zrbridge ZRProxy zrdemo zrdemobroker; do
  lookfor SOAP $entry
  lookfor broker $entry
done
[[ $(grep -c '^Done:' <<<"$output") -eq 2 ]] || { echo "zrdemo did not finish twice" >&2; exit 1; }
grep -q 'started the demo broker on port' <<<"$output" ||
  { echo "zrdemo() started no broker" >&2; exit 1; }
# Every broker that the session started has stopped.
# (ps first, whole: a grep running beside it would name the path itself.)
processes=$(ps -eo stat=,args=)
if grep -v '^Z' <<<"$processes" | grep -qF "$bundled"; then
  echo "a bundled broker outlived the session" >&2
  exit 1
fi
