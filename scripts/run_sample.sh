#!/usr/bin/env bash
# Converts the sample image that the project ships (samples/sample.png,
# 180 x 135 pixels: 2 x 1.5 inches) into a metafile with picmeta, answering
# its size prompt with 1, and says where the metafile is.  Builds picmeta
# first (Release) when it is not built yet.
#
# Usage: scripts/run_sample.sh [IMAGE [OUTPUT.cgm]]
#   BUILD_DIR  build folder (default: build/sample)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BUILD_DIR:-$ROOT/build/sample}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
IMAGE="${1:-$ROOT/samples/sample.png}"
OUTPUT="${2:-$BUILD/sample.cgm}"

bash "$ROOT/scripts/setup.sh"
if [ ! -x "$BUILD/converter/picmeta" ]; then
  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUIL_TESTS=OFF -DQUIL_BENCHMARKS=OFF -DQUIL_CGMDUMP=OFF >/dev/null
  fi
  cmake --build "$BUILD" --target picmeta -j"$(nproc)"
fi

echo 1 | "$BUILD/converter/picmeta" "$IMAGE" "$OUTPUT"
OUTPUT="$(cd "$(dirname "$OUTPUT")" && pwd)/$(basename "$OUTPUT")"
echo "Metafile written: $OUTPUT ($(stat -c %s "$OUTPUT") bytes)"
