#!/usr/bin/env bash
# Runs clang-tidy (the checks of .clang-tidy) over the program's own sources
# with the compile commands of a configured build; fails on any warning.
#   scripts/tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[ -f "$build/compile_commands.json" ] || { echo "tidy: configure $build first (scripts/test.sh does)" >&2; exit 2; }
command -v clang-tidy >/dev/null || { echo "tidy: clang-tidy is not installed (scripts/setup-deps.sh)" >&2; exit 2; }
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
# platform/win32 is compiled only by the Windows build (its own compile commands).
git ls-files 'app/*.cpp' 'core/*.cpp' 'screen/*.cpp' 'device/*.cpp' 'gateway/*.cpp' 'ui/*.cpp' 'platform/*.cpp' 'sim/*.cpp' \
  ':!platform/win32/*' |
  xargs -P 2 -n 4 clang-tidy -p "$build" --quiet 2>/dev/null | grep -E ': (warning|error):' >"$log" || true
if [ -s "$log" ]; then
  echo "clang-tidy found:"
  cat "$log"
  exit 1
fi
echo "clang-tidy: no findings"
