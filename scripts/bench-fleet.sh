#!/bin/bash
# The fleet tools' figures: SITES sites (default 100), each a gwsim --pace
# served by ser2net on loopback behind its own netrelay adding 150 ms each
# way (a 300 ms round trip), all from tests/fleet/fleet_rig.py; then
#   no-op      ansible-playbook running "true" on every site: what Ansible
#              itself costs on this machine, against which the next read;
#   backup     ansible-playbook backup.yml (contrib/ansible/examples) with
#              forks 50: wall, and how many sites changed / failed;
#   setting    the forwarding number set on every site where 10 differ
#              (forwarding.yml; rollout.yml with a settings file per site
#              when the tool has no set command): wall and changed, then a
#              second run;
#   scripted   `tarvelin backup` of every site in one parallel run (xargs -P
#              SITES): wall and how many ok (the failures said).
# The playbooks' figures come with their CPU time (ansible-playbook and all
# it ran): on a loaded or small machine Ansible's own work sets the wall.
# Each figure with the bound it is held to: backup <= 30 s; setting 10
# changed and 90 ok, then 0 changed; scripted <= 6 s.
# TARVELIN names another tarvelin to run than BUILD_DIR's (gwsim and
# netrelay still come from BUILD_DIR).
# Usage: [TARVELIN=PATH] scripts/bench-fleet.sh [BUILD_DIR] [SITES]
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
sites=${2:-100}
differing=10
scratch=$(mktemp -d)
rig=""
cleanup() {
  if [ -n "$rig" ]; then
    kill "$rig" 2>/dev/null || true
    wait "$rig" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

cmake --build "$build" --target tarvelin gwsim netrelay -j2 >/dev/null
tarvelin=${TARVELIN:-$build/tarvelin}
now() { date +%s.%N; }

python3 "$source_dir/tests/fleet/fleet_rig.py" --build "$build" --dir "$scratch/fleet" --sites "$sites" \
  --delay 150 --pace >"$scratch/rig.log" 2>&1 &
rig=$!
for _ in $(seq 1200); do
  [ -e "$scratch/fleet/ready" ] && break
  kill -0 "$rig" 2>/dev/null || { cat "$scratch/rig.log" >&2; exit 1; }
  sleep 0.1
done
[ -e "$scratch/fleet/ready" ] || { echo "the fleet did not come up" >&2; exit 1; }

export ANSIBLE_COLLECTIONS_PATH=$source_dir/contrib/ansible LC_ALL=C.UTF-8 ANSIBLE_NOCOLOR=1
export ANSIBLE_LOCAL_TEMP=$scratch/ansible-tmp ANSIBLE_CONFIG=$scratch/ansible.cfg ANSIBLE_RETRY_FILES_ENABLED=0
# The module piped into the interpreter: no temporary copy per task and host.
export ANSIBLE_PIPELINING=1
PATH=$(dirname "$tarvelin"):$PATH
export PATH
touch "$ANSIBLE_CONFIG"
examples=$source_dir/contrib/ansible/examples

# playbook LABEL PLAYBOOK ARGS...: one timed run with forks 50; "LABEL wall
# N s, C changed, O ok, F failed, cpu S s" from its recap and the CPU time
# of ansible-playbook and all it ran (user + system).
playbook() {
  local label=$1 book=$2 TIMEFORMAT='%R %U %S' times
  shift 2
  [ -e "$book" ] || book=$examples/$book
  times=$({ time ansible-playbook -i "$scratch/fleet/inventory.yml" "$book" -f 50 "$@" >"$scratch/$label.log" 2>&1; } 2>&1) || true
  awk -v l="$label" -v t="$times" '
    /^site[0-9]+ +: ok=/ {
      for (i = 3; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
      if (v["failed"] > 0 || v["unreachable"] > 0) ++failed; else if (v["changed"] > 0) ++changed; else ++ok
    }
    END {
      split(t, x, " ")
      printf "%-10s wall %.3f s, %d changed, %d ok, %d failed, cpu %.1f s\n", l, x[1], changed, ok, failed, x[2] + x[3]
    }' "$scratch/$label.log"
}

results=$scratch/results
# Ansible's own cost on this machine: a task that runs "true" on every site.
cat >"$scratch/noop.yml" <<'EOF'
- name: Nothing
  hosts: gateways
  gather_facts: false
  tasks:
    - name: Run true
      ansible.builtin.command: "true"
      changed_when: false
EOF
playbook no-op "$scratch/noop.yml" >>"$results"

playbook backup backup.yml -e "backup_dir=$scratch/backup" >>"$results"

# The first $differing sites get another forwarding number; the playbook then
# sets every site's back to the one the others hold.
sample=$scratch/backup/site001.set
number=$(tr -d '\0' <"$sample" | sed -n 's/^ *99,"\([^"]*\)".*/\1/p')
python3 -c '
import sys
sys.path.insert(0, sys.argv[1])
from fleet_rig import settings_with
data = open(sys.argv[2], "rb").read()
open(sys.argv[3], "wb").write(settings_with(data, 99, "84950000000"))
' "$source_dir/tests/fleet" "$sample" "$scratch/other.set"
head -n "$differing" "$scratch/fleet/addresses" | (cd "$scratch/fleet" && xargs -P "$differing" -L 1 sh -c \
  '"$0" restore "$3" "$1" >/dev/null 2>&1 || echo "$2: restore failed" >&2' "$tarvelin" "$scratch/other.set")
if "$tarvelin" --help | grep -q ' set '; then
  how="forwarding.yml"
  set_number() { playbook "$1" forwarding.yml -e "forwarding_number=$number"; }
else
  how="rollout.yml (no set command: a settings file per site)"
  mkdir "$scratch/sites"
  while read -r name _; do cp "$sample" "$scratch/sites/$name.set"; done <"$scratch/fleet/addresses"
  set_number() { playbook "$1" rollout.yml -e "settings_dir=$scratch/sites"; }
fi
set_number setting >>"$results"
set_number setting-2 >>"$results"

t0=$(now)
(cd "$scratch/fleet" && xargs -P "$sites" -L 1 sh -c \
  '"$0" backup "$2" "$1.set" >/dev/null 2>"$1.err" && echo "$1: ok" || echo "$1: status $?: $(tail -n 1 "$1.err")"' \
  "$tarvelin" <addresses >"$scratch/scripted.log")
t1=$(now)
awk -v a="$t0" -v b="$t1" -v ok="$(grep -c ': ok$' "$scratch/scripted.log")" -v n="$sites" \
  'BEGIN {printf "scripted   wall %.3f s, %d of %d sites ok\n", b - a, ok, n}' >>"$results"
grep -v ': ok$' "$scratch/scripted.log" >&2 || true

cat "$results"
awk -v n="$sites" -v d="$differing" -v how="$how" '
  function verdict(ok) { return ok ? "ok" : "MISSED" }
  {wall[$1] = $3; changed[$1] = $5; ok[$1] = $7; failed[$1] = $9; cpu[$1] = $12}
  END {
    printf "figure   ansible-playbook backup of %d sites at 300 ms, forks 50: %.1f s (bound 30 s: %s), %d failed; cpu %.0f s; Ansible alone (a no-op task): %.1f s, cpu %.0f s\n", n, wall["backup"], verdict(wall["backup"] <= 30 && failed["backup"] == 0), failed["backup"], cpu["backup"], wall["no-op"], cpu["no-op"]
    printf "figure   forwarding number, %d of %d differing, by %s: %d changed, %d ok in %.1f s (%s); again: %d changed in %.1f s (%s)\n", d, n, how, changed["setting"], ok["setting"], wall["setting"], verdict(changed["setting"] == d && ok["setting"] == n - d), changed["setting-2"], wall["setting-2"], verdict(changed["setting-2"] == 0 && ok["setting-2"] == n)
    printf "figure   scripted backup of %d sites in one parallel run: %.1f s (bound 6 s: %s)\n", n, wall["scripted"], verdict(wall["scripted"] <= 6)
  }' "$results"
