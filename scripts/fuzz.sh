#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UBSan,
# and runs each for the given number of seconds (default 60) on a copy of its
# seed corpus. Prints executions and findings per target; a crash input is
# copied to fuzz/crashes/<target>/, where the ordinary test build replays it.
#   scripts/fuzz.sh [seconds] [target ...]
set -uo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"; shift || true
if ! command -v clang++ >/dev/null || ! dpkg -s libclang-rt-14-dev >/dev/null 2>&1; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq && $sudo apt-get install -y -qq clang libclang-rt-14-dev >/dev/null
fi
build="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARVELIN_FUZZ=ON -DTARVELIN_SANITIZE=ON -DTARVELIN_TESTS=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$top"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build "$build" --target "${targets[@]}" >/dev/null || exit 1

status=0
printf '%-22s %12s %10s %8s %s\n' target executions seconds corpus findings
for t in "${targets[@]}"; do
  name="${t#fuzz_}"
  work="$(mktemp -d)"
  cp -r "$top/fuzz/corpus/$name/." "$work/" 2>/dev/null
  log="$work.log"
  (cd "$work" && "$build/fuzz/$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$work/crash-" "$work" >"$log" 2>&1)
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  [ -z "$execs" ] && execs=$(grep -Eo '#[0-9]+' "$log" | tail -1 | tr -d '#')
  # A "slow unit" took over 10 s once, which on a loaded machine can be a
  # pause of the whole process: it is run again alone, and is a finding only
  # when it is slow again.
  slow=0
  for unit in "$work"/crash-slow-unit-*; do
    [ -e "$unit" ] || continue
    slow=$((slow + 1))
    if "$build/fuzz/$t" -timeout=10 "$unit" >/dev/null 2>&1; then
      rm -f "$unit"
    else
      mv "$unit" "$work/crash-timeout-${unit##*/crash-slow-unit-}"
    fi
  done
  crashes=$(ls "$work"/crash-* 2>/dev/null | wc -l)
  corpus=$(find "$work" -maxdepth 1 -type f ! -name 'crash-*' | wc -l)
  if [ "$crashes" -gt 0 ]; then
    mkdir -p "$top/fuzz/crashes/$name"
    cp "$work"/crash-* "$top/fuzz/crashes/$name/"
    status=1
  fi
  [ "$slow" -gt 0 ] && echo "$t: $slow input(s) reported slow (over 10 s), run again alone" >&2
  printf '%-22s %12s %10s %8s %s\n' "$t" "${execs:-?}" "$seconds" "$corpus" "$crashes crash(es)"
  rm -rf "$work" "$log"
done
exit $status
