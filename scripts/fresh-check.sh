#!/usr/bin/env bash
# Checks the README's commands on a machine nobody has touched: makes a
# minimal Debian 12 system with debootstrap, runs scripts/run.sh and then
# scripts/test.sh as root inside it from a clean clone of the committed HEAD,
# builds the Debian packages there, and installs them with apt into a second,
# pristine system where Tolvane converts a photo into a folder it must make.
#
# Needs root (debootstrap, chroot, mount). Slow (tens of minutes), so not
# part of CI.
#
#   scripts/fresh-check.sh [--keep] [--keep-going] [--rev COMMIT] [WORKDIR]
#
# WORKDIR (or FRESH_CHECK_DIR; default /var/tmp/fresh-check) holds the systems
# and a log per step; it is removed at the end unless a step failed or --keep (or
# FRESH_CHECK_KEEP=1) is given. --keep-going runs the later steps after a
# failed one (the packages can still be checked when a test fails); the
# result is still the first failure. --rev checks a given commit instead of
# HEAD. FRESH_CHECK_MIRROR overrides the mirror.
set -euo pipefail

keep=${FRESH_CHECK_KEEP:-0}
keep_going=0
rev=HEAD
work=${FRESH_CHECK_DIR:-/var/tmp/fresh-check}
mirror=${FRESH_CHECK_MIRROR:-http://deb.debian.org/debian}
while [ $# -gt 0 ]; do
  arg=$1; shift
  case $arg in
    --rev) rev=${1:?--rev needs a commit}; shift ;;
    --keep) keep=1 ;;
    --clean) keep=0 ;;
    --keep-going) keep_going=1 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fresh-check: unknown option $arg" >&2; exit 2 ;;
    *) work=$arg ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-check: needs root (debootstrap, chroot and mount); run it with sudo" >&2
  exit 2
fi
for tool in debootstrap chroot git findmnt; do
  command -v "$tool" >/dev/null || { echo "fresh-check: $tool is missing" >&2; exit 2; }
done

repo=$(cd "$(dirname "$0")/.." && pwd)
[ -e "$work" ] && [ -n "$(ls -A "$work" 2>/dev/null)" ] &&
  { echo "fresh-check: $work is not empty; give another folder or remove it" >&2; exit 2; }
mkdir -p "$work/logs"
work=$(cd "$work" && pwd)
pristine=$work/pristine   # never entered: copied for each system
builder=$work/builder     # runs run.sh, test.sh and cpack
target=$work/target       # installs the packages with apt
commit=""
summary=()
first_failure=""
started=$SECONDS

# Everything mounted below $work, deepest first.
unmount_all() {
  local m
  findmnt -rn -o TARGET | grep -E "^$work(/|\$)" | sort -r | while read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}

finish() {
  local rc=$?
  set +e
  unmount_all
  echo
  echo "== fresh-check summary (commit ${commit:-none}, work folder $work)"
  printf '%s\n' "${summary[@]}"
  printf '%-34s %6ss\n' "total" $((SECONDS - started))
  if ls "$builder"/root/orvix/build/*.deb >/dev/null 2>&1; then
    echo "-- packages"
    for deb in "$builder"/root/orvix/build/*.deb; do
      printf '%s  %s bytes  Installed-Size %s KiB\n' "$(basename "$deb")" \
        "$(stat -c %s "$deb")" "$(dpkg-deb -f "$deb" Installed-Size)"
    done
  fi
  if [ -n "$first_failure" ]; then
    echo "RESULT: FAILED at '$first_failure' (log: $work/logs/$first_failure.log)"
    rc=1
  elif [ "$rc" -ne 0 ]; then
    echo "RESULT: FAILED (exit $rc)"
  else
    echo "RESULT: PASSED"
  fi
  if [ "$keep" = 1 ] || [ "$rc" -ne 0 ]; then
    echo "work folder kept: $work"
  elif findmnt -rn -o TARGET | grep -qE "^$work(/|\$)"; then
    echo "work folder kept: something under it is still mounted"
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT TERM

# step NAME COMMAND...: runs the command with its output in logs/NAME.log,
# records its time, and stops the check at the first failure (unless
# --keep-going).
step() {
  local name=$1; shift
  local t0=$SECONDS rc
  echo "== $(date -u +%H:%M:%S) $name"
  set +e
  ( set -euo pipefail; "$@" ) > "$work/logs/$name.log" 2>&1
  rc=$?
  set -e
  if [ "$rc" -eq 0 ]; then
    summary+=("$(printf '%-34s %6ss  ok' "$name" $((SECONDS - t0)))")
  else
    summary+=("$(printf '%-34s %6ss  FAILED (exit %s)' "$name" $((SECONDS - t0)) "$rc")")
    [ -n "$first_failure" ] || first_failure=$name
    echo "-- last lines of $work/logs/$name.log:"
    tail -n 40 "$work/logs/$name.log"
    [ "$keep_going" = 1 ] || exit 1
  fi
}

# Mounts what builds, tests and apt need inside a system; finish() undoes it.
enter() {
  local root=$1
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
  mount -t tmpfs tmpfs "$root/dev/shm"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  # Packages installed here must not start services on the host's behalf.
  printf '#!/bin/sh\nexit 101\n' > "$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
}

# inside ROOT COMMAND: runs a shell command as root inside the system, with a
# clean environment as a fresh login would have.
inside() {
  local root=$1; shift
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -euo pipefail -c "$1"
}

make_pristine() { debootstrap --variant=minbase bookworm "$pristine" "$mirror"; }
copy_pristine() { cp -a "$pristine" "$1"; }
clone() {
  git clone --no-hardlinks "$repo" "$builder/root/orvix"
  git -C "$builder/root/orvix" checkout -q "$(git -C "$repo" rev-parse --verify "$rev^{commit}")"
  git -C "$builder/root/orvix" log -1 --format='%H %s'
}
make_packages() { inside "$builder" 'cd /root/orvix/build && cpack -G DEB && ls -l ./*.deb'; }
install_packages() {
  mkdir -p "$target/root/debs" "$target/root/photos"
  cp "$builder"/root/orvix/build/*.deb "$target/root/debs/"
  cp "$builder"/root/orvix/build/sample/photos/photo_000.jpg "$target/root/photos/"
  inside "$target" 'export DEBIAN_FRONTEND=noninteractive; apt-get update &&
                apt-get install -y --no-install-recommends /root/debs/*.deb'
}
convert_installed() {
  inside "$target" 'Tolvane --batch --version
                Tolvane --batch --percent 50 --format jpeg --dest /root/new/made/here /root/photos
                test -s /root/new/made/here/A000_photo_000.jpg
                ls -l /root/new/made/here'
}

step debootstrap make_pristine
step copy-builder copy_pristine "$builder"
step clone clone
commit=$(git -C "$builder/root/orvix" rev-parse --short HEAD)
step mount-builder enter "$builder"
step run.sh inside "$builder" 'cd /root/orvix && scripts/run.sh'
step test.sh inside "$builder" 'cd /root/orvix && scripts/test.sh'
step cpack make_packages
step copy-target copy_pristine "$target"
step mount-target enter "$target"
step apt-install-packages install_packages
step convert-installed convert_installed
