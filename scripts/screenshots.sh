#!/usr/bin/env bash
# Takes the README's pictures of Tolvane's windows under Xvfb, with generated
# sample photos listed and a run finished, into docs/. The build directory is
# "build" unless BUILD_DIR names another.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

scripts/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tolvane_screenshots

work=$build/screenshots
[ -f "$work/photos/photo_011.jpg" ] || scripts/make_photos.py "$work/photos" 12 1600 1200
rm -rf "$work/out"
mkdir -p "$work/out" docs
xvfb-run -a -s "-screen 0 1600x1000x24" "$build/program/tolvane_screenshots" "$work/photos" "$work/out" docs
