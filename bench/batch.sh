#!/usr/bin/env bash
# Times Tolvane's headless batch on a folder of 40 photo-like 3000 x 2000 JPEGs
# (quality 90) scaled to 50 %, against ImageMagick's mogrify and libvips'
# vips resize doing the same, and measures the batch's cost per file on 200
# images of 1 x 1 pixel. Prints the median of RUNS runs of each, in ms per
# file, with our time / the peer's. Then Tolvane's default resizing at 25 %
# into JPEG quality 85 with -j 2 against vipsthumbnail run once per file, two
# at a time, on one thread each. The default is whatever the built Tolvane
# has: that table's heading says whether it offers --exact (the smooth
# resizing is then the default), and if so --exact is timed too.
#
#   bench/batch.sh [RUNS]        (default 3)
#
# Each timed run writes into a fresh, empty output folder. The peers run with
# their default threads; Tolvane with -j 1 and -j 2 worker processes.
# The pictures are generated once and kept in build-bench/batch-photos/.
# Exits non-zero as soon as any timed command fails.
set -euo pipefail

runs=${1:-3}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=$root/build-bench
cache=$build/batch-photos
photos=$cache/photos
tiny=$cache/tiny
n_photos=40
n_tiny=200
version_calls=20

# --- What the run needs --------------------------------------------------
"$root/scripts/setup.sh" >&2
need=()
[ -x /usr/bin/mogrify ] || need+=(imagemagick)
[ -x /usr/bin/vips ] && [ -x /usr/bin/vipsthumbnail ] || need+=(libvips-tools)
/usr/bin/python3 -c "import PIL" 2>/dev/null || need+=(python3-pil)
install_packages "${need[@]}"

echo "building Tolvane in $build ..." >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target Tolvane >/dev/null
tolvane=$build/program/Tolvane
[ -x "$tolvane" ] || { echo "no $tolvane after the build" >&2; exit 1; }

# --- The pictures, made once ----------------------------------------------
stamp=$cache/.complete-1
if [ ! -f "$stamp" ]; then
  echo "generating $n_photos photos of 3000x2000 and $n_tiny of 1x1 in $cache ..." >&2
  rm -rf "$photos" "$tiny"
  mkdir -p "$photos" "$tiny"
  /usr/bin/python3 - "$photos" "$tiny" "$n_photos" "$n_tiny" <<'EOF'
import os, random, sys
from multiprocessing import Pool
from PIL import Image, ImageDraw, ImageFilter

photos, tiny, n_photos, n_tiny = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
W, H = 3000, 2000

def noise(rnd, mode, size):
    bands = len(mode)
    return Image.frombytes(mode, size, rnd.randbytes(size[0] * size[1] * bands))

