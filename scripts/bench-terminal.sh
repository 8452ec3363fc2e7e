#!/usr/bin/env bash
# Terminal output of tarvelin on an emulated xterm-256color 80x25: time from
# start to the first complete frame, and bytes written for one arrow move in
# the menu. Usage: scripts/bench-terminal.sh [build-dir] [runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${2:-9}"
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target bench_terminal tarvelin -j2 >/dev/null
"$build/tests/e2e/bench_terminal" "$runs"
