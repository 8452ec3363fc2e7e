#!/bin/sh
# Times the connection's 100 phonebook reads over the real serial port code
# against gwsim on a pseudo-terminal with 115200-baud pacing, in a scratch
# directory with its own ./COM1 link. Prints the wall/wire ratio and the CPU
# share. Usage: scripts/bench-connect.sh [BUILD_DIR] [extra gwsim options]
set -eu
build=$(cd "${1:-build}" && pwd)
[ $# -gt 0 ] && shift
scratch=$(mktemp -d)
gwsim_pid=
cleanup() {
  [ -n "$gwsim_pid" ] && kill "$gwsim_pid" 2>/dev/null && wait "$gwsim_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM
cd "$scratch"
"$build/gwsim" --pace "$@" > gwsim.log &
gwsim_pid=$!
i=0
while [ ! -L COM1 ]; do
  i=$((i + 1)); [ $i -gt 100 ] && { echo "gwsim did not start" >&2; exit 1; }
  sleep 0.05
done
"$build/tests/bench_connect"
