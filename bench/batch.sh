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
# Last, a long run: 200 photos (the 40 under five names each) to 50 % JPEG
# quality 90 with -j 2 on the exact path, once with the default image cache
# budget and once with TOLVANE_CACHE_MB=300, for the time and the memory a
# long headless run takes; and, when there is --exact, the default resizing
# on the same 200 with the default budget.
#
#   bench/batch.sh [RUNS]        (default 3)
#
# Each timed run writes into a fresh, empty output folder. The peers run with
# their default threads; Tolvane with -j 1 and -j 2 worker processes.
# Beside each time is the configuration's peak memory: the most, over its
# runs, that the command's processes held resident together (MB = 2^20 bytes).
# The pictures are generated once and kept in build-bench/batch-photos/.
# Exits non-zero as soon as any timed command fails.
set -euo pipefail
# Every configuration but the one that sets it runs with the default budget.
unset TOLVANE_CACHE_MB

runs=${1:-3}
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
build=$root/build-bench
cache=$build/batch-photos
photos=$cache/photos
tiny=$cache/tiny
many=$cache/photos200
n_photos=40
n_tiny=200
n_many=200
version_calls=20

# --- What the run needs --------------------------------------------------
"$root/scripts/setup.sh" >&2
need=()
[ -x /usr/bin/mogrify ] || need+=(imagemagick)
[ -x /usr/bin/vips ] && [ -x /usr/bin/vipsthumbnail ] || need+=(libvips-tools)
/usr/bin/python3 -c "import PIL" 2>/dev/null || need+=(python3-pil)
install_packages "${need[@]}"

echo "building Tolvane in $build ..." >&2
build_targets Tolvane
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
# The long run's 200 sources are hard links to the 40 photos: Tolvane lists
# only regular files, not symlinks, and its cache tells images apart by path.
# Made again each time so that they never outlive regenerated photos.
rm -rf "$many"
mkdir -p "$many"
for ((i = 0; i < n_many; i++)); do
  src=$photos/$(printf 'photo_%03d.jpg' $((i % n_photos)))
  dst=$many/$(printf 'photo_%03d.jpg' "$i")
  ln "$src" "$dst" 2>/dev/null || cp "$src" "$dst"
done

