# Shared by the benchmark scripts (sourced).

# Installs the Debian packages named, when any are.
install_packages() {
  [ $# -gt 0 ] || return 0
  local sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update >&2
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y --no-install-recommends "$@" >&2
}

# Configures $build for release timing, without the tests, and builds the
# targets named.
build_targets() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVIX_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target "$@" >/dev/null
}

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
