#!/usr/bin/env bash
# Builds the tool and starts it against the simulated gateway: a scratch
# working directory with help.txt and ./COM1 linked to a pseudo-terminal that
# tarvelin-gwsim serves. The simulator is stopped on exit; the directory
# stays, with the settings files the operator saved in it, and is named on
# start and on exit (TARVELIN_DEMO_DIR names one to use instead).
# Extra arguments go to tarvelin-gwsim (for example --blank for an
# uninitialised SIM, --pace for real line speed).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="$(mktemp)"
cmake --build "$top/build" --target tarvelin gwsim >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
rm -f "$log"

if [ -n "${TARVELIN_DEMO_DIR:-}" ]; then
  work="$TARVELIN_DEMO_DIR"
  mkdir -p "$work"
  work="$(cd "$work" && pwd)"
else
  work="$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-demo.XXXXXX")"
fi
[ -e "$work/help.txt" ] || cp "$top/help.txt" "$work/"
echo "tarvelin demo: working directory $work (kept on exit)"
"$top/build/tarvelin-gwsim" --link "$work/COM1" "$@" >/dev/null &
sim=$!
# The simulator goes (and takes its ./COM1 link with it); the directory and
# what the operator saved there stay.
cleanup() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  echo "tarvelin demo: the working directory stays: $work"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done

cd "$work"
"$top/build/tarvelin"
