#!/usr/bin/env bash
# Regenerates the README's screenshots in docs/screenshots/: installs what is missing,
# builds SETUP.EXE and the installer folder (the build this host runs, as the test command
# chooses), then walks the wizard under Wine on a private Xvfb display and saves a picture
# of each window.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
source scripts/wine-build.sh
setup_choose_wine_build
cmake --workflow --preset "$SETUP_WINE_BUILD"
export SETUP_E2E_ARCH="$SETUP_WINE_BUILD"
python3 tests/e2e/screenshots.py --build "build/$SETUP_WINE_BUILD" --out docs/screenshots
