#!/usr/bin/env bash
# Sets up the machine, builds everything and starts the host program on the simulated platform.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${PELLIX_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
exec "$BUILD_DIR/tools/pellix-server/pellix-server" "$@"
