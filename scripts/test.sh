#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the whole test suite.
#   scripts/test.sh                  every test
#   scripts/test.sh -L unit          only one label (unit, integration, e2e); any ctest option works
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${PELLIX_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${PELLIX_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 300 "$@"
