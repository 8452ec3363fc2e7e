#!/bin/bash
# The gateway over a network serial port against the same on the local
# pseudo-terminal, each figure by range read (and writes of what differs)
# beside the cell-by-cell path (TARVELIN_READ=cells / --cell-by-cell, and
# restore --all), all against gwsim --pace, each configuration in a scratch
# directory of its own:
#   local    ./COM1 links to gwsim's pseudo-terminal
#   ser2net  ./COM1 is an address file for ser2net on loopback serving
#            gwsim's pseudo-terminal over RFC 2217 (a pseudo-terminal has no
#            modem lines: ser2net never answers DTR, one bounded wait)
#   relay    the same through netrelay, which answers DTR/RTS as a server on
#            real hardware does
#   wan      netrelay adding 150 ms each way (a 300 ms round trip)
#   tls      ./COM1 is an rfc2217s:// address file for ser2net's TLS accepter
#            (client certificates asked for) on the same line; keys made by
#            openssl in the scratch directory
# Figures, each with the bound it is held to:
#   connect (bench_connect: open, DTR/RTS, "AT", the book) over ser2net and
#   the relay against local; over the wan whole <= 2.0 s, and the connect's
#   wall <= 1.10 x (wire time + one round trip per command it sends);
#   restore over the wan (the tarvelin command, start to end) of a file equal
#   to the SIM <= 3 s, and of a file whose every cell differs <= 1.10 x (wire
#   time + 100 round trips);
#   the TLS connect against the plain one over ser2net <= 1.10;
#   fleet: 20 sites (20 gwsim, 20 netrelay at 150 ms each way) backed up by
#   `tarvelin backup rfc2217://...` run in parallel with xargs -P 20: wall
#   of the whole run <= 5 s.
# A configuration is one function (config_NAME) that sets up $scratch/NAME
# and measures there; another transport is another such function.
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

rtt=0.3 # the wan's round trip, s
sites=20

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
# start_gwsim DIR LINK: gwsim --pace on DIR/LINK; its PID in $gwsim_pid.
start_gwsim() {
  (cd "$1" && exec "$build/tarvelin-gwsim" --pace --link "$1/$2" >>gwsim.log) &
  gwsim_pid=$!
  pids+=($gwsim_pid)
  await_link "$1/$2"
}
# ser2net_entry NAME PORT DEVICE: one connection of a ser2net configuration.
ser2net_entry() {
  local tcp="tcp(nodelay)" extra="chardelay: false"
  [ -n "${SER2NET_DEFAULTS:-}" ] && tcp="tcp" extra=""
  cat <<EOF
connection: &$1
  accepter: telnet(rfc2217),$tcp,127.0.0.1,$2
  connector: serialdev,$3,115200n81,local
  options:
    max-connections: 1
    $extra
EOF
}
# start_ser2net CONFIG PORT...: ser2net with that configuration, listening.
start_ser2net() {
  local config=$1 p
  shift
  ser2net -n -u -c "$config" >/dev/null 2>&1 &
  pids+=($!)
  for p in "$@"; do await_listening "$p"; done
}
# start_relay UPSTREAM DELAY_MS PORTFILE: netrelay in front of ser2net; its
# port in $rport.
start_relay() {
  local i
  "$build/tests/netrelay" "$1" "$2" >"$3" &
  pids+=($!)
  for i in $(seq 100); do [ -s "$3" ] && break; sleep 0.05; done
  rport=$(head -n1 "$3")
}
# io_bytes PID: the bytes gwsim moved on its pseudo-terminal so far.
io_bytes() { awk '$1 == "rchar:" || $1 == "wchar:" {n += $2} END {print n}' "/proc/$1/io"; }
now() { date +%s.%N; }

# connect NAME: bench_connect in $scratch/NAME (./COM1 set up), by range and
# cell by cell; lines "NAME ..." and "NAME-cells ...".
connect() {
  (cd "$scratch/$1" && env -u TARVELIN_READ "$build/tests/bench_connect") | awk -v n="$1" '{printf "%-14s %s\n", n, $0}'
  (cd "$scratch/$1" && TARVELIN_READ=cells "$build/tests/bench_connect") |
    awk -v n="$1-cells" '{printf "%-14s %s\n", n, $0}'
}

config_local() {
  mkdir "$scratch/local"
  (cd "$scratch/local" && exec "$build/tarvelin-gwsim" --pace >gwsim.log) &
  pids+=($!)
  await_link "$scratch/local/COM1"
  connect local
}

