#!/usr/bin/env bash
# Builds SETUP.EXE and starts it from build/win32/disk in a persistent Wine prefix
# (build/demo-prefix, made on first use).
#  - With DISPLAY set: the installer opens in a 1024x768 Wine desktop window to use.
#  - Without DISPLAY: it runs on a private Xvfb and walks through its windows by
#    itself, pressing Enter on each page, and prints where the screenshots are.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
cmake --workflow --preset win32
exec python3 tests/e2e/demo.py \
  --disk build/win32/disk \
  --prefix build/demo-prefix \
  --uia build/win32/tests/e2e/uia.exe \
  --shots build/demo-screenshots
