#!/usr/bin/env bash
# The project's test command: installs what is missing, builds and runs the native
# unit tests, builds both installer folders (win32, the product, and win64), checks that
# a second build of each in another folder gives the same bytes, checks the files of both
# builds (payload, floating-point code), then runs the end-to-end
# tests under Wine (each on a private Xvfb display, so no DISPLAY is needed) against the
# build this host can run: win32 where it executes 32-bit code, win64 where it does not.
# SETUP_WINE_BUILD=win32|win64 forces that choice. Where the host cannot run 32-bit code, the
# win32 build's end-to-end tests then run in an emulated guest that can (ctest --preset
# win32-guest; SETUP_GUEST=1|0 forces or skips it). Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
source scripts/wine-build.sh
setup_choose_wine_build
if [ "$SETUP_WINE_GUEST" = 1 ]; then scripts/bootstrap.sh --guest; fi

cmake --workflow --preset native
cmake --workflow --preset win32
cmake --workflow --preset win64
scripts/reproducible.sh --release win32 win32 win64
# The checks of the other build's files that need no Wine, then every test of this one.
other=win64
[ "$SETUP_WINE_BUILD" = win64 ] && other=win32
ctest --preset "$other" -L static
ctest --preset "$SETUP_WINE_BUILD"
if [ "$SETUP_WINE_GUEST" = 1 ]; then
  status=0
  ctest --preset win32-guest || status=$?
  cat build/win32/guest/summary.txt 2>/dev/null || true
  exit "$status"
fi
