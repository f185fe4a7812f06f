#!/usr/bin/env bash
# The soak: the host program serves 1920 x 1080 at 60 frames/s with audio for a given time while
# clients join and leave at random moments (ffmpeg over TCP and UDP, GStreamer's rtspsrc over TCP
# and UDP, a raw RTP reader over TCP; each leaves with a TEARDOWN, by just closing its socket, or
# after it has stalled reading for half its life). Every 10 s the server's resident memory,
# threads and descriptors are sampled; at the end it prints their growth between two moments
# without clients (after the first minute and at the end), each client's frames and errors, and
# whether IsStreaming ever dropped. Targets: growth under 5 MB, 0 threads, 0 descriptors; every
# client decoded without error.
#   bash bench/soak/run.sh [seconds]          (default 1800)
#   bash bench/soak/run.sh --quick            (180 s)
# PELLIX_BUILD_DIR chooses the build folder (default build). Run as root, the soak takes a network
# namespace of its own, so that port 8554 is its own.
set -euo pipefail
seconds=1800
[ "${1:-}" = "--quick" ] && seconds=180 || seconds=${1:-1800}
source "$(dirname "$0")/../lib/host-bench.sh"
python3 bench/soak/soak.py --server "$server" --work "$work" --duration "$seconds"
