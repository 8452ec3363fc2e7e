#!/usr/bin/env bash
# gammu, a third-party AT client, against gwsim on a pseudo-terminal: it must
# get through its start-up (identity, character sets, phonebook selection),
# read the whole phonebook, ask the balance by USSD, switch call
# forwarding on and off, and make a backup and restore it (the restore ends
# by setting the modem's clock with AT+CCLK), leaving the phonebook as it was.
#
#   tests/gammu/gammu_gwsim_test.sh build/tarvelin-gwsim
set -euo pipefail

gwsim=${1:?usage: gammu_gwsim_test.sh PATH-TO-GWSIM}
if ! command -v gammu >/dev/null 2>&1; then
  echo "FAIL: gammu is not installed; scripts/setup-deps.sh installs it (Debian package gammu)" >&2
  exit 1
fi

dir=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

"$gwsim" --link "$dir/COM1" --dump "$dir/book.dump" >"$dir/gwsim.out" 2>&1 &
pid=$!
for _ in $(seq 100); do
  [ -L "$dir/COM1" ] && break
  sleep 0.05
done
if [ ! -L "$dir/COM1" ]; then
  echo "FAIL: gwsim made no $dir/COM1" >&2
  cat "$dir/gwsim.out" >&2
  exit 1
fi

cat >"$dir/gammurc" <<CONFIG
[gammu]
device = $dir/COM1
connection = at115200
CONFIG

# The balance is Cyrillic: gammu prints it in the locale's character set.
export LC_ALL=C.UTF-8

# gammu NAME ARGS...: one bounded run, its output in $dir/NAME.out and its
# traffic in $dir/NAME.log (shown when it fails).
run() {
  local name=$1
  shift
  local rc=0
  timeout 60 gammu -c "$dir/gammurc" --debug textall --debug-file "$dir/$name.log" "$@" \
    >"$dir/$name.out" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "FAIL: gammu $* exited with $rc" >&2
    cat "$dir/$name.out" >&2
    tail -n 60 "$dir/$name.log" >&2
    exit 1
  fi
}

# expect NAME TEXT / reject NAME TEXT: what gammu printed.
expect() {
  if ! grep -qF -- "$2" "$dir/$1.out"; then
    echo "FAIL: gammu $1 did not print '$2':" >&2
    cat "$dir/$1.out" >&2
    exit 1
  fi
}
reject() {
  if grep -qF -- "$2" "$dir/$1.out"; then
    echo "FAIL: gammu $1 printed '$2':" >&2
    cat "$dir/$1.out" >&2
    exit 1
  fi
}

run identify identify
expect identify "IMEI                 : 358240051111110"

run phonebook getmemory SM 1 99
expect phonebook '99 entries filled'
expect phonebook '"98.GSM.TRV"'
expect phonebook '"1100200"'
expect phonebook '"+79031112233"'
expect phonebook '"89161234567"'

run balance getussd '#100#'
expect balance 'Service reply        : "Баланс: 123.45 руб."'

run divert_set divert set noans voice +79161234567 20
run divert_on divert get noans voice
expect divert_on 'Number               : +79161234567'
expect divert_on 'Timeout              : 20 seconds'
run divert_cancel canceldiverts
run divert_off divert get noans voice
reject divert_off 'Number'

# A backup and its restore: the restore rewrites every location and sets the
# clock; gammu reports any command the modem refuses as a failure.
cp "$dir/book.dump" "$dir/book.before"
run backup backup "$dir/gateway.backup" -yes
expect backup 'Backup SIM phonebook'
run restore restore "$dir/gateway.backup" -yes
expect restore 'set phone date/time'
reject restore 'not supported'
if ! grep -q '^2 "OK"' <(grep -A1 '^1 "AT+CCLK=' "$dir/restore.log"); then
  echo "FAIL: the restore's AT+CCLK was not answered OK" >&2
  grep -A3 'AT+CCLK' "$dir/restore.log" >&2
  exit 1
fi
if ! cmp -s "$dir/book.before" "$dir/book.dump"; then
  echo "FAIL: the phonebook after the restore differs from before:" >&2
  diff "$dir/book.before" "$dir/book.dump" >&2
  exit 1
fi
run clock getdatetime
expect clock 'Phone time is'

echo "gammu against gwsim: identity, phonebook, balance, forwarding, backup and restore as expected"
