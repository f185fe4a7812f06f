#!/bin/sh
# Builds the RTSP latency benchmark against a build of the tree and prints its figures:
#   bench/rtsp-latency/run.sh [build-folder]      (default: build)
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$top/build}" 2>/dev/null && pwd || { cmake -S "$top" -B "${1:-$top/build}" >/dev/null && cd "${1:-$top/build}" && pwd; })
cmake --build "$build" -j2 --target PellixServerTest PellixTestSupport >/dev/null
g++ -std=c++17 -O2 -Wall -Wextra -o "$build/rtsp_latency" "$here/rtsp_latency.cpp" "$top/bench/lib/CH264EncodingSource.cpp" \
  -I"$top/bench/lib" -I"$top/tests/support" -I"$top/include" -I"$top/framework" -I"$top/framework/include" \
  $(pkg-config --cflags gstreamer-rtsp-server-1.0 x264) \
  "$build/tests/support/libPellixTestSupport.a" -L"$build" -lPellixServerTest -Wl,-rpath,"$build" \
  $(pkg-config --libs gstreamer-rtsp-server-1.0 x264) -lgtest -lpthread
exec "$build/rtsp_latency"
