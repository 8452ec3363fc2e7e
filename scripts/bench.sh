#!/usr/bin/env bash
# Every benchmark of the project, printed as one Markdown table:
#   - the connection below the screen ("AT" and the book in one range read,
#     beside the cell-by-cell read: "AT", cell 98, cells 1..99;
#     tests/bench/bench_connect via scripts/bench-connect.sh, gwsim --pace on
#     a pseudo-terminal, at once and with 100 ms an entry);
#   - whole sessions of the real tarvelin binary on an emulated terminal
#     (tests/e2e/bench_session): connect, SIM to file and file to SIM against
#     the wire time of a 115200-baud line, CPU while transferring and while
#     waiting, terminal bytes per key, start-up time, peak memory.
# Every run happens in its own scratch directory with a ./COM1 link to the
# pseudo-terminal that gwsim serves; the processes started are stopped by
# their PID. Builds what it needs (Release) into build-bench.
#
#   scripts/bench.sh [BUILD_DIR] [RUNS]      (defaults: build-bench, 5)
#
# The machine should be quiet while it runs: the figures are wall and CPU
# times. The load average is printed with the table.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
runs="${2:-5}"

"$root/scripts/setup-deps.sh"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! cmake --build "$build" --target tarvelin gwsim bench_connect bench_session -j2 >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
build="$(cd "$build" && pwd)"

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"

# The connection below the screen, by range and cell by cell: the median of
# the runs, against gwsim paced at 115200 baud and against a modem that
# takes 100 ms an entry.
connect_ratios=() connect_cpu=() slow_ratios=() cells_ratios=() cells_slow_ratios=()
for _ in $(seq "$runs"); do
  out="$("$root/scripts/bench-connect.sh" "$build")"
  connect_ratios+=("$(awk '$1 == "paced" && $2 == "ratio" {print $3}' <<<"$out")")
  connect_cpu+=("$(awk '$1 == "paced" && $2 == "cpu" {print $6}' <<<"$out" | tr -d '%')")
  connect_bytes="$(awk '$1 == "paced" && $2 == "bytes" {gsub(",", "", $4); print $4 + $6}' <<<"$out")"
  slow_ratios+=("$(awk '$1 == "slow" && $2 == "ratio" {print $3}' <<<"$out")")
  cells_ratios+=("$(awk '$1 == "paced-cells" && $2 == "ratio" {print $3}' <<<"$out")")
  cells_bytes="$(awk '$1 == "paced-cells" && $2 == "bytes" {gsub(",", "", $4); print $4 + $6}' <<<"$out")"
  cells_slow_ratios+=("$(awk '$1 == "slow-cells" && $2 == "ratio" {print $3}' <<<"$out")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
ratio="$(median "${connect_ratios[@]}")"
cpu="$(median "${connect_cpu[@]}")"
slow="$(median "${slow_ratios[@]}")"
cells="$(median "${cells_ratios[@]}")"
cells_slow="$(median "${cells_slow_ratios[@]}")"
range() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {print lo ".." hi}'; }
ratio_range="$(range "${connect_ratios[@]}")"
cpu_range="$(range "${connect_cpu[@]}")"
slow_range="$(range "${slow_ratios[@]}")"
cells_range="$(range "${cells_ratios[@]}")"
cells_slow_range="$(range "${cells_slow_ratios[@]}")"

session="$("$build/tests/e2e/bench_session" "$runs" 20 10)"

load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
cpu_model="$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)"

echo
echo "Machine: $(nproc) cores, ${cpu_model:-unknown CPU}; load average before ${load_before}, after ${load_after}"
echo "Runs: median of $runs (start-up: of 20); command: scripts/bench.sh"
echo
echo "| Figure | Value | Goal | |"
echo "|---|---|---|---|"
awk -v r="$ratio" -v c="$cpu" -v b="$connect_bytes" -v rr="$ratio_range" -v cr="$cpu_range" \
    -v s="$slow" -v sr="$slow_range" -v k="$cells" -v kr="$cells_range" -v kb="$cells_bytes" \
    -v ks="$cells_slow" -v ksr="$cells_slow_range" 'BEGIN {
  printf "| connect below the screen (bench_connect), range read, gwsim --pace: wall / wire time | %.3f (%s); %d bytes | <= 1.05 | %s |\n",
         r, rr, b, (r <= 1.05 ? "ok" : "MISSED")
  printf "| the same cell by cell (TARVELIN_READ=cells) | %.3f (%s); %d bytes | <= 1.10 | %s |\n",
         k, kr, kb, (k <= 1.10 ? "ok" : "MISSED")
  printf "| connect below the screen (bench_connect), range read: CPU / wall | %.2f %% (%s) | < 2 %% | %s |\n",
         c, cr, (c < 2 ? "ok" : "MISSED")
  printf "| connect, modem taking 100 ms an entry (gwsim --pace --latency 100), range read: wall / (100 x 100 ms: the probe and 99 entries) | %.3f (%s) | - (1.01: the probe takes 100 ms too) | |\n",
         s, sr
  printf "| the same cell by cell: wall / (100 x 100 ms + wire) | %.3f (%s) | - | |\n", ks, ksr
}'
awk -F'|' '{printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4}' <<<"$session"
