#!/usr/bin/env bash
# Sets up the machine, builds the library and the orvix tool, generates a
# sample photograph-sized image and runs the main operations on it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target orvix

out=${1:-build/sample}
mkdir -p "$out"
rm -f "$out"/sample.* "$out"/scaled*.* "$out"/thumb.*
orvix=build/tools/orvix

# A 3000 x 2000 colour test card: gradients, a grid and a disc.
/usr/bin/python3 - "$out/sample.ppm" <<'PY'
import sys, math
w, h = 3000, 2000
rows = bytearray()
for y in range(h):
    for x in range(w):
        r = x * 255 // (w - 1)
        g = y * 255 // (h - 1)
        b = 255 if (x // 100 + y // 100) % 2 else 40
        if (x - w / 2) ** 2 + (y - h / 2) ** 2 < (h / 3) ** 2:
            r, g, b = 255 - r, 255 - g, 128
        if x % 250 == 0 or y % 250 == 0:
            r = g = b = 0
        rows += bytes((r, g, b))
with open(sys.argv[1], "wb") as f:
    f.write(b"P6\n%d %d\n255\n" % (w, h))
    f.write(rows)
PY

set -x
$orvix info "$out/sample.ppm"
$orvix convert "$out/sample.ppm" "$out/sample.jpg" --type jpeg --quality 90
$orvix info "$out/sample.jpg"
$orvix scale "$out/sample.jpg" "$out/scaled.tif" 0.5 --lzw
$orvix scale "$out/sample.jpg" "$out/scaled.jpg" 0.25 --quality 85
$orvix scale "$out/sample.ppm" "$out/scaled-lowmem.tif" 0.4 --low-memory
$orvix thumb "$out/sample.jpg" "$out/thumb.jpg" 400
$orvix info "$out/scaled.tif"
$orvix info "$out/thumb.jpg"
