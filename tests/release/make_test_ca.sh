#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate issued by it, for the
# tests of the signed release only (kept under build/, never committed):
#   tests/release/make_test_ca.sh DIR
# DIR/ca.pem (the authority, for osslsigncode verify -CAfile), DIR/signer.p12 (certificate and
# key, for SETUP_SIGN_PKCS12) and DIR/password (its password, for SETUP_SIGN_PASSWORD_FILE).
set -euo pipefail
rm -rf "$1"
mkdir -p "$1"
cd "$1"
exec 3>&2 2>openssl.log  # openssl's chatter, shown only when a step fails
trap 'cat openssl.log >&3' ERR
openssl rand -hex 16 >password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj "/CN=Setup test authority" -days 3650 \
  -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" -out ca.pem
openssl req -new -newkey rsa:2048 -nodes -keyout signer.key -subj "/CN=Quorvant Software test signer" |
  openssl x509 -req -CA ca.pem -CAkey ca.key -set_serial 2 -days 3650 -out signer.pem -extfile <(
    printf '%s\n' basicConstraints=critical,CA:false keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning)
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout file:password -out signer.p12
rm -f ca.key signer.key
