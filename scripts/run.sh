#!/usr/bin/env bash
# Installs what is needed, builds the application in Release, installs its
# desktop entry and icon for the current user and starts the wizard.
#   scripts/run.sh                          the wizard, waiting for a phone
#   scripts/run.sh --simulate-phone FILE    with a simulated phone from a fixture
# Every argument is handed to the application (--help lists them); a
# relative path is taken from the folder this script was started in.
set -euo pipefail
CALLER=$PWD
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/install-deps.sh

BUILD=${VTR_RELEASE_BUILD_DIR:-$ROOT/build-release}
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); else LAUNCHER=(); fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVTR_BUILD_TESTS=OFF -DVTR_BUILD_BENCH=OFF "${LAUNCHER[@]}"
cmake --build "$BUILD" -j "${VTR_JOBS:-$(nproc)}" --target solvenna-to-windows-phone
APP=$BUILD/app/solvenna-to-windows-phone

# The desktop entry points at this build, so the desktop's launcher starts it too.
bash scripts/install-desktop-entry.sh "$APP"

cd "$CALLER"
exec "$APP" "$@"
