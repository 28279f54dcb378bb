#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded number of
# iterations. Any crash or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${VTR_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
RUNS=${VTR_FUZZ_RUNS:-20000}
if [ ! -d fuzz ] || [ -z "$(ls fuzz/*.cpp 2>/dev/null)" ]; then echo "fuzz: no targets"; exit 0; fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVTR_BUILD_TESTS=OFF -DVTR_BUILD_BENCH=OFF -DVTR_BUILD_FUZZ=ON -DVTR_SANITIZE=ON >/dev/null
cmake --build "$BUILD" -j "${VTR_JOBS:-$(nproc)}" --target fuzz_all
export ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0
for t in "$BUILD"/fuzz/fuzz_*; do
  [ -f "$t" ] && [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus=$(mktemp -d)
  [ -d "fuzz/corpus/${name#fuzz_}" ] && cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/"
  echo "fuzz: $name ($RUNS runs)"
  "$t" -runs="$RUNS" -max_len=4096 -rss_limit_mb=2048 -timeout=10 "$corpus" >"$corpus.log" 2>&1 || { tail -50 "$corpus.log"; exit 1; }
  rm -rf "$corpus" "$corpus.log"
done
echo "fuzz: all targets passed"
