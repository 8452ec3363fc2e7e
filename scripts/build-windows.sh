#!/usr/bin/env bash
# Cross-builds tarvelin.exe for 64-bit Windows (MinGW-w64, one static
# executable) and packs it with help.txt and a short README into
# dist/tarvelin-windows.zip.
# Usage: scripts/build-windows.sh [BUILD_DIR]   (default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
build=${1:-build-win}
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target tarvelin

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
x86_64-w64-mingw32-strip -o "$stage/tarvelin.exe" "$build/tarvelin.exe"
cp help.txt "$stage/help.txt"
sed 's/$/\r/' packaging/windows-README.txt > "$stage/README.txt"
mkdir -p dist
out="$PWD/dist/tarvelin-windows.zip"
rm -f "$out"
(cd "$stage" && zip -q -X "$out" tarvelin.exe help.txt README.txt)
echo "dist/tarvelin-windows.zip: tarvelin.exe $(stat -c %s "$stage/tarvelin.exe") bytes"
