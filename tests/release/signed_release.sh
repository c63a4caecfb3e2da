#!/usr/bin/env bash
# The release that the tests check: made by scripts/release.sh for one build, signed with the
# throwaway authority's key in a SoftHSM2 token and time-stamped by the local server
# (make_test_ca.sh, tsa_server.py).
#   tests/release/signed_release.sh win32|win64 WORK
# WORK/ca/        the authority, token, certificates and PIN
# WORK/signed/    the output folder, the release in WORK/signed/<version>/
# WORK/signed.log what the command printed
# WORK/argv.log   every osslsigncode and openssl command line, recorded by stand-ins first on PATH
# WORK/env        the signing settings, for the tests that run the command again
set -euo pipefail
build=$1
work=$(realpath -m -- "$2")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
rm -rf "$work"
mkdir -p "$work/bin"
"$here/make_test_ca.sh" "$work/ca"

for tool in osslsigncode openssl; do
  real=$(command -v "$tool")
  printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s/argv.log"\nexec "%s" "$@"\n' "$work" "$real" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

# The time-stamp server, for this release only: it stops by itself after ten minutes at most
# (the first release in a checkout builds the commit before it signs).
python3 "$here/tsa_server.py" "$work/ca" "$work/tsa.port" 600 &
tsa=$!
trap 'kill $tsa 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$work/tsa.port" ] && break; kill -0 $tsa || exit 1; sleep 0.1; done
[ -s "$work/tsa.port" ] || { echo "signed_release: the time-stamp server did not start" >&2; exit 1; }

# The module's path as Debian installs it for this host's architecture.
module=$(ls /usr/lib/softhsm/libsofthsm2.so /usr/lib/*/softhsm/libsofthsm2.so 2>/dev/null | head -n 1)
cat >"$work/env" <<ENV
SOFTHSM2_CONF=$work/ca/token/softhsm2.conf
SETUP_SIGN_PKCS11_MODULE=$module
SETUP_SIGN_KEY=$(cat "$work/ca/token/uri")
SETUP_SIGN_CERTS=$work/ca/chain.pem
SETUP_SIGN_PIN_FILE=$work/ca/token/pin
SETUP_SIGN_CAFILE=$work/ca/root.pem
SETUP_SIGN_MINISIGN_KEY=$work/ca/minisign.key
ENV
# A tree with changes under test is released as such (BUILDINFO says so; --verify then fails).
dirty=()
[ -z "$(git -C "$here" status --porcelain)" ] || dirty=(--allow-dirty)

status=0
(set -a; . "$work/env"; set +a
 PATH="$work/bin:$PATH" SETUP_SIGN_TIMESTAMP_URL="http://127.0.0.1:$(cat "$work/tsa.port")/" \
   "$here/../../scripts/release.sh" --build "$build" --out "$work/signed" "${dirty[@]}") \
  >"$work/signed.log" 2>&1 || status=$?
cat "$work/signed.log"
exit $status
