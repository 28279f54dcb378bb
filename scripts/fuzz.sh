#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded number of
# iterations and a bounded time, as many side by side as there are jobs. Any
# crash or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VTR_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
RUNS=${VTR_FUZZ_RUNS:-20000}
# The slowest targets stop after this many seconds (over ten thousand runs on
# an idle core) so that the stage stays within a few minutes on two cores.
SECONDS_PER_TARGET=${VTR_FUZZ_SECONDS:-60}
JOBS=${VTR_JOBS:-$(nproc)}
if [ ! -d fuzz ] || [ -z "$(ls fuzz/*.cpp 2>/dev/null)" ]; then echo "fuzz: no targets"; exit 0; fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
  -DVTR_BUILD_TESTS=OFF -DVTR_BUILD_BENCH=OFF -DVTR_BUILD_FUZZ=ON -DVTR_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target fuzz_all
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0

OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

fuzz_one() {
  local t=$1 name corpus
  name=$(basename "$t")
  corpus=$OUT/$name.corpus
  mkdir -p "$corpus"
  [ -d "fuzz/corpus/${name#fuzz_}" ] && cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/"
  if "$t" -runs="$RUNS" -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
       "$corpus" >"$OUT/$name.log" 2>&1; then
    echo "fuzz: $name passed: $(grep -ao 'Done [0-9]* runs in [0-9]* second(s)' "$OUT/$name.log" | tail -1)"
    touch "$OUT/$name.ok"
  else
    echo "fuzz: $name FAILED"
    tail -50 "$OUT/$name.log"
  fi
}

targets=()
for t in "$BUILD"/fuzz/fuzz_*; do
  [ -f "$t" ] && [ -x "$t" ] && targets+=("$t")
done
echo "fuzz: ${#targets[@]} targets, $RUNS runs or ${SECONDS_PER_TARGET}s each, $JOBS at a time"
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$JOBS" ]; do wait -n || true; done
  fuzz_one "$t" &
done
wait
for t in "${targets[@]}"; do
  [ -f "$OUT/$(basename "$t").ok" ] || { echo "fuzz: failed"; exit 1; }
done
echo "fuzz: all targets passed"
