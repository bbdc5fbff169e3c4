#!/usr/bin/env bash
# Compares the library with its peers on a generated 6000 x 4000 RGB photo,
# everything on one thread, and prints medians (ms) and our time / the peer's.
#
#   bench/peers.sh [RUNS] [--memory-only]   (default 5 runs; --memory-only
#                                            stops after part 1)
#
# 1. In memory (decode excluded): ScaleImage against OpenCV's cv::resize with
#    INTER_CUBIC, the four-tap interpolator of the same class, at 0.5, 0.25, 2.0.
#    Every run scales into a fresh output, as callers do and as cv::resize
#    returns a new array, so first-touch page faults are counted on both
#    sides. Our figure is given for each vector kernel set the machine runs
#    (AVX-512 and AVX2 on an AVX-512 machine), each against the same OpenCV
#    figure; min and max of the runs show the spread.
# 2. File to file at 0.5, JPEG in, uncompressed TIFF and JPEG (quality 85) out:
#    the orvix tool against OpenCV (imread, resize, imwrite), ImageMagick
#    (-filter Catrom -resize) and libvips (resize --kernel cubic). orvix,
#    ImageMagick and libvips are timed as commands; OpenCV inside its
#    interpreter, so that Python's start is not counted against it.
#    Quality 85 keeps every writer on 4:2:0 chroma (some switch it off at 90).
# 3. Peak resident memory of Low_Memory_ScaleImage (orvix scale --low-memory)
#    by /usr/bin/time -v, against the size of the decoded source.
# 4. A 400-pixel thumbnail of an uncompressed 6000 x 4000 TIFF against reading
#    that TIFF whole, both in process.
set -euo pipefail

