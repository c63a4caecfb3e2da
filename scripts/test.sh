#!/usr/bin/env bash
# The project's test command: installs what is missing, builds and runs the native
# unit tests, builds both installer folders (win32, the product, and win64), checks that
# a second build of each in another folder gives the same bytes, checks the files of both
# builds (payload, floating-point code), then runs every build's end-to-end tests under Wine
# (each on a private Xvfb display, so no DISPLAY is needed):
#  - win64 under Wine's 64-bit loader, on every host;
#  - win32, the product, under the 32-bit loader where the host executes 32-bit code, and
#    where it does not, in an emulated guest that can (ctest --preset win32-guest), with the
#    checks that depend on the host's kind run there too, on a host of the other kind.
# The guest runs beside the host's own steps: its disk is built while the native tests run, and
# it boots as soon as the win32 build is ready; the builds after that yield the processor to it.
# SETUP_WINE_BUILD=win64 leaves the win32 build's end-to-end tests out on the host;
# SETUP_GUEST=1|0 forces or skips the guest. Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/bootstrap.sh
source scripts/wine-build.sh
setup_choose_wine_build --tests
mkdir -p build
guest_log=build/guest.log
if [ "$SETUP_WINE_GUEST" = 1 ]; then
  scripts/bootstrap.sh --guest
  # Mostly downloads and unpacking: beside the native build and tests.
  setsid bash -c 'exec scripts/guest/image.sh >"$0" 2>&1' "$guest_log" &
  image=$!
fi
# Whatever way this command ends, nothing it started in the background outlives it (each such
# job leads a process group of its own).
background=()
trap 'for job in "${background[@]}"; do kill -TERM -- "-$job" 2>/dev/null || true; done' EXIT
[ -n "${image:-}" ] && background+=("$image")

cmake --workflow --preset native
cmake --workflow --preset win32
if [ "$SETUP_WINE_BUILD" = win32 ]; then
  ctest --preset win32
else
  ctest --preset win32 -L static  # the checks that read its files without running them
fi
if [ "$SETUP_WINE_GUEST" = 1 ]; then
  wait "$image" || { cat "$guest_log"; echo "test: the guest image could not be built" >&2; exit 1; }
  # The signed release that the guest installs is made here first: it builds the commit in
  # build/from-commit/, as the release that reproducible.sh makes below does (reusing that
  # build), and the release command runs one at a time.
  ctest --preset win32 -R '^release\.signed$'
  setsid ctest --preset win32-guest --fixture-exclude-setup release >>"$guest_log" 2>&1 &
  guest=$!
  background+=("$guest")
  echo "test: the win32 build's end-to-end tests run in the guest beside the steps below ($guest_log)"
fi
# The guest is the longest step: the builds beside it yield the processor to it.
nice=()
[ "$SETUP_WINE_GUEST" = 1 ] && nice=(nice -n 5)
"${nice[@]}" cmake --workflow --preset win64
"${nice[@]}" scripts/reproducible.sh --release win32 win32 win64
ctest --preset win64
if [ "$SETUP_WINE_GUEST" = 1 ]; then
  status=0
  wait "$guest" || status=$?
  sed -n '/^Test project/,$p' "$guest_log"
  cat build/win32/guest/summary.txt 2>/dev/null || true
  exit "$status"
fi
