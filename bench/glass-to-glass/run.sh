#!/usr/bin/env bash
# Glass to glass, side by side with a peer. For each mode (1080p60, 720p60, 1080i60 by default)
# on the demanding built-in input (fine detail moving everywhere, each picture stamped with its
# capture time), with audio:
#   1. the host program serves it on loopback; one real client decodes it as a low-latency viewer
#      does (g2g-client: rtspsrc latency=0, avdec_h264, appsink sync=false) and reads every
#      decoded picture's capture time: frames per second decoded, frames lost, damaged codes,
#      decoding errors, latency median, p95, p99 and maximum;
#   2. the peer (g2g-peer: gst-rtsp-server, appsrc with the same pictures, x264enc with the
#      platform encoder's preset, tune, bit rate and key-picture interval, rtph264pay) is measured
#      the same way, in the same run;
# and the CPU (user + system over the client's session, from /proc/PID/stat) and peak memory
# (VmHWM) of both servers, and the ratios ours / peer. Also the allocations each thread of our
# server makes per picture (an allocation-counting preload) and the encoder's preset changes.
# Targets at 1080p60, 8 Mbit/s: >= 59.5 frames/s, no frame lost after the first second, no
# decoding error, latency median <= 50 ms and p99 <= 100 ms, CPU <= 1.1 x the peer's, no
# allocation per picture after start-up. A figure taken while the machine's load is above 2
# (printed first) is not a figure.
#   bash bench/glass-to-glass/run.sh [seconds] [modes...]     (default 60 1080p60 720p60 1080i60)
# PELLIX_BUILD_DIR chooses the build folder (default build); PELLIX_BITRATE the bit rate (default
# 8000000). Runs itself in a network namespace of its own (port 8554 stays free for others).
set -euo pipefail
if [ -z "${PELLIX_G2G_NETNS:-}" ]; then
  exec unshare -n env PELLIX_G2G_NETNS=1 bash -c 'ip link set lo up && exec bash "$0" "$@"' "$0" "$@"
fi
seconds=${1:-60}
shift || true
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(1080p60 720p60 1080i60)
bitrate=${PELLIX_BITRATE:-8000000}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pellix-server PellixAlsa g2g-client g2g-peer g2g-alloc-count >/dev/null
bin="$(cd "$build" && pwd)/bench/glass-to-glass"
# The allocation counter is preloaded by its full path; without it the figures would lack their
# allocations without a word.
[ -f "$bin/libg2g-alloc-count.so" ] || { echo "no $bin/libg2g-alloc-count.so" >&2; exit 2; }

# What the control library asks of the platform's encoder: its Med_Speed_High_Quality preset
# (x264's superfast), an IDR picture every 90 pictures, Baseline profile. When our encoder stepped
# to a faster preset because it could not keep up, the peer codes at the preset ours ended with.
start_preset=superfast
keyint=90

