#!/usr/bin/env bash
# The main job on the bundled sample photograph with four codecs that Debian 12
# packages (JPEG XL, AVIF, WebP, libjpeg-turbo): with a display (DISPLAY or
# WAYLAND_DISPLAY set) the desktop application opens with the photograph
# loaded into those four panels; press Generate (Ctrl+G). Without a display
# the command line runs the whole comparison and prints its report.
set -euo pipefail
cd "$(dirname "$0")/.."
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]] && [[ -x build/src/gui/quorlin ]]; then
  exec build/src/gui/quorlin samples/colorful-cups.jpg \
    --codec "JPEG XL" --codec AVIF --codec WebP --codec "JPEG (libjpeg-turbo)" "$@"
fi
exec build/src/cli/quorlin-cli compare samples/colorful-cups.jpg \
  --panel jxl --panel avif --panel webp --panel jpeg-turbo "$@"
