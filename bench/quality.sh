#!/usr/bin/env bash
# The antialiasing resampler (ResampleImage, Lanczos3) against its peers on a
# generated 6000 x 4000 RGB photo, everything on one thread: medians (ms)
# with the spread of the runs, our time / the peer's, and how close each
# output comes to Lanczos3 computed in double precision.
#
#   bench/quality.sh [RUNS] [--memory-only]   (default 5 runs; --memory-only
#                                              skips the file to file table)
#
# 1. In memory (decode excluded), at 0.5, 0.25, 0.1 and 2.0, a fresh output
#    per run as callers get one: ResampleImage for every vector kernel set
#    the machine runs; libvips' vips_resize with kernel lanczos3 in process
#    (bench_vips_resize: the source marked sequential as libvips' loaders
#    mark it, the operation cache off, every output pixel computed into
#    memory inside the timed span), with `vips resize` as a command beside
#    it as a check (its wall time includes loading the PPM and saving);
#    Pillow's resize(LANCZOS), plain and with reducing_gap=3, and OpenCV's
#    INTER_AREA, both timed inside /usr/bin/python3.
#    vips_resize shrinks by a box filter first where it can (its gap 2), and
#    enlarges with a bicubic interpolator, so its quality figures are those
#    of what callers get, not of a pure Lanczos3; a row with gap=0 (no box
#    pre-shrink) shows the pure reduce beside it when shrinking. The ratios
#    are against the default.
# 2. Quality, in the same table: every output's PSNR and largest sample error against the
#    filter evaluated in double (numpy): per axis of n samples made m, output
#    j centred on c = (j + 0.5) n / m, taps from max(0, floor(c - R + 0.5))
#    to min(n, floor(c + R + 0.5)) exclusive, R = 3 max(n / m, 1), weights
#    sinc(x) sinc(x / 3) at (i + 0.5 - c) / max(n / m, 1) normalised to 1;
#    rounded and clipped to bytes only at the end.
# 3. File to file: the photo as a quality 90 JPEG made 1500 x 1000 (25 %) and
#    written as JPEG quality 85: orvix scale --filter lanczos3 against
#    vipsthumbnail and ImageMagick's convert (-define jpeg:size, -filter
#    Lanczos), each a command: median wall time and the largest peak
#    resident memory of the runs.
set -euo pipefail

