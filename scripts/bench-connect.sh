#!/bin/sh
# Times what the connection does on the line ("AT", then the book in one
# range read; cell by cell: "AT", cell 98, cells 1..99) over the real serial
# port code against gwsim on a pseudo-terminal, each run in a scratch
# directory with its own ./COM1 link:
#   paced        gwsim --pace: 115200-baud pacing, answers at once;
#                ratio = wall / wire time (goal <= 1.05)
#   slow         gwsim --pace --latency 100: a modem that takes 100 ms an
#                entry; ratio = wall / (100 x 100 ms), the probe and 99
#                entries (an entry's bytes go out while the next is looked
#                up); cell by cell wall / (100 x 100 ms + wire time)
#   paced-cells, slow-cells: the same read cell by cell (TARVELIN_READ=cells),
#                the path a modem without the range form takes
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

# run NAME READ ENTRY_MS [gwsim options...]; READ is range or cells.
run() {
  name=$1 read=$2 ms=$3
  shift 3
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
  set -- "$build/tests/bench_connect"
  [ "$ms" -gt 0 ] && set -- "$@" "$ms"
  if [ "$read" = cells ]; then out=$(TARVELIN_READ=cells "$@"); else out=$(env -u TARVELIN_READ "$@"); fi
  stop_gwsim
  printf '%s\n' "$out" | awk -v n="$name" '{printf "%-11s %s\n", n, $0}'
}

run paced range 0 "$@"
run slow range "$entry_ms" --latency "$entry_ms" "$@"
run paced-cells cells 0 "$@"
run slow-cells cells "$entry_ms" --latency "$entry_ms" "$@"
