#!/bin/sh
# Builds the audio chain benchmark against a build of the tree and prints its figures:
#   bench/audio-chain/run.sh [build-folder]      (default: build)
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:-$top/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" >/dev/null
build=$(cd "$build" && pwd)
cmake --build "$build" -j2 --target PellixServerTest PellixTestSupport PellixAlsa >/dev/null
g++ -std=c++17 -O2 -Wall -Wextra -o "$build/audio_chain_bench" "$here/AudioChainBench.cpp" \
  -DPELLIX_BINARY_DIR="\"$build\"" \
  -I"$top/bench/lib" -I"$top/tests/support" -I"$top/include" -I"$top/framework" -I"$top/framework/include" \
  $(pkg-config --cflags gstreamer-rtsp-server-1.0) \
  "$build/tests/support/libPellixTestSupport.a" -L"$build" -lPellixServerTest -Wl,-rpath,"$build" \
  $(pkg-config --libs gstreamer-rtsp-server-1.0) -lgtest -lpthread
exec "$build/audio_chain_bench"
