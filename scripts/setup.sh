#!/usr/bin/env bash
# Installs the packages, builds Quorlin in ./build (Release) and installs the
# project's own ssimulacra2 into /usr/local/bin, where tool lookup finds it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUORLIN_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"

if [ -x build/src/metric/ssimulacra2 ]; then
  if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
  "${as_root[@]}" install -m 0755 build/src/metric/ssimulacra2 /usr/local/bin/ssimulacra2
fi
