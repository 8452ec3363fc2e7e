#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-builds tarvelin.exe and the unit
# and component tests, runs the tests under wine64 in a Wine prefix of its own
# (a scratch directory), then tarvelin.exe itself under Wine against gwsim
# beside the Linux build (tests/windows/wine_e2e_test.cpp).
#
# Safety: Wine links the machine's serial devices (the first of them is this
# machine's console) to the COM names its prefix leaves free. The prefix's
# HKLM\Software\Wine\Ports gives COM1 to the test's pseudo-terminal and
# leaves COM2..COM16 empty; the links Wine still makes to /dev/ttyS* (above
# COM16) are removed, and every start of tarvelin.exe refuses to run while
# any COM name leads to a /dev/ttyS* device (tests/windows/check-wine-ports.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh

# The Linux build: gwsim, the reference tarvelin and the end-to-end driver.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target gwsim tarvelin test_wine_e2e
scripts/build-windows.sh build-win
cmake --build build-win

# clang-tidy over the Windows platform code (scripts/tidy.sh covers the rest):
# the cross build's compile commands, the cross compiler's C++ headers.
tidy_args=(--extra-arg=--target=x86_64-w64-mingw32)
while read -r dir; do tidy_args+=("--extra-arg=-isystem$dir"); done < <(
  echo | x86_64-w64-mingw32-g++-posix -xc++ -E -v - 2>&1 | sed -n 's|^ \(/.*/include/c++.*\)$|\1|p')
findings=$(printf '%s\n' platform/win32/*.cpp |
  xargs -P 2 -n 3 clang-tidy -p build-win --quiet "${tidy_args[@]}" 2>/dev/null | grep -E ': (warning|error):' || true)
if [ -n "$findings" ]; then
  echo "clang-tidy found:"
  echo "$findings"
  exit 1
fi

wine=/usr/lib/wine/wine64  # Debian keeps it off the PATH
[ -x "$wine" ] || wine=$(command -v wine64)
wineserver="$(dirname "$wine")/wineserver"
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

scratch=$(mktemp -d /tmp/tarvelin-wine-XXXXXX)
export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT

# The prefix, then its ports, then one start of the prefix that stays up
# (persistent wineserver) so that Wine's port scan runs only this once.
"$wine" wineboot -i >/dev/null 2>&1
com1="$scratch/COM1"
{
  printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"COM1"="%s"\r\n' "$com1"
  for n in $(seq 2 16); do printf '"COM%d"=""\r\n' "$n"; done
} > "$scratch/ports.reg"
"$wine" regedit /S "$scratch/ports.reg"
"$wineserver" -k
"$wineserver" -w
"$wineserver" -p >"$scratch/wineserver.log" 2>&1
"$wine" cmd /c exit
tests/windows/check-wine-ports.sh --remove
tests/windows/check-wine-ports.sh
[ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$com1" ] || { echo "COM1 of the prefix is not $com1" >&2; exit 1; }

ctest --test-dir build-win --output-on-failure -j2

cc -shared -fPIC -O2 -o "$scratch/modem_lines_shim.so" tests/windows/modem_lines_shim.c -ldl
TV_WINE_TARVELIN="$PWD/tests/windows/run-tarvelin-exe.sh" \
  TV_WINE="$wine" TV_WINE_EXE="$PWD/build-win/tarvelin.exe" TV_WINE_COM1="$com1" \
  TV_WINE_CHECK_PORTS="$PWD/tests/windows/check-wine-ports.sh" \
  TV_MODEM_LINES_SHIM="$scratch/modem_lines_shim.so" TV_MODEM_LINES_LOG="$scratch/modem-lines.log" \
  build/tests/e2e/test_wine_e2e
