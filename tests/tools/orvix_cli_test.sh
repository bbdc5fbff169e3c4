#!/bin/bash
# The orvix tool as scripts use it: outputs, exit statuses and one-line errors.
set -u
orvix=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION EXPECTED_STATUS COMMAND...
  local what=$1 want=$2; shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; cat "$work/err"; failures=$((failures + 1))
  fi
}

# A 64 x 48 colour image: a gradient written as a binary pixel map.
/usr/bin/python3 - "$work/in.ppm" <<'PY'
import sys
w, h = 64, 48
data = bytearray()
for y in range(h):
    for x in range(w):
        data += bytes((x * 4, y * 5, 128))
open(sys.argv[1], "wb").write(b"P6\n%d %d\n255\n" % (w, h) + data)
PY

check "help" 0 "$orvix" --help
grep -q "usage: orvix" "$work/out" || { echo "FAIL: help text"; failures=$((failures + 1)); }
check "info" 0 "$orvix" info "$work/in.ppm"
grep -q "size:        64 x 48 pixels" "$work/out" || { echo "FAIL: info size"; cat "$work/out"; failures=$((failures + 1)); }
for t in tiff jpeg bmp pgm tga; do
  check "convert to $t" 0 "$orvix" convert "$work/in.ppm" "$work/c.$t" --type "$t" --quality 90
  [ -s "$work/c.$t" ] || { echo "FAIL: no $t written"; failures=$((failures + 1)); }
done
check "convert refuses an existing output" 1 "$orvix" convert "$work/in.ppm" "$work/c.bmp" --type bmp
grep -q "^orvix: .*Exists$" "$work/err" || { echo "FAIL: exists message"; cat "$work/err"; failures=$((failures + 1)); }
check "scale to TIFF" 0 "$orvix" scale "$work/in.ppm" "$work/s.tif" 0.5 --lzw
"$orvix" info "$work/s.tif" | grep -q "size:        32 x 24 pixels" || { echo "FAIL: scaled size"; failures=$((failures + 1)); }
check "scale to JPEG" 0 "$orvix" scale "$work/in.ppm" "$work/s.jpg" 2
"$orvix" info "$work/s.jpg" | grep -q "size:        128 x 96 pixels" || { echo "FAIL: enlarged size"; failures=$((failures + 1)); }
check "low-memory scale" 0 "$orvix" scale "$work/in.ppm" "$work/l.tif" 0.25 --low-memory
"$orvix" info "$work/l.tif" | grep -q "size:        16 x 12 pixels" || { echo "FAIL: low-memory size"; failures=$((failures + 1)); }
check "thumbnail" 0 "$orvix" thumb "$work/in.ppm" "$work/t.jpg" 16
"$orvix" info "$work/t.jpg" | grep -q "size:        16 x 12 pixels" || { echo "FAIL: thumbnail size"; failures=$((failures + 1)); }
check "lanczos3 scale" 0 "$orvix" scale "$work/in.ppm" "$work/f.tif" 0.5 --filter lanczos3
"$orvix" info "$work/f.tif" | grep -q "size:        32 x 24 pixels" || { echo "FAIL: lanczos3 size"; failures=$((failures + 1)); }
check "box scale of a JPEG" 0 "$orvix" scale "$work/c.jpeg" "$work/f.jpg" 0.25 --filter box
"$orvix" info "$work/f.jpg" | grep -q "size:        16 x 12 pixels" || { echo "FAIL: box size"; failures=$((failures + 1)); }
check "low-memory box scale" 0 "$orvix" scale "$work/in.ppm" "$work/fl.tif" 1.5 --filter box --low-memory
"$orvix" info "$work/fl.tif" | grep -q "size:        96 x 72 pixels" || { echo "FAIL: low-memory box size"; failures=$((failures + 1)); }
# A backslash is part of a file name: the output is one file in the folder,
# and the extension of n.tif\out is "tif\out", which names no format.
check "output named with a backslash" 0 "$orvix" scale "$work/in.ppm" "$work"/'back\slash.tif' 0.5
"$orvix" info "$work"/'back\slash.tif' | grep -q "size:        32 x 24 pixels" ||
  { echo "FAIL: backslash output"; failures=$((failures + 1)); }
[ ! -e "$work/slash.tif" ] || { echo "FAIL: backslash taken for a separator"; failures=$((failures + 1)); }
check "extension holding a backslash" 2 "$orvix" scale "$work/in.ppm" "$work"/'n.tif\out' 0.5
[ ! -e "$work"/'n.tif\out' ] || { echo "FAIL: output of no format written"; failures=$((failures + 1)); }
check "unknown filter" 2 "$orvix" scale "$work/in.ppm" "$work/u.tif" 0.5 --filter bicubic
[ ! -e "$work/u.tif" ] || { echo "FAIL: unknown filter wrote a file"; failures=$((failures + 1)); }
check "missing input" 1 "$orvix" scale "$work/none.ppm" "$work/x.tif" 2
[ "$(wc -l < "$work/err")" -eq 1 ] || { echo "FAIL: error is not one line"; failures=$((failures + 1)); }
check "unknown command" 2 "$orvix" shrink "$work/in.ppm"
check "bad factor" 2 "$orvix" scale "$work/in.ppm" "$work/x.tif" -3
check "low memory needs TIFF" 2 "$orvix" scale "$work/in.ppm" "$work/x.jpg" 0.5 --low-memory
check "unreadable image" 1 "$orvix" info "$work/out"
# The pixel limit comes from the environment when the library loads.
check "image beyond ORVIX_MAX_PIXELS" 1 env ORVIX_MAX_PIXELS=3071 "$orvix" scale "$work/in.ppm" "$work/x.tif" 2
grep -q "claims 64 x 48 pixels, more than the limit of 3071 (ORVIX_MAX_PIXELS)" "$work/err" ||
  { echo "FAIL: pixel limit message"; cat "$work/err"; failures=$((failures + 1)); }
check "image at ORVIX_MAX_PIXELS" 0 env ORVIX_MAX_PIXELS=3072 "$orvix" scale "$work/in.ppm" "$work/y.tif" 2
check "unusable ORVIX_MAX_PIXELS keeps the default" 0 env ORVIX_MAX_PIXELS=-5 "$orvix" scale "$work/in.ppm" "$work/z.tif" 2

if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
echo "orvix tool checks passed"
