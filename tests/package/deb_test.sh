#!/usr/bin/env bash
# The Debian package of a build tree: made by cpack (its dependencies
# computed by dpkg-shlibdeps), unpacked into a scratch root with dpkg -x, and
# the program started from there in an empty directory.
# Usage: deb_test.sh BUILD_DIR EXPECTED_VERSION
set -euo pipefail
build="$1"
version="$2"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/tarvelin-deb.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  exit 1
fi
deb="$(ls "$scratch"/pkg/tarvelin_*.deb)"

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for lib in libc6 libncursesw6 libstdc++6; do
  grep -q "$lib" <<<"$depends" || { echo "the package does not depend on $lib" >&2; exit 1; }
done

contents="$(dpkg-deb -c "$deb")"
for f in ./usr/bin/tarvelin ./usr/bin/tarvelin-gwsim ./usr/share/tarvelin/help.txt ./usr/share/man/man1/tarvelin.1 \
  ./usr/lib/systemd/system/tarvelin-backup@.service ./usr/lib/systemd/system/tarvelin-backup@.timer \
  ./usr/lib/tarvelin/site-backup ./usr/share/doc/tarvelin/site.conf.example; do
  grep -q " $f\$" <<<"$contents" || { echo "the package lacks $f" >&2; echo "$contents" >&2; exit 1; }
done

dpkg -x "$deb" "$scratch/root"
mkdir "$scratch/empty"
cd "$scratch/empty"
out="$("$scratch/root/usr/bin/tarvelin" --version)"
[ "$out" = "tarvelin $version" ] || { echo "--version said: $out" >&2; exit 1; }
# Taken whole first: grep -q ends at the first match, and the simulator
# writing the rest into a closed pipe must not fail the pipeline.
help="$("$scratch/root/usr/bin/tarvelin-gwsim" --help 2>&1)"
grep -q '^usage: tarvelin-gwsim ' <<<"$help" ||
  { echo "tarvelin-gwsim --help does not give its own name" >&2; exit 1; }
echo "ok: $(basename "$deb") runs from a scratch root: $out"
