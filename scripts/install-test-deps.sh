#!/usr/bin/env bash
# Installs the Debian packages only the tests use, never needed to build or run
# Quorlin: a headless browser for the HTML report, a YAML reader for the
# Kubernetes manifest, and Slurm with munge for the one-node cluster the job
# array test starts. Tests skip when these are missing and cannot be installed.
set -euo pipefail

packages=(chromium python3-yaml slurm-wlm munge)

# shellcheck source=missing-packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/missing-packages.sh"
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  as_root=(sudo)
else
  echo "install-test-deps: not root; tests that need ${missing[*]} will be skipped" >&2
  exit 0
fi

echo "install-test-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
# A registry that cannot be reached leaves those tests to skip rather than failing the whole run.
if ! { "${as_root[@]}" apt-get update -qq && "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; }; then
  echo "install-test-deps: could not install ${missing[*]}; tests that need them will be skipped" >&2
fi
