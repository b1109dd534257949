#!/usr/bin/env bash
# Installs what the project needs to build and test on a fresh Debian
# machine: only the packages that are missing, with one `apt-get update`.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libbenchmark-dev
  libpng-dev libjpeg-dev libtiff-dev zlib1g-dev
  libcairo2-dev
)
if [ "${QUIL_SETUP_EXTRAS:-0}" = 1 ]; then
  # Only for the benchmark and fuzzing scripts.
  packages+=(imagemagick netpbm time)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
