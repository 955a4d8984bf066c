#!/usr/bin/env bash
# Installs every Debian package Quorlin needs to build, test and run.
# Idempotent and quiet when everything is present; works as root or through sudo.
set -euo pipefail

packages=(
  # build and test
  build-essential cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-charts-dev libqt6opengl6-dev qt6-qpa-plugins
  libvips-dev liblcms2-dev libheif-dev libjxl-dev libicu-dev libpng-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth imagemagick fonts-dejavu-core
  # the codec tools Debian 12 provides
  libjxl-tools libavif-bin webp libheif-examples libjpeg-turbo-progs libimage-exiftool-perl
)

# shellcheck source=missing-packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/missing-packages.sh"
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: need root or sudo to install: ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
