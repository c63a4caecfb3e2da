#!/usr/bin/env bash
# Makes the release: the installer disk as a folder, a zip and a CD image, with SHA256SUMS.
#   scripts/release.sh [--payload DIR] [--out DIR] [--build win32|win64] [--unsigned]
#                      [--no-timestamp] [--allow-dirty]
#   scripts/release.sh --verify RELEASE
# --build        the build to ship: win32, the product (default), or win64
# --payload      a folder of the application's own twenty files (default: the demo payload)
# --out          the release's folder, which the command owns (default: build/release)
# --unsigned     release without signatures (refused otherwise when no signing is configured)
# --no-timestamp sign without an RFC 3161 time stamp, at SOURCE_DATE_EPOCH (reproducible)
# --allow-dirty  release a tree with uncommitted changes (BUILDINFO records it)
# --verify       check a release's folder, zip or CD image against the commit checked out
# Signing: the SETUP_SIGN_ variables (release/sign.py); every time in the outputs is
# SOURCE_DATE_EPOCH, by default the time of the commit checked out.
set -euo pipefail

usage() { sed -n '3,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=win32
payload=""
out=build/release
flags=()
verify=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    --payload) [ $# -ge 2 ] || usage; payload=$(realpath -- "$2"); shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out=$(realpath -m -- "$2"); shift 2 ;;
    --verify) [ $# -ge 2 ] || usage; verify=$(realpath -- "$2"); shift 2 ;;
    --unsigned|--no-timestamp|--allow-dirty) flags+=("$1"); shift ;;
    *) usage ;;
  esac
done
case "$build" in win32|win64) ;; *) echo "release: --build must be win32 or win64" >&2; exit 2 ;; esac
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [ -n "$verify" ]; then
  scripts/bootstrap.sh
  exec python3 -B release/verify.py "$verify"
fi

make_release=(python3 -B release/make_release.py)
args=(--out "$out" --build "$build" ${payload:+--payload "$payload"} "${flags[@]}")
# What can be refused is refused before the build, which can take minutes.
"${make_release[@]}" preflight "${args[@]}"

scripts/bootstrap.sh
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH

log=build/release-$build.log
mkdir -p build
[ -f "build/$build/build.ninja" ] || cmake --preset "$build" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
cmake --build --preset "$build" --target setup stkit432 payload >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
rm -f "$log"

"${make_release[@]}" make --disk "build/$build/disk" "${args[@]}"
