#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate issued by it, for the
# tests of the signed release only (kept under build/, never committed):
#   tests/release/make_test_ca.sh DIR
# DIR/ca.pem        the authority's certificate, for osslsigncode verify -CAfile
# DIR/signer.p12    the code-signing certificate and key, for SETUP_SIGN_PKCS12
# DIR/password      its password, for SETUP_SIGN_PASSWORD_FILE
# Both certificates are valid from 2000 to 2099, so that any SOURCE_DATE_EPOCH of a commit
# falls inside them.
set -euo pipefail
dir=$1
rm -rf "$dir"
mkdir -p "$dir/ca"
cd "$dir"
openssl rand -hex 16 >password
chmod 600 password

cat >ca/openssl.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
database = ca/index.txt
serial = ca/serial
new_certs_dir = ca
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
[authority]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[signer]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
: >ca/index.txt
echo 01 >ca/serial
dates=(-startdate 20000101000000Z -enddate 20991231235959Z)
quiet() { "$@" >ca/openssl.log 2>&1 || { cat ca/openssl.log >&2; exit 1; }; }

quiet openssl req -new -newkey rsa:2048 -nodes -keyout ca/ca.key -subj "/CN=Setup test authority" -out ca/ca.csr
quiet openssl ca -batch -config ca/openssl.cnf -selfsign -keyfile ca/ca.key -in ca/ca.csr \
  -extensions authority "${dates[@]}" -notext -out ca.pem
quiet openssl req -new -newkey rsa:2048 -nodes -keyout ca/signer.key -subj "/CN=Quorvant Software test signer" \
  -out ca/signer.csr
quiet openssl ca -batch -config ca/openssl.cnf -cert ca.pem -keyfile ca/ca.key -in ca/signer.csr \
  -extensions signer "${dates[@]}" -notext -out ca/signer.pem
quiet openssl pkcs12 -export -inkey ca/signer.key -in ca/signer.pem -certfile ca.pem \
  -passout file:password -out signer.p12
rm -f ca/*.key
