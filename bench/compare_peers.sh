#!/usr/bin/env bash
# Times ScaleImage against independent resamplers on one generated RGB photo
# and prints a table of medians (milliseconds) and our time / the peer's.
#
#   bench/compare_peers.sh [WIDTHxHEIGHT] [RUNS]      (default 3000x2000, 5)
#
# Everything runs on one thread. Ours and PIL/OpenCV are timed in memory
# (decode excluded). ImageMagick and netpbm can only be timed as commands:
# their column is the command's time less that of the same command making
# an output of the same size by nearest-neighbour sampling (read, sample,
# write a PPM), so it is the cubic resize alone, roughly.
# Peers: PIL resize BICUBIC and ImageMagick -resize with the Catrom filter
# widen their kernel when shrinking (a prefilter, more taps); ImageMagick
# -interpolative-resize with Catrom and OpenCV INTER_CUBIC are four-tap
# interpolators like ours; pamscale -filter=catrom widens like PIL.
set -euo pipefail

# The peers are not needed by the library or its tests; install them here.
if ! /usr/bin/python3 -c "import cv2" 2>/dev/null; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update && $sudo_cmd apt-get install -y --no-install-recommends python3-opencv
fi

size=${1:-3000x2000}
runs=${2:-5}
factors=(0.25 0.5 1.7 2.0)
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIX_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "building bench_timer in $build ..." >&2
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVIX_BUILD_TESTS=OFF >/dev/null
make -C "$build" -j2 bench_timer >/dev/null
timer=$build/bench/bench_timer

width=${size%x*}
height=${size#*x}
input=$work/photo.ppm
# A photo-like image: gradients in two channels, noise in the third, and a
# blurred copy of noise laid over all three.
/usr/bin/python3 - "$width" "$height" "$input" <<'EOF'
import sys
from PIL import Image, ImageChops, ImageFilter
w, h, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
r = Image.linear_gradient("L").resize((w, h))
g = Image.radial_gradient("L").resize((w, h))
b = Image.effect_noise((w, h), 60)
texture = Image.effect_noise((w, h), 90).filter(ImageFilter.GaussianBlur(2))
rgb = Image.merge("RGB", [ImageChops.add(c, texture, 2.0) for c in (r, g, b)])
rgb.save(out)
EOF

export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

# Median wall time in milliseconds of a command run $runs times.
median_ms() {
    local times=() start end
    for ((i = 0; i < runs; i++)); do
        start=$(date +%s%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s%N)
        times+=($(((end - start) / 1000)))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'
}

have_cv2=0
/usr/bin/python3 -c "import cv2" 2>/dev/null && have_cv2=1

# In-memory timings of PIL (and OpenCV when installed) for one output size.
python_ms() {
    /usr/bin/python3 - "$input" "$1" "$2" "$runs" "$3" <<'EOF'
import sys, time
from PIL import Image
path, w, h, runs, which = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
im = Image.open(path); im.load()
if which == "cv2":
    import cv2, numpy
    cv2.setNumThreads(1)
    a = numpy.asarray(im)
    fn = lambda: cv2.resize(a, (w, h), interpolation=cv2.INTER_CUBIC)
else:
    fn = lambda: im.resize((w, h), Image.BICUBIC)
times = []
for _ in range(runs):
    t = time.perf_counter(); fn(); times.append((time.perf_counter() - t) * 1000)
times.sort()
print("%.1f" % times[len(times) // 2])
EOF
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; if (d < 0.1) d = 0.1; printf "%.1f", d }'; }

echo "input ${width}x${height} RGB, $runs runs each, median ms; ratio = ours / peer"
printf '%-6s %-11s %8s | %10s %5s | %10s %5s | %10s %5s | %10s %5s' \
    factor output ours PIL ratio IM-resize ratio IM-interp ratio pamscale ratio
[ $have_cv2 = 1 ] && printf ' | %10s %5s' OpenCV ratio
printf '\n'
for f in "${factors[@]}"; do
    read -r out ours < <("$timer" scale "$input" "$f" "$runs")
    w=${out%x*}
    h=${out#*x}
    pil=$(python_ms "$w" "$h" pil)
    im_base=$(median_ms /usr/bin/convert "$input" -sample "${w}x${h}!" "$work/o.ppm")
    pam_base=$(median_ms sh -c "/usr/bin/pamscale -width $w -height $h -filter=point '$input' > '$work/o.ppm'")
    im=$(minus "$(median_ms /usr/bin/convert "$input" -filter Catrom -resize "${w}x${h}!" "$work/o.ppm")" "$im_base")
    imi=$(minus "$(median_ms /usr/bin/convert "$input" -interpolate Catrom -interpolative-resize "${w}x${h}!" "$work/o.ppm")" "$im_base")
    pam=$(minus "$(median_ms sh -c "/usr/bin/pamscale -width $w -height $h -filter=catrom '$input' > '$work/o.ppm'")" "$pam_base")
    printf '%-6s %-11s %8s | %10s %5s | %10s %5s | %10s %5s | %10s %5s' "$f" "$out" "$ours" \
        "$pil" "$(ratio "$ours" "$pil")" "$im" "$(ratio "$ours" "$im")" \
        "$imi" "$(ratio "$ours" "$imi")" "$pam" "$(ratio "$ours" "$pam")"
    if [ $have_cv2 = 1 ]; then
        cv=$(python_ms "$w" "$h" cv2)
        printf ' | %10s %5s' "$cv" "$(ratio "$ours" "$cv")"
    fi
    printf '\n'
done
