#!/bin/bash
# program/tolvane-dcraw with a stand-in dcraw first on PATH: the TIFF beside
# the raw file and dcraw's options, a failing dcraw leaving nothing behind,
# and Tolvane --batch developing a raw file through it.
set -u
tolvane=$(realpath "$1")
wrapper=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A real 32 x 24 TIFF (PIL: python3-pil), the stand-in's output.
/usr/bin/python3 - "$work/fixture.tif" <<'PY'
import sys
from PIL import Image
img = Image.new("RGB", (32, 24))
img.putdata([(x * 8, y * 10, (x * y) % 256) for y in range(24) for x in range(32)])
img.save(sys.argv[1], "TIFF")
PY
# The stand-in records its arguments, one a line, and writes the TIFF.
mkdir "$work/bin"
cat >"$work/bin/dcraw" <<EOF
#!/bin/sh
printf '%s\n' "\$@" >"$work/args"
cat "$work/fixture.tif"
EOF
# A broken one writes part of a TIFF and fails, as dcraw on a damaged file.
cat >"$work/bin/broken-dcraw" <<EOF
#!/bin/sh
head -c 100 "$work/fixture.tif"
echo "broken-dcraw: cannot decode \$1" >&2
exit 1
EOF
chmod +x "$work/bin/dcraw" "$work/bin/broken-dcraw"
export PATH="$work/bin:$PATH"
umask 022
unset TOLVANE_DCRAW

# ---- The TIFF beside the raw file, from dcraw -T -w -c ----------------------------------
mkdir "$work/a.b"
echo raw >"$work/a.b/X.dcr"
if ! "$wrapper" "$work/a.b/X.dcr" 2>"$work/err"; then
  fail "wrapper failed with the stand-in: $(cat "$work/err")"
fi
cmp -s "$work/fixture.tif" "$work/a.b/X.tif" || fail "X.tif is not dcraw's output"
[ "$(stat -c %a "$work/a.b/X.tif")" = 644 ] || fail "X.tif's mode under umask 022: $(stat -c %a "$work/a.b/X.tif")"
[ "$(ls -A "$work/a.b" | tr '\n' ' ')" = "X.dcr X.tif " ] || fail "folder holds: $(ls -A "$work/a.b")"
for opt in -T -w -c "$work/a.b/X.dcr"; do
  grep -qxe "$opt" "$work/args" || fail "dcraw not given $opt: $(tr '\n' ' ' <"$work/args")"
done

# ---- A failing dcraw (named by TOLVANE_DCRAW) leaves no TIFF ---------------------------
mkdir "$work/bad"
echo raw >"$work/bad/Y.DCR"
TOLVANE_DCRAW=broken-dcraw "$wrapper" "$work/bad/Y.DCR" 2>"$work/err"
status=$?
[ "$status" -ne 0 ] || fail "wrapper exits 0 when dcraw fails"
[ "$(ls -A "$work/bad")" = "Y.DCR" ] || fail "a failing dcraw left: $(ls -A "$work/bad")"
grep -q "tolvane-dcraw: .*Y.DCR" "$work/err" || fail "no message for a failing dcraw: $(cat "$work/err")"
"$wrapper" 2>"$work/err" && fail "wrapper exits 0 without an argument"
grep -qi "usage" "$work/err" || fail "no usage line without an argument: $(cat "$work/err")"

# ---- End to end: Tolvane runs the wrapper named in DCR_Img_Processor.txt ---------------
mkdir "$work/e2e"
echo "$wrapper" >"$work/e2e/DCR_Img_Processor.txt"
echo raw >"$work/e2e/photo.dcr"
rm -f "$work/args"
(cd "$work/e2e" && "$tolvane" --batch --quiet --format jpeg photo.dcr) >"$work/out" 2>"$work/err"
status=$?
[ "$status" -eq 0 ] || { fail "Tolvane exit $status, expected 0"; cat "$work/err"; }
grep -qxe "$work/e2e/photo.dcr" -e photo.dcr "$work/args" 2>/dev/null ||
  fail "dcraw not run on photo.dcr: $(cat "$work/args" 2>&1)"
cmp -s "$work/fixture.tif" "$work/e2e/photo.tif" || fail "photo.tif is not dcraw's output"
/usr/bin/python3 - "$work/e2e" <<'PY' || fail "no JPEG converted from photo.tif: $(ls -A "$work/e2e")"
import os, sys
from PIL import Image
folder = sys.argv[1]
known = {"DCR_Img_Processor.txt", "photo.dcr", "photo.tif"}
outputs = [n for n in os.listdir(folder) if n not in known]
ok = len(outputs) == 1 and "photo" in outputs[0]
if ok:
    with Image.open(os.path.join(folder, outputs[0])) as img:
        ok = img.format == "JPEG" and img.width > 0 and img.height > 0
        print(outputs[0], img.format, img.size)
sys.exit(0 if ok else 1)
PY

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all raw processor checks passed"