# The gateway the network configurations share: gwsim on $scratch/line/gw,
# ser2net serving it on $line_port.
start_line() {
  mkdir "$scratch/line"
  start_gwsim "$scratch/line" gw
  line_gwsim=$gwsim_pid
  line_port=$(free_port)
  { printf '%%YAML 1.1\n---\n'; ser2net_entry gw "$line_port" "$scratch/line/gw"; } >"$scratch/line/ser2net.yaml"
  start_ser2net "$scratch/line/ser2net.yaml" "$line_port"
}

config_ser2net() {
  mkdir "$scratch/ser2net"
  echo "rfc2217://127.0.0.1:$line_port" >"$scratch/ser2net/COM1"
  connect ser2net
}

config_relay() {
  mkdir "$scratch/relay"
  start_relay "$line_port" 0 "$scratch/relay/relay.port"
  echo "rfc2217://127.0.0.1:$rport" >"$scratch/relay/COM1"
  connect relay
}

# timed LABEL COMMAND...: runs the tarvelin command in $scratch/wan, prints
# "LABEL seconds wire_seconds status".
timed() {
  local label=$1 t0 t1 b0 b1 rc=0
  shift
  b0=$(io_bytes "$line_gwsim")
  t0=$(now)
  (cd "$scratch/wan" && "$build/tarvelin" "$@" >/dev/null 2>"$scratch/wan/$label.err") || rc=$?
  t1=$(now)
  b1=$(io_bytes "$line_gwsim")
  awk -v l="$label" -v a="$t0" -v b="$t1" -v n="$((b1 - b0))" -v rc="$rc" \
    'BEGIN {printf "%-14s run %.3f s, wire %.3f s (%d bytes), status %d\n", l, b - a, n / 11520, n, rc}'
}

# The wan: connect, then backup and restore by the scripted commands with the
# address on the command line.
config_wan() {
  mkdir "$scratch/wan"
  start_relay "$line_port" 150 "$scratch/wan/relay.port"
  local address="rfc2217://127.0.0.1:$rport"
  echo "$address" >"$scratch/wan/COM1"
  connect wan
  timed backup backup "$address" sim.set
  timed backup-cells backup --cell-by-cell "$address" sim-cells.set
  # Every cell's number changed, the signature kept.
  python3 - "$scratch/wan/sim.set" "$scratch/wan/differ.set" <<'EOF'
import re, sys
data = open(sys.argv[1], 'rb').read()
out = re.sub(rb'^( ?(\d+),")[^"]*(")', lambda m: m.group(1) + b'555' + m.group(2).zfill(2) + m.group(3), data,
             flags=re.M)
open(sys.argv[2], 'wb').write(out)
EOF
  timed restore-equal restore "$address" sim.set
  timed restore-equal-all restore --all --cell-by-cell "$address" sim.set
  timed restore-differ restore "$address" differ.set
  timed restore-back restore "$address" sim.set
  timed restore-differ-all restore --all --cell-by-cell "$address" differ.set
}

# TLS: ser2net's TLS accepter asking for the client's certificate, on the
# line's device (used after the plain ser2net's client has gone), and an
# address file naming the site CA and the operator's certificate.
config_tls() {
  local dir="$scratch/tls" port
  mkdir "$dir"
  (
    cd "$dir"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "/CN=Bench CA" \
      -keyout ca.key -out ca.pem
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=localhost" \
      -keyout server.key -out server.csr
    printf 'subjectAltName=IP:127.0.0.1\n' >san.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -days 1 -extfile san.ext -out server.crt
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "/CN=operator" \
      -keyout op.key -out op.crt
    chmod 600 op.key
    mkdir -p auth/operator/allowed_certs
    cp op.crt auth/operator/allowed_certs/
    openssl rehash auth/operator/allowed_certs
  ) >/dev/null 2>&1
  port=$(free_port)
  {
    printf '%%YAML 1.1\n---\n'
    ser2net_entry tls "$port" "$scratch/line/gw" |
      sed "s|telnet(rfc2217),|telnet(rfc2217),ssl(key=$dir/server.key,cert=$dir/server.crt,clientauth),|"
    echo "    authdir: $dir/auth"
  } >"$dir/ser2net.yaml"
  start_ser2net "$dir/ser2net.yaml" "$port"
  printf 'rfc2217s://127.0.0.1:%s\nca=ca.pem\ncert=op.crt\nkey=op.key\n' "$port" >"$dir/COM1"
  connect tls
}

