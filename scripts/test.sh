#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (offscreen, no display).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh

BUILD=${VTR_BUILD_DIR:-$ROOT/build-ci}
JOBS=${VTR_JOBS:-$(nproc)}
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); else LAUNCHER=(); fi

# Line tables (-g1) are all a sanitizer report needs; full debug information
# only made compiling and linking slower.
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVTR_SANITIZE=ON "${LAUNCHER[@]}" \
  -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1
cmake --build "$BUILD" -j "$JOBS"

# Tests never see the real home, runtime folder or a display. Their folder
# goes when the command ends, however it ends. A test gives back the rights
# it takes away (one that does not fails), but a test program that crashed
# could not: its folders get their owner's rights back first. What still
# cannot be removed is named, and the command fails.
TESTROOT=$(mktemp -d)
clean_up() {
  local status=$?
  chmod -R u+rwx "$TESTROOT" 2>/dev/null || true
  if ! rm -rf "$TESTROOT" || [ -e "$TESTROOT" ]; then
    echo "== $TESTROOT could not be removed, and stays" >&2
    [ "$status" -ne 0 ] || status=1
  fi
  exit "$status"
}
trap clean_up EXIT
mkdir -p "$TESTROOT/home" "$TESTROOT/runtime"
chmod 700 "$TESTROOT/runtime"
export HOME=$TESTROOT/home XDG_RUNTIME_DIR=$TESTROOT/runtime VTR_TEST_TMP=$TESTROOT/tmp
export XDG_DATA_HOME=$HOME/.local/share XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_STATE_HOME=$HOME/.local/state
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:verify_asan_link_order=0
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Date handling must not depend on the machine's time zone: the test programs
# of tests/zone-tests.txt (cmake/Subsystems.cmake writes it: those named *_tz_*
# and those whose file asks for it) run again under zones with odd offsets and
# daylight-saving rules (side by side: each process has its own private home).
ZONE_TESTS=$BUILD/tests/zone-tests.txt
if [ ! -s "$ZONE_TESTS" ]; then
  echo "== $ZONE_TESTS is missing or empty: no test would run under the odd time zones" >&2
  exit 1
fi
tzrun() {
  local zone=$1 t=$2 log
  log=$TESTROOT/tz.$(basename "$t").${zone//\//_}.log
  TZ=$zone "$t" --gtest_brief=1 >"$log" 2>&1 || { echo "== $(basename "$t") FAILED under TZ=$zone"; cat "$log"; return 1; }
  echo "== $(basename "$t") passed under TZ=$zone"
}
export -f tzrun
export TESTROOT
for zone in Europe/Berlin Pacific/Chatham America/Sao_Paulo; do
  sed "s|^|$zone |" "$ZONE_TESTS"
done | xargs -r -d '\n' -n1 -P "$JOBS" bash -c 'tzrun "${0%% *}" "${0#* }"' || exit 1

bash scripts/fuzz.sh

# The full run comes last so that its summary closes the output.
ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS" --timeout 600
