#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# spdx_apply_test.sh SOURCE-DIR OCTAVE
# Runs scripts/spdx.sh --apply on a scratch copy of the source tree and
# checks the result: --check then passes, a second --apply changes nothing,
# every m-file keeps its help text and its H1 line (what `help` and
# `lookfor` show), and the shell scripts still parse.
set -euo pipefail
source_dir=$1
octave=$2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
copy=$scratch/tree
mkdir -p "$copy"
if git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$source_dir" && git ls-files -z | xargs -0 cp --parents -t "$copy" 2>/dev/null || true)
else
  (cd "$source_dir" && find . -type f -not -path './build*' -not -path './.git/*' -print0 |
    xargs -0 cp --parents -t "$copy")
fi
# The working copies of the m-files, committed or not.
(cd "$source_dir" && find . -name '*.m' -not -path './build*' -print0 | xargs -0 cp --parents -t "$copy")
original=$scratch/original
cp -a "$copy" "$original"

bash "$source_dir/scripts/spdx.sh" --apply "$copy"
bash "$source_dir/scripts/spdx.sh" --check "$copy"
cp -a "$copy" "$scratch/once"
bash "$source_dir/scripts/spdx.sh" --apply "$copy"
diff -r "$scratch/once" "$copy" || { echo "a second --apply changed files" >&2; exit 1; }

while IFS= read -r -d '' script; do
  bash -n "$script" || { echo "$script no longer parses" >&2; exit 1; }
done < <(find "$copy" -name '*.sh' -print0)

(cd "$original" && find . -name '*.m' | sed 's|^\./||' | sort >"$scratch/mfiles")
(cd "$scratch" && "$octave" --no-gui --norc --quiet --no-history --eval "
  files = strsplit(strtrim(fileread('$scratch/mfiles')), char(10));
  for k = 1:numel(files)
    before = get_help_text_from_file(fullfile('$original', files{k}));
    after = get_help_text_from_file(fullfile('$copy', files{k}));
    if ~strcmp(before, after)
      error('%s: the help text changed:\n%s', files{k}, after);
    end
    if isempty(strfind(fileread(fullfile('$copy', files{k})), 'SPDX-License-Identifier'))
      error('%s has no SPDX line', files{k});
    end
  end
  printf('%d m-files keep their help text\n', numel(files));" </dev/null)
