#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# check_exports.sh LIBZRCORE [MODULE...]
# libzrcore may export only the project's API (namespace ZR, with the
# classes' type information and virtual tables) and the callbacks that the
# shared gSOAP runtime it loads leaves to the program. Every ZR symbol that a
# MODULE (a MEX file, a program) needs must be among those exports.
set -euo pipefail
library=$1
shift

runtime=$(ldd "$library" | awk '/libgsoap/ { print $3; exit }')
[[ -n $runtime ]] || { echo "check_exports: $library does not load a gSOAP runtime" >&2; exit 1; }

exported=$(nm -D --defined-only "$library" | awk '{ print $3 }' | sort -u)
callbacks=$(nm -D --undefined-only "$runtime" | awk '{ print $2 }' | sed 's/@.*//' | sort -u)

status=0
api=0
while read -r symbol; do
  [[ -n $symbol ]] || continue
  readable=$(c++filt <<<"$symbol")
  if [[ $readable =~ ^((typeinfo|typeinfo\ name|vtable)\ for\ )?ZR:: ]]; then
    api=$((api + 1))
  elif ! grep -qxF "$symbol" <<<"$callbacks"; then
    echo "check_exports: $library exports $readable" >&2
    status=1
  fi
done <<<"$exported"
if [[ $api -eq 0 ]]; then
  echo "check_exports: $library exports no ZR symbol at all" >&2
  status=1
fi

for module in "$@"; do
  while read -r symbol; do
    [[ -n $symbol ]] || continue
    if ! grep -qxF "$symbol" <<<"$exported"; then
      echo "check_exports: $module needs $(c++filt <<<"$symbol"), which $library does not export" >&2
      status=1
    fi
  done < <(nm -D --undefined-only "$module" | awk '{ print $2 }' | grep '^_ZN\{0,1\}[0-9]*N\{0,1\}2ZR\|^_ZT[ISV]N2ZR' || true)
done

[[ $status -ne 0 ]] || echo "check_exports: $library exports $api API symbols and the gSOAP runtime's callbacks only"
exit "$status"
