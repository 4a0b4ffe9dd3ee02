#!/usr/bin/env bash
# Installs everything the kit needs to build and test on a Debian 12 machine, then builds the tree in
# which the kit's programs run (wine 10, whose WoW64 mode runs the 32-bit kit: scripts/wow64.sh).
# Idempotent: packages that are already present are left alone, a tree that is ready is kept.
set -euo pipefail

pkgs=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev googletest
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  wine64
  clang libclang-rt-dev valgrind
  xvfb x11-apps imagemagick
  zip unzip file
  debootstrap util-linux
  osslsigncode openssl python3
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
else
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
  echo "setup: installed ${missing[*]}"
fi

if [ "${KIT_WOW64_SKIP:-0}" = 1 ]; then
  echo "setup: KIT_WOW64_SKIP=1: the 32-bit kit's environment (scripts/wow64.sh) is not built"
else
  "$(dirname "$0")/wow64.sh" setup
fi
