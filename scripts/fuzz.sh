#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer) and runs them.
#
#   bash scripts/fuzz.sh                 # each target 180 s (two at a time)
#   bash scripts/fuzz.sh 600             # each target 600 s
#   bash scripts/fuzz.sh 600 image       # only some targets
#   bash scripts/fuzz.sh --replay        # short mode for the test command:
#                                        # replay the committed corpora, then
#                                        # fuzz each target FUZZ_SHORT (20) s
#
# Targets: library (cgmlib's element calls), image (picmeta's image layer),
# cgmdump (the metafile decoder and checker).  Each run starts from the
# committed seeds in fuzz/corpus/<target>/ plus the working corpus kept in
# build/fuzz/corpus/<target>/ from earlier runs; whatever a target finds
# is saved in build/fuzz/findings/<target>/ and the script exits non-zero.
# A finding replays without libFuzzer too:
#   build/fuzz/fuzz/replay_<target> build/fuzz/findings/<target>/crash-...
#
# Environment: FUZZ_BUILD (build folder, default build/fuzz), FUZZ_JOBS
# (targets at a time, default 2), FUZZ_SHORT (seconds a target in --replay
# mode, default 20).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${FUZZ_BUILD:-$root/build/fuzz}
jobs=${FUZZ_JOBS:-2}

replay=0
seconds=180
targets=()
for a in "$@"; do
  case "$a" in
    --replay) replay=1 ;;
    ''|*[!0-9]*) targets+=("$a") ;;
    *) seconds=$a ;;
  esac
done
if [ $replay = 1 ]; then seconds=${FUZZ_SHORT:-20}; fi
if [ ${#targets[@]} -eq 0 ]; then targets=(library image cgmdump); fi

# ---- build -------------------------------------------------------------------
if ! command -v clang++ >/dev/null; then
  echo "fuzz: needs clang and its libFuzzer runtime (bash scripts/setup.sh)" >&2
  exit 1
fi
start=$SECONDS
echo "== fuzz build (clang, libFuzzer, address + undefined) in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DQUIL_FUZZ=ON -DQUIL_SANITIZE=address,undefined -DQUIL_WERROR=ON \
  -DQUIL_TESTS=OFF -DQUIL_BENCHMARKS=OFF >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=("fuzz_$t" "replay_$t"); done
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target "${build_targets[@]}"
echo "fuzz: built in $((SECONDS - start)) s"

# ---- options -------------------------------------------------------------------
# Large allocations fail instead of aborting, so that images claiming
# enormous sizes exercise the readers' refusals; real memory growth is
# caught by -rss_limit_mb.
export ASAN_OPTIONS=${ASAN_OPTIONS:-allocator_may_return_null=1:max_allocation_size_mb=1024:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
max_len() {
  case "$1" in
    library) echo 2048 ;;
    image) echo 16384 ;;
    cgmdump) echo 65536 ;;
  esac
}

run_target() {
  local t=$1 bin=$build/fuzz/fuzz_$1
  local work=$build/corpus/$t findings=$build/findings/$t
  local log=$build/logs/$t.log
  mkdir -p "$work" "$findings" "$build/logs"
  local seeds=$root/fuzz/corpus/$t
  local dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  local rc=0
  if [ $replay = 1 ] && [ -d "$seeds" ]; then
    # Every committed input once, as regression cases.
    "$bin" -runs=0 -rss_limit_mb=2560 -malloc_limit_mb=4096 -timeout=60 \
      "$seeds" >"$log.replay" 2>&1 || rc=$?
    if [ $rc != 0 ]; then
      echo "fuzz: $t: a committed input fails:"; tail -40 "$log.replay"
      return 1
    fi
    echo "fuzz: $t: $(ls "$seeds" | wc -l) committed inputs replayed"
  fi
  "$bin" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
    -rss_limit_mb=2560 -malloc_limit_mb=4096 -timeout=60 \
    -artifact_prefix="$findings/" -print_final_stats=1 \
    "${dirs[@]}" >"$log" 2>&1 || rc=$?
  local stats
  stats=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  if [ $rc != 0 ]; then
    echo "fuzz: $t: FOUND A FAULT after ${stats:-?} runs (log $log):"
    grep -E 'ERROR|SUMMARY|fuzz_[a-z]*:|Test unit written' "$log" | head -20
    return 1
  fi
  echo "fuzz: $t: ${stats:-?} runs in $seconds s, nothing found"
}

# ---- run ---------------------------------------------------------------------------
status=0
pids=()
names=()
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  run_target "$t" &
  pids+=($!)
  names+=("$t")
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || status=1
done
echo "fuzz: done in $((SECONDS - start)) s"
exit $status
