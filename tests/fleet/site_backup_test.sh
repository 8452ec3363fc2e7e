#!/usr/bin/env bash
# The nightly backup's script (packaging/systemd/site-backup) run as the
# service runs it, its places moved into a scratch directory, against gwsim
# sites on pseudo-terminals:
#   a good run: a dated backup equal to the SIM, backups past KEEP_DAYS
#     removed, other files left alone, the metrics file whole;
#   a site that does not answer: its status and reason, no file made, the
#     newest good backup kept whatever its age (older ones go);
#   suspect SIMs: one whose last write stopped part way (status 5) and one
#     without the gateway's signature (status 3) keep the last good backup
#     byte for byte and add nothing;
# with "reference": the metric counting the settings that differ from the
# site's reference file (tarvelin diff and set).
#
#   tests/fleet/site_backup_test.sh BUILD_DIR SOURCE_DIR [reference]
set -euo pipefail

build=$(cd "${1:?usage: site_backup_test.sh BUILD_DIR SOURCE_DIR [reference]}" && pwd)
source_dir=$(cd "${2:?}" && pwd)
part=${3:-main}
script=$source_dir/packaging/systemd/site-backup
tarvelin=$build/tarvelin
export LC_ALL=C.UTF-8

if [ "$part" = reference ] && ! "$tarvelin" --help | grep -q ' diff '; then
  echo "SKIP: this tarvelin has no diff command"
  exit 77
fi

scratch=$(mktemp -d)
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

export TARVELIN_SITES_DIR=$scratch/sites TARVELIN_STATE_DIR=$scratch/state
export TARVELIN_METRICS_DIR=$scratch/metrics TARVELIN=$tarvelin
mkdir -p "$TARVELIN_SITES_DIR" "$TARVELIN_STATE_DIR" "$TARVELIN_METRICS_DIR"

# gateway LINK [OPTION...]: gwsim on $scratch/LINK.
gateway() {
  local link=$scratch/$1 i
  shift
  "$build/tarvelin-gwsim" --link "$link" "$@" >>"$scratch/gwsim.log" 2>&1 &
  pids+=($!)
  for i in $(seq 100); do
    [ -L "$link" ] && return 0
    sleep 0.05
  done
  fail "gwsim made no $link"
}

# site NAME KEY=VALUE...: the site's settings file.
site() {
  local name=$1
  shift
  printf '%s\n' "# site $name" "$@" >"$TARVELIN_SITES_DIR/$name.conf"
}

# backup SITE: runs the script; its status in $rc, its standard error in $log.
backup() {
  rc=0
  log=$("$script" "$1" 2>&1 >/dev/null) || rc=$?
}

# stamp DAYS_AGO: a backup name's date, that many days before now.
stamp() { date -d "@$(($(date +%s) - $1 * 86400))" +%Y%m%d-%H%M%S; }

# metric NAME SITE: a sample's value in the site's metrics file.
metric() {
  awk -v m="$1{site=\"$2\"}" '$1 == m {print $2}' "$TARVELIN_METRICS_DIR/tarvelin-$2.prom"
}

# The metrics file of a site: every sample of a tarvelin_ metric with the
# site's label and a number, each metric with its HELP and TYPE lines, no
# temporary file left beside it.
check_metrics_file() {
  local file=$TARVELIN_METRICS_DIR/tarvelin-$1.prom
  [ -f "$file" ] || fail "no metrics file $file"
  awk -v site="$1" '
    /^# HELP tarvelin_[a-z_]+ ./ {help[$3] = 1; next}
    /^# TYPE tarvelin_[a-z_]+ gauge$/ {type[$3] = 1; next}
    {
      split($1, n, "{")
      if ($1 != n[1] "{site=\"" site "\"}" || $2 !~ /^[0-9]+(\.[0-9]+)?$/ || NF != 2) {print "bad line: " $0; bad = 1}
      if (!(n[1] in help) || !(n[1] in type)) {print "no HELP/TYPE before " n[1]; bad = 1}
    }
    END {exit bad}' "$file" || fail "metrics file $file: $(cat "$file")"
  if ls -A "$TARVELIN_METRICS_DIR" | grep -qv '^tarvelin-.*\.prom$'; then
    fail "files left in the metrics directory: $(ls -A "$TARVELIN_METRICS_DIR")"
  fi
}

