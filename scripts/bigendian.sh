#!/usr/bin/env bash
# The library's unit tests on a big-endian host: cross-builds cgmlib, its
# library tests (tests/test_*.cpp that need neither the converter's image
# layer nor the metafile decoder) and tests/c_api.c for s390x with Debian's
# cross compiler, and runs them under qemu user emulation.  Exits non-zero
# if anything fails to build, the programs do not run big-endian, or a test
# fails.
#
#   bash scripts/bigendian.sh            # build in build/bigendian
#   QUIL_BE_BUILD=/tmp/be bash scripts/bigendian.sh
#
# Installs the Debian packages it needs when they are missing (apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${QUIL_BE_BUILD:-$root/build/bigendian}
jobs=$(nproc 2>/dev/null || echo 2)
triple=s390x-linux-gnu

# ---- packages ---------------------------------------------------------------
packages=(cmake make googletest g++-s390x-linux-gnu libc6-dev-s390x-cross)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# The emulator: qemu-user (qemu-s390x) or qemu-user-static (qemu-s390x-static).
if ! command -v qemu-s390x >/dev/null && ! command -v qemu-s390x-static >/dev/null; then
  missing+=(qemu-user)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "bigendian: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
qemu=$(command -v qemu-s390x || command -v qemu-s390x-static)

# ---- build ------------------------------------------------------------------
start=$SECONDS
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "== big-endian build (${triple}-g++, -Werror) in $build"
cmake -S "$root/tools/bigendian" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-s390x.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUIL_WERROR=ON \
  "-DCMAKE_CROSSCOMPILING_EMULATOR=$qemu;-L;/usr/$triple" >"$log" 2>&1 ||
  { cat "$log"; exit 1; }
grep -E '^-- big-endian:' "$log" || true
cmake --build "$build" -j "$jobs"

# ---- byte order -------------------------------------------------------------
# The programs must be s390x binaries that really run big-endian under qemu.
echo "== byte order of the test host ($qemu)"
"$qemu" -L "/usr/$triple" "$build/byteorder"

# ---- tests ------------------------------------------------------------------
echo "== tests (s390x under qemu)"
ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 600 \
  -j "$jobs" </dev/null
echo "bigendian: passed in $((SECONDS - start)) s (build and tests)"
