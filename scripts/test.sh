#!/usr/bin/env bash
# Checks the layout first (includes point down the layers, no source file
# over 500 lines: scripts/check-layers.py), then builds everything and runs
# every test (unit, component and end-to-end), on Linux and then the Windows
# build's under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 scripts/check-layers.py
scripts/setup-deps.sh
python3 scripts/check_texts.py
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j2
start=$SECONDS
scripts/test-windows.sh
echo "== the Windows stage took $((SECONDS - start)) s"
