#!/usr/bin/env bash
# Builds SETUP.EXE and the benchmark program, then runs bench/run.py (see there).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
scripts/bootstrap.sh
cmake --workflow --preset win32 >/dev/null
cmake --build build/win32 --target bench_tools >/dev/null
exec python3 bench/run.py "$@"
