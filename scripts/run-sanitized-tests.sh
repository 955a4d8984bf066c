#!/usr/bin/env bash
# Builds the engine without the desktop application twice, once with
# AddressSanitizer + UndefinedBehaviorSanitizer and once with ThreadSanitizer,
# and runs the suites where each finds the most: memory errors in the process
# runner, the engine and the metric; data races in the process runner and the
# workspace's worker threads. Slow (two instrumented builds), so not part of
# the default test run. Needs scripts/install-deps.sh first.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
common=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLIN_BUILD_GUI=OFF -DQUORLIN_BUILD_BENCHMARKS=OFF)

cmake -S . -B build-asan "${common[@]}" -DQUORLIN_SANITIZE=address >/dev/null
cmake --build build-asan -j"$(nproc)" --target \
  quorlin_common_tests quorlin_codecs_tests quorlin_tools_tests quorlin_engine_tests quorlin_metric_tests ssimulacra2
for suite in common codecs tools engine metric; do
  echo "== ASan+UBSan: quorlin_${suite}_tests"
  LSAN_OPTIONS="suppressions=$root/tests/lsan-suppressions.txt" build-asan/tests/quorlin_${suite}_tests
done

cmake -S . -B build-tsan "${common[@]}" -DQUORLIN_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$(nproc)" --target quorlin_tools_tests quorlin_workspace_tests
for suite in tools workspace; do
  echo "== TSan: quorlin_${suite}_tests"
  TSAN_OPTIONS="suppressions=$root/tests/tsan-suppressions.txt halt_on_error=1" build-tsan/tests/quorlin_${suite}_tests
done
