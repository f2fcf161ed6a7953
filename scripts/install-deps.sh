#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages that building, testing and the demo need.
# Non-interactive; runs `apt-get update` once, and only when something is
# missing, so it is quick on a machine that already has everything.
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libgsoap-dev gsoap libtinyxml-dev libboost-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  octave liboctave-dev
  clang libclang-rt-14-dev valgrind
  python3 locales
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
