#!/usr/bin/env bash
# Builds SETUP.EXE and the benchmark programs, then runs bench/run.py (see there) on the
# build this host runs under Wine: win32, the product, where the host executes 32-bit code,
# win64 where it does not (SETUP_WINE_BUILD forces either).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh
source scripts/wine-build.sh
setup_choose_wine_build
cmake --workflow --preset "$SETUP_WINE_BUILD" >/dev/null
cmake --build "build/$SETUP_WINE_BUILD" --target bench_tools >/dev/null
export SETUP_E2E_ARCH="$SETUP_WINE_BUILD"
exec python3 bench/run.py "$@"
