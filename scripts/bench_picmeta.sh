#!/usr/bin/env bash
# Times picmeta against the I/O floor and against common converters, side by
# side in the same run, on a 4000 x 3000 image with structure (gradients,
# stripes and noise, not a flat colour):
#
#   picmeta on the binary PPM      vs  cat of the same file to a file
#   picmeta on the PNG             vs  ImageMagick convert in.png out.ppm
#                                  vs  netpbm pngtopnm in.png > out.ppm
#
# Each command runs RUNS times (default 7); the median wall time is shown,
# with the ratio to its reference, and the peak memory of one run of each
# (GNU time's maximum resident set size).
#
# Usage: scripts/bench_picmeta.sh [BUILD_DIR]   (default build-bench, Release)
# Needs: cmake, g++, imagemagick, netpbm, time (all Debian packages).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build-bench}"
RUNS="${RUNS:-7}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

for tool in convert pngtopnm /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

if [ ! -x "$BUILD/converter/picmeta" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUIL_TESTS=OFF \
    -DQUIL_BENCHMARKS=OFF -DQUIL_CGMDUMP=OFF >/dev/null
  cmake --build "$BUILD" --target picmeta -j"$(nproc)" >/dev/null
fi
PICMETA="$BUILD/converter/picmeta"

# The test image: a fractal plasma (smooth areas, edges and fine detail; a
# fixed seed, so every run measures the same picture), over a checkerboard.
convert -seed 1 -size 4000x3000 plasma:fractal \
  \( -size 500x375 pattern:checkerboard -scale 800% \) \
  -compose overlay -composite -depth 8 "$WORK/in.ppm"
convert "$WORK/in.ppm" "$WORK/in.png"

# peak resident set size (MB) of one run
peak() {
  /usr/bin/time -v bash -c "$1" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ {printf "%.1f", $2 / 1024}'
}

# Finer timing than GNU time's 10 ms: wall time in ms by the shell.
median_ms() {
  local cmd="$1"
  local times=()
  for _ in $(seq "$RUNS"); do
    local s e
    s=$(date +%s%N)
    bash -c "$cmd" >/dev/null 2>&1
    e=$(date +%s%N)
    times+=($(((e - s) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

cat_cmd="cat '$WORK/in.ppm' > '$WORK/cat.ppm'"
ppm_cmd="echo 1 | '$PICMETA' '$WORK/in.ppm' '$WORK/ppm.cgm'"
png_cmd="echo 1 | '$PICMETA' '$WORK/in.png' '$WORK/png.cgm'"
convert_cmd="convert '$WORK/in.png' '$WORK/convert.ppm'"
pngtopnm_cmd="pngtopnm '$WORK/in.png' > '$WORK/pngtopnm.ppm'"

# Warm the page cache once.
bash -c "$cat_cmd"; bash -c "$ppm_cmd" >/dev/null; bash -c "$png_cmd" >/dev/null

echo "image: 4000 x 3000, PPM $(($(stat -c %s "$WORK/in.ppm") / 1024)) KB," \
     "PNG $(($(stat -c %s "$WORK/in.png") / 1024)) KB; $RUNS runs each, medians"
t_cat=$(median_ms "$cat_cmd")
t_ppm=$(median_ms "$ppm_cmd")
t_png=$(median_ms "$png_cmd")
t_convert=$(median_ms "$convert_cmd")
t_pngtopnm=$(median_ms "$pngtopnm_cmd")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

printf '%-34s %8s %10s %10s\n' "command" "ms" "ratio" "peak MB"
printf '%-34s %8s %10s %10s\n' "cat in.ppm > file" "$t_cat" "1.00" "$(peak "$cat_cmd")"
printf '%-34s %8s %10s %10s\n' "picmeta in.ppm" "$t_ppm" "$(ratio "$t_ppm" "$t_cat") x cat" "$(peak "$ppm_cmd")"
printf '%-34s %8s %10s %10s\n' "convert in.png out.ppm" "$t_convert" "1.00" "$(peak "$convert_cmd")"
printf '%-34s %8s %10s %10s\n' "pngtopnm in.png > out.ppm" "$t_pngtopnm" "$(ratio "$t_pngtopnm" "$t_convert") x conv" "$(peak "$pngtopnm_cmd")"
printf '%-34s %8s %10s %10s\n' "picmeta in.png" "$t_png" "$(ratio "$t_png" "$t_convert") x conv" "$(peak "$png_cmd")"
echo "targets: picmeta on PPM <= 2.0 x cat; picmeta on PNG <= 1.0 x convert;"
echo "         peak memory: PPM within strip buffer + 16 MB; PNG within the"
echo "         decoded image (36 MB) + strip buffer + 16 MB"
