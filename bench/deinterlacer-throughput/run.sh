#!/usr/bin/env bash
# Throughput of the platform's deinterlacer and scaler on one core, in frames per second.
# Default case: 1080p YUV 4:2:2 in -> 1080p 4:2:2 + 1080p 4:2:0 out, which must reach 180
# frames/s (three times a live 60). More cases by name: 1080i 720p 720p-up.
#   bash bench/deinterlacer-throughput/run.sh [seconds] [case...]
# PELLIX_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target deinterlacer-throughput >/dev/null
exec taskset -c 0 "$build/bench/deinterlacer-throughput/deinterlacer-throughput" "$@"
