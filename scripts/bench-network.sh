#!/bin/bash
# The connect over a network serial port against the same connect on the
# local pseudo-terminal: bench_connect (open, DTR/RTS, "AT", cell 98, cells
# 1..99) against gwsim --pace, each run in a scratch directory of its own:
#   local    ./COM1 links to gwsim's pseudo-terminal
#   ser2net  ./COM1 is an address file for ser2net on loopback serving
#            gwsim's pseudo-terminal over RFC 2217 (a pseudo-terminal has no
#            modem lines: ser2net never answers DTR, one bounded wait)
#   relay    the same through netrelay, which answers DTR/RTS as a server on
#            real hardware does
#   wan      netrelay adding 150 ms each way (a 300 ms round trip)
# Figures: whole connect over ser2net and through the relay / local;
# wan whole / (wire time + 100 round trips of 300 ms).
# ser2net runs with the README's configuration (tcp(nodelay), chardelay
# off: each reply goes out as it comes); SER2NET_DEFAULTS=1 runs it with
# ser2net's own defaults instead.
# Usage: [SER2NET_DEFAULTS=1] scripts/bench-network.sh [BUILD_DIR]
set -eu
build=$(cd "${1:-build}" && pwd)
command -v ser2net >/dev/null || PATH="$PATH:/usr/sbin"
scratch=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# Waits until something listens on 127.0.0.1:$1 (from the kernel's table: a
# trial connection would make ser2net open the line).
await_listening() {
  local hex i
  hex=$(printf '0100007F:%04X' "$1")
  for i in $(seq 200); do
    awk -v a="$hex" '$2 == a && $4 == "0A" {found = 1} END {exit !found}' /proc/net/tcp && return 0
    sleep 0.05
  done
  echo "nothing listens on port $1" >&2
  exit 1
}
await_link() {
  local i
  for i in $(seq 100); do [ -L "$1" ] && return 0; sleep 0.05; done
  echo "gwsim did not link $1" >&2
  exit 1
}
# run NAME: bench_connect in $scratch/NAME, whose COM1 is set up already.
run() {
  (cd "$scratch/$1" && "$build/tests/bench_connect") | awk -v n="$1" '{printf "%-8s %s\n", n, $0}'
}

cmake --build "$build" --target tarvelin gwsim bench_connect netrelay -j2 >/dev/null

mkdir "$scratch/local" "$scratch/line" "$scratch/ser2net" "$scratch/relay" "$scratch/wan"
(cd "$scratch/local" && exec "$build/tarvelin-gwsim" --pace >gwsim.log) &
pids+=($!)
await_link "$scratch/local/COM1"
(cd "$scratch/line" && exec "$build/tarvelin-gwsim" --pace --link "$scratch/line/gw" >gwsim.log) &
pids+=($!)
await_link "$scratch/line/gw"
port=$(free_port)
tcp="tcp(nodelay)" extra="chardelay: false"
[ -n "${SER2NET_DEFAULTS:-}" ] && tcp="tcp" extra=""
cat >"$scratch/line/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &gw
  accepter: telnet(rfc2217),$tcp,127.0.0.1,$port
  connector: serialdev,$scratch/line/gw,115200n81,local
  options:
    kickolduser: true
    $extra
EOF
ser2net -n -u -c "$scratch/line/ser2net.yaml" >/dev/null 2>&1 &
pids+=($!)
await_listening "$port"
# start_relay NAME DELAY_MS: netrelay in front of ser2net; its port in $rport.
start_relay() {
  local i
  "$build/tests/netrelay" "$port" "$2" >"$scratch/$1/relay.port" &
  pids+=($!)
  for i in $(seq 100); do [ -s "$scratch/$1/relay.port" ] && break; sleep 0.05; done
  rport=$(head -n1 "$scratch/$1/relay.port")
}

echo "rfc2217://127.0.0.1:$port" >"$scratch/ser2net/COM1"
out=$(run local; run ser2net)
start_relay relay 0
echo "rfc2217://127.0.0.1:$rport" >"$scratch/relay/COM1"
out+=$'\n'$(run relay)
start_relay wan 150
echo "rfc2217://127.0.0.1:$rport" >"$scratch/wan/COM1"
out+=$'\n'$(run wan)
printf '%s\n' "$out"
awk '
  $2 == "whole" {whole[$1] = $3}
  $2 == "wire" {wire[$1] = $4}
  END {
    printf "ratio    ser2net whole / local whole = %.2f (%.3f s / %.3f s)\n", whole["ser2net"] / whole["local"], whole["ser2net"], whole["local"]
    printf "ratio    relay   whole / local whole = %.2f (%.3f s / %.3f s)\n", whole["relay"] / whole["local"], whole["relay"], whole["local"]
    ideal = wire["wan"] + 100 * 0.3
    printf "ratio    wan     whole / (wire + 100 x 300 ms) = %.3f (%.3f s / %.3f s)\n", whole["wan"] / ideal, whole["wan"], ideal
  }' <<<"$out"
