#!/usr/bin/env bash
# PNG and WebP decode and encode: the library (codec_bench, in process)
# against Pillow (in its interpreter, so Python's start is not counted) and
# libvips (as commands), all on one thread and on the same files: the
# 3000 x 2000 photo codec_bench writes (PNG level 6, WebP quality 75 and
# lossless). Prints medians of processor time (user + system) in ms, which
# other work on a shared machine disturbs far less than wall time.
#
#   bench/modern_peers.sh [RUNS]   (default 5; ORVIX_BENCH_BUILD names the
#                                   build folder, default build-bench)
#
# libvips runs as a command: its figures are given as measured and net of
# "vips copy photo.v x.v" (start-up and a raw read and write), since the
# codec is what is compared.
set -euo pipefail

runs=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=${ORVIX_BENCH_BUILD:-$root/build-bench}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

need=()
/usr/bin/python3 -c "import PIL" 2>/dev/null || need+=(python3-pil)
[ -x /usr/bin/vips ] || need+=(libvips-tools)
[ -x /usr/bin/time ] || need+=(time)
install_packages "${need[@]}"

echo "building codec_bench in $build ..." >&2
build_targets codec_bench

export VIPS_CONCURRENCY=1 OMP_NUM_THREADS=1

# Ours; the files it decodes stay in $work for the peers.
ORVIX_BENCH_FILES=$work/ "$build/bench/codec_bench" --benchmark_filter='Png|Webp|PNG|WEBP' \
    --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true >"$work/ours.txt" 2>/dev/null
# The median row, or with one run (no aggregates) the run itself; CPU time.
ours() {
  awk -v n="$1" '$1 == n "_median" { m = $4 } $1 == n { p = $4 }
    END { printf "%.1f", m != "" ? m : p }' "$work/ours.txt"
}

# Pillow: decode = open + load; encode from the decoded photo.
/usr/bin/python3 - "$work" "$runs" >"$work/pillow.txt" <<'PY'
import sys, time
from PIL import Image
work, runs = sys.argv[1], int(sys.argv[2])
def median(job):
    times = []
    for _ in range(runs):
        t = time.process_time(); job(); times.append((time.process_time() - t) * 1000)
    return sorted(times)[len(times) // 2]
photo = Image.open(work + "/level6.png"); photo.load()
jobs = {
    "read_png": lambda: Image.open(work + "/level6.png").load(),
    "read_webp": lambda: Image.open(work + "/q75.webp").load(),
    "read_webp_lossless": lambda: Image.open(work + "/lossless.webp").load(),
    "write_png": lambda: photo.save(work + "/p.png", compress_level=6),
    "write_webp": lambda: photo.save(work + "/p.webp", quality=75, method=4),
    "write_webp_lossless": lambda: photo.save(work + "/p.webp", lossless=True, quality=75, method=4),
}
for name, job in jobs.items():
    print(name, "%.1f" % median(job))
PY
pillow() { awk -v n="$1" '$1 == n { print $2 }' "$work/pillow.txt"; }

# libvips as commands, with the raw copy as the baseline.
vips copy "$work/level6.png" "$work/photo.v"
# Median processor time of a command over $runs runs.
median_of() {
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%U %S' -o "$work/cpu.txt" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    awk '{ printf "%.1f\n", ($1 + $2) * 1000 }' "$work/cpu.txt"
  done | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
base=$(median_of vips copy "$work/photo.v" "$work/b.v")
declare -A vips
vips[read_png]=$(median_of vips copy "$work/level6.png" "$work/o.v")
vips[read_webp]=$(median_of vips copy "$work/q75.webp" "$work/o.v")
vips[read_webp_lossless]=$(median_of vips copy "$work/lossless.webp" "$work/o.v")
# libvips leaves rows unfiltered unless asked (a 70 % larger file here);
# libpng's adaptive filters, as ours and Pillow's, make it a like job.
vips[write_png]=$(median_of vips copy "$work/photo.v" "$work/o.png[compression=6,filter=all]")
vips[write_webp]=$(median_of vips copy "$work/photo.v" "$work/o.webp[Q=75,effort=4]")
vips[write_webp_lossless]=$(median_of vips copy "$work/photo.v" "$work/o.webp[lossless,Q=75,effort=4]")

echo "== 3000x2000 RGB photo, one thread, median processor time of $runs (ms);"
echo "   vips net of its raw copy ($base ms)"
printf '%-20s %9s %9s %11s %9s\n' job ours Pillow "vips timed" "vips net"
row() {
  printf '%-20s %9s %9s %11s %9s\n' "$1" "$(ours "$2")" "$(pillow "$1")" "${vips[$1]}" \
      "$(awk -v a="${vips[$1]}" -v b="$base" 'BEGIN { printf "%.1f", a - b }')"
}
row read_png BM_ReadImage_Png
row read_webp BM_ReadImage_Webp/lossless:0
row read_webp_lossless BM_ReadImage_Webp/lossless:1
row write_png BM_WritePNG/level:6
row write_webp BM_WriteWEBP/quality:75
row write_webp_lossless BM_WriteWEBP/quality:100
