#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need,
# when any of them is missing. Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libncurses-dev libgtest-dev libgmock-dev googletest
          libvterm-dev python3 git locales gammu clang-tidy dpkg-dev
          g++-mingw-w64-x86-64-posix wine64 zip libgensio-dev ser2net libssl-dev openssl
          nlohmann-json3-dev)

# The fleet tools' tests run ansible-playbook and systemd-analyze.
packages+=(ansible-core systemd)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
