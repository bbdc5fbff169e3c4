#!/usr/bin/env bash
# Sets up the machine, builds the library, the orvix tool and Tolvane,
# generates a folder of sample photographs and converts it with Tolvane's
# headless batch: half size, JPEG at quality 85, two worker processes.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target Tolvane orvix

sample=${1:-build/sample}
photos=$sample/photos
out=$sample/out
[ -f "$photos/photo_011.jpg" ] || scripts/make_photos.py "$photos" 12
rm -rf "$out"
mkdir -p "$out"

set -x
build/program/Tolvane --batch --percent 50 --format jpeg --quality 85 -j 2 \
  --dest "$out" --report "$sample/report.jsonl" "$photos"
build/program/Tolvane --batch --fit 400 --format tiff --lzw --dest "$out" "$photos"
set +x
echo
echo "Outputs in $out:"
ls -l "$out"
echo "Report: $sample/report.jsonl"
