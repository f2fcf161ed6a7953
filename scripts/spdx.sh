#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# spdx.sh --check|--apply [ROOT]
# Every source file names the project's licence in one SPDX line.
#   --check  lists the source files under ROOT (default: this repository)
#            that lack the line, and exits 1 when there are any;
#   --apply  inserts the line into each of them, as a comment of the file's
#            own syntax: C and C++ `//` and CMake, shell, Python and make
#            `#` on the first line (after a #! line); m-files `%` below
#            their help text, so that `help` and the H1 line that `lookfor`
#            reads stay as they were (at the end of an m-file without help).
# Source files are the tracked ones in a git checkout, otherwise every file
# below ROOT outside build folders. Left out: what the build generates (it
# is not tracked), test data (fuzz corpora, captured replies) and .ci/.
set -euo pipefail

line='SPDX-License-Identifier: GPL-2.0-or-later'

usage() {
  echo "usage: $0 --check|--apply [ROOT]" >&2
  exit 2
}
[[ $# -ge 1 && $# -le 2 ]] || usage
mode=$1
[[ $mode == --check || $mode == --apply ]] || usage
root=${2:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"

# The comment marker for a file, or nothing when the file is no source.
marker() {
  case $1 in
    .ci/* | */corpus/* | fuzz/corpus*) ;;
    *.c | *.cc | *.cpp | *.h | *.hpp) echo '//' ;;
    *.m) echo '%' ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.cmake.in | *.sh | *.py | Makefile | */Makefile) echo '#' ;;
  esac
}

list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files
  else
    find . -type f -not -path './build*' -not -path './.git/*' | sed 's|^\./||' | sort
  fi
}

# Inserts the line into an m-file after its help text: the first comment
# block of the file, or the one right after its function or classdef line.
apply_mfile() {
  awk -v spdx="$line" '
    { text[NR] = $0 }
    END {
      first = 1
      while (first <= NR && text[first] ~ /^[ \t]*$/) first++
      start = 0
      if (text[first] ~ /^[ \t]*%/) start = first
      else if (text[first] ~ /^[ \t]*(function|classdef)([ \t]|$)/ && text[first + 1] ~ /^[ \t]*%/) start = first + 1
      stop = NR + 1
      indent = ""
      if (start) {
        stop = start
        while (stop <= NR && text[stop] ~ /^[ \t]*%/ && text[stop] !~ /^[ \t]*%[!{]/) stop++
        indent = text[start]
        sub(/%.*/, "", indent)
      }
      for (n = 1; n < stop; n++) print text[n]
      if (stop > 1 && text[stop - 1] !~ /^[ \t]*$/) print ""
      print indent "% " spdx
      for (n = stop; n <= NR; n++) print text[n]
    }' "$1"
}

# Inserts the line on the first line, or after a #! line.
apply_top() {
  awk -v comment="$2 $line" '
    NR == 1 && /^#!/ { print; print comment; next }
    NR == 1 { print comment }
    { print }
    END { if (NR == 0) print comment }' "$1"
}

missing=0
while IFS= read -r file; do
  [[ -f $file ]] || continue
  comment=$(marker "$file")
  [[ -n $comment ]] || continue
  grep -qF "$line" "$file" && continue
  if [[ $mode == --check ]]; then
    echo "$file"
    missing=$((missing + 1))
    continue
  fi
  scratch=$(mktemp)
  if [[ $comment == '%' ]]; then
    apply_mfile "$file" >"$scratch"
  else
    apply_top "$file" "$comment" >"$scratch"
  fi
  # Keeps the file's mode (scripts stay executable).
  cat "$scratch" >"$file"
  rm -f "$scratch"
done < <(list_files)

if [[ $mode == --check && $missing -gt 0 ]]; then
  echo "$missing source files lack the line '$line' (scripts/spdx.sh --apply adds it)" >&2
  exit 1
fi
