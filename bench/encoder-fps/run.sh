#!/usr/bin/env bash
# Encoding speed of the platform's H.264 encoder at 1920 x 1080 for each encoding preset, in
# frames per second, next to ffmpeg's libx264 with the same x264 preset, tune and bit rate on the
# same frames. The system's preset (Med_Speed_High_Quality) must sustain 66 frames/s.
#   bash bench/encoder-fps/run.sh [frames] [width] [height] [bit rate]
# PELLIX_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target encoder-fps >/dev/null
exec "$build/bench/encoder-fps/encoder-fps" "$@"
