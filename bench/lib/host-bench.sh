# Sourced (without arguments) at the top of the benchmarks that run the host program. With root
# rights it runs the benchmark again in a network namespace of its own, so that port 8554 is its
# own; then it builds the host program into PELLIX_BUILD_DIR (default build), makes the work
# folder $work (removed at exit) and waits until nothing listens on port 8554. Sets $root,
# $build, $server and $work.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [ -z "${PELLIX_BENCH_NETNS:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
  exec unshare -n env PELLIX_BENCH_NETNS=1 bash "$0" "$@"
fi
[ -n "${PELLIX_BENCH_NETNS:-}" ] && ip link set lo up
build=${PELLIX_BUILD_DIR:-build}
cd "$root"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target pellix-server PellixAlsa >/dev/null
server="$build/tools/pellix-server/pellix-server"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for _ in $(seq 1 60); do
  ss -ltn | grep -q ':8554 ' || break
  sleep 1
done
