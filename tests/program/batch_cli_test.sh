#!/bin/bash
# Tolvane --batch end to end: exit statuses, the report, workers and shards
# giving the same files as one run, the dry run, and a list longer than the
# image cache.
set -u
tolvane=$(realpath "$1")
orvix=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check DESCRIPTION EXPECTED_STATUS COMMAND...
  local what=$1 want=$2; shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" -ne "$want" ]; then
    fail "$what: exit $got, expected $want"; cat "$work/err"
  fi
}
size_of() { "$orvix" info "$1" | sed -n 's/^size: *\([0-9]* x [0-9]*\) pixels$/\1/p'; }
last_err_line() { tail -n 1 "$work/err"; }
# Runs from an empty folder, so no processor file of the caller's is read.
# The checks below the smooth section hold the original engine to its
# results; smooth runs are the default.
mkdir "$work/cwd"
smooth() { (cd "$work/cwd" && "$tolvane" --batch --quiet "$@"); }
batch() { smooth --exact "$@"; }

# Images of a few shapes and all three listed types (PIL: python3-pil).
images() {  # images FOLDER COUNT
  /usr/bin/python3 - "$1" "$2" <<'PY'
import os, sys
from PIL import Image
folder, n = sys.argv[1], int(sys.argv[2])
os.makedirs(folder, exist_ok=True)
for i in range(n):
    w, h = [(64, 48), (30, 50), (41, 23), (80, 80)][i % 4]
    img = Image.new("RGB", (w, h))
    img.putdata([((x * 7 + i * 31) % 256, (y * 5) % 256, (x * y + i) % 256) for y in range(h) for x in range(w)])
    ext = ["jpg", "tif", "bmp"][i % 3]
    img.save(os.path.join(folder, "p%02d.%s" % (i, ext)), dpi=(300, 300))
PY
}

# ---- Usage errors: status 2, nothing written --------------------------------------------
images "$work/src" 8
mkdir "$work/other" "$work/none"
cp "$work/src/p00.jpg" "$work/other/q.jpg"
check "unknown option" 2 batch --dest "$work/none" --shrink "$work/src"
check "two size options" 2 batch --dest "$work/none" --percent 50 --width 20 "$work/src"
check "files from two folders" 2 batch --dest "$work/none" "$work/src/p00.jpg" "$work/other/q.jpg"
check "--lzw with JPEG" 2 batch --dest "$work/none" --format jpeg --lzw "$work/src"
grep -q "Try 'Tolvane --batch --help'" "$work/err" || fail "usage hint missing"
[ -z "$(ls -A "$work/none")" ] || fail "a usage error wrote files: $(ls "$work/none")"

# ---- A missing destination is made, parents and all -------------------------------------
check "destination made" 0 batch --dest "$work/made/a/b" "$work/src/p00.jpg"
[ -f "$work/made/a/b/A000_p00.tif" ] || fail "nothing in the made destination"
grep -q "^Destination: $work/made/a/b/ (created)$" "$work/out" || fail "settings: $(grep Destination "$work/out")"
check "destination under a file" 2 batch --dest "$work/src/p00.jpg/x" "$work/src/p00.jpg"
grep -q "cannot be made: Not a directory" "$work/err" || fail "words: $(head -1 "$work/err")"
check "dry run to a missing destination" 0 batch --dry-run --dest "$work/later" "$work/src/p00.jpg"
[ ! -e "$work/later" ] || fail "the dry run made its destination"
grep -q "(to be created)$" "$work/out" || fail "dry settings: $(grep Destination "$work/out")"
check "a usage error makes nothing" 2 batch --format jpeg --lzw --dest "$work/never" "$work/src"
[ ! -e "$work/never" ] || fail "a usage error made the destination"
ORVIX_MAX_PIXELS=10000 check "a size beyond the pixel limit" 2 batch --width 1000 --dest "$work/huge" "$work/src"
grep -q "larger than the image library can make" "$work/err" || fail "words: $(head -1 "$work/err")"
[ ! -e "$work/huge" ] || fail "a refused size made the destination"

