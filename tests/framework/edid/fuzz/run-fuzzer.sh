#!/usr/bin/env bash
# Builds the display-timing fuzzer with clang (libFuzzer, address and undefined-behaviour
# sanitizers) and runs it on the corpus beside this script.
#   run-fuzzer.sh [seconds] [extra libFuzzer options...]
# New inputs go to a scratch corpus; `-merge=1` keeps the ones that add coverage:
#   run-fuzzer.sh 600 && run-fuzzer.sh merge
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
ROOT="$(cd "$HERE/../../../.." && pwd)"
OUT="${PELLIX_FUZZ_DIR:-$ROOT/build-edid-fuzz}"
mkdir -p "$OUT/new-corpus" "$OUT/platform-root"
# The inputs read as the driver's EDID file are written below a platform root of the fuzzer's own.
export PELLIX_PLATFORM_ROOT="$OUT/platform-root"

clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$ROOT/include" -I"$ROOT/framework" \
  "$HERE/EdidFuzzer.cpp" "$HERE/EdidFuzzInput.cpp" \
  "$ROOT/framework/edid/DetailedTiming.cpp" "$ROOT/framework/edid/Edid.cpp" \
  "$ROOT/framework/edid/Gtf.cpp" "$ROOT/framework/edid/Vesa.cpp" "$ROOT/gen-utils/PlatformPath.cpp" \
  -o "$OUT/edid-fuzzer"

if [ "${1:-}" = "merge" ]; then
  shift
  exec "$OUT/edid-fuzzer" -merge=1 "$HERE/corpus" "$OUT/new-corpus" "$@"
fi
SECONDS_TO_RUN="${1:-60}"
shift || true
exec "$OUT/edid-fuzzer" -max_total_time="$SECONDS_TO_RUN" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 "$@" "$OUT/new-corpus" "$HERE/corpus"
