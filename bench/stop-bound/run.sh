#!/usr/bin/env bash
# How long the stop takes when the clients do not leave on the end-of-stream. The host program
# serves video and audio on loopback; raw RTSP clients (bash's /dev/tcp) set both streams up over
# TCP, play, and then ignore the end-of-stream: "reading" clients go on reading and never tear
# down, "stalled" clients stop reading altogether. The server is sent SIGTERM (which stops the
# stream) and the time until it has exited is printed, for each kind of client. The stop promises
# 10 seconds at most, whatever the clients do.
#   bash bench/stop-bound/run.sh [runs]          (default 3 of each kind)
# PELLIX_BUILD_DIR chooses the build folder (default build).
set -euo pipefail
runs=${1:-3}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pellix-server PellixAlsa >/dev/null

work=$(mktemp -d)
server=""
readers=()
cleanup() {
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -KILL "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# One request on descriptor $1 and its response's headers in $reply (the body is read and dropped).
request() {
  local fd=$1 text=$2 line length=0
  printf '%s' "$text" >&"$fd"
  reply=""
  while IFS= read -r -t 10 -u "$fd" line; do
    line=${line%$'\r'}
    [ -z "$line" ] && break
    reply+="$line"$'\n'
    case "$line" in Content-Length:*) length=${line#Content-Length: } ;; esac
  done
  [ "$length" -gt 0 ] && read -r -t 10 -u "$fd" -N "$length" _ || true
  case "$reply" in "RTSP/1.0 200"*) return 0 ;; *) echo "refused: $reply" >&2; return 1 ;; esac
}

# Sets up and plays both streams on a new connection; its descriptor in $client.
play_client() {
  local url=$1 session
  exec {client}<>"/dev/tcp/127.0.0.1/8554"
  request "$client" "DESCRIBE $url RTSP/1.0"$'\r\n'"CSeq: 1"$'\r\n'"Accept: application/sdp"$'\r\n\r\n'
  request "$client" "SETUP $url/stream=0 RTSP/1.0"$'\r\n'"CSeq: 2"$'\r\n'"Transport: RTP/AVP/TCP;unicast;interleaved=0-1"$'\r\n\r\n'
  session=$(sed -n 's/^Session: \([^;]*\).*/\1/p' <<<"$reply")
  request "$client" "SETUP $url/stream=1 RTSP/1.0"$'\r\n'"CSeq: 3"$'\r\n'"Session: $session"$'\r\n'"Transport: RTP/AVP/TCP;unicast;interleaved=2-3"$'\r\n\r\n'
  request "$client" "PLAY $url RTSP/1.0"$'\r\n'"CSeq: 4"$'\r\n'"Session: $session"$'\r\n\r\n'
}

run_once() {
  local kind=$1 url="" start end
  for _ in $(seq 1 60); do
    ss -ltn | grep -q ':8554 ' || break
    sleep 1
  done
  "$build/tools/pellix-server/pellix-server" --interface lo --audio ${PELLIX_STOP_BENCH_ARGS:-} >"$work/server.out" 2>"$work/server.err" &
  server=$!
  for _ in $(seq 1 120); do
    url=$(sed -n 's/^pellix-server: streaming at //p' "$work/server.out")
    [ -n "$url" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.5
  done
  [ -n "$url" ] || { echo "the server did not start:" >&2; cat "$work/server.out" "$work/server.err" >&2; exit 1; }
  local clients=()
  for _ in 1 2; do
    play_client "$url"
    clients+=("$client")
    if [ "$kind" = reading ]; then
      cat <&"$client" >/dev/null &
      readers+=($!)
    fi
  done
  sleep 3
  start=$(date +%s.%N)
  kill -TERM "$server"
  wait "$server" || true
  end=$(date +%s.%N)
  server=""
  for fd in "${clients[@]}"; do exec {fd}>&-; done
  for pid in "${readers[@]}"; do kill "$pid" 2>/dev/null || true; done
  readers=()
  awk -v k="$kind" -v s="$start" -v e="$end" 'BEGIN { printf "%-8s clients: stop took %.2f s\n", k, e - s }'
}

for kind in reading stalled; do
  for _ in $(seq 1 "$runs"); do run_once "$kind"; done
done
