#!/usr/bin/env bash
# The crowd: N clients at once over TCP (N = 1, 4, 8, 16, 32), each against a fresh host program
# serving 1920 x 1080 at 60 frames/s and 8 Mbit/s. The clients play every stream and count the
# access units they receive without decoding them, all in one process, so that they take little
# of the two cores from the server. Prints per N the frames per second each client received
# (min / mean / max over 30 s), the data rate per client, lost packets and the server's CPU, and
# the largest N at which every client received at least 59.5 frames/s.
#   bash bench/crowd/run.sh [N ...]           (default 1 4 8 16 32)
#   bash bench/crowd/run.sh --quick           (1 4 8, 10 s each)
# PELLIX_BUILD_DIR chooses the build folder (default build). Run as root, the benchmark takes a
# network namespace of its own, so that port 8554 is its own.
set -euo pipefail
source "$(dirname "$0")/../lib/host-bench.sh"
seconds=30
counts=(1 4 8 16 32)
if [ "${1:-}" = "--quick" ]; then
  seconds=10
  counts=(1 4 8)
elif [ $# -gt 0 ]; then
  counts=("$@")
fi
python3 bench/crowd/crowd.py --server "$server" --work "$work" \
  --seconds "$seconds" "${counts[@]}"