def photo(i):
    rnd = random.Random(7919 * (i + 1))
    # Smooth light: a coarse random field blown up and blurred.
    coarse = noise(rnd, "RGB", (rnd.randrange(3, 7), rnd.randrange(2, 5)))
    sw, sh = W // 8, H // 8
    base = coarse.resize((sw, sh), Image.BICUBIC).filter(ImageFilter.GaussianBlur(sw / 20))
    base = base.resize((W, H), Image.BICUBIC)
    # Objects with edges.
    draw = ImageDraw.Draw(base)
    for _ in range(rnd.randrange(8, 16)):
        x, y = rnd.randrange(W), rnd.randrange(H)
        r = rnd.randrange(40, 400)
        colour = tuple(rnd.randrange(256) for _ in range(3))
        if rnd.random() < 0.5:
            draw.ellipse((x - r, y - r, x + r, y + r), fill=colour)
        else:
            draw.rectangle((x - r, y - r // 2, x + r, y + r // 2), fill=colour)
    # Mid-scale texture (foliage, cloth) over everything: noise at a quarter
    # to an eighth of the size, blown up.
    texture = noise(rnd, "RGB", (W // rnd.randrange(4, 9), H // rnd.randrange(4, 9)))
    base = Image.blend(base, texture.resize((W, H), Image.BICUBIC), rnd.uniform(0.1, 0.25))
    base = base.filter(ImageFilter.GaussianBlur(1.2))
    # Fine sensor grain.
    base = Image.blend(base, noise(rnd, "RGB", (W, H)), 0.06)
    base.save(os.path.join(photos, "photo_%03d.jpg" % i), quality=90)
    return i

with Pool(min(2, os.cpu_count() or 1)) as pool:
    for _ in pool.imap_unordered(photo, range(n_photos)):
        pass
for i in range(n_tiny):
    rnd = random.Random(104729 + i)
    Image.new("RGB", (1, 1), tuple(rnd.randrange(256) for _ in range(3))).save(
        os.path.join(tiny, "tiny_%03d.jpg" % i), quality=90)
EOF
  touch "$stamp"
fi

work=$(mktemp -d "$build/batch-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$work/out

# Read the sources once so the first timed run does not pay for the disk.
cat "$photos"/*.jpg "$tiny"/*.jpg >/dev/null

# --- Timing ------------------------------------------------------------------

# time_median NAME EXPECTED_OUTPUTS IS_TOLVANE CMD...
# Runs CMD $runs times, each into a fresh empty $out, and leaves the median
# wall time in ms in $median. Stops the script if CMD fails. With $keep set,
# the first run's first output is kept as $work/kept-$keep.
median=
keep=
time_median() {
  local name=$1 expected=$2 is_tolvane=$3; shift 3
  local times=() i t0 t1 rc made done_line first
  for ((i = 0; i < runs; i++)); do
    rm -rf "$out"; mkdir -p "$out"
    t0=${EPOCHREALTIME/[.,]/}
    rc=0
    "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
    t1=${EPOCHREALTIME/[.,]/}
    if [ "$rc" -ne 0 ]; then
      echo "FAILED: $name, run $((i + 1)), exit status $rc: $*" >&2
      tail -n 20 "$work/stderr" >&2
      exit 1
    fi
    times+=($((10#$t1 - 10#$t0)))
    made=$(find "$out" -type f | wc -l)
    if [ "$made" -ne "$expected" ]; then
      echo "warning: $name wrote $made files, expected $expected" >&2
    fi
    if [ "$i" -eq 0 ] && [ -n "$keep" ]; then
      first=$(find "$out" -type f | sort | head -n 1)
      [ -n "$first" ] && cp "$first" "$work/kept-$keep"
    fi
    if [ "$i" -eq 0 ] && [ "$is_tolvane" = yes ]; then
      done_line=$(grep '^DONE:' "$work/stderr" | tail -n 1 || true)
      printf '  %-26s %s\n' "$name" "${done_line:-(no DONE line on stderr)}"
    fi
  done
  median=$(printf '%s\n' "${times[@]}" | sort -n |
    awk '{ a[NR] = $1 } END { m = (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; printf "%.3f", m / 1000 }')
}

mogrify_to() {  # EXT [OPTIONS...]
  local ext=$1; shift
  (cd "$photos" && /usr/bin/mogrify -path "$out" -filter Catrom -resize 50% -format "$ext" "$@" ./*.jpg)
}
vips_to() {  # SUFFIX, e.g. ".tif" or ".jpg[Q=90]"
  local f stem
  for f in "$photos"/*.jpg; do
    stem=$(basename "$f" .jpg)
    /usr/bin/vips resize "$f" "$out/$stem$1" 0.5 --kernel cubic || return
  done
}
# One vipsthumbnail per file, two at a time: what a shell loop over a folder
# does, each process on one thread. The photos are all 3000 x 2000.
vipsthumbnail_to() {
  printf '%s\0' "$photos"/*.jpg |
    VIPS_CONCURRENCY=1 xargs -0 -n 1 -P 2 /usr/bin/vipsthumbnail --size 750x500 -o "$out/%s.jpg[Q=85]"
}
version_loop() {
  local k
  for ((k = 0; k < version_calls; k++)); do "$tolvane" --batch --version || return; done
}

declare -A ms
per_file() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.2f", t / n }'; }

echo
echo "machine: $(nproc) cores; $(/usr/bin/vips --version 2>/dev/null | head -n 1);" \
     "$(/usr/bin/mogrify -version | head -n 1 | sed 's/^Version: //')"
echo "Tolvane: $("$tolvane" --batch --version 2>&1 | head -n 1)"
echo "median of $runs run(s); DONE lines of each configuration's first run:"

for j in 1 2; do
  time_median "Tolvane TIFF -j $j" $n_photos yes \
    "$tolvane" --batch --quiet --percent 50 --format tiff --dest "$out" -j $j "$photos"
  ms[tiff_j$j]=$(per_file "$median" $n_photos)
done
for j in 1 2; do
  keep=""; [ $j = 1 ] && keep=tolvane.jpg
  time_median "Tolvane JPEG q90 -j $j" $n_photos yes \
    "$tolvane" --batch --quiet --percent 50 --format jpeg --quality 90 --dest "$out" -j $j "$photos"
  ms[jpeg_j$j]=$(per_file "$median" $n_photos)
done
keep=""
time_median "ImageMagick TIFF" $n_photos no mogrify_to tif
ms[im_tiff]=$(per_file "$median" $n_photos)
keep=imagemagick.jpg
time_median "ImageMagick JPEG" $n_photos no mogrify_to jpg -quality 90
keep=""
ms[im_jpeg]=$(per_file "$median" $n_photos)
time_median "libvips TIFF" $n_photos no vips_to .tif
ms[vips_tiff]=$(per_file "$median" $n_photos)
keep=libvips.jpg
time_median "libvips JPEG" $n_photos no vips_to '.jpg[Q=90]'
keep=""
ms[vips_jpeg]=$(per_file "$median" $n_photos)
time_median "Tolvane 200 x 1x1" $n_tiny yes \
  "$tolvane" --batch --quiet --percent 100 --format jpeg --dest "$out" "$tiny"
ms[overhead]=$(per_file "$median" $n_tiny)
time_median "Tolvane --batch --version" 0 no version_loop
ms[startup]=$(per_file "$median" $version_calls)
# A Tolvane without --exact has only the exact path, which is then its default.
has_exact=no
help=$("$tolvane" --batch --help 2>&1 || true)
[[ $help == *--exact* ]] && has_exact=yes
keep=tolvane25.jpg
time_median "Tolvane 25% -j 2" $n_photos yes \
  "$tolvane" --batch --quiet --percent 25 --format jpeg --quality 85 -j 2 --dest "$out" "$photos"
ms[q25_j2]=$(per_file "$median" $n_photos)
keep=""
if [ $has_exact = yes ]; then
  time_median "Tolvane 25% -j 2 --exact" $n_photos yes \
    "$tolvane" --batch --quiet --percent 25 --format jpeg --quality 85 -j 2 --exact --dest "$out" "$photos"
  ms[q25_exact]=$(per_file "$median" $n_photos)
fi
keep=vipsthumbnail.jpg
time_median "vipsthumbnail q85 -P 2" $n_photos no vipsthumbnail_to
ms[thumbnail]=$(per_file "$median" $n_photos)
keep=""

# --- The table -----------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
verdict() { awk -v v="$1" -v op="$2" -v t="$3" \
  'BEGIN { ok = (op == "<=") ? (v <= t) : (v < t); printf "%s", ok ? "met" : "MISSED" }'; }

row() {  # LABEL MS [PEER_IM PEER_VIPS] [TARGET]
  local label=$1 v=$2 im=${3:-} vp=${4:-} target=${5:-} r_im="" r_vp=""
  [ -n "$im" ] && r_im=$(ratio "$v" "$im")
  [ -n "$vp" ] && r_vp=$(ratio "$v" "$vp")
  printf '%-28s %10s %10s %10s   %s\n' "$label" "$v" "$r_im" "$r_vp" "$target"
}

echo
echo "== 40 JPEGs 3000x2000 q90 -> 50 %, ms per file (median of $runs); ratio = ours / peer"
printf '%-28s %10s %10s %10s   %s\n' "" "ms/file" "/ImageMag" "/libvips" "target"
r_im=$(ratio "${ms[tiff_j2]}" "${ms[im_tiff]}")
r_vp=$(ratio "${ms[tiff_j2]}" "${ms[vips_tiff]}")
row "Tolvane TIFF -j 1" "${ms[tiff_j1]}" "${ms[im_tiff]}" "${ms[vips_tiff]}"
row "Tolvane TIFF -j 2" "${ms[tiff_j2]}" "${ms[im_tiff]}" "${ms[vips_tiff]}" \
  "<= 0.3 x ImageMagick: $(verdict "$r_im" "<=" 0.3); <= 0.8 x libvips: $(verdict "$r_vp" "<=" 0.8)"
row "Tolvane JPEG q90 -j 1" "${ms[jpeg_j1]}" "${ms[im_jpeg]}" "${ms[vips_jpeg]}"
row "Tolvane JPEG q90 -j 2" "${ms[jpeg_j2]}" "${ms[im_jpeg]}" "${ms[vips_jpeg]}"
row "ImageMagick mogrify TIFF" "${ms[im_tiff]}"
row "ImageMagick mogrify JPEG q90" "${ms[im_jpeg]}"
row "libvips resize TIFF" "${ms[vips_tiff]}"
row "libvips resize JPEG Q=90" "${ms[vips_jpeg]}"
echo
echo "== Headless overhead, ms (median of $runs)"
row "per file, 200 x 1x1 JPEG" "${ms[overhead]}" "" "" "< 5 ms: $(verdict "${ms[overhead]}" "<" 5)"
row "start-up (--batch --version)" "${ms[startup]}"
echo
echo "== 40 JPEGs 3000x2000 q90 -> 25 % JPEG q85, two at a time, ms per file (median of $runs)"
if [ $has_exact = yes ]; then
  echo "   Tolvane offers --exact: its default is the smooth resizing"
else
  echo "   Tolvane has no --exact yet: its default is still the exact path"
fi
printf '%-34s %10s %14s   %s\n' "" "ms/file" "/vipsthumbnail" "target"
r_vt=$(ratio "${ms[q25_j2]}" "${ms[thumbnail]}")
printf '%-34s %10s %14s   %s\n' "Tolvane default -j 2" "${ms[q25_j2]}" "$r_vt" \
  "<= 0.5 x vipsthumbnail: $(verdict "$r_vt" "<=" 0.5)"
if [ $has_exact = yes ]; then
  printf '%-34s %10s %14s\n' "Tolvane --exact -j 2" "${ms[q25_exact]}" "$(ratio "${ms[q25_exact]}" "${ms[thumbnail]}")"
fi
printf '%-34s %10s\n' "vipsthumbnail, a process per file" "${ms[thumbnail]}"
echo
# The JPEG writers need not pick the same chroma subsampling at quality 90,
# which changes their work: show what each wrote.
printf 'First JPEG output of each (size, Y,Cb,Cr sampling):'
for who in tolvane imagemagick libvips tolvane25 vipsthumbnail; do
  f=$work/kept-$who.jpg
  if [ -f "$f" ]; then
    printf ' %s %s;' "$who" "$(/usr/bin/identify -format '%wx%h %[jpeg:sampling-factor]' "$f" 2>/dev/null || echo '?')"
  fi
done
echo
