#!/usr/bin/env bash
# Line coverage of src/core, src/metric and src/cli by the whole suite.
#   scripts/coverage.sh BUILD_DIR OUT.info      build with gcov counters, run every test, capture
#   scripts/coverage.sh --compare BASE.info NEW.info
#                                               totals of both, and each line BASE covered that NEW does not
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = "--compare" ]; then
  python3 - "$2" "$3" <<'PY'
import sys
def load(path):
    covered, found = {}, {}
    name = None
    for line in open(path):
        line = line.strip()
        if line.startswith("SF:"):
            name = line[3:]
            covered.setdefault(name, set()); found.setdefault(name, set())
        elif line.startswith("DA:"):
            number, count = line[3:].split(",")[:2]
            found[name].add(int(number))
            if int(count) > 0:
                covered[name].add(int(number))
    return covered, found
base_cov, base_found = load(sys.argv[1])
new_cov, new_found = load(sys.argv[2])
def total(cov, found):
    hit = sum(len(v) for v in cov.values()); all_ = sum(len(v) for v in found.values())
    return hit, all_, 100.0 * hit / all_ if all_ else 0.0
for label, (c, f) in (("base", (base_cov, base_found)), ("new", (new_cov, new_found))):
    hit, all_, pct = total(c, f)
    print(f"{label}: {hit} of {all_} lines, {pct:.2f}%")
lost = 0
for name in sorted(base_cov):
    missing = sorted(base_cov[name] - new_cov.get(name, set()))
    if missing:
        lost += len(missing)
        print(f"{name}: no longer covered: {','.join(map(str, missing))}")
print(f"lines covered before and not now: {lost}")
PY
  exit 0
fi

build="${1:?build directory}"
out="${2:?output .info file}"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQUORLIN_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS="-O0 --coverage" -DCMAKE_C_FLAGS="-O0 --coverage" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j"$(nproc)"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure || echo "coverage: some tests failed" >&2
lcov --quiet --capture --directory "$build" --output-file "$out.all" --ignore-errors gcov,source
lcov --quiet --extract "$out.all" "*/src/core/*" "*/src/metric/*" "*/src/cli/*" --output-file "$out"
rm -f "$out.all"
lcov --summary "$out" 2>&1 | grep -E "lines"