runs=${1:-5}
memory_only=${2:-}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=${ORVIX_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The peers are not needed by the library or its tests; install them here.
need=()
/usr/bin/python3 -c "import cv2" 2>/dev/null || need+=(python3-opencv)
/usr/bin/python3 -c "import PIL" 2>/dev/null || need+=(python3-pil)
[ -x /usr/bin/vips ] || need+=(libvips-tools)
[ -x /usr/bin/convert ] || need+=(imagemagick)
[ -x /usr/bin/time ] || need+=(time)
install_packages "${need[@]}"

echo "building in $build ..." >&2
build_targets bench_timer orvix
timer=$build/bench/bench_timer
orvix=$build/tools/orvix

export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 VIPS_CONCURRENCY=1 OPENCV_FOR_THREADS_NUM=1

echo "generating the 6000x4000 photo ..." >&2
/usr/bin/python3 "$root/bench/make_photo.py" "$work"

# The median alone of lib.sh's median_ms.
median_of() { median_ms "$@" | cut -d' ' -f1; }

# OpenCV timed in its interpreter: mode "memory" (resize only) or an output file.
opencv_ms() {
  /usr/bin/python3 - "$work/photo.jpg" "$runs" "$@" <<'EOF'
import sys, time
import cv2
cv2.setNumThreads(1)
src, runs, mode, factor = sys.argv[1], int(sys.argv[2]), sys.argv[3], float(sys.argv[4])
params = [cv2.IMWRITE_TIFF_COMPRESSION, 1] if mode.endswith(".tif") else [cv2.IMWRITE_JPEG_QUALITY, 85]
a = cv2.imread(src)
size = (int(a.shape[1] * factor + 0.5), int(a.shape[0] * factor + 0.5))
def job():
    if mode == "memory":
        cv2.resize(a, size, interpolation=cv2.INTER_CUBIC)
    else:
        b = cv2.resize(cv2.imread(src), size, interpolation=cv2.INTER_CUBIC)
        cv2.imwrite(mode, b, params)
times = []
for _ in range(runs):
    t = time.perf_counter(); job(); times.append((time.perf_counter() - t) * 1000)
times.sort()
print("%.1f %.1f %.1f" % (times[len(times) // 2], times[0], times[-1]))
EOF
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }

echo
# The kernel sets to time: every vector set the machine runs, widest first.
kernels=()
grep -qw avx512bw /proc/cpuinfo && kernels+=(avx512)
grep -qw avx2 /proc/cpuinfo && kernels+=(avx2)
[ ${#kernels[@]} -eq 0 ] && kernels+=(portable)

echo "== In memory, 6000x4000 RGB, fresh output per run, median (min-max) of $runs (ms);"
echo "   ratio = ours / OpenCV median (target <= 0.5)"
printf '%-7s %-8s %-11s %21s %21s %6s\n' factor kernels output ours OpenCV ratio
for f in 0.5 0.25 2.0; do
  read -r cv cv_min cv_max < <(opencv_ms memory "$f")
  for k in "${kernels[@]}"; do
    # The timer names on stderr the kernels it ended up using.
    read -r out ours ours_min ours_max < <("$timer" scale "$work/photo.ppm" "$f" "$runs" --kernels "$k" \
        2>"$work/kernels.txt")
    used=$(sed -n 's/^kernels: //p' "$work/kernels.txt")
    printf '%-7s %-8s %-11s %21s %21s %6s\n' "$f" "$used" "$out" "$ours ($ours_min-$ours_max)" \
        "$cv ($cv_min-$cv_max)" "$(ratio "$ours" "$cv")"
  done
done

[ "$memory_only" = --memory-only ] && exit 0

echo
echo "== File to file, JPEG 6000x4000 in, scaled by 0.5, median of $runs (ms); ratio = ours / peer"
echo "   targets: ratio < 1.0 against ImageMagick, <= 1.1 against OpenCV"
printf '%-5s %9s | %9s %6s | %9s %6s | %9s %6s\n' out ours OpenCV ratio ImageMagick ratio libvips ratio
for ext in tif jpg; do
  if [ $ext = tif ]; then
    ours=$(median_of "$orvix" scale "$work/photo.jpg" "$work/o.tif" 0.5 --format tiff)
    im=$(median_of /usr/bin/convert -limit thread 1 "$work/photo.jpg" -filter Catrom -resize 50% \
         -compress None "$work/i.tif")
    vips=$(median_of /usr/bin/vips resize "$work/photo.jpg" "$work/v.tif[compression=none]" 0.5 --kernel cubic)
  else
    ours=$(median_of "$orvix" scale "$work/photo.jpg" "$work/o.jpg" 0.5 --format jpeg --quality 85)
    im=$(median_of /usr/bin/convert -limit thread 1 "$work/photo.jpg" -filter Catrom -resize 50% \
         -quality 85 -sampling-factor 2x2 "$work/i.jpg")
    vips=$(median_of /usr/bin/vips resize "$work/photo.jpg" "$work/v.jpg[Q=85,subsample-mode=on]" 0.5 \
           --kernel cubic)
  fi
  read -r cv _ < <(opencv_ms "$work/c.$ext" 0.5)
  printf '%-5s %9s | %9s %6s | %11s %6s | %9s %6s\n' "$ext" "$ours" "$cv" "$(ratio "$ours" "$cv")" \
      "$im" "$(ratio "$ours" "$im")" "$vips" "$(ratio "$ours" "$vips")"
done

echo
echo "== Low_Memory_ScaleImage of the 6000x4000 JPEG (orvix scale --low-memory), peak resident memory"
echo "   target: at most the decoded source + 16 MiB"
src_mib=$(awk 'BEGIN { printf "%.1f", 6000 * 4000 * 3 / 1048576 }')
printf '%-28s %12s %14s\n' job "peak MiB" "source+16 MiB"
for f in 0.5 2.0; do
  for mode in --low-memory ""; do
    /usr/bin/time -v "$orvix" scale "$work/photo.jpg" "$work/lm.tif" "$f" --format tiff $mode \
        2>"$work/time.txt" >/dev/null
    kib=$(awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$work/time.txt")
    label="scale $f ${mode:-(whole image)}"
    printf '%-28s %12s %14s\n' "$label" "$(awk -v k="$kib" 'BEGIN { printf "%.1f", k / 1024 }')" \
        "$(awk -v s="$src_mib" 'BEGIN { printf "%.1f", s + 16 }')"
  done
done

echo
echo "== 400-pixel thumbnail of an uncompressed 6000x4000 TIFF, median of $runs (ms)"
echo "   target: thumbnail / whole read <= 0.20"
read_ms=$("$timer" read "$work/photo.tif" "$runs")
thumb_ms=$("$timer" thumb "$work/photo.tif" 400 "$runs")
printf '%-12s %9s\n%-12s %9s\n%-12s %9s\n' "whole read" "$read_ms" thumbnail "$thumb_ms" \
    ratio "$(ratio "$thumb_ms" "$read_ms")"
