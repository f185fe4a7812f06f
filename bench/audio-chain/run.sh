#!/bin/sh
# Builds the audio chain benchmark against a build of the tree and prints its figures:
#   bench/audio-chain/run.sh [build-folder]      (default: build)
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:-$top/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" >/dev/null
build=$(cd "$build" && pwd)
cmake --build "$build" -j2 --target PellixServerTest AudioTestSupport PellixAlsa >/dev/null
g++ -std=c++17 -O2 -o "$build/audio_chain_bench" "$here/AudioChainBench.cpp" \
  -DPELLIX_BINARY_DIR="\"$build\"" \
  -I"$top/tests/framework/gst-components" -I"$top/tests/platform/alsa" -I"$top/tests/support" \
  -I"$top/platform/alsa" -I"$top/include" -I"$top/framework" -I"$top/framework/include" \
  $(pkg-config --cflags gstreamer-rtsp-server-1.0 alsa x264) \
  "$build/tests/framework/gst-components/libAudioTestSupport.a" \
  "$build/tests/framework/gst-components/libRtspTestSupport.a" -L"$build" -lPellixServerTest \
  -L"$build/platform" -lOMX_Core -Wl,-rpath,"$build" -Wl,-rpath,"$build/platform" \
  $(pkg-config --libs gstreamer-rtsp-server-1.0 gstreamer-rtsp-1.0 alsa x264) -lpthread
exec "$build/audio_chain_bench"
