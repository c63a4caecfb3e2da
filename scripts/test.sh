#!/usr/bin/env bash
# The project's test command: installs what is missing, builds and runs the native
# unit tests, builds SETUP.EXE and the installer folder, then runs the end-to-end
# tests under Wine (each on a private Xvfb display, so no DISPLAY is needed).
# Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
cmake --workflow --preset native
cmake --workflow --preset win32
ctest --preset win32
