#!/usr/bin/env bash
# Builds the fuzz targets and runs each for SECONDS (default 20), printing
# per target the executions, the coverage reached and any crash. Exits
# non-zero when a target crashed. Corpora grow in build-fuzz/corpus/.
# FUZZ_JOBS=N runs N targets at once.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
only=("$@")

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIX_FUZZ=ON -DORVIX_BUILD_TESTS=OFF \
      -DORVIX_BUILD_BENCH=OFF >/dev/null || exit 1
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >/dev/null || exit 1

corpus=$build/corpus
seeds=$build/seeds
rm -rf "$seeds"
/usr/bin/python3 fuzz/make_seeds.py "$seeds" "$build/tools/orvix" || exit 1

targets=(file_type read_pgm read_ppm read_bmp read_tga read_tiff read_jpeg read_png read_webp
         read_heif header read_hdr server_info thumbnail resample)
[ ${#only[@]} -gt 0 ] && targets=("${only[@]}")

# A lower pixel limit than the library's default keeps the targets from
# spending their time on legitimately huge allocations.
export ORVIX_MAX_PIXELS=${ORVIX_MAX_PIXELS:-16777216}
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp
# Targets run FUZZ_JOBS at a time (default 1); the table follows in order.
jobs=${FUZZ_JOBS:-1}
run_target() {
  local t=$1
  mkdir -p "$corpus/$t" "$build/crashes/$t"
  "$build/fuzz/fuzz_$t" "$corpus/$t" "$seeds/$t" -max_total_time="$seconds" \
      -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$build/crashes/$t/" -print_final_stats=1 >"$build/fuzz_$t.log" 2>&1
  echo $? >"$build/fuzz_$t.rc"
}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_target "$t" &
done
wait

failed=0
printf '%-12s %12s %8s %8s  %s\n' target executions cov ft result
for t in "${targets[@]}"; do
  log=$build/fuzz_$t.log
  rc=$(cat "$build/fuzz_$t.rc" 2>/dev/null || echo 1)
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
  result=ok
  if [ "$rc" -ne 0 ]; then
    result="CRASH (see $log)"
    failed=1
  fi
  printf '%-12s %12s %8s %8s  %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit $failed
