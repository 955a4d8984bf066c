#!/usr/bin/env bash
# The main job on the bundled sample photograph: a whole comparison with four
# codecs that Debian 12 packages (JPEG XL, AVIF, WebP, libjpeg-turbo).
set -euo pipefail
cd "$(dirname "$0")/.."
exec build/src/cli/quorlin-cli compare samples/colorful-cups.jpg \
  --panel jxl --panel avif --panel webp --panel jpeg-turbo "$@"