# backups SITE: the site's backup names, one a line.
backups() { (cd "$TARVELIN_STATE_DIR/$1" && ls -- "$1"-*.set 2>/dev/null) || true; }

gateway gw
"$tarvelin" backup "$scratch/gw" "$scratch/sim.set" >/dev/null 2>&1 || fail "no backup of gwsim's SIM"

if [ "$part" = reference ]; then
  # A reference equal to the SIM, and one two settings away from it.
  cp "$scratch/sim.set" "$scratch/equal.set"
  cp "$scratch/sim.set" "$scratch/other.set"
  "$tarvelin" set "$scratch/other.set" forwarding.number=84957654321 forwarding.delay=15 >/dev/null ||
    fail "tarvelin set did not change the reference"
  for row in "equal.set 0" "other.set 2"; do
    set -- $row
    site ref PORT="$scratch/gw" REFERENCE="$scratch/$1"
    backup ref
    [ "$rc" -eq 0 ] || fail "reference $1: status $rc: $log"
    check_metrics_file ref
    [ "$(metric tarvelin_settings_differing ref)" = "$2" ] ||
      fail "reference $1: $(metric tarvelin_settings_differing ref) settings differing, not $2"
    grep -qF "; $2 settings differ from $1" <<<"$log" || fail "reference $1: the log line says: $log"
  done
  echo "ok: the settings differing from the reference counted"
  exit 0
fi

# A good run, with backups of 10, 3 and 1 days ago and files that are no
# backups; KEEP_DAYS=2 removes the first two.
site good PORT="$scratch/gw" KEEP_DAYS=2
mkdir -p "$TARVELIN_STATE_DIR/good"
for days in 10 3 1; do cp "$scratch/sim.set" "$TARVELIN_STATE_DIR/good/good-$(stamp "$days").set"; done
kept=good-$(stamp 1).set
touch "$TARVELIN_STATE_DIR/good/notes.txt" "$TARVELIN_STATE_DIR/good/good-manual.set"
before=$(date +%s)
backup good
after=$(date +%s)
[ "$rc" -eq 0 ] || fail "good: status $rc: $log"
[ "$(wc -l <<<"$log")" -eq 1 ] || fail "good: more than one log line: $log"
made=$(backups good | grep -vxF -e "$kept" -e good-manual.set) || true
[ "$(wc -l <<<"$made")" -eq 1 ] && [[ $made =~ ^good-[0-9]{8}-[0-9]{6}\.set$ ]] ||
  fail "good: the backups are $(backups good)"
[ "$log" = "good: backup $made" ] || fail "good: the log line says: $log"
cmp -s "$TARVELIN_STATE_DIR/good/$made" "$scratch/sim.set" || fail "good: $made is not the SIM"
[ "$(ls -A "$TARVELIN_STATE_DIR/good" | sort | tr '\n' ' ')" = "$(printf '%s\n' "$kept" "$made" good-manual.set notes.txt | sort | tr '\n' ' ')" ] ||
  fail "good: the site's directory holds $(ls -A "$TARVELIN_STATE_DIR/good")"
check_metrics_file good
[ "$(metric tarvelin_backup_success good)" = 1 ] || fail "good: success is not 1"
[ "$(metric tarvelin_backup_exit_status good)" = 0 ] || fail "good: exit status is not 0"
t=$(metric tarvelin_backup_timestamp_seconds good)
[ "$t" -ge "$before" ] && [ "$t" -le "$after" ] || fail "good: time $t outside $before..$after"
awk -v d="$(metric tarvelin_backup_duration_seconds good)" -v w="$((after - before + 1))" 'BEGIN {exit !(d > 0 && d <= w)}' ||
  fail "good: duration $(metric tarvelin_backup_duration_seconds good)"
[ "$(metric tarvelin_backup_last_success_timestamp_seconds good)" = "$(stat -c %Y "$TARVELIN_STATE_DIR/good/$made")" ] ||
  fail "good: the last success is not the new backup's time"
[ -z "$(metric tarvelin_settings_differing good)" ] || fail "good: differing settings counted without a reference"
echo "ok: a good run: $made, rotation, metrics"

