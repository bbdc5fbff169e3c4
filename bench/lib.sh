# Shared by the benchmark scripts (sourced): $runs must be set.

# Runs a command $runs times; prints the median, fastest and slowest wall
# time in milliseconds.
median_ms() {
  local times=() start end
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    end=$(date +%s%N)
    times+=($(((end - start) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 }
    END { printf "%.1f %.1f %.1f\n", a[int((NR + 1) / 2)] / 1000, a[1] / 1000, a[NR] / 1000 }'
}