usage() { echo "usage: $0 [RUNS] [--memory-only]" >&2; exit 2; }
runs=5
memory_only=
for a in "$@"; do
  case $a in
    --memory-only) memory_only=yes ;;
    *) [[ $a =~ ^[1-9][0-9]*$ ]] || usage; runs=$a ;;
  esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=${ORVIX_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peers and the reference are not needed by the library or its tests;
# install them here.
need=()
/usr/bin/python3 -c "import cv2" 2>/dev/null || need+=(python3-opencv)
/usr/bin/python3 -c "import PIL" 2>/dev/null || need+=(python3-pil)
/usr/bin/python3 -c "import numpy" 2>/dev/null || need+=(python3-numpy)
[ -x /usr/bin/vips ] && [ -x /usr/bin/vipsthumbnail ] || need+=(libvips-tools)
{ command -v pkg-config >/dev/null && pkg-config --exists vips; } || need+=(libvips-dev pkg-config)
dpkg-query -W -f='${Status}' libbenchmark-dev 2>/dev/null | grep -q "install ok installed" || need+=(libbenchmark-dev)
[ -x /usr/bin/convert ] || need+=(imagemagick)
[ -x /usr/bin/time ] || need+=(time)
install_packages "${need[@]}"

echo "building in $build ..." >&2
build_targets bench_timer bench_vips_resize orvix
timer=$build/bench/bench_timer
vips_timer=$build/bench/bench_vips_resize
orvix=$build/tools/orvix

export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1 OPENCV_FOR_THREADS_NUM=1 \
       OPENBLAS_NUM_THREADS=1

echo "generating the 6000x4000 photo ..." >&2
/usr/bin/python3 "$root/bench/make_photo.py" "$work"


# Pillow and OpenCV timed in the interpreter on the decoded photo; prints
# "name WxH median min max" per resizer and saves each last output as
# $work/NAME-FACTOR.ppm.
python_peers() {  # FACTOR
  /usr/bin/python3 - "$work" "$1" "$runs" <<'EOF'
import sys, time
import cv2
from PIL import Image
cv2.setNumThreads(1)
work, factor, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
f = float(factor)
im = Image.open(work + "/photo.ppm")
im.load()
bgr = cv2.imread(work + "/photo.ppm")
size = (int(im.width * f + 0.5), int(im.height * f + 0.5))
lanczos = getattr(Image, "Resampling", Image).LANCZOS
jobs = [
    ("pillow", lambda: im.resize(size, lanczos)),
    ("pillow-gap3", lambda: im.resize(size, lanczos, reducing_gap=3.0)),
    ("opencv", lambda: cv2.resize(bgr, size, interpolation=cv2.INTER_AREA)),
]
for name, job in jobs:
    times, out = [], None
    for _ in range(runs):
        out = None  # each run gets a fresh output, not the last one's pages
        t = time.perf_counter(); out = job(); times.append((time.perf_counter() - t) * 1000)
    times.sort()
    path = "%s/%s-%s.ppm" % (work, name, factor)
    if name == "opencv":
        cv2.imwrite(path, out)
    else:
        out.save(path)
    print("%s %dx%d %.1f %.1f %.1f" % (name, size[0], size[1], times[len(times) // 2], times[0], times[-1]))
EOF
}

# PSNR (dB) and largest sample error of each PPM against Lanczos3 in double;
# prints "path psnr maxerror" per file.
quality() {  # FACTOR PPM...
  /usr/bin/python3 - "$work/photo.ppm" "$@" <<'EOF'
import sys
import numpy as np
from PIL import Image

def axis(n, m, a=3.0):
    """Source indices and weights (m x taps) of one axis; unused taps weigh 0."""
    s = n / m
    f = max(s, 1.0)
    reach = a * f
    c = (np.arange(m) + 0.5) * s
    lo = np.maximum(0, np.floor(c - reach + 0.5)).astype(np.int64)
    hi = np.minimum(n, np.floor(c + reach + 0.5)).astype(np.int64)
    idx = lo[:, None] + np.arange(int((hi - lo).max()))[None, :]
    inside = idx < hi[:, None]
    x = (idx + 0.5 - c[:, None]) / f
    w = np.where(inside & (np.abs(x) < a), np.sinc(x) * np.sinc(x / a), 0.0)
    w /= w.sum(axis=1, keepdims=True)
    return np.where(inside, idx, lo[:, None]), w

Image.MAX_IMAGE_PIXELS = None  # the 2.0 outputs are 96 MP
src = np.asarray(Image.open(sys.argv[1]))
f = float(sys.argv[2])
h, w = src.shape[:2]
ow, oh = int(w * f + 0.5), int(h * f + 0.5)
xi, xw = axis(w, ow)
yi, yw = axis(h, oh)
# Banded rather than dense: with the reference BLAS numpy has here, dense
# products of 6000 x 1500 or 12000 x 6000 matrices would take minutes.
ref = np.empty((oh, ow, 3), np.int32)
for ch in range(3):
    plane = src[:, :, ch].astype(np.float64)
    rows = np.zeros((h, ow))
    for t in range(xi.shape[1]):
        rows += plane[:, xi[:, t]] * xw[:, t]
    out = np.zeros((oh, ow))
    for t in range(yi.shape[1]):
        out += rows[yi[:, t], :] * yw[:, t][:, None]
    ref[:, :, ch] = np.clip(np.floor(out + 0.5), 0, 255)
for path in sys.argv[3:]:
    got = np.asarray(Image.open(path).convert("RGB")).astype(np.int32)
    if got.shape != ref.shape:
        print(path, "size", "-")
        continue
    d = got - ref
    mse = np.mean(np.square(d, dtype=np.float64))
    psnr = 10 * np.log10(255.0 ** 2 / mse) if mse > 0 else float("inf")
    print(path, "%.2f" % psnr, int(np.abs(d).max()))
EOF
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
verdict() {  # VALUE <=|>= GOAL
  awk -v v="$1" -v op="$2" -v g="$3" \
    'BEGIN { if (v == "-") { printf "-"; exit } ok = (op == "<=") ? (v + 0 <= g) : (v + 0 >= g); printf "%s", ok ? "met" : "MISSED" }'
}

echo
echo "\$ bench/quality.sh $*"
echo "machine: $(getconf _NPROCESSORS_ONLN) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //');" \
     "$(/usr/bin/vips --version | head -n 1);" \
     "Pillow $(/usr/bin/python3 -c 'import PIL; print(PIL.__version__)');" \
     "OpenCV $(/usr/bin/python3 -c 'import cv2; print(cv2.__version__)');" \
     "$(/usr/bin/convert -version | head -n 1 | sed 's/^Version: //')"

# The kernel sets to time: every vector set the machine runs, widest first.
kernels=()
grep -qw avx512bw /proc/cpuinfo && kernels+=(avx512)
grep -qw avx2 /proc/cpuinfo && kernels+=(avx2)
[ ${#kernels[@]} -eq 0 ] && kernels+=(portable)

echo
echo "== In memory, 6000x4000 RGB, one thread, fresh output per run, median (min-max) of $runs (ms);"
echo "   PSNR (dB) and largest error against Lanczos3 in double precision"
line='%-6s %-34s %-11s %24s %7s %5s\n'
printf "$line" factor resizer output ms PSNR err
declare -A ms psnr
for f in 0.5 0.25 0.1 2.0; do
  outs=() labels=() keys=()
  for k in "${kernels[@]}"; do
    read -r size med lo hi < <("$timer" resample "$work/photo.ppm" "$f" "$runs" --kernels "$k" \
        --out "$work/ours-$k-$f.ppm" 2>"$work/kernels.txt")
    used=$(sed -n 's/^kernels: //p' "$work/kernels.txt")
    ms[ours-$k-$f]=$med
    outs+=("$work/ours-$k-$f.ppm"); keys+=("ours-$k-$f")
    labels+=("ours ResampleImage $used|$size|$med ($lo-$hi)")
  done
  read -r size med lo hi < <("$vips_timer" "$work/photo.ppm" "$f" "$runs" --out "$work/vips-$f.ppm")
  ms[vips-$f]=$med
  outs+=("$work/vips-$f.ppm"); keys+=("vips-$f")
  labels+=("libvips vips_resize lanczos3|$size|$med ($lo-$hi)")
  # Without the box pre-shrink: what libvips' pure Lanczos3 costs and gives.
  if [ "$f" != 2.0 ]; then
    read -r size med lo hi < <("$vips_timer" "$work/photo.ppm" "$f" "$runs" --gap 0 --out "$work/vips0-$f.ppm")
    outs+=("$work/vips0-$f.ppm"); keys+=("vips0-$f")
    labels+=("libvips vips_resize lanczos3 gap=0|$size|$med ($lo-$hi)")
  fi
  read -r med lo hi < <(median_ms /usr/bin/vips resize "$work/photo.ppm" "$work/cli.v" "$f" --kernel lanczos3)
  cli="libvips \`vips resize\` (load+save)|$size|$med ($lo-$hi)"
  while read -r name size med lo hi; do
    ms[$name-$f]=$med
    outs+=("$work/$name-$f.ppm"); keys+=("$name-$f")
    case $name in
      pillow) labels+=("Pillow resize LANCZOS|$size|$med ($lo-$hi)") ;;
      pillow-gap3) labels+=("Pillow LANCZOS reducing_gap=3|$size|$med ($lo-$hi)") ;;
      opencv) labels+=("OpenCV resize INTER_AREA|$size|$med ($lo-$hi)") ;;
    esac
  done < <(python_peers "$f")
  [ -n "${ms[opencv-$f]:-}" ] || { echo "the Pillow and OpenCV timings failed at $f" >&2; exit 1; }
  echo "  computing the reference at $f ..." >&2
  mapfile -t scores < <(quality "$f" "${outs[@]}")
  [ ${#scores[@]} -eq ${#outs[@]} ] || { echo "the quality reference failed at $f" >&2; exit 1; }
  for i in "${!outs[@]}"; do
    read -r _ p e <<<"${scores[$i]}"
    psnr[${keys[$i]}]=$p
    IFS='|' read -r label size timing <<<"${labels[$i]}"
    printf "$line" "$f" "$label" "$size" "$timing" "$p" "$e"
    # The command's row goes under the in-process ones it checks.
    if [ "${keys[$i]}" = "vips0-$f" ] || { [ "$f" = 2.0 ] && [ "${keys[$i]}" = "vips-$f" ]; }; then
      IFS='|' read -r label size timing <<<"$cli"
      printf "$line" "$f" "$label" "$size" "$timing" "" ""
    fi
  done
  rm -f "${outs[@]}" "$work/cli.v"
done

echo
echo "== Ours against the peers (medians above); goals: ours / libvips <= 0.5,"
echo "   ours / Pillow LANCZOS <= 0.15, PSNR >= 45 dB"
line='%-6s %-9s %13s %7s %13s %7s %7s %7s\n'
printf "$line" factor kernels "ours/libvips" "" "ours/Pillow" "" PSNR ""
for f in 0.5 0.25 0.1 2.0; do
  for k in "${kernels[@]}"; do
    rv=$(ratio "${ms[ours-$k-$f]}" "${ms[vips-$f]}")
    rp=$(ratio "${ms[ours-$k-$f]}" "${ms[pillow-$f]}")
    p=${psnr[ours-$k-$f]}
    printf "$line" "$f" "$k" "$rv" "$(verdict "$rv" "<=" 0.5)" "$rp" "$(verdict "$rp" "<=" 0.15)" \
        "$p" "$(verdict "$p" ">=" 45)"
  done
done

[ "$memory_only" = yes ] && exit 0

# Median wall ms (min-max) and the largest peak resident memory (MiB) of
# $runs runs of a command; prints "median min max MiB".
file_job() {
  local times=() peak=0 start end kib
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss.txt" "$@" >/dev/null 2>"$work/err.txt" ||
      { echo "failed: $*" >&2; cat "$work/err.txt" >&2; return 1; }
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
    kib=$(tail -n 1 "$work/rss.txt")
    if [ "$kib" -gt "$peak" ]; then peak=$kib; fi
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v kib="$peak" '{ a[NR] = $1 }
    END { printf "%.1f %.1f %.1f %.1f\n", a[int((NR + 1) / 2)] / 1000, a[1] / 1000, a[NR] / 1000, kib / 1024 }'
}

echo
echo "== File to file: 6000x4000 JPEG q90 -> 1500x1000 (25 %) JPEG q85, one thread, median (min-max)"
echo "   of $runs (ms) and the largest peak resident memory (MiB); goals against vipsthumbnail:"
echo "   time <= 0.9, memory <= 1.0"
jpg=$work/photo.jpg
res=$(file_job "$orvix" scale "$jpg" "$work/o.jpg" 0.25 --filter lanczos3 --quality 85)
read -r o_med o_lo o_hi o_mib <<<"$res"
res=$(file_job /usr/bin/vipsthumbnail "$jpg" --size 1500x1000 -o "$work/v.jpg[Q=85]")
read -r v_med v_lo v_hi v_mib <<<"$res"
res=$(file_job /usr/bin/convert -define jpeg:size=3000x2000 "$jpg" -filter Lanczos -resize 1500x1000 \
      -quality 85 "$work/i.jpg")
read -r i_med i_lo i_hi i_mib <<<"$res"
line='%-48s %24s %9s\n'
printf "$line" command ms "peak MiB"
printf "$line" "orvix scale 0.25 --filter lanczos3 --quality 85" "$o_med ($o_lo-$o_hi)" "$o_mib"
printf "$line" "vipsthumbnail --size 1500x1000 [Q=85]" "$v_med ($v_lo-$v_hi)" "$v_mib"
printf "$line" "convert -define jpeg:size -filter Lanczos" "$i_med ($i_lo-$i_hi)" "$i_mib"
rt=$(ratio "$o_med" "$v_med")
rmem=$(ratio "$o_mib" "$v_mib")
echo "ours / vipsthumbnail: time $rt ($(verdict "$rt" "<=" 0.9)), memory $rmem ($(verdict "$rmem" "<=" 1.0));" \
     "ours / ImageMagick: time $(ratio "$o_med" "$i_med"), memory $(ratio "$o_mib" "$i_mib")"
# What each wrote: the sizes and chroma sampling change the work.
printf 'outputs (size, Y,Cb,Cr sampling, bytes):'
for who in o:orvix v:vipsthumbnail i:ImageMagick; do
  f=$work/${who%%:*}.jpg
  printf ' %s %s %s;' "${who#*:}" "$(/usr/bin/identify -format '%wx%h %[jpeg:sampling-factor]' "$f" 2>/dev/null || echo '?')" \
      "$(stat -c %s "$f")"
done
echo
