#!/bin/bash
# Tolvane --batch under faults: runs at once into one folder, names already
# taken, a full disk, stop signals, a killed worker, folders named "crop",
# and leftovers of a killed run. No output is ever lost, overwritten or left
# half-written under its final name, and every file is accounted for.
set -u
tolvane=$(realpath "$1")
work=$(mktemp -d)
cleanup() {
  mountpoint -q "$work/full" 2>/dev/null && umount "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# The runs' working folders go below $work/tmp, so the test can see them go.
mkdir "$work/tmp" "$work/cwd"
export TMPDIR=$work/tmp
run() { (cd "$work/cwd" && exec "$tolvane" --batch --quiet "$@"); }
# spawn CMD...: CMD in the background, its process id in $pid. With job
# control on, it does not inherit the ignored SIGINT of a script's
# background job.
spawn() {
  cd "$work/cwd" || return
  set -m
  "$@" &
  pid=$!
  set +m
  cd - >/dev/null || return
}
start() { spawn "$tolvane" --batch --quiet "$@"; }
# stop WHAT SIG: sends SIG to $pid and expects it to end with 128 + SIG.
stop() {
  kill -"$2" "$pid"
  wait "$pid" 2>/dev/null
  local status=$? want=$((128 + $(kill -l "$2")))
  [ "$status" -eq "$want" ] || fail "$1: exit $status, expected $want"
}

# verify DEST REPORT... : every file under a final name in DEST reads whole;
# no temporary file is left; each "converted" line names a file that exists
# with the width the line's report asked for (REPORT may be "file:percent"),
# and DEST holds exactly the converted files.
verify() {
  /usr/bin/python3 - "$@" <<'PY' || fail "verify $*"
import json, os, sys
from PIL import Image
dest, reports = sys.argv[1], sys.argv[2:]
bad = []
names = sorted(os.listdir(dest))
for n in names:
    if n.startswith(".tolvane-partial-"):
        bad.append("temporary file left: " + n)
        continue
    path = os.path.join(dest, n)
    if os.path.islink(path) or os.path.isdir(path):
        continue
    try:
        Image.open(path).load()
    except Exception as e:
        bad.append("%s does not read whole: %s" % (n, e))
converted = set()
for entry in reports:
    report, _, percent = entry.partition(":")
    for line in open(report):
        r = json.loads(line)
        if r["status"] != "converted":
            continue
        out = r["output"]
        if out in converted:
            bad.append("two conversions claim " + out)
        converted.add(out)
        if not os.path.isfile(out):
            bad.append("converted but missing: " + out)
        elif percent:
            width = Image.open(out).size[0]
            want = int(Image.open(r["source"]).size[0] * float(percent) / 100 + 0.5)
            if width != want:
                bad.append("%s is %d wide, its run asked for %d" % (out, width, want))
plain = {os.path.join(dest, n) for n in names
         if not n.startswith(".") and os.path.isfile(os.path.join(dest, n)) and not os.path.islink(os.path.join(dest, n))}
if reports and plain != converted:
    bad.append("files without a conversion: %s; conversions without a file: %s"
               % (sorted(plain - converted)[:5], sorted(converted - plain)[:5]))
for b in bad[:10]:
    print("  " + b)
sys.exit(1 if bad else 0)
PY
}

# Noise photos with EXIF, so the metadata rewrite runs too (PIL: python3-pil).
photos() {  # photos FOLDER COUNT WIDTH HEIGHT
  /usr/bin/python3 - "$@" <<'PY'
import os, sys
from PIL import Image
folder, n, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
os.makedirs(folder, exist_ok=True)
exif = Image.Exif()
exif[0x010F] = "Test camera"
for i in range(n):
    Image.effect_noise((w, h), 40 + i).convert("RGB").save(
        os.path.join(folder, "p%02d.jpg" % i), quality=90, exif=exif)
PY
}
photos "$work/small" 12 320 240
photos "$work/big" 12 2000 1500

# wait_for FILE_GLOB: until a final name exists (at most 60 s).
wait_for() {
  for _ in $(seq 3000); do
    compgen -G "$1" >/dev/null && return 0
    sleep 0.02
  done
  return 1
}

# ---- Runs at once into one folder --------------------------------------------------------
mkdir "$work/together"
for round in 1 2 3; do
  run --percent 30 --report "$work/t30.$round" --dest "$work/together" "$work/small" >/dev/null 2>&1 &
  a=$!
  run -j 2 --percent 40 --report "$work/t40.$round" --dest "$work/together" "$work/small" >/dev/null 2>&1 &
  b=$!
  wait $a || fail "round $round: the 30 % run failed"
  wait $b || fail "round $round: the 40 % run failed"
done
[ "$(ls "$work/together" | wc -l)" -eq 72 ] || fail "72 conversions left $(ls "$work/together" | wc -l) files"
verify "$work/together" "$work"/t30.{1,2,3}:30 "$work"/t40.{1,2,3}:40

# ---- Names already taken: left alone, the next letter used -------------------------------
mkdir "$work/taken" "$work/victim"
echo victim >"$work/victim/kept.jpg"
ln -s ../victim/new.jpg "$work/taken/A001_p01.jpg"
ln -s ../victim/kept.jpg "$work/taken/A002_p02.jpg"
mkdir "$work/taken/A003_p03.jpg"
run --format jpeg --report "$work/taken.jsonl" --dest "$work/taken" "$work/small" >/dev/null 2>&1 ||
  fail "run beside taken names"
[ ! -e "$work/victim/new.jpg" ] || fail "a dangling link was followed"
[ "$(cat "$work/victim/kept.jpg")" = victim ] || fail "a link to a file was written through"
[ -d "$work/taken/A003_p03.jpg" ] || fail "the folder at an output name was touched"
for n in B001_p01.jpg B002_p02.jpg B003_p03.jpg A004_p04.jpg; do
  [ -f "$work/taken/$n" ] || fail "taken names: $n missing"
done
verify "$work/taken" "$work/taken.jsonl"

# ---- Folders named crop -------------------------------------------------------------------
mkdir -p "$work/crop/in" "$work/crop/out"
cp "$work/small/p00.jpg" "$work/small/p01.jpg" "$work/crop/in/"
for round in 1 2; do
  run --report "$work/crop.$round" --dest "$work/crop/out" "$work/crop/in" >/dev/null 2>&1 ||
    fail "crop folders: run $round failed: $(grep -o '"reason":"[^"]*"' "$work/crop.$round" | head -1)"
done
[ "$(ls "$work/crop/out")" = "$(printf 'A000_p00.tif\nA001_p01.tif\nB000_p00.tif\nB001_p01.tif')" ] ||
  fail "crop folders wrote: $(ls "$work/crop/out")"
[ ! -e "$work/Arop" ] && [ ! -e "$work/Brop" ] || fail "a folder's name was stepped like a file's"

# ---- Leftovers of a killed run -------------------------------------------------------------
mkdir "$work/left"
true &
dead=$!
wait $dead
host=$(hostname)
touch "$work/left/.tolvane-partial-$host-$dead-1.tif" "$work/left/.tolvane-partial-$host-$$-1.tif"
mkdir "$work/tmp/tolvane-$host-$dead-abcdef"
run --dest "$work/left" "$work/crop/in" >/dev/null 2>&1 || fail "run beside leftovers"
[ ! -e "$work/left/.tolvane-partial-$host-$dead-1.tif" ] || fail "a dead run's partial output stayed"
[ -e "$work/left/.tolvane-partial-$host-$$-1.tif" ] || fail "a live process's partial output was removed"
[ ! -e "$work/tmp/tolvane-$host-$dead-abcdef" ] || fail "a dead run's working folder stayed"
rm "$work/left/.tolvane-partial-$host-$$-1.tif"

# ---- Stop signals ---------------------------------------------------------------------------
# The run ends between files with 128 + the signal, keeps every converted
# file whole, accounts for the others as interrupted and removes its
# working folder.
for case in INT:1 TERM:1 HUP:1 INT:2 TERM:2; do
  sig=${case%%:*} jobs=${case##*:}
  dest=$work/sig-$sig-$jobs
  mkdir "$dest"
  start -j "$jobs" --percent 200 --report "$dest.jsonl" --dest "$dest" "$work/big" >/dev/null 2>"$dest.err"
  wait_for "$dest/A00*" || fail "SIG$sig -j $jobs: no output appeared"
  stop "SIG$sig -j $jobs" "$sig"
  grep -q "^INTERRUPTED by SIG$sig: " "$dest.err" || fail "SIG$sig -j $jobs: summary: $(tail -1 "$dest.err")"
  [ "$(wc -l <"$dest.jsonl")" -eq 12 ] || fail "SIG$sig -j $jobs: $(wc -l <"$dest.jsonl") report lines for 12 files"
  grep -q "\"status\":\"interrupted\",\"reason\":\"interrupted by SIG$sig\"" "$dest.jsonl" ||
    fail "SIG$sig -j $jobs: no file reported interrupted"
  verify "$dest" "$dest.jsonl:200"
  [ -z "$(ls -A "$work/tmp")" ] || fail "SIG$sig -j $jobs: working folder left: $(ls "$work/tmp")"
done

# ---- The window, told to stop ------------------------------------------------------------------
for sig in TERM INT; do
  QT_QPA_PLATFORM=offscreen spawn "$tolvane" "$work/small/p00.jpg" >/dev/null 2>&1
  wait_for "$work/tmp/tolvane-*" || fail "window: no working folder appeared"
  stop "window, SIG$sig" "$sig"
  ! compgen -G "$work/tmp/tolvane-*" >/dev/null || fail "window, SIG$sig: working folder left: $(ls "$work/tmp")"
done

# ---- A killed worker ------------------------------------------------------------------------
dest=$work/killed
mkdir "$dest"
start -j 2 --percent 200 --report "$dest.jsonl" --dest "$dest" "$work/big" >/dev/null 2>"$dest.err"
wait_for "$dest/A00*" || fail "killed worker: no output appeared"
worker=$(pgrep -P "$pid" | head -1)
kill -KILL "$worker"
wait "$pid"
status=$?
[ "$status" -eq 1 ] || fail "killed worker: exit $status, expected 1"
[ "$(wc -l <"$dest.jsonl")" -eq 12 ] || fail "killed worker: $(wc -l <"$dest.jsonl") report lines for 12 files"
lost=$(grep -c '"status":"failed","reason":"worker ended by signal 9"' "$dest.jsonl")
[ "$lost" -gt 0 ] || fail "killed worker: none of its files reported failed"
grep -Eq "^DONE: [0-9]+ converted, 0 with warnings, $lost failed, 0 skipped in " "$dest.err" ||
  fail "killed worker: summary: $(tail -1 "$dest.err")"
verify "$dest" "$dest.jsonl:200"

# ---- One worker told to stop, the run not -----------------------------------------------------
dest=$work/worker-term
mkdir "$dest"
start -j 2 --percent 200 --report "$dest.jsonl" --dest "$dest" "$work/big" >/dev/null 2>"$dest.err"
wait_for "$dest/A00*" || fail "worker SIGTERM: no output appeared"
kill -TERM "$(pgrep -P "$pid" | head -1)"
wait "$pid"
status=$?
[ "$status" -eq 1 ] || fail "worker SIGTERM: exit $status, expected 1"
grep -q '"reason":"worker stopped by SIGTERM"' "$dest.jsonl" || fail "worker SIGTERM: its files not reported"
grep -Eq "^DONE: [0-9]+ converted, 0 with warnings, [1-9][0-9]* failed, 0 skipped in " "$dest.err" ||
  fail "worker SIGTERM: summary: $(tail -1 "$dest.err")"
verify "$dest" "$dest.jsonl:200"

# ---- A script around a run stops with it ------------------------------------------------------
mkdir "$work/script"
set -m
(cd "$work/cwd" && "$tolvane" --batch --quiet --percent 200 --dest "$work/script" "$work/big" >/dev/null 2>&1;
 touch "$work/script-went-on") &
group=$!
set +m
wait_for "$work/script/A00*" || fail "script: no output appeared"
kill -INT -- "-$group"
wait "$group"
[ ! -e "$work/script-went-on" ] || fail "the script went on after its run was stopped by SIGINT"

# ---- A full disk ------------------------------------------------------------------------------
mkdir "$work/full"
if mount -t tmpfs -o size=3m tmpfs "$work/full" 2>/dev/null; then
  for format in tiff jpeg; do
    run --format "$format" --percent 150 --report "$work/full-$format.jsonl" --dest "$work/full" "$work/small" \
      >/dev/null 2>&1
    [ $? -eq 1 ] || fail "full disk ($format): the run did not fail"
    grep -q '"status":"failed","reason":"[^"]*No space left on device' "$work/full-$format.jsonl" ||
      fail "full disk ($format): no reason names the disk: $(grep -m1 failed "$work/full-$format.jsonl")"
  done
  verify "$work/full" "$work/full-tiff.jsonl" "$work/full-jpeg.jsonl"
else
  echo "SKIP full disk: a tmpfs cannot be mounted here (needs root)"
fi

if [ "$failures" -ne 0 ]; then echo "$failures checks failed"; exit 1; fi
echo "Tolvane batch safety checks passed"
