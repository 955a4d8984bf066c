#!/usr/bin/env bash
# Runs every test of the build in ./build (set up by scripts/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-test-deps.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
