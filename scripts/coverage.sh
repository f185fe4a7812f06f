#!/usr/bin/env bash
# Line and branch coverage of the library, the platform stand-in and the host program under the
# test suite. Builds with counters into build-coverage/, runs the suite (any ctest option narrows
# it: scripts/coverage.sh -L unit) and prints gcovr's summary; the full report lands in
# build-coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${PELLIX_BUILD_DIR:-build-coverage}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIX_COVERAGE=ON >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
find "$BUILD_DIR" -name '*.gcda' -delete
(cd "$BUILD_DIR" && ctest --timeout 600 "$@") || echo "coverage: some tests failed; the figures count what ran"
# Only the product: the library (framework, gen-utils, include), the platform and the host, or the
# folders PELLIX_COVERAGE_FILTERS names (blank-separated path prefixes from the top of the tree).
# Branches that only exceptions or the compiler's own checks can take are not ours to cover.
filters=()
for f in ${PELLIX_COVERAGE_FILTERS:-framework/ gen-utils/ include/ platform/ tools/}; do
  filters+=(--filter "$f")
done
gcovr --root . --object-directory "$BUILD_DIR" "${filters[@]}" \
  --exclude-throw-branches --exclude-unreachable-branches \
  --gcov-ignore-parse-errors -j 2 \
  --txt "$BUILD_DIR/coverage.txt" --print-summary
