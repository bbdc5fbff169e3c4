#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjpeg62-turbo-dev libtiff-dev libcurl4-openssl-dev libexiv2-dev exiv2
  libpng-dev libwebp-dev libheif-dev libheif-examples
  googletest libgtest-dev libbenchmark-dev
  python3-pyftpdlib python3-pil netpbm imagemagick libtiff-tools libjpeg-turbo-progs
  clang libclang-rt-14-dev
  qt6-base-dev xvfb xauth xdotool fonts-dejavu-core
  # A minimal system lacks these: the package build's dependency scan and the
  # tests' process lookups use them.
  file dpkg-dev procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update
  $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
fi
