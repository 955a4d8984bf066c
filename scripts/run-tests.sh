#!/usr/bin/env bash
# Runs every test of the build in ./build (set up by scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