work=$(mktemp -d "$build/batch-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$work/out

# Read the sources once so the first timed run does not pay for the disk.
cat "$photos"/*.jpg "$tiny"/*.jpg >/dev/null

# --- Peak memory -----------------------------------------------------------------
# A sampler adds up the resident memory (statm) of every process descending
# from this shell, every 20 ms while a command runs, and keeps the largest
# sum. A single process's maximum RSS (GNU time, getrusage) misses the -j
# workers. The cgroup v2 hierarchy here offers no memory controller (so no
# memory.peak without root work), and a cgroup would also count the page
# cache of the files read and written. Samples can
# miss a peak shorter than their interval, but the memory that matters here
# (decoded pictures held from file to file) lives far longer. Forked workers
# are counted with the pages they still share with the parent. The sampler
# is one process for the whole script, so that no start-up lands in a timed
# span; a sample costs it about half a millisecond of one core.
sampler_py=$(cat <<'EOF'
import os, select, sys

root, interval = int(sys.argv[1]), float(sys.argv[2])
me, page = os.getpid(), os.sysconf("SC_PAGE_SIZE")


def tree_rss():
    parent = {}
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/" + name + "/stat", "rb") as f:
                    stat = f.read()
            except OSError:
                continue  # ended meanwhile
            parent[int(name)] = int(stat[stat.rindex(b")") + 2:].split(None, 2)[1])
    # Neither the sampler nor a shell between it and the root.
    skip, p = set(), me
    while p in parent and p != root:
        skip.add(p)
        p = parent[p]
    children = {}
    for pid, ppid in parent.items():
        if pid not in skip:
            children.setdefault(ppid, []).append(pid)
    pages, todo = 0, list(children.get(root, []))
    while todo:
        pid = todo.pop()
        todo += children.get(pid, [])
        try:
            with open("/proc/%d/statm" % pid, "rb") as f:
                pages += int(f.read().split()[1])
        except OSError:
            pass
    return pages * page


# "start" answers "ok" and starts sampling; "stop" stops it and answers the
# peak in MB; end of input ends the sampler.
peak, active = 0, False
while True:
    ready, _, _ = select.select([0], [], [], interval if active else None)
    if not ready:
        peak = max(peak, tree_rss())
        continue
    command = os.read(0, 64).strip()
    if not command:
        break
    if command == b"start":
        peak, active, reply = 0, True, "ok"
    else:
        active, reply = False, "%d" % ((peak + (1 << 19)) >> 20)
    sys.stdout.write(reply + "\n")
    sys.stdout.flush()
EOF
)
coproc RSS { exec /usr/bin/python3 -c "$sampler_py" "$$" 0.02; }

# rss_ask COMMAND: sends it to the sampler; its answer is left in $rss_reply.
rss_reply=
rss_ask() {
  [ -n "${RSS[1]:-}" ] || { echo "the memory sampler has stopped" >&2; exit 1; }
  echo "$1" >&"${RSS[1]}"
  read -r rss_reply <&"${RSS[0]}" || { echo "no answer from the memory sampler" >&2; exit 1; }
}

# --- Timing ------------------------------------------------------------------

# time_median NAME EXPECTED_OUTPUTS IS_TOLVANE CMD...
# Runs CMD $runs times, each into a fresh empty $out, and leaves the median
# wall time in ms in $median and the highest peak memory in MB in $peak_mb.
# Stops the script if CMD fails. With $keep set, the first run's first output
# is kept as $work/kept-$keep.
median=
peak_mb=
keep=
time_median() {
  local name=$1 expected=$2 is_tolvane=$3; shift 3
  local times=() i t0 t1 rc made done_line first
  peak_mb=0
  for ((i = 0; i < runs; i++)); do
    rm -rf "$out"; mkdir -p "$out"
    rss_ask start
    t0=${EPOCHREALTIME/[.,]/}
    rc=0
    "$@" >"$work/stdout" 2>"$work/stderr" || rc=$?
    t1=${EPOCHREALTIME/[.,]/}
    rss_ask stop
    [ "$rss_reply" -gt "$peak_mb" ] && peak_mb=$rss_reply
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

# ms: median ms per file; total_ms: median ms per run; mb: peak memory in MB.
declare -A ms total_ms mb
per_file() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.2f", t / n }'; }
record() {  # KEY FILES: what the last time_median measured
  ms[$1]=$(per_file "$median" "$2")
  total_ms[$1]=$median
  mb[$1]=$peak_mb
}
phys_mb=$(($(getconf _PHYS_PAGES) * $(getconf PAGE_SIZE) >> 20))
cache_mb=300

echo
echo "machine: $(nproc) cores, $phys_mb MB memory; $(/usr/bin/vips --version 2>/dev/null | head -n 1);" \
     "$(/usr/bin/mogrify -version | head -n 1 | sed 's/^Version: //')"
echo "Tolvane: $("$tolvane" --batch --version 2>&1 | head -n 1)"
echo "median of $runs run(s); DONE lines of each configuration's first run:"

for j in 1 2; do
  time_median "Tolvane TIFF -j $j" $n_photos yes \
    "$tolvane" --batch --quiet --percent 50 --format tiff --dest "$out" -j $j "$photos"
  record tiff_j$j $n_photos
done
for j in 1 2; do
  keep=""; [ $j = 1 ] && keep=tolvane.jpg
  time_median "Tolvane JPEG q90 -j $j" $n_photos yes \
    "$tolvane" --batch --quiet --percent 50 --format jpeg --quality 90 --dest "$out" -j $j "$photos"
  record jpeg_j$j $n_photos
done
keep=""
time_median "ImageMagick TIFF" $n_photos no mogrify_to tif
record im_tiff $n_photos
keep=imagemagick.jpg
time_median "ImageMagick JPEG" $n_photos no mogrify_to jpg -quality 90
keep=""
record im_jpeg $n_photos
time_median "libvips TIFF" $n_photos no vips_to .tif
record vips_tiff $n_photos
keep=libvips.jpg
time_median "libvips JPEG" $n_photos no vips_to '.jpg[Q=90]'
keep=""
record vips_jpeg $n_photos
time_median "Tolvane 200 x 1x1" $n_tiny yes \
  "$tolvane" --batch --quiet --percent 100 --format jpeg --dest "$out" "$tiny"
record overhead $n_tiny
time_median "Tolvane --batch --version" 0 no version_loop
record startup $version_calls
# A Tolvane without --exact has only the exact path, which is then its default.
has_exact=no
help=$("$tolvane" --batch --help 2>&1 || true)
[[ $help == *--exact* ]] && has_exact=yes
keep=tolvane25.jpg
time_median "Tolvane 25% -j 2" $n_photos yes \
  "$tolvane" --batch --quiet --percent 25 --format jpeg --quality 85 -j 2 --dest "$out" "$photos"
record q25_j2 $n_photos
keep=""
if [ $has_exact = yes ]; then
  time_median "Tolvane 25% -j 2 --exact" $n_photos yes \
    "$tolvane" --batch --quiet --percent 25 --format jpeg --quality 85 -j 2 --exact --dest "$out" "$photos"
  record q25_exact $n_photos
fi
keep=vipsthumbnail.jpg
time_median "vipsthumbnail q85 -P 2" $n_photos no vipsthumbnail_to
record thumbnail $n_photos
keep=""
# The long run, with the settings of the 50 % JPEG rows (JPEG keeps the
# disk's share small: TIFF would write 900 MB a run) on the exact path, the
# one that reads its sources through the image cache.
exact=(); [ $has_exact = yes ] && exact=(--exact)
time_median "Tolvane 200 -j 2 ${exact[*]}" $n_many yes \
  "$tolvane" --batch --quiet --percent 50 --format jpeg --quality 90 -j 2 "${exact[@]}" --dest "$out" "$many"
record many_default $n_many
time_median "... TOLVANE_CACHE_MB=$cache_mb" $n_many yes \
  /usr/bin/env TOLVANE_CACHE_MB=$cache_mb \
  "$tolvane" --batch --quiet --percent 50 --format jpeg --quality 90 -j 2 "${exact[@]}" --dest "$out" "$many"
record many_capped $n_many
if [ $has_exact = yes ]; then
  time_median "Tolvane 200 -j 2 smooth" $n_many yes \
    "$tolvane" --batch --quiet --percent 50 --format jpeg --quality 90 -j 2 --dest "$out" "$many"
  record many_smooth $n_many
fi

# --- The table -----------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }
verdict() { awk -v v="$1" -v op="$2" -v t="$3" \
  'BEGIN { ok = (op == "<=") ? (v <= t) : (v < t); printf "%s", ok ? "met" : "MISSED" }'; }

row() {  # LABEL KEY [PEER_IM_KEY PEER_VIPS_KEY] [TARGET]
  local label=$1 v=${ms[$2]} im=${3:-} vp=${4:-} target=${5:-} r_im="" r_vp=""
  [ -n "$im" ] && r_im=$(ratio "$v" "${ms[$im]}")
  [ -n "$vp" ] && r_vp=$(ratio "$v" "${ms[$vp]}")
  printf '%-28s %10s %10s %10s %8s   %s\n' "$label" "$v" "$r_im" "$r_vp" "${mb[$2]}" "$target"
}

echo
echo "== 40 JPEGs 3000x2000 q90 -> 50 %, ms per file (median of $runs); ratio = ours / peer"
printf '%-28s %10s %10s %10s %8s   %s\n' "" "ms/file" "/ImageMag" "/libvips" "peak MB" "target"
r_im=$(ratio "${ms[tiff_j2]}" "${ms[im_tiff]}")
r_vp=$(ratio "${ms[tiff_j2]}" "${ms[vips_tiff]}")
row "Tolvane TIFF -j 1" tiff_j1 im_tiff vips_tiff
row "Tolvane TIFF -j 2" tiff_j2 im_tiff vips_tiff \
  "<= 0.3 x ImageMagick: $(verdict "$r_im" "<=" 0.3); <= 0.8 x libvips: $(verdict "$r_vp" "<=" 0.8)"
row "Tolvane JPEG q90 -j 1" jpeg_j1 im_jpeg vips_jpeg
row "Tolvane JPEG q90 -j 2" jpeg_j2 im_jpeg vips_jpeg
row "ImageMagick mogrify TIFF" im_tiff
row "ImageMagick mogrify JPEG q90" im_jpeg
row "libvips resize TIFF" vips_tiff
row "libvips resize JPEG Q=90" vips_jpeg
echo
echo "== Headless overhead, ms (median of $runs)"
printf '%-28s %10s %10s %10s %8s   %s\n' "" "ms" "" "" "peak MB" "target"
row "per file, 200 x 1x1 JPEG" overhead "" "" "< 5 ms: $(verdict "${ms[overhead]}" "<" 5)"
row "start-up (--batch --version)" startup
echo
echo "== 40 JPEGs 3000x2000 q90 -> 25 % JPEG q85, two at a time, ms per file (median of $runs)"
if [ $has_exact = yes ]; then
  echo "   Tolvane offers --exact: its default is the smooth resizing"
else
  echo "   Tolvane has no --exact yet: its default is still the exact path"
fi
printf '%-34s %10s %14s %8s   %s\n' "" "ms/file" "/vipsthumbnail" "peak MB" "target"
r_vt=$(ratio "${ms[q25_j2]}" "${ms[thumbnail]}")
printf '%-34s %10s %14s %8s   %s\n' "Tolvane default -j 2" "${ms[q25_j2]}" "$r_vt" "${mb[q25_j2]}" \
  "<= 0.5 x vipsthumbnail: $(verdict "$r_vt" "<=" 0.5)"
if [ $has_exact = yes ]; then
  printf '%-34s %10s %14s %8s\n' "Tolvane --exact -j 2" "${ms[q25_exact]}" \
    "$(ratio "${ms[q25_exact]}" "${ms[thumbnail]}")" "${mb[q25_exact]}"
fi
printf '%-34s %10s %14s %8s\n' "vipsthumbnail, a process per file" "${ms[thumbnail]}" "" "${mb[thumbnail]}"
echo
echo "== 200 JPEGs 3000x2000 q90 (the 40 under five names each) -> 50 % JPEG q90, -j 2 (median of $runs)"
if [ $has_exact = yes ]; then
  echo "   with --exact unless said otherwise"
else
  echo "   on the exact path, Tolvane's only one"
fi
echo "   the image cache's default budget is a quarter of physical memory: $((phys_mb / 4)) MB"
printf '%-40s %10s %10s %8s\n' "" "s/run" "ms/file" "peak MB"
long_row() {  # LABEL KEY
  printf '%-40s %10s %10s %8s\n' "$1" "$(awk -v t="${total_ms[$2]}" 'BEGIN { printf "%.2f", t / 1000 }')" \
    "${ms[$2]}" "${mb[$2]}"
}
long_row "Tolvane, default budget" many_default
long_row "Tolvane, TOLVANE_CACHE_MB=$cache_mb" many_capped
printf '%-40s %10s %10s %8s\n' "default budget / TOLVANE_CACHE_MB=$cache_mb" \
  "$(ratio "${total_ms[many_default]}" "${total_ms[many_capped]}")" "" \
  "$(ratio "${mb[many_default]}" "${mb[many_capped]}")"
if [ $has_exact = yes ]; then
  long_row "Tolvane smooth resizing, default budget" many_smooth
fi
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
