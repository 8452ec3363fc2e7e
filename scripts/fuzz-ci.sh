#!/usr/bin/env bash
# CI stage: every fuzz target runs briefly (default 20 s each) on its seed
# corpus plus fresh input, so that a target that stops fuzzing (a crash, or
# a check of its own that no longer holds) fails the build. A target that
# ends early or reports a finding fails; its input is kept in
# fuzz/crashes/<target>/ by scripts/fuzz.sh, where the ordinary test build
# replays it.
#   scripts/fuzz-ci.sh [seconds]
set -uo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
"$top/scripts/fuzz.sh" "$seconds" | tee "$out"
status=${PIPESTATUS[0]}
# Each target must have run and found nothing: "0 crash(es)" on its row.
rows=$(grep -c '^fuzz_' "$out" || true)
clean=$(grep -c '^fuzz_.* 0 crash(es)$' "$out" || true)
targets=$(ls "$top"/fuzz/fuzz_*.cpp | wc -l)
if [ "$status" -ne 0 ] || [ "$rows" -ne "$targets" ] || [ "$clean" -ne "$targets" ]; then
  echo "fuzz-ci: $clean of $targets fuzz targets ran clean for $seconds s" >&2
  exit 1
fi
echo "fuzz-ci: all $targets fuzz targets ran clean for $seconds s each"
