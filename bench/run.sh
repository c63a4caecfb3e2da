#!/usr/bin/env bash
# Builds SETUP.EXE (both builds, for the size table) and the benchmark programs, installs the peer
# installer system (nsis) if it is missing, then runs bench/run.py (see there) on the
# build this host runs under Wine: win32, the product, where the host executes 32-bit code,
# win64 where it does not (SETUP_WINE_BUILD forces either).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh
# The peer installer system that the benchmark compares with; not needed by the tests.
if ! command -v makensis >/dev/null; then
  echo "bench: installing nsis"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq nsis >/dev/null
fi
source scripts/wine-build.sh
setup_choose_wine_build
cmake --workflow --preset win32 >/dev/null
cmake --workflow --preset win64 >/dev/null
cmake --build "build/$SETUP_WINE_BUILD" --target bench_tools >/dev/null
export SETUP_E2E_ARCH="$SETUP_WINE_BUILD"
exec python3 bench/run.py "$@"
