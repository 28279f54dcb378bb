#!/bin/bash
# Starts the application under Xvfb with a simulated Android phone, walks it
# through every state it reaches and writes one picture per state.
#   scripts/screenshots.sh [FOLDER] [BUILD_DIR]
# FOLDER defaults to build-screenshots/ (not committed); QT_SCALE_FACTOR=2 in
# the environment takes the pictures at 200 %.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$here/build-screenshots}
build=${2:-}
if [ -z "$build" ]; then
  for b in build-release build-ci build; do
    if [ -x "$here/$b/app/solvenna-to-windows-phone" ]; then build=$here/$b; break; fi
  done
fi
app=$build/app/solvenna-to-windows-phone
[ -x "$app" ] || { echo "Build the application first (scripts/run.sh or cmake --build)." >&2; exit 1; }
fixture=$here/tests/devices/data/mtp/android_phone.json

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/runtime"
mkdir -p "$out"
rm -f "$out"/state-*.png
env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" XDG_STATE_HOME="$home/state" QT_QPA_PLATFORM=xcb \
    ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
    xvfb-run -a -s "-screen 0 1920x1400x24" \
    timeout 300 "$app" --simulate-phone "$fixture" --screenshots "$out"
echo "Pictures in $out:"
ls "$out"
