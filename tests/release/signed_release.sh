#!/usr/bin/env bash
# The release that the tests check: made by scripts/release.sh for one build, signed with a
# throwaway authority (make_test_ca.sh).
#   tests/release/signed_release.sh win32|win64 WORK
# WORK/ca/        the authority, certificate and password
# WORK/signed/    the release
# WORK/signed.log what the command printed
# WORK/argv.log   every osslsigncode command line, recorded by a stand-in first on PATH
set -euo pipefail
build=$1
work=$(realpath -m -- "$2")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
rm -rf "$work"
mkdir -p "$work/bin"
"$here/make_test_ca.sh" "$work/ca"

real=$(command -v osslsigncode)
cat >"$work/bin/osslsigncode" <<STANDIN
#!/bin/sh
printf '%s\n' "\$*" >>"$work/argv.log"
exec "$real" "\$@"
STANDIN
chmod +x "$work/bin/osslsigncode"

status=0
PATH="$work/bin:$PATH" SETUP_SIGN_PKCS12="$work/ca/signer.p12" SETUP_SIGN_PASSWORD_FILE="$work/ca/password" \
  "$here/../../scripts/release.sh" --build "$build" --out "$work/signed" >"$work/signed.log" 2>&1 || status=$?
cat "$work/signed.log"
exit $status