work=$(mktemp -d)
server=""
stop_server() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -INT "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  server=""
}
cleanup() { stop_server; rm -rf "$work"; }
trap cleanup EXIT

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# Starts "$@" as the server, waits for "PREFIX URL" on its output; sets server and url.
start_server() {
  local prefix=$1 out=$2
  shift 2
  "$@" >"$out.out" 2>"$out.err" &
  server=$!
  url=""
  for _ in $(seq 1 120); do
    url=$(sed -n "s|^$prefix||p" "$out.out" | tail -1)
    [ -n "$url" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.5
  done
  if [ -z "$url" ]; then
    echo "the server did not start: $*" >&2
    cat "$out.out" "$out.err" >&2
    exit 1
  fi
}

# Measures the server that runs now with one client; writes NAME.txt: the client's lines, then
# the server's CPU and peak memory.
measure() {
  local name=$1
  sleep 2  # the server settles
  local cpu0 wall0 cpu1 wall1
  cpu0=$(cpu_ticks "$server")
  wall0=$(date +%s.%N)
  [ ! -f "$work/$name.alloc" ] || cp "$work/$name.alloc" "$work/$name.alloc0"
  "$bin/g2g-client" "$url" "$seconds" >"$work/$name.txt" 2>"$work/$name.client.err" || true
  cpu1=$(cpu_ticks "$server")
  wall1=$(date +%s.%N)
  [ ! -f "$work/$name.alloc" ] || cp "$work/$name.alloc" "$work/$name.alloc1"
  echo "$wall0 $wall1" >"$work/$name.wall"
  awk -v c="$((cpu1 - cpu0))" -v hz="$hz" -v w0="$wall0" -v w1="$wall1" \
    'BEGIN { printf "server CPU: %.1f%% of one core\n", 100 * c / hz / (w1 - w0) }' >>"$work/$name.txt"
  awk '/^VmHWM:/ { printf "server peak memory: %.1f MB\n", $2 / 1024 }' "/proc/$server/status" >>"$work/$name.txt"
}

field() { sed -n "s/^$2: //p" "$work/$1.txt" | awk '{ print $1 }'; }
latency() { sed -n 's/^latency ms: //p' "$work/$1.txt" | awk -v k="$2" '{ for (i = 1; i < NF; i++) if ($i == k) print $(i + 1) }'; }

echo "machine load (1, 5, 15 min): $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores; a figure taken above 2 is not a figure"
for mode in "${modes[@]}"; do
  case $mode in
    1080p60) input=1920x1080p60 ; w=1920 h=1080 rate=60 ;;
    720p60)  input=1280x720p60  ; w=1280 h=720  rate=60 ;;
    1080i60) input=1920x1080i60 ; w=1920 h=1080 rate=30 ;;
    *) echo "unknown mode $mode (1080p60, 720p60, 1080i60)" >&2; exit 2 ;;
  esac

  # Ours, with the allocation counter preloaded.
  for _ in $(seq 1 30); do ss -ltn | grep -q ':8554 ' || break; sleep 1; done
  start_server "pellix-server: streaming at " "$work/ours-$mode" \
    env LD_PRELOAD="$bin/libg2g-alloc-count.so" PELLIX_ALLOC_COUNT_FILE="$work/ours-$mode.alloc" \
    "$build/tools/pellix-server/pellix-server" --interface lo --audio --bitrate "$bitrate" --input "$input:motion"
  measure "ours-$mode"
  stop_server

  preset=$(sed -n 's/.*x264 preset [a-z]* -> \([a-z]*\)$/\1/p' "$work/ours-$mode.err" | tail -1)
  preset=${preset:-$start_preset}
  for _ in $(seq 1 30); do ss -ltn | grep -q ':8554 ' || break; sleep 1; done
  start_server "g2g-peer: streaming at " "$work/peer-$mode" \
    env LD_PRELOAD="$bin/libg2g-alloc-count.so" PELLIX_ALLOC_COUNT_FILE="$work/peer-$mode.alloc" \
    "$bin/g2g-peer" "$w" "$h" "$rate" motion "$bitrate" "$preset" "$keyint" audio
  measure "peer-$mode"
  stop_server

  echo
  echo "== $mode ($input, demanding input, audio on, $((bitrate / 1000)) kbit/s, $seconds s after the first second)"
  printf '%-22s %-34s %-34s\n' "" "ours (pellix-server)" "peer (x264enc $preset)"
  for key in "frames per second" "frames lost" "codes damaged" "decoding errors" "latency ms" "server CPU" "server peak memory" "client CPU"; do
    printf '%-22s %-34s %-34s\n' "$key:" "$(sed -n "s/^$key: //p" "$work/ours-$mode.txt")" "$(sed -n "s/^$key: //p" "$work/peer-$mode.txt")"
  done
  awk -v oc="$(field "ours-$mode" "server CPU")" -v pc="$(field "peer-$mode" "server CPU")" \
      -v om="$(latency "ours-$mode" median)" -v pm="$(latency "peer-$mode" median)" \
      -v o99="$(latency "ours-$mode" p99)" -v p99="$(latency "peer-$mode" p99)" 'BEGIN {
    printf "ratios ours / peer:    CPU %.2f, latency median %.2f, p99 %.2f\n", oc / pc, om / pm, o99 / p99 }'
  echo "our encoder: started at $start_preset, ended at $preset; what it said:"
  grep "OMX.TI.DUCATI.VIDENC: coding" "$work/ours-$mode.err" | sed 's/^/  /' || true
  for side in ours peer; do
    [ -s "$work/$side-$mode.alloc0" ] && [ -s "$work/$side-$mode.alloc1" ] || continue
    # Allocations made while the client watched, per picture made meanwhile (the tables are up
    # to a second old at either end), summed by thread name.
    read -r w0 w1 <"$work/$side-$mode.wall"
    echo "allocations per picture ($side) while the client watched, by thread:"
    awk -v pictures="$(awk -v a="$w0" -v b="$w1" -v r="$rate" 'BEGIN { print (b - a) * r }')" '
      FNR == NR { before[$1] = $3; next }
      $2 != "alloc-count" { per[$2] += $3 - before[$1]; total += $3 - before[$1] }
      END {
        for (name in per) if (per[name] >= 0.01 * pictures) printf "  %-18s %8.2f\n", name, per[name] / pictures
        printf "  %-18s %8.2f\n", "(all threads)", total / pictures
      }' "$work/$side-$mode.alloc0" "$work/$side-$mode.alloc1" | sort -k1,1
  done
done
