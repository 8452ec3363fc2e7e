#!/bin/bash
# Four gateways on one network port, to try the tool by hand: four gwsims
# (one pseudo-terminal each), ser2net serving the four lines over RFC 2217,
# and netrelay --route in front, which answers DTR/RTS and carries the line
# to the gateway those levels select, as the switch behind a real port does.
# DIR/COM2 (or $PORT_NAME) is the address file naming the relay: start the
# tool in DIR and pick that port. Everything runs until Ctrl+C or `kill` of
# this script, then is stopped by its PID; DIR and its files stay.
#
# Usage: scripts/four-gateways.sh DIR
#   then, in another terminal (a tmux pane):  cd DIR && BUILD/tarvelin
# Environment (defaults in brackets):
#   GW1 GW2 GW3 GW4  gwsim options of each gateway [GW2: --latency 150
#                    --write-delay 300-500, a slow SIM; GW4: --blank; others none]
#   PORT_NAME        the address file's name in DIR [COM2]
#   RELAY_PORT       the relay's loopback port [a free one]
#   DELAY            ms the relay adds each way [0]
#   BUILD            the build directory [build/ of this tree]
# Files in DIR: help.txt (copied from the tree unless there), gwN (the links
# to the pseudo-terminals), gwN.dump (gateway N's phonebook, rewritten on
# every change), gwsimN.log, ser2net.yaml, netrelay.log (each client and each
# gateway selected, with the time).
# Example: GW3="--latency 50 --urc 20" scripts/four-gateways.sh /tmp/site7
set -eu
[ $# -eq 1 ] || { sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${BUILD:-$here/build}" && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)
# The tool reads its help from its working directory (a build is not installed).
[ -e "$dir/help.txt" ] || cp "$here/help.txt" "$dir/"
name=${PORT_NAME:-COM2}
opts=("${GW1-}" "${GW2---latency 150 --write-delay 300-500}" "${GW3-}" "${GW4---blank}")
command -v ser2net >/dev/null || PATH="$PATH:/usr/sbin"
for f in "$build/tarvelin-gwsim" "$build/tests/netrelay"; do
  [ -x "$f" ] || { echo "no $f: cmake --build $build --target gwsim netrelay" >&2; exit 1; }
done

pids=()
names=()
stop() {
  trap - INT TERM EXIT
  local i
  for i in "${!pids[@]}"; do kill "${pids[$i]}" 2>/dev/null || true; done
  for i in "${!pids[@]}"; do wait "${pids[$i]}" 2>/dev/null || true; done
  echo "stopped: ${names[*]}"
}
trap 'stop; exit 0' INT TERM
trap stop EXIT
started() {
  pids+=("$1")
  names+=("$2")
}

# The ser2net ports: free ones on loopback, chosen by the kernel.
read -r -a ports < <(python3 -c '
import socket
held = [socket.socket() for _ in range(4)]
for s in held: s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))')

for g in 1 2 3 4; do
  rm -f "$dir/gw$g.dump" # a run before this one's: gwsim writes it once it serves
  # Word splitting of the options is wanted: "--latency 150" is two words.
  # shellcheck disable=SC2086
  "$build/tarvelin-gwsim" --link "$dir/gw$g" --dump "$dir/gw$g.dump" ${opts[$((g - 1))]} \
    >"$dir/gwsim$g.log" 2>&1 </dev/null &
  started $! "gwsim$g"
done
for g in 1 2 3 4; do
  for _ in $(seq 100); do [ -e "$dir/gw$g.dump" ] && break; sleep 0.05; done
  [ -e "$dir/gw$g.dump" ] || { echo "gwsim $g did not start: $(cat "$dir/gwsim$g.log")" >&2; exit 1; }
done

{
  printf '%%YAML 1.1\n---\n'
  for g in 1 2 3 4; do
    printf 'connection: &gateway%d\n  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,%d\n' "$g" "${ports[$((g - 1))]}"
    printf '  connector: serialdev,%s,115200n81,local\n' "$dir/gw$g"
    printf '  options:\n    max-connections: 1\n    chardelay: false\n'
  done
} >"$dir/ser2net.yaml"
ser2net -n -u -c "$dir/ser2net.yaml" >"$dir/ser2net.log" 2>&1 </dev/null &
started $! ser2net
# Listening, from the kernel's table (a trial connection would open a line).
for p in "${ports[@]}"; do
  for _ in $(seq 200); do ss -Hltn "sport = :$p" | grep -q . && break; sleep 0.05; done
  ss -Hltn "sport = :$p" | grep -q . || { echo "ser2net does not listen on $p" >&2; exit 1; }
done

route=$(IFS=,; echo "${ports[*]}")
listen=()
[ -n "${RELAY_PORT:-}" ] && listen=(--listen "$RELAY_PORT")
"$build/tests/netrelay" "${listen[@]}" --route "$route" "${DELAY:-0}" \
  >"$dir/netrelay.port" 2>"$dir/netrelay.log" </dev/null &
started $! netrelay
for _ in $(seq 100); do [ -s "$dir/netrelay.port" ] && break; sleep 0.05; done
relay=$(head -n1 "$dir/netrelay.port")
[ -n "$relay" ] || { echo "netrelay did not start: $(cat "$dir/netrelay.log")" >&2; exit 1; }
echo "# four gateways behind netrelay --route $route" >"$dir/$name"
echo "rfc2217://127.0.0.1:$relay" >>"$dir/$name"

for g in 1 2 3 4; do
  echo "gateway $g: gwsim PID ${pids[$((g - 1))]} ${opts[$((g - 1))]:-(no options)}, ser2net port ${ports[$((g - 1))]}, $dir/gw$g.dump"
done
echo "ser2net PID ${pids[4]}, netrelay PID ${pids[5]} on 127.0.0.1:$relay"
echo "$dir/$name: rfc2217://127.0.0.1:$relay"
echo "now: cd $dir && $build/tarvelin     (Ctrl+C here stops them all)"
wait
