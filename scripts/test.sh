#!/usr/bin/env bash
# The project's whole test run: set-up, a warning-free build (-Werror) with
# g++, every test through CTest, then the same suite again in an
# AddressSanitizer + UndefinedBehaviorSanitizer build with clang, and the
# library's tests once more cross-built for a big-endian host under qemu,
# and the fuzz targets replaying their corpora and running briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

bash scripts/setup.sh

echo "== build (g++, -Werror)"
cmake -S "$root" -B "$root/build/gcc" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQUIL_WERROR=ON >/dev/null
cmake --build "$root/build/gcc" -j "$jobs"
echo "== tests (g++)"
ctest --test-dir "$root/build/gcc" --output-on-failure -j "$jobs" </dev/null

echo "== install check"
bash scripts/check_install.sh "$root/build/gcc"

echo "== build (clang, address + undefined sanitizers)"
cmake -S "$root" -B "$root/build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUIL_WERROR=ON \
  -DQUIL_BENCHMARKS=OFF -DQUIL_SANITIZE=address,undefined >/dev/null
cmake --build "$root/build/asan" -j "$jobs"
echo "== tests (clang, address + undefined sanitizers)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs" </dev/null

echo "== tests (s390x, big-endian, under qemu)"
bash scripts/bigendian.sh

echo "== fuzzing (replay of the committed corpora, then a short run of each target)"
bash scripts/fuzz.sh --replay