# A site that does not answer: backups of 40 and 50 days ago, KEEP_DAYS=30.
site dead PORT="$scratch/unplugged" KEEP_DAYS=30
mkdir -p "$TARVELIN_STATE_DIR/dead"
last=dead-$(stamp 40).set
cp "$scratch/sim.set" "$TARVELIN_STATE_DIR/dead/$last"
cp "$scratch/sim.set" "$TARVELIN_STATE_DIR/dead/dead-$(stamp 50).set"
backup dead
[ "$rc" -eq 3 ] || fail "dead: status $rc: $log"
[[ $log == "dead: backup failed, status 3: "*"; last good $last" ]] || fail "dead: the log line says: $log"
grep -qF "COM-порта нет или он занят" <<<"$log" || fail "dead: no reason in: $log"
[ "$(backups dead)" = "$last" ] || fail "dead: the backups are $(backups dead)"
[ -z "$(ls -A "$TARVELIN_STATE_DIR/dead" | grep -v '^dead-')" ] || fail "dead: left $(ls -A "$TARVELIN_STATE_DIR/dead")"
check_metrics_file dead
[ "$(metric tarvelin_backup_success dead)" = 0 ] || fail "dead: success is not 0"
[ "$(metric tarvelin_backup_exit_status dead)" = 3 ] || fail "dead: exit status is not 3"
[ "$(metric tarvelin_backup_last_success_timestamp_seconds dead)" = "$(stat -c %Y "$TARVELIN_STATE_DIR/dead/$last")" ] ||
  fail "dead: the last success is not the newest good backup's time"
echo "ok: a failing site keeps its newest good backup: $log"

# Suspect SIMs. half: a good backup by the script, then a restore killed part
# way leaves its journal in the site's DIRECTORY.
gateway half --write-delay 40
mkdir "$scratch/half-dir"
site half PORT="$scratch/half" DIRECTORY="$scratch/half-dir"
backup half
[ "$rc" -eq 0 ] || fail "half: the first run: status $rc: $log"
good_half=$(backups half)
cp "$TARVELIN_STATE_DIR/half/$good_half" "$scratch/half-good.set"
(cd "$scratch/half-dir" && exec "$tarvelin" restore --all "$scratch/half" "$scratch/sim.set" >/dev/null 2>&1) &
restore=$!
pids+=($restore)
for i in $(seq 200); do
  grep -qs '^written [1-9]' "$scratch"/half-dir/*.journal && break
  sleep 0.05
done
kill "$restore"
wait "$restore" 2>/dev/null || true
grep -qs '^written [1-9]' "$scratch"/half-dir/*.journal || fail "half: the restore left no journal"

# blank: a SIM without the gateway's signature, a backup of yesterday.
gateway blank --blank
site blank PORT="$scratch/blank"
mkdir -p "$TARVELIN_STATE_DIR/blank"
cp "$scratch/sim.set" "$TARVELIN_STATE_DIR/blank/blank-$(stamp 1).set"

for row in "half 5 SIM-Карта записана не полностью" "blank 3 SIM-Карта не инициализирована"; do
  name=${row%% *}
  rest=${row#* }
  status=${rest%% *}
  why=${rest#* }
  previous=$(backups "$name")
  sum_before=$(cd "$TARVELIN_STATE_DIR/$name" && md5sum -- *.set)
  backup "$name"
  [ "$rc" -eq "$status" ] || fail "$name: status $rc, not $status: $log"
  [[ $log == "$name: backup failed, status $status: "*"$why"*"; last good $previous" ]] ||
    fail "$name: the log line says: $log"
  [ "$(backups "$name")" = "$previous" ] || fail "$name: the backups are $(backups "$name")"
  [ "$(cd "$TARVELIN_STATE_DIR/$name" && md5sum -- *.set)" = "$sum_before" ] || fail "$name: the last good backup changed"
  [ "$(metric tarvelin_backup_success "$name")" = 0 ] || fail "$name: success is not 0"
  [ "$(metric tarvelin_backup_exit_status "$name")" = "$status" ] || fail "$name: exit status is not $status"
  echo "ok: a suspect SIM keeps the last good backup: $log"
done
cmp -s "$TARVELIN_STATE_DIR/half/$good_half" "$scratch/half-good.set" || fail "half: the good backup changed"
