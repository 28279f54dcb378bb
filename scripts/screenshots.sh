#!/bin/bash
# Starts the application under Xvfb with a simulated phone of each family,
# walks it through every page a person sees and writes one picture per page;
# then takes the one-step road (Generate) with the Android phone.
#   scripts/screenshots.sh [FOLDER] [BUILD_DIR]
# FOLDER defaults to build-screenshots/ (not committed) and gets android/,
# iphone/, blackberry/ and one-step/. QT_SCALE_FACTOR=2 in the environment
# takes the pictures at 200 %; VTR_SCREEN sets the virtual screen
# (default 1920x1400, e.g. VTR_SCREEN=1600x1000).
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

# One walk in a home of its own: name, fixture, extra options.
walk() {
  local name=$1 fixture=$2
  shift 2
  local home status=0
  home=$(mktemp -d)
  mkdir -m 700 "$home/runtime"
  rm -rf "${out:?}/$name"
  mkdir -p "$out/$name"
  env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
      XDG_CACHE_HOME="$home/cache" XDG_STATE_HOME="$home/state" QT_QPA_PLATFORM=xcb \
      ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" \
      xvfb-run -a -s "-screen 0 ${VTR_SCREEN:-1920x1400}x24" \
      timeout 300 "$app" --simulate-phone "$fixture" --screenshots "$out/$name" "$@" > "$out/$name/run.log" 2>&1 ||
    status=$?
  rm -rf "$home"
  echo "$name: $(ls "$out/$name" | grep -c '\.png$') pictures in $out/$name$( [ $status -eq 0 ] || echo " (ended with $status, see run.log)")"
  return $status
}

status=0
walk android "$here/tests/devices/data/mtp/android_phone.json" || status=1
walk iphone "$here/tests/app/data/simulated_iphone.json" || status=1
walk blackberry "$here/tests/app/data/simulated_blackberry.json" || status=1
walk one-step "$here/tests/devices/data/mtp/android_phone.json" --one-step || status=1
exit $status
