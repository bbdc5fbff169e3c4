#!/usr/bin/env bash
# What reading the orientation and keeping the metadata cost Tolvane's
# headless batch: 40 photo-like 3000 x 2000 JPEGs with camera EXIF, a GPS
# position and an ICC profile, scaled to 50 % into JPEG, and 200 such JPEGs
# of 8 x 8 pixels, where the per-file cost shows. Prints the median of RUNS
# runs in ms per file, kept against --strip, and against OTHER (another
# Tolvane binary, e.g. one built before the metadata work) when given.
#
#   bench/metadata.sh [RUNS] [OTHER]        (default 5)
set -euo pipefail

runs=${1:-5}
other=${2:-}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS] [OTHER]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=$root/build-rel
cache=$build/metadata-photos
"$root/scripts/setup.sh" >&2
build_targets Tolvane
tolvane=$build/program/Tolvane

if [ ! -f "$cache/done" ]; then
  mkdir -p "$cache/photos" "$cache/tiny"
  /usr/bin/python3 - "$cache" <<'EOF'
import sys
from PIL import Image, ImageCms
root = sys.argv[1]
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
exif = Image.Exif()
exif[0x010F], exif[0x0110], exif[0x0112] = "Bench", "Camera 1", 1
gps = exif.get_ifd(0x8825)
gps[1], gps[2], gps[3], gps[4] = "N", (52.0, 31.0, 12.34), "E", (13.0, 24.0, 5.6)
big = Image.radial_gradient("L").resize((3000, 2000)).convert("RGB")
for i in range(40):
    big.save(f"{root}/photos/p{i:03d}.jpg", quality=90, exif=exif, icc_profile=icc)
small = big.resize((8, 8))
for i in range(200):
    small.save(f"{root}/tiny/t{i:03d}.jpg", quality=90, exif=exif, icc_profile=icc)
EOF
  touch "$cache/done"
fi

# Median ms per file of runs of: binary folder count [options]
median_ms() {
  local bin=$1 folder=$2 count=$3; shift 3
  local times=()
  for _ in $(seq "$runs"); do
    local out; out=$(mktemp -d)
    local t0; t0=$(date +%s%N)
    "$bin" --batch --quiet --dest "$out" "$@" "$folder" >/dev/null 2>&1
    local t1; t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000 ))")
    rm -rf "$out"
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v n="$count" '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1000/n}'
}

printf '%-22s %10s %10s %10s\n' "set (ms per file)" kept --strip other
for set in photos:40 tiny:200; do
  name=${set%%:*} count=${set##*:}
  kept=$(median_ms "$tolvane" "$cache/$name" "$count" --percent 50 --format jpeg)
  strip=$(median_ms "$tolvane" "$cache/$name" "$count" --percent 50 --format jpeg --strip)
  theirs=-
  [ -n "$other" ] && theirs=$(median_ms "$other" "$cache/$name" "$count" --percent 50 --format jpeg)
  printf '%-22s %10s %10s %10s\n' "$name" "$kept" "$strip" "$theirs"
done