# ---- Smooth resizing, the default ---------------------------------------------------------
check "--filter and --exact" 2 smooth --exact --filter box --dest "$work/none" "$work/src"
check "unknown filter" 2 smooth --filter nearest --dest "$work/none" "$work/src"
mkdir "$work/sm1" "$work/sm2" "$work/smj"
check "smooth run" 0 smooth --percent 50 --format jpeg --dest "$work/sm1" "$work/src"
grep -q "^Resizing: smooth, lanczos3 filter$" "$work/out" || fail "smooth settings line: $(grep Resizing "$work/out")"
# Every JPEG at its own half size (the exact engine gives them all 32 pixels).
for f in A000_p00:32x24 A001_p01:15x25 A002_p02:21x12 A003_p03:40x40; do
  name=${f%%:*} want=${f##*:}
  [ "$(size_of "$work/sm1/$name.jpg" | tr -d ' ')" = "$want" ] || fail "smooth $name: $(size_of "$work/sm1/$name.jpg")"
done
check "smooth box filter" 0 smooth --filter box --percent 50 --dest "$work/sm2" "$work/src"
grep -q "^Resizing: smooth, box filter$" "$work/out" || fail "box settings line"
check "smooth, two workers" 0 smooth -j 2 --percent 50 --format jpeg --dest "$work/smj" "$work/src"
for f in "$work/sm1"/*; do
  cmp -s "$f" "$work/smj/$(basename "$f")" || fail "smooth smj/$(basename "$f") differs from the single run's"
done
check "exact settings line" 0 batch --dry-run --percent 50 --format jpeg --dest "$work/none" "$work/src"
grep -q "^Resizing: exact" "$work/out" || fail "exact settings line: $(grep Resizing "$work/out")"

# ---- The report, statuses and exit status 1 --------------------------------------------
# a good, b damaged (a bitmap header and nothing more), c good, d raw with a
# processor that develops it, e raw it does not develop.
mkdir -p "$work/mixed" "$work/rep"
cp "$work/src/p00.jpg" "$work/mixed/a.jpg"
printf 'BM\x10\x00\x00\x00\xff\xff' >"$work/mixed/b.bmp"
cp "$work/src/p01.tif" "$work/mixed/c.tif"
echo raw >"$work/mixed/d.DCR"
echo raw >"$work/mixed/e.DCR"
cat >"$work/develop.sh" <<EOF
#!/bin/bash
case "\$1" in *d.DCR) cp "$work/src/p04.tif" "\${1%.*}.tif" ;; esac
EOF
chmod +x "$work/develop.sh"
echo "$work/develop.sh" >"$work/cwd/DCR_Img_Processor.txt"
check "a damaged file fails the run" 1 batch --percent 50 --dest "$work/rep" --report "$work/report.jsonl" "$work/mixed"
rm "$work/cwd/DCR_Img_Processor.txt"
last_err_line | grep -Eq '^DONE: 3 converted, 0 with warnings, 1 failed, 1 skipped in [0-9]+\.[0-9]+ s$' ||
  fail "summary line: $(last_err_line)"
/usr/bin/python3 - "$work/report.jsonl" "$work/rep" "$orvix" <<'PY' || fail "report lines"
import json, os, subprocess, sys
path, dest, orvix = sys.argv[1:4]
lines = open(path).read().splitlines()
rows = [json.loads(line) for line in lines]
expected = [("a.jpg", "A000_a.tif", "converted"), ("b.bmp", "A001_b.tif", "failed"),
            ("c.tif", "A002_c.tif", "converted"), ("d.tif", "A003_d.tif", "converted"),
            ("e.DCR", "", "skipped")]
ok = len(rows) == len(expected)
for i, (row, (src, out, status)) in enumerate(zip(rows, expected)):
    def bad(why):
        global ok
        ok = False
        print("report line %d: %s: %s" % (i, why, lines[i]))
    if set(row) != {"position", "source", "output", "status", "reason", "warning", "note", "width", "height", "ms"}:
        bad("keys")
        continue
    if row["position"] != i or os.path.basename(row["source"]) != src or row["status"] != status:
        bad("position, source or status")
    if not isinstance(row["ms"], (int, float)) or row["ms"] < 0:
        bad("ms")
    if (row["reason"] == "") != (status == "converted"):
        bad("reason")
    if status == "converted":
        if row["output"] != os.path.join(dest, out):
            bad("output name")
        info = subprocess.run([orvix, "info", row["output"]], capture_output=True, text=True).stdout
        if "size:        %d x %d pixels" % (row["width"], row["height"]) not in info:
            bad("width and height are not the file's: " + info)
written = sorted(os.listdir(dest))
if written != ["A000_a.tif", "A002_c.tif", "A003_d.tif"]:
    ok = False
    print("written:", written)
sys.exit(0 if ok else 1)
PY
[ "$(size_of "$work/rep/A003_d.tif")" = "32 x 24" ] || fail "developed raw file's size: $(size_of "$work/rep/A003_d.tif")"

# ---- Workers and shards give the single run's files -------------------------------------
mkdir "$work/j1" "$work/j2" "$work/shards"
check "one worker" 0 batch --percent 50 --dest "$work/j1" "$work/src"
last_err_line | grep -Eq '^DONE: 8 converted, 0 with warnings, 0 failed, 0 skipped in ' || fail "summary of one worker: $(last_err_line)"
check "two workers" 0 batch -j 2 --percent 50 --dest "$work/j2" "$work/src"
check "shard 0 of 2" 0 batch --shard 0/2 --percent 50 --dest "$work/shards" "$work/src"
last_err_line | grep -Eq '^DONE: 4 converted, 0 with warnings, 0 failed, 0 skipped in ' || fail "summary of a shard: $(last_err_line)"
check "shard 1 of 2" 0 batch --shard 1/2 --percent 50 --dest "$work/shards" "$work/src"
[ "$(ls "$work/j1" | wc -l)" -eq 8 ] || fail "one worker wrote: $(ls "$work/j1")"
for d in j2 shards; do
  [ "$(ls "$work/j1")" = "$(ls "$work/$d")" ] || fail "$d names differ: $(ls "$work/$d")"
  for f in "$work/j1"/*; do
    cmp -s "$f" "$work/$d/$(basename "$f")" || fail "$d/$(basename "$f") differs from the single run's"
  done
done
[ "$(size_of "$work/j1/A001_p01.tif")" = "15 x 25" ] || fail "scaled size: $(size_of "$work/j1/A001_p01.tif")"

# ---- The dry run names each file and writes nothing ----------------------------------------
mkdir "$work/dry"
check "dry run" 0 batch --dry-run --width 32 --dest "$work/dry" "$work/src"
[ -z "$(ls -A "$work/dry")" ] || fail "the dry run wrote: $(ls "$work/dry")"
for i in 0 1 2 3 4 5 6 7; do
  grep -q "/src/p0$i\.[a-z]* -> $work/dry/A00${i}_p0$i\.tif " "$work/out" || fail "dry run does not name p0$i"
done
grep -q "A000_p00.tif 32 x 24$" "$work/out" || fail "dry run size: $(grep A000 "$work/out")"

# ---- 1100 files: more than the cache's 1024 slots, four-digit numbers ----------------------
/usr/bin/python3 - "$work/many" <<'PY'
import os, sys
folder = sys.argv[1]
os.makedirs(folder)
# A 2 x 2 24-bit bitmap with rows padded to 4 bytes.
pixels = bytes([0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0])
header = b"BM" + (54 + len(pixels)).to_bytes(4, "little") + bytes(4) + (54).to_bytes(4, "little")
info = (40).to_bytes(4, "little") + (2).to_bytes(4, "little") + (2).to_bytes(4, "little") + \
       (1).to_bytes(2, "little") + (24).to_bytes(2, "little") + bytes(4) + \
       len(pixels).to_bytes(4, "little") + bytes(16)
for i in range(1100):
    open(os.path.join(folder, "f%04d.bmp" % i), "wb").write(header + info + pixels)
PY
mkdir "$work/manyout"
check "1100 files" 0 batch --dest "$work/manyout" --report "$work/many.jsonl" "$work/many"
last_err_line | grep -Eq '^DONE: 1100 converted, 0 with warnings, 0 failed, 0 skipped in ' || fail "1100 files: $(last_err_line)"
[ "$(ls "$work/manyout" | wc -l)" -eq 1100 ] || fail "1100 files: $(ls "$work/manyout" | wc -l) written"
for name in A000_f0000.tif A999_f0999.tif A1000_f1000.tif A1099_f1099.tif; do
  [ "$(size_of "$work/manyout/$name")" = "2 x 2" ] || fail "missing or wrong: $name"
done
[ "$(grep -c '"status":"converted"' "$work/many.jsonl" 2>/dev/null)" = 1100 ] || fail "1100 files: report"

if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
echo "Tolvane batch checks passed"
