#!/bin/sh
# Times what the connection does on the line ("AT", cell 98, cells 1..99)
# over the real serial port code against gwsim on a pseudo-terminal, twice,
# each in a scratch directory with its own ./COM1 link:
#   paced  gwsim --pace: 115200-baud pacing, answers at once;
#          ratio = wall / wire time (goal <= 1.10)
#   slow   gwsim --pace --latency 100: a modem that takes 100 ms an entry;
#          ratio = wall / (100 entries x 100 ms + wire time)
# Each line of a run's figures starts with its name; the CPU share follows.
# Usage: scripts/bench-connect.sh [BUILD_DIR] [extra gwsim options]
set -eu
build=$(cd "${1:-build}" && pwd)
[ $# -gt 0 ] && shift
entry_ms=100
scratch=$(mktemp -d)
gwsim_pid=
stop_gwsim() {
  if [ -n "$gwsim_pid" ]; then
    kill "$gwsim_pid" 2>/dev/null || true
    wait "$gwsim_pid" 2>/dev/null || true
    gwsim_pid=
  fi
}
cleanup() {
  stop_gwsim
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# run NAME ENTRY_MS [gwsim options...]
run() {
  name=$1 ms=$2
  shift 2
  dir="$scratch/$name"
  mkdir "$dir"
  cd "$dir"
  "$build/tarvelin-gwsim" --pace "$@" > gwsim.log &
  gwsim_pid=$!
  i=0
  while [ ! -L COM1 ]; do
    i=$((i + 1)); [ $i -gt 100 ] && { echo "gwsim did not start" >&2; exit 1; }
    sleep 0.05
  done
  if [ "$ms" -gt 0 ]; then out=$("$build/tests/bench_connect" "$ms"); else out=$("$build/tests/bench_connect"); fi
  stop_gwsim
  printf '%s\n' "$out" | awk -v n="$name" '{printf "%-6s %s\n", n, $0}'
}

run paced 0 "$@"
run slow "$entry_ms" --latency "$entry_ms" "$@"
