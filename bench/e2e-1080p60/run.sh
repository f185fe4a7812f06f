#!/usr/bin/env bash
# The whole system at 1080p60 with audio, end to end: the host program serves the simulated
# 1920 x 1080 input at 60 frames/s and the audio on loopback; one real client (ffmpeg over TCP)
# stores what it receives, without decoding (-c copy), for the given time; the recording is
# decoded only afterwards, so that decoding does not compete with the server for the cores.
# Prints the video frames per second received, the decoding errors found, the server process's
# CPU use and its peak memory. Target on the 2-core machine: at least 59.5 frames/s on average
# and no decoding error.
#   bash bench/e2e-1080p60/run.sh [seconds]          (default 60)
# PELLIX_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pellix-server PellixAlsa >/dev/null

work=$(mktemp -d)
server=""
cleanup() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -INT "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The service's port must be free: another program may still be leaving it.
for _ in $(seq 1 60); do
  ss -ltn | grep -q ':8554 ' || break
  sleep 1
done

"$build/tools/pellix-server/pellix-server" --interface lo --audio >"$work/server.out" 2>"$work/server.err" &
server=$!
url=""
for _ in $(seq 1 120); do
  url=$(sed -n 's/^pellix-server: streaming at //p' "$work/server.out")
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$url" ]; then
  echo "the server did not start:" >&2
  cat "$work/server.out" "$work/server.err" >&2
  exit 1
fi

# CPU time of the server in clock ticks (user + system), from /proc.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
ticks_per_second=$(getconf CLK_TCK)

cpu_start=$(cpu_ticks)
wall_start=$(date +%s.%N)
timeout -s INT $((seconds + 30)) ffmpeg -nostdin -v error -rtsp_transport tcp -i "$url" -map 0 -c copy \
  -t "$seconds" -f matroska "$work/received.mkv" 2>"$work/client.err" || true
wall_end=$(date +%s.%N)
cpu_end=$(cpu_ticks)
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$server/status")

kill -INT "$server"
wait "$server" || true
server=""

# Afterwards: what was received, decoded frame by frame (ffprobe decodes every frame it lists);
# whatever the decoders report on standard error counts as a decoding error.
video_times=$(ffprobe -v error -select_streams v:0 -show_entries frame=pts_time -of csv=p=0 "$work/received.mkv" \
  2>"$work/decode-video.err")
audio_frames=$(ffprobe -v error -select_streams a:0 -show_entries frame=pts_time -of csv=p=0 "$work/received.mkv" \
  2>"$work/decode-audio.err" | grep -c . || true)
decode_errors=$(cat "$work/decode-video.err" "$work/decode-audio.err" | grep -c . || true)
client_errors=$(grep -c . "$work/client.err" || true)

# The frames' times are those at which the server handed them to GStreamer. The first second is
# left out of the rate: the frames the encoder queued while no client watched arrive in a burst.
printf '%s\n' "$video_times" | awk -v audio="$audio_frames" \
  -v wall_start="$wall_start" -v wall_end="$wall_end" -v cpu="$((cpu_end - cpu_start))" \
  -v hz="$ticks_per_second" -v peak="$peak_kb" -v decode_errors="$decode_errors" -v client_errors="$client_errors" \
  -v url="$url" '
  NF { t[n++] = $1 + 0 }
  END {
    wall = wall_end - wall_start
    for (i = 1; i < n; i++) if (t[i] - t[i - 1] > 1.5 / 60) gaps++
    steady = 0
    for (i = 0; i < n; i++) if (t[i] >= t[0] + 1) { if (!steady) first = i; steady++ }
    rate = (steady > 1) ? (steady - 1) / (t[n - 1] - t[first]) : 0
    printf "stream:                %s\n", url
    printf "client session:        %.1f s (wall clock)\n", wall
    printf "video frames received: %d, %.2f frames/s after the first second (target >= 59.5)\n", n, rate
    printf "gaps between frames:   %d (intervals above 1.5 frame times)\n", gaps
    printf "audio frames received: %d (AAC, 1024 samples at 48 kHz: 46.9/s)\n", audio
    printf "decoding errors:       %d (client while receiving: %d)\n", decode_errors, client_errors
    printf "server CPU:            %.1f%% of one core (%.1f%% of the two cores) over the session\n", 100 * cpu / hz / wall, 50 * cpu / hz / wall
    printf "server peak memory:    %.1f MB (VmHWM)\n", peak / 1024
  }'
if [ "$decode_errors" -gt 0 ] || [ "$client_errors" -gt 0 ]; then
  echo "--- errors"
  head -20 "$work/client.err" "$work/decode-video.err" "$work/decode-audio.err"
fi
