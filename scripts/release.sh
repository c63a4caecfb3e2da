#!/usr/bin/env bash
# Makes the release: the installer disk as a folder, a zip and a CD image, with its SBOM and
# SHA256SUMS, in OUT/<version>/.
#   scripts/release.sh [--payload DIR] [--out DIR] [--build win32|win64] [--reuse RELEASE]
#                      [--unsigned] [--no-timestamp] [--allow-dirty]
#   scripts/release.sh --verify RELEASE (--cafile ROOT.pem | --signer SHA256) [--payload DIR]
# --build        the build to ship: win32, the product (default), or win64
# --payload      a folder of the application's own twenty files (default: the demo payload);
#                with --verify, the vendor's files the release was made with
# --out          the output folder, which the command owns (default: build/release)
# --reuse        an earlier release's folder: a signed program of it is shipped again, byte for
#                byte, where it is this build's program signed by this signer
# --unsigned     release without signatures (refused otherwise when no signing is configured)
# --no-timestamp sign without an RFC 3161 time stamp, at SOURCE_DATE_EPOCH (reproducible)
# --allow-dirty  release a tree with uncommitted changes (BUILDINFO records it)
# --verify       check a release's folder, its version's folder, zip or CD image against the
#                commit checked out, built again
# --cafile       the root every signature, time stamp included, must verify against
# --signer       the signing certificate's SHA-256 fingerprint, which every release prints
# Signing: the SETUP_SIGN_ variables (release/sign.py); every time in the outputs is
# SOURCE_DATE_EPOCH, by default the time of the commit checked out.
set -euo pipefail

usage() { sed -n '4,21p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }
build=win32
out=build/release
args=()
verify=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || usage; out=$(realpath -m -- "$2"); shift 2 ;;
    --payload|--reuse) [ $# -ge 2 ] || usage; args+=("$1" "$(realpath -- "$2")"); shift 2 ;;
    --verify|--cafile) [ $# -ge 2 ] || usage; verify+=("$1" "$(realpath -- "$2")"); shift 2 ;;
    --signer) [ $# -ge 2 ] || usage; verify+=("$1" "$2"); shift 2 ;;
    --unsigned|--no-timestamp|--allow-dirty) args+=("$1"); shift ;;
    *) usage ;;
  esac
done
case "$build" in win32|win64) ;; *) echo "release: --build must be win32 or win64" >&2; exit 2 ;; esac
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# What is missing is installed first, so that the checks below see the tools they check for.
scripts/bootstrap.sh
if [ ${#verify[@]} -gt 0 ]; then
  exec python3 -B release/verify.py "${verify[@]}" "${args[@]}"
fi
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "release: not a git checkout: set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
exec python3 -B release/make_release.py make --out "$out" --build "$build" "${args[@]}"
