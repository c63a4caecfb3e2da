#!/usr/bin/env bash
# Regenerates the README's screenshots in docs/screenshots/: installs what is missing,
# builds SETUP.EXE and the installer folder, then walks the wizard under Wine on a
# private Xvfb display and saves a picture of each window.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
cmake --workflow --preset win32
python3 tests/e2e/screenshots.py --build build/win32 --out docs/screenshots
