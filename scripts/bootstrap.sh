#!/usr/bin/env bash
# Installs the Debian packages this project needs to build and test, skipping what is present.
# Safe to call repeatedly: a second call only checks and returns.
#   scripts/bootstrap.sh --guest   also what builds and boots the test guest (tests/guest)
#
# What it installs depends on the host (scripts/host-probe.sh): the 32-bit Wine and the i386
# architecture only where the host runs 32-bit x86 code; a host that runs 64-bit code only
# tests the 32-bit build in the emulated guest, which has its own. A mirror in the middle of a
# sync does not stop it (scripts/apt.sh): only an install that cannot be done does, with one line
# that names the packages and apt's reason.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/host-probe.sh"
source "$here/apt.sh"

packages=(
  cmake ninja-build g++ gcc-multilib googletest libgtest-dev libgmock-dev python3
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  mingw-w64-tools
  wine wine64
  xvfb xdotool imagemagick x11-apps fonts-liberation fonts-wine
  clang libclang-rt-14-dev
  osslsigncode xorriso openssl softhsm2 libengine-pkcs11-openssl minisign git
)
if setup_host_runs_32bit; then
  packages+=(wine32:i386)
  host="bootstrap: this host runs 32-bit x86 code: the i386 architecture and Debian's wine32:i386 too"
else
  host="bootstrap: this host runs 64-bit code only ($SETUP_HOST32_WHY): no i386 architecture and no wine32:i386 (the emulated guest has its own)"
fi
if [ "${1:-}" = --guest ]; then
  packages+=(qemu-system-x86 debootstrap e2fsprogs)
fi

# One query for all of them (the release command runs this first every time): "name:arch" of
# each one installed.
present=" $(dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null |
  while read -r p status; do [ "$status" != installed ] || printf '%s ' "$p"; done || true)"
missing=()
for p in "${packages[@]}"; do
  case "$p" in
    *:*) [[ $present == *" $p "* ]] || missing+=("$p") ;;
    *) [[ $present == *" $p:"* ]] || missing+=("$p") ;;
  esac
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "$host"
echo "bootstrap: installing ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
if [ "$SETUP_HOST32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${SUDO[@]}" dpkg --add-architecture i386
fi
apt_run=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
apt_who=bootstrap
apt_log=$(mktemp)
trap 'rm -f "$apt_log"' EXIT
apt_update
apt_install "${missing[@]}"
echo "bootstrap: done"
