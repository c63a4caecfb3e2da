#!/usr/bin/env bash
# Installs the Debian packages this project needs to build and test, skipping what is present.
# Safe to call repeatedly: a second call only checks and returns.
#   scripts/bootstrap.sh --guest   also what builds and boots the test guest (tests/guest)
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev libgmock-dev python3
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  mingw-w64-tools
  wine wine32:i386 wine64
  xvfb xdotool imagemagick x11-apps fonts-liberation fonts-wine
  clang libclang-rt-14-dev
  osslsigncode xorriso openssl
)
if [ "${1:-}" = --guest ]; then
  packages+=(qemu-system-x86 debootstrap e2fsprogs)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
echo "bootstrap: done"
