#!/usr/bin/env bash
# The main job on the bundled sample photograph.
set -euo pipefail
cd "$(dirname "$0")/.."
build/src/cli/quorlin-cli tools
