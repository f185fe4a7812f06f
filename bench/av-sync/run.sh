#!/usr/bin/env bash
# Audio and video of a file served as the HDMI input stay in sync at a real client: a clip with
# a white flash and a 1 kHz beep at the same instants, once a second, is made with ffmpeg, served
# by the host program (file input, audio on) on loopback, and recorded by one real client (ffmpeg
# over TCP, -c copy, so that decoding does not compete with the server); afterwards the recording
# is decoded and the time of each flash is compared with the time of its beep. Prints the offset
# (audio minus video) of every pair after the first seconds, their mean and their extremes.
# Target: every offset within 40 ms.
#   bash bench/av-sync/run.sh [seconds]          (default 20)
# PELLIX_BUILD_DIR chooses the build folder (default build). Run it in a network namespace of its
# own when other servers may use port 8554: unshare -n bash -c 'ip link set lo up; bash bench/av-sync/run.sh'
set -euo pipefail
seconds=${1:-20}
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

# The clip: black with a white frame at the start of every second, silence with a 50 ms beep at
# the same instants; 30 frames/s, 48 kHz, H.264 and AAC in MP4. It loops while it is served.
# The beep is computed sample by sample, so that it starts on the second exactly.
ffmpeg -nostdin -v error -f lavfi -i "color=c=black:s=1280x720:r=30:d=10" -f lavfi -i "color=c=white:s=1280x720:r=30:d=10" \
  -f lavfi -i "aevalsrc='if(lt(mod(t,1),0.05),0.25*sin(2*PI*1000*t),0)':s=48000:c=stereo:d=10" \
  -filter_complex "[0][1]overlay=enable='lt(mod(t,1),0.03)'[v]" \
  -map "[v]" -map 2:a -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 30 -c:a aac -b:a 128k "$work/clip.mp4"

for _ in $(seq 1 60); do
  ss -ltn | grep -q ':8554 ' || break
  sleep 1
done
"$build/tools/pellix-server/pellix-server" --interface lo --audio --input "file:$work/clip.mp4" \
  >"$work/server.out" 2>"$work/server.err" &
server=$!
url=""
for _ in $(seq 1 120); do
  url=$(sed -n 's/^pellix-server: streaming at //p' "$work/server.out" | tail -1)
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$url" ]; then
  echo "the server did not start:" >&2
  cat "$work/server.out" "$work/server.err" >&2
  exit 1
fi

timeout -s INT $((seconds + 30)) ffmpeg -nostdin -v error -rtsp_transport tcp -i "$url" -map 0 -c copy \
  -t "$seconds" -f matroska "$work/received.mkv" 2>"$work/client.err" || true

# Mean luma of each picture, and the audio level of each millisecond, with their times.
ffprobe -v error -f lavfi -i "movie=$work/received.mkv,signalstats" \
  -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0 >"$work/video.csv"
ffprobe -v error -f lavfi -i "amovie=$work/received.mkv,asetnsamples=n=48:p=0,astats=metadata=1:reset=1" \
  -show_entries frame=pts_time:frame_tags=lavfi.astats.Overall.RMS_level -of csv=p=0 >"$work/audio.csv"

python3 - "$work/video.csv" "$work/audio.csv" <<'PY'
import sys

def onsets(path, bright):
    times, last = [], False
    for line in open(path):
        fields = line.strip().split(',')
        if len(fields) < 2 or fields[1] in ('', '-inf'):
            value = -1e9
        else:
            value = float(fields[1])
        on = value > bright
        if on and not last:
            times.append(float(fields[0]))
        last = on
    return times

flashes = onsets(sys.argv[1], 128.0)   # mean luma: black 16, the flash 235
beeps = onsets(sys.argv[2], -30.0)     # dBFS: the beep is -18, the silence none
settle = 4.0                           # the client syncs the streams from its first RTCP reports
pairs = []
for flash in flashes:
    if flash < settle or not beeps:
        continue
    beep = min(beeps, key=lambda b: abs(b - flash))
    if abs(beep - flash) < 0.5:
        pairs.append((flash, (beep - flash) * 1000.0))
print("flashes %d, beeps %d, pairs measured %d" % (len(flashes), len(beeps), len(pairs)))
for flash, offset in pairs:
    print("  flash at %7.3f s: audio %+6.1f ms" % (flash, offset))
if not pairs:
    print("no flash and beep to compare")
    sys.exit(1)
offsets = [o for _, o in pairs]
print("A/V offset (audio minus video): mean %+.1f ms, min %+.1f ms, max %+.1f ms; target within 40 ms: %s"
      % (sum(offsets) / len(offsets), min(offsets), max(offsets),
         "met" if max(abs(o) for o in offsets) <= 40.0 else "NOT met"))
PY
