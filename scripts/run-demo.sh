#!/usr/bin/env bash
# Builds the tool and starts it against the simulated gateway: a scratch
# working directory with help.txt and ./COM1 linked to a pseudo-terminal that
# gwsim serves. Everything started here is stopped on exit.
# Extra arguments go to gwsim (for example --blank for an uninitialised SIM,
# --pace for real line speed).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
log="$(mktemp)"
cmake --build "$top/build" --target tarvelin gwsim >"$log" 2>&1 || { cat "$log"; rm -f "$log"; exit 1; }
rm -f "$log"

work="$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-demo.XXXXXX")"
cp "$top/help.txt" "$work/"
"$top/build/tarvelin-gwsim" --link "$work/COM1" "$@" &
sim=$!
cleanup() { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
for _ in $(seq 50); do [ -e "$work/COM1" ] && break; sleep 0.1; done

cd "$work"
"$top/build/tarvelin"
