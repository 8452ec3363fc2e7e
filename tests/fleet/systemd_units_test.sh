#!/usr/bin/env bash
# The backup units as the package installs them: cmake --install into a
# scratch root (/usr), beside the host's own units (the targets they name),
# then systemd-analyze verify on an instance of the service and of the timer
# there: every directive known, the program the service starts there and
# executable, the manual page its Documentation= names found.
#
#   tests/fleet/systemd_units_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: systemd_units_test.sh BUILD_DIR}" && pwd)
command -v systemd-analyze >/dev/null ||
  { echo "FAIL: no systemd-analyze; scripts/setup-deps.sh installs it (systemd)" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

cmake --install "$build" --prefix "$root/usr" >"$root/install.log" 2>&1 || { cat "$root/install.log" >&2; exit 1; }
units=$root/usr/lib/systemd/system
for f in "$units/tarvelin-backup@.service" "$units/tarvelin-backup@.timer" "$root/usr/lib/tarvelin/site-backup"; do
  [ -e "$f" ] || { echo "FAIL: the install made no ${f#"$root"}" >&2; exit 1; }
done
[ -x "$root/usr/lib/tarvelin/site-backup" ] || { echo "FAIL: site-backup is not executable" >&2; exit 1; }
for unit in /lib/systemd/system/*; do
  [ -e "$units/${unit##*/}" ] || cp -a "$unit" "$units/"
done
out=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" \
  tarvelin-backup@site7.service tarvelin-backup@site7.timer 2>&1) ||
  { echo "FAIL: systemd-analyze verify:" >&2; echo "$out" >&2; exit 1; }
[ -z "$out" ] || { echo "FAIL: systemd-analyze verify said:" >&2; echo "$out" >&2; exit 1; }
echo "ok: systemd-analyze verify passes on tarvelin-backup@site7.service and .timer"