# The fleet: $sites gateways, each behind its own relay at 150 ms each way,
# backed up in one parallel run; one log line a site.
config_fleet() {
  local dir="$scratch/fleet" i ports=() t0 t1
  mkdir "$dir"
  printf '%%YAML 1.1\n---\n' >"$dir/ser2net.yaml"
  for i in $(seq "$sites"); do
    start_gwsim "$dir" "gw$i"
    ports+=("$(free_port)")
    ser2net_entry "gw$i" "${ports[$((i - 1))]}" "$dir/gw$i" >>"$dir/ser2net.yaml"
  done
  start_ser2net "$dir/ser2net.yaml" "${ports[@]}"
  for i in $(seq "$sites"); do
    start_relay "${ports[$((i - 1))]}" 150 "$dir/relay$i.port"
    echo "rfc2217://127.0.0.1:$rport" >"$dir/site$i.addr"
  done
  local option
  for option in "" --cell-by-cell; do
    t0=$(now)
    (cd "$dir" && seq "$sites" | TARVELIN="$build/tarvelin" OPTION="$option" xargs -P "$sites" -I{} sh -c \
      '"$TARVELIN" backup $OPTION "$(cat site{}.addr)" site{}.set && echo "site{}: ok" || { echo "site{}: status $?"; exit 1; }' \
      >"$dir/log$option" 2>&1) || true
    t1=$(now)
    awk -v l="fleet${option:+-cells}" -v a="$t0" -v b="$t1" -v ok="$(grep -c ': ok$' "$dir/log$option")" -v n="$sites" \
      'BEGIN {printf "%-14s run %.3f s, %d of %d sites ok\n", l, b - a, ok, n}'
  done
}

cmake --build "$build" --target tarvelin gwsim bench_connect netrelay -j2 >/dev/null

# Run in this shell (not in a command substitution), so that every process
# started is in $pids for the clean-up.
results="$scratch/results"
config_local >>"$results"
start_line
config_ser2net >>"$results"
config_relay >>"$results"
config_tls >>"$results"
config_wan >>"$results"
config_fleet >>"$results"
out=$(cat "$results")
printf '%s\n' "$out"
awk -v rtt="$rtt" '
  $2 == "whole" {whole[$1] = $3}
  $2 == "wall" {wall[$1] = $4}
  $2 == "wire" {wire[$1] = $4}
  $2 == "commands" {commands[$1] = $3}
  $2 == "run" {run[$1] = $3; runwire[$1] = $6}
  function verdict(ok) { return ok ? "ok" : "MISSED" }
  END {
    for (r = 0; r < 2; ++r) {
      s = r ? "-cells" : ""
      printf "ratio    ser2net%s whole / local%s whole = %.2f (%.3f s / %.3f s)\n", s, s, whole["ser2net" s] / whole["local" s], whole["ser2net" s], whole["local" s]
      printf "ratio    relay%s   whole / local%s whole = %.2f (%.3f s / %.3f s)\n", s, s, whole["relay" s] / whole["local" s], whole["relay" s], whole["local" s]
    }
    printf "figure   TLS connect / plain connect over ser2net = %.3f (%.3f s / %.3f s; bound 1.10: %s)\n", whole["tls"] / whole["ser2net"], whole["tls"], whole["ser2net"], verdict(whole["tls"] / whole["ser2net"] <= 1.10)
    printf "figure   wan connect, whole: %.3f s (bound 2.0 s: %s); cell by cell %.3f s\n", whole["wan"], verdict(whole["wan"] <= 2.0), whole["wan-cells"]
    for (r = 0; r < 2; ++r) {
      s = r ? "-cells" : ""
      ideal = wire["wan" s] + commands["wan" s] * rtt
      printf "figure   wan%s connect, wall / (wire + %d round trips) = %.3f (%.3f s / %.3f s; bound 1.10: %s)\n", s, commands["wan" s], wall["wan" s] / ideal, wall["wan" s], ideal, verdict(wall["wan" s] / ideal <= 1.10)
    }
    printf "figure   wan backup: %.3f s; cell by cell %.3f s\n", run["backup"], run["backup-cells"]
    printf "figure   wan restore of a file equal to the SIM: %.3f s (bound 3 s: %s); restore --all --cell-by-cell %.3f s\n", run["restore-equal"], verdict(run["restore-equal"] <= 3), run["restore-equal-all"]
    ideal = runwire["restore-differ"] + 100 * rtt
    printf "figure   wan restore, every cell differs: %.3f s = %.3f x (wire + 100 round trips = %.3f s; bound 1.10: %s); restore --all --cell-by-cell %.3f s\n", run["restore-differ"], run["restore-differ"] / ideal, ideal, verdict(run["restore-differ"] / ideal <= 1.10), run["restore-differ-all"]
    printf "figure   fleet of 20 sites at 300 ms, parallel backup: %.3f s (bound 5 s: %s); cell by cell %.3f s\n", run["fleet"], verdict(run["fleet"] <= 5), run["fleet-cells"]
  }' <<<"$out"
