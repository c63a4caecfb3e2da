#!/usr/bin/env bash
# Builds the installer folder and starts its SETUP.EXE in a persistent Wine prefix
# (build/demo-prefix, made on first use). It runs the win32 build, the product, where the
# host executes 32-bit code, and the win64 build where it does not (SETUP_WINE_BUILD forces
# either).
#  - With DISPLAY set: the installer opens in a 1024x768 Wine desktop window to use.
#  - Without DISPLAY: it runs on a private Xvfb and walks through its windows by
#    itself, pressing Enter on each page, and prints where the screenshots are.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
source scripts/wine-build.sh
setup_choose_wine_build
cmake --workflow --preset "$SETUP_WINE_BUILD"
export SETUP_E2E_ARCH="$SETUP_WINE_BUILD"
exec python3 tests/e2e/demo.py \
  --disk "build/$SETUP_WINE_BUILD/disk" \
  --prefix build/demo-prefix \
  --uia "build/$SETUP_WINE_BUILD/tests/e2e/uia.exe" \
  --shots build/demo-screenshots
