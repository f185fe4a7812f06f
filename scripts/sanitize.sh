#!/usr/bin/env bash
# Builds the whole tree with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and
# with ThreadSanitizer (build-tsan/), and runs in each the unit and integration labels, the
# control API's end-to-end scenarios and the hostile clients' attacks. Any sanitizer report fails
# the run: AddressSanitizer and UndefinedBehaviorSanitizer end the process at the first report,
# ThreadSanitizer ends it with exit code 66 after its reports; GLib's and GStreamer's own locking
# is left out through tests/tsan.supp. CI runs it after the test command.
#   bash scripts/sanitize.sh                 both builds
#   bash scripts/sanitize.sh address         one of them: address or thread
#   bash scripts/sanitize.sh thread -R Foo   ctest options after the build's name
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/setup.sh

kinds=(address thread)
if [ $# -gt 0 ]; then
  kinds=("$1")
  shift
fi

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0:exitcode=23:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export TSAN_OPTIONS="halt_on_error=0:exitcode=66:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp"
# GLib's slice allocator hands memory from thread to thread through caches of its own, which the
# race detector cannot see (a GstBuffer written by one streaming thread, freed, and handed to
# another would look like a race): every slice comes from malloc instead.
export G_SLICE=always-malloc

status=0
for kind in "${kinds[@]}"; do
  case "$kind" in
    address) sanitize="address,undefined"; dir=build-asan; leave_out="" ;;
    # The race detector's build leaves out the real-source tests: GStreamer's FFmpeg decoders and
    # demuxers (libavcodec, libgstlibav, libgstmatroska) order their threads with atomics and locks
    # of their own, which it cannot see, and what it then reports of them buries what it reports
    # of ours. The address build runs them.
    thread) sanitize="thread"; dir=build-tsan; leave_out='^MediaSource\.' ;;
    *) echo "sanitize: unknown build '$kind' (address or thread)" >&2; exit 2 ;;
  esac
  echo "sanitize: $sanitize in $dir"
  # -O1 with line tables only: the reports name files and lines, the builds stay short.
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIX_SANITIZE="$sanitize" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  # The unit and integration labels, then the control API's end-to-end scenarios and the hostile
  # clients' attacks on the RTSP server; the tests that serve on the service's port hold a lock,
  # so two run at a time otherwise. The sanitizers make everything slower, hence the longer time
  # limit.
  (cd "$dir" && ctest --output-on-failure -j"$(nproc)" --timeout 900 -L 'unit|integration' ${leave_out:+-E "$leave_out"} "$@") || status=1
  # The scenario that counts the pictures and audio frames of three seconds of stream is left out:
  # a sanitized build cannot encode 1080p60 with audio in real time on two cores (the audio
  # stream's teardown is covered by the integration label's scenarios with audio).
  (cd "$dir" && ctest --output-on-failure --timeout 900 -L e2e -R '^(ServerEndToEnd|RtspHostile)\.' \
    -E 'AudioIsThePayloadBeforeTheVideo' "$@") || status=1
done
exit $status
