#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# check_symbol_versions.sh GLIBCXX-LIMIT CXXABI-LIMIT FILE...
# Fails when a FILE needs a GLIBCXX or CXXABI symbol version newer than the
# limit: MATLAB loads MEX files next to the libstdc++ it ships, and a newer
# version there means "Invalid MEX-file".
set -euo pipefail
glibcxx_limit=$1
cxxabi_limit=$2
shift 2

newer() {  # newer VERSION LIMIT: VERSION sorts after LIMIT
  [[ $1 != "$2" && $(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1) == "$1" ]]
}

status=0
for file in "$@"; do
  needed=$(objdump -T "$file" | awk '$3 == "*UND*" || $4 == "*UND*"' |
    grep -o '\(GLIBCXX\|CXXABI\)_[0-9.]*' | sort -u || true)
  [[ -n $needed ]] || { echo "check_symbol_versions: $file needs no libstdc++ symbol; wrong file?" >&2; status=1; continue; }
  for tag in $needed; do
    version=${tag#*_}
    case $tag in
      GLIBCXX_*) limit=$glibcxx_limit ;;
      CXXABI_*) limit=$cxxabi_limit ;;
    esac
    if newer "$version" "$limit"; then
      echo "check_symbol_versions: $file needs $tag (limit ${tag%%_*}_$limit):" >&2
      objdump -T "$file" | grep "$tag" | awk '{ print "    " $NF }' | c++filt | head -n 5 >&2
      status=1
    fi
  done
done
[[ $status -ne 0 ]] || echo "check_symbol_versions: $# files need at most GLIBCXX_$glibcxx_limit and CXXABI_$cxxabi_limit"
exit "$status"
