#!/usr/bin/env bash
# Smoke test of the desktop application, run under a virtual X display:
#   quorlin-smoke.sh QUORLIN SSIMULACRA2_DIR OUTPUT_DIR
# Starts the real quorlin on a small generated image with a fresh settings
# file and a fresh temporary directory, generates four panels with the real
# codec tools (JPEG XL, AVIF, WebP, libjpeg-turbo; ssimulacra2 found through a
# custom tool directory), saves a picture of the window as
# OUTPUT_DIR/quorlin-smoke.png and quits. Then checks that the picture is a
# window-sized PNG, that no work directory is left under the temporary root,
# and that the first start recorded that the required tools window was shown.
# Then starts it again with a cwebp that waits for a released file and sends
# SIGTERM while it waits: it must exit with status 143 and leave no work
# directory either.
set -euo pipefail

quorlin=$1
metric_dir=$2
output_dir=$3

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "no display: run this under xvfb-run" >&2
  exit 1
fi
for tool in cjxl djxl avifenc avifdec cwebp dwebp cjpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 1; }
done
[[ -x "$metric_dir/ssimulacra2" ]] || { echo "$metric_dir/ssimulacra2 is not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp" "$work/config/Quorlin" "$output_dir"
settings="$work/config/Quorlin/Quorlin.json"
printf '{ "customToolDirectories": ["%s"] }\n' "$metric_dir" > "$settings"
source="$work/smoke source.png"
convert -size 96x64 gradient:'#2060c0-#f0b040' -swirl 120 "$source"
picture="$output_dir/quorlin-smoke.png"
rm -f "$picture"

status=0
TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" "$quorlin" \
  --codec "JPEG XL" --codec AVIF --codec WebP --codec "JPEG (libjpeg-turbo)" \
  --generate-and-capture "$picture" "$source" || status=$?
if (( status != 0 )); then
  echo "quorlin exited with status $status" >&2
  exit 1
fi

read -r width height < <(identify -format '%w %h\n' "$picture")
if (( width < 400 || height < 300 )); then
  echo "the window picture is only ${width}x${height}" >&2
  exit 1
fi

# The temporary root is "Brimwell" (or "Brimwell-UID") under TMPDIR.
left=$(find "$work/tmp" -mindepth 2 -maxdepth 2 -path "$work/tmp/Brimwell*/*")
if [[ -n "$left" ]]; then
  echo "work directories were left behind:" >&2
  echo "$left" >&2
  exit 1
fi

if ! grep -q '"hasSeenToolRequirements": true' "$settings"; then
  echo "the first start did not record the required tools window:" >&2
  cat "$settings" >&2
  exit 1
fi
echo "window picture: $picture (${width}x${height})"

# SIGTERM in the middle of a generation. A cwebp found first (a custom tool
# directory) holds its encode until the file "release" exists, so the
# signal always arrives while a tool runs.
fake_dir="$work/fake tools"
mkdir -p "$fake_dir"
cat > "$fake_dir/cwebp" <<FAKE
#!/bin/sh
if [ "\$#" -gt 1 ]; then
  : > "$work/started"
  while [ ! -e "$work/release" ]; do sleep 0.05; done
fi
exec $(command -v cwebp) "\$@"
FAKE
chmod +x "$fake_dir/cwebp"
printf '{ "customToolDirectories": ["%s", "%s"], "hasSeenToolRequirements": true }\n' "$fake_dir" "$metric_dir" > "$settings"
trap 'touch "$work/release"; rm -rf "$work"' EXIT
TMPDIR="$work/tmp" XDG_CONFIG_HOME="$work/config" "$quorlin" \
  --codec "JPEG XL" --codec AVIF --codec WebP --codec "JPEG (libjpeg-turbo)" \
  --generate-and-capture "$work/unused.png" "$source" >/dev/null &
pid=$!
# Wait (bounded) until the held encoder has started.
for _ in $(seq 1 1200); do
  [[ -e "$work/started" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -e "$work/started" ]]; then
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" || true
  echo "the held cwebp never started" >&2
  exit 1
fi
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
touch "$work/release"
if (( status != 143 )); then
  echo "after SIGTERM quorlin exited with status $status, not 143" >&2
  exit 1
fi
left=$(find "$work/tmp" -mindepth 2 -maxdepth 2 -path "$work/tmp/Brimwell*/*")
if [[ -n "$left" ]]; then
  echo "work directories were left behind after SIGTERM:" >&2
  echo "$left" >&2
  exit 1
fi
echo "SIGTERM during generation: status 143, no work directory left"
